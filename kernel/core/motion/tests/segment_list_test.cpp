// The queue's retirements: truncating and clearing move segments to the
// retired list in one piece, and freeing them closes each event once.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/segment_list.h"

namespace vantor::motion {
namespace {

struct RecordingCloser : PathEventCloser {
  std::vector<std::uintptr_t> closed;
  void ClosePathEvent(PathEventHandle handle) noexcept override { closed.push_back(handle.value); }
};

// Five segments made with new, the second and the fourth events 2 and 4.
PathMotion QueueOfFive(std::vector<PathSegment*>& segments) {
  PathMotion motion;
  for (int i = 0; i < 5; ++i) {
    auto* segment = new PathSegment();
    if (i % 2 == 1) {
      segment->segmentKind = SegmentKind::kEvent;
      segment->eventHandle.value = static_cast<std::uintptr_t>(i + 1);
    } else {
      segment->isMotion = true;
    }
    AppendSegment(motion.queue, *segment);
    segments.push_back(segment);
  }
  return motion;
}

TEST(SegmentQueue, TruncateRetiresEverythingBehindTheNewTail) {
  std::vector<PathSegment*> segments;
  PathMotion motion = QueueOfFive(segments);
  PathFlags flags;
  flags.pathActive = 1;
  TruncateSegmentQueue(motion, flags, segments[1]);
  EXPECT_EQ(motion.queue.tail, segments[1]);
  EXPECT_EQ(motion.queue.count, 2);
  EXPECT_EQ(segments[1]->next, nullptr);
  EXPECT_EQ(motion.retired.count, 3u);
  EXPECT_EQ(motion.retired.first, segments[2]);
  EXPECT_EQ(flags.pathActive, 1u);

  ClearSegmentQueue(motion, flags);
  EXPECT_EQ(motion.queue.head, nullptr);
  EXPECT_EQ(motion.queue.tail, nullptr);
  EXPECT_EQ(motion.queue.count, 0);
  EXPECT_EQ(motion.retired.count, 5u);
  EXPECT_EQ(flags.pathActive, 0u);

  RecordingCloser closer;
  FreeSegments(motion.retired, closer);
  EXPECT_EQ(closer.closed, (std::vector<std::uintptr_t>{4, 2}));
  EXPECT_TRUE(motion.retired.empty());
}

TEST(SegmentQueue, PendingEventsAreDroppedUnsetAndClosedWhenFreed) {
  std::vector<PathSegment*> segments;
  PathMotion motion = QueueOfFive(segments);
  PathFlags flags;
  // The interpolation moved event 2 to the pending list.
  TruncateSegmentQueue(motion, flags, nullptr);
  PathSegment* event = new PathSegment();
  event->segmentKind = SegmentKind::kEvent;
  event->eventHandle.value = 9;
  PushSegment(motion.pending, *event);
  DropPendingEvents(motion);
  EXPECT_TRUE(motion.pending.empty());
  RecordingCloser closer;
  FreeSegments(motion.retired, closer);
  EXPECT_EQ(closer.closed, (std::vector<std::uintptr_t>{2, 4, 9}));
}

}  // namespace
}  // namespace vantor::motion

#include "kernel/core/motion/segment_queue.h"

namespace vantor::motion {

void AppendSegment(SegmentQueue& queue, PathSegment& segment) noexcept {
  segment.next = nullptr;
  if (queue.head != nullptr && queue.tail != nullptr) {
    queue.tail->next = &segment;
    segment.previous = queue.tail;
  } else {
    segment.previous = nullptr;
    queue.head = &segment;
  }
  queue.tail = &segment;
  ++queue.count;
}

PathSegment* NewestMotionSegment(PathSegment* from) noexcept {
  for (PathSegment* segment = from; segment != nullptr; segment = segment->previous) {
    if (segment->isMotion) return segment;
  }
  return nullptr;
}

}  // namespace vantor::motion

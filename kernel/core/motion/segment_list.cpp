#include "kernel/core/motion/segment_list.h"

namespace vantor::motion {

void PushSegment(SegmentList& list, PathSegment& segment) noexcept {
  segment.next = nullptr;
  segment.previous = list.last;
  if (list.last != nullptr) {
    list.last->next = &segment;
  } else {
    list.first = &segment;
  }
  list.last = &segment;
  ++list.count;
}

void SpliceSegments(SegmentList& to, SegmentList& from) noexcept {
  if (from.first == nullptr) return;
  from.first->previous = to.last;
  if (to.last != nullptr) {
    to.last->next = from.first;
  } else {
    to.first = from.first;
  }
  to.last = from.last;
  to.count += from.count;
  from = SegmentList{};
}

void FreeSegments(SegmentList& list, PathEventCloser& events) noexcept {
  // Bounded by the count the list was built with: a broken link ends the
  // walk instead of running on.
  PathSegment* segment = list.first;
  for (std::uint32_t i = 0; i < list.count && segment != nullptr; ++i) {
    PathSegment* next = segment->next;
    if (segment->segmentKind == SegmentKind::kEvent && segment->eventHandle.value != 0) {
      events.ClosePathEvent(segment->eventHandle);
    }
    delete segment;
    segment = next;
  }
  list = SegmentList{};
}

}  // namespace vantor::motion

// The segment queue of the motion record: a doubly linked list from the
// oldest segment (head, taken by the interpolation) to the newest (tail,
// where the path commands append). Segments belong to whoever allocated
// them; the queue only links them.
#pragma once

#include <cstdint>

#include "kernel/core/motion/path_segment.h"

namespace vantor::motion {

struct SegmentQueue {
  std::int32_t capacity = 0;     // most segments the queue may hold
  std::int32_t count = 0;        // segments queued
  PathSegment* head = nullptr;   // oldest
  PathSegment* tail = nullptr;   // newest
  // Set by whoever changes the queue while the look-ahead has dropped the
  // kernel data lock; the look-ahead clears it and stops.
  bool changed = false;
};

// Links a prepared segment behind the tail (or makes it the head of an
// empty queue) and counts it.
void AppendSegment(SegmentQueue& queue, PathSegment& segment) noexcept;

// The newest line or arc at or before `from`, searching toward the head.
PathSegment* NewestMotionSegment(PathSegment* from) noexcept;

}  // namespace vantor::motion

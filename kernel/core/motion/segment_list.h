// Segments that left the queue: the pending event segments, waiting for the
// drives to reach them, and the retired segments, which the server thread
// frees. Both are linked through the segments' own `next` links, so moving
// a segment between them never allocates; the real-time cycle only links.
#pragma once

#include <cstdint>

#include "kernel/core/motion/path_segment.h"

namespace vantor::motion {

struct SegmentList {
  PathSegment* first = nullptr;
  PathSegment* last = nullptr;
  std::uint32_t count = 0;

  bool empty() const noexcept { return first == nullptr; }
};

// Appends one segment, unlinking it from whatever it was linked to.
void PushSegment(SegmentList& list, PathSegment& segment) noexcept;

// Moves every segment of `from` behind those of `to`; `from` ends empty.
void SpliceSegments(SegmentList& to, SegmentList& from) noexcept;

// Whoever closes an event segment's event handle when it is freed.
class PathEventCloser {
 public:
  virtual void ClosePathEvent(PathEventHandle handle) noexcept = 0;

 protected:
  ~PathEventCloser() = default;
};

// Server thread: frees every segment of the list (they were made with
// `new`), closing the event handle of each event segment first.
void FreeSegments(SegmentList& list, PathEventCloser& events) noexcept;

}  // namespace vantor::motion

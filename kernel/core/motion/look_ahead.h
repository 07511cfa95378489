// The backward look-ahead over the segment queue: after each appended line
// or arc it walks from the newest segment toward the oldest and raises (or
// proposes lower) exit velocities, so that every segment can still brake to
// the next one's limits and the newest can stop at its end.
#pragma once

#include <cstdint>

#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/segment_queue.h"

namespace vantor::motion {

// The look-ahead drops the kernel data lock between segments so that the
// real-time cycle may run; the kernel supplies how.
class LookAheadLock {
 public:
  virtual ~LookAheadLock() = default;
  virtual void ReleaseAndRetake() = 0;
};

enum class LookAheadEnd : std::uint32_t {
  kFinished = 0,
  // The cycle changed the queue while the lock was dropped: the walk stopped.
  kQueueChanged,
  // More segments visited than are queued, toward the older or the younger
  // end: the links are not a list.
  kVisitLimit,
};

LookAheadEnd PlanSegmentLookAhead(SegmentQueue& queue, LookAheadLock& lock) noexcept;

}  // namespace vantor::motion

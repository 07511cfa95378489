// The path's part of the real-time cycle: counting down the pending
// events, the tail that ends a motion once the drives stand, and the
// interpolation that turns the queued segments into set-point entries of
// the driver exchange.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/motion/path_motion.h"

namespace vantor::motion {

// The state words the path reads and writes, 0 or 1; the kernel copies them
// from its state flags before and back after the path's steps.
struct PathFlags {
  std::uint32_t motionActive = 0;
  std::uint32_t pathActive = 0;
  std::uint32_t moving = 0;
  std::uint32_t motionStop = 0;
  std::uint32_t motionAbort = 0;
  std::uint32_t holdWord = 0;
  std::uint32_t teachMode = 0;
  std::uint32_t pathMode = 0;
  std::uint32_t pathStarted = 0;
  std::uint32_t stopOnInputActive = 0;
  std::uint32_t stopOnInputTriggered = 0;
  std::uint32_t resuming = 0;
};

// What the path signals; both are set from the cycle thread only.
class PathSignals {
 public:
  virtual void SetPathEvent(PathEventHandle handle) noexcept = 0;
  // The motion-state event of a stop or abort (set once, if not already).
  virtual void SignalMotionState() noexcept = 0;

 protected:
  ~PathSignals() = default;
};

// Follows the entries as the interpolation writes them: the
// velocity-proportional output, which keeps the path velocity of each entry
// and leads the drives by a delay. Absent while that output is off.
class EntryObserver {
 public:
  // In the cycle that started the ring, before the first entry: writes up
  // to `room` entries of its own from entry 0 on and says how many; the
  // path's entries follow them.
  virtual std::int32_t WriteStartEntries(common::ExchangeBuffer& exchange,
                                         std::int32_t room) noexcept = 0;
  // An entry of the path was written at `pathVelocity` (units/s).
  virtual void EntryWritten(double pathVelocity) noexcept = 0;
  // An aborted path waits for the drives to play out their buffers.
  virtual void WindDown() noexcept = 0;

 protected:
  ~EntryObserver() = default;
};

struct PathCycle {
  PathFlags& flags;
  PathSignals& signals;
  common::ExchangeBuffer& exchange;
  double cycleTime = 0.0;  // s
  double moveEndMaxWait_ms = 0.0;
  std::uint16_t fillLevel = 0;         // in force
  std::uint16_t driveBufferDepth = 0;  // in force
  // Every node is ready for motion.
  bool nodesReady = true;
  // Every interpolated drive reports its set-point reached (statusword
  // bit 15).
  bool allDrivesReached = true;
  EntryObserver* entryObserver = nullptr;
};

// Sets and retires the pending events whose delay ran out in the
// `elapsed_us` of this exchange, keeping the order of the rest.
void CountDownPendingEvents(PathMotion& motion, PathSignals& signals,
                            std::uint32_t elapsed_us) noexcept;
// Retires every pending event without setting it.
void DropPendingEvents(PathMotion& motion) noexcept;
// Retires the queue (and the kept segment) in one splice; `pathActive` := 0.
void ClearSegmentQueue(PathMotion& motion, PathFlags& flags) noexcept;
// Makes `segment` the tail and retires every segment behind it; with none,
// clears the queue.
void TruncateSegmentQueue(PathMotion& motion, PathFlags& flags, PathSegment* segment) noexcept;
// The path stops at once (drive stop): ramp at rest, queue cleared.
void StopPathAtOnce(PathMotion& motion, PathFlags& flags) noexcept;

enum class TailAction : std::uint32_t {
  // No motion.
  kNothing = 0,
  // Motion to do: with the ring idle the drives are resumed, with the ring
  // running `InterpolationStep` runs.
  kInterpolate,
  // Path mode holds the path until it is started.
  kHeldUntilStarted,
  // The queue has run out; the driver still holds entries.
  kEntriesStillQueued,
  // ... the driver's entries are played; the drives have not yet reported
  // their set-points reached.
  kAwaitingDrives,
  // ... they have, and the wait for them to stand runs down.
  kSettling,
  // The motion ended this cycle.
  kMotionEnded,
};

// The tail of the motion processing, run while `motionActive` is set.
TailAction RunMotionTail(PathMotion& motion, PathCycle& cycle) noexcept;

// Writes as many set-point entries as the driver's ring lacks.
void InterpolationStep(PathMotion& motion, PathCycle& cycle) noexcept;

// The driver's queued-entry count, bounded to the ring.
std::int32_t QueuedEntries(const common::ExchangeBuffer& exchange) noexcept;

}  // namespace vantor::motion

// The velocity-proportional output: a CAN object of the object list whose
// value follows the path velocity, delayed by whole cycles and scaled by
// gain, divisor and offset.
//
// The record lives in the kernel data. Its ring of path velocities is a
// fixed array inside it, so neither the commands nor the cycle allocate.
// The interpolation pushes into the ring and the cycle trims it, both on
// the cycle thread with the cycle's lock set held; the CAN object
// scheduling reads the value from it under the object list's mutex, which
// the commands hold (with the kernel data lock) while they change it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/exchange_buffer.h"

namespace vantor::kernel {

// Path velocities kept, and the longest delay in cycles.
inline constexpr std::size_t kVelocityRingSize = 531;
inline constexpr std::uint16_t kMaxDelayCycles = 498;

struct VelocityOutput {
  std::uint16_t savedFillLevel = 0;     // the fill level before the start; back at the stop
  std::uint16_t mode = 0;               // 1 or 2, stored and reported
  double gain = 0.0;                    // 1.0 at the start
  double divisor = 0.0;                 // 1.0 at the start, never 0 while on
  double offset = 0.0;                  // added after scaling
  std::uint32_t delayMicroseconds = 0;  // as started
  std::uint32_t effectiveDelay = 0;     // microseconds, at most delayMicroseconds
  std::uint16_t delayCycles = 0;        // effectiveDelay in cycles, at most 498
  std::uint16_t readIndex = 0;          // oldest entry
  std::uint16_t writeIndex = 0;         // next entry to write
  // Cycles in a row in which the driver took no set-point (at most 2): the
  // path stood still meanwhile, so the value is read that much further on.
  std::uint16_t unchangedCount = 0;
  std::uint8_t dataLength = 0;  // bytes the object sends, 1 to 4
  std::uint16_t cobId = 0;      // the object's identifier
  std::array<double, kVelocityRingSize> ring{};
};

// Entries in the ring: (writeIndex - readIndex) mod 531, at most 530.
std::uint16_t VelocityOutputFill(const VelocityOutput& output) noexcept;

// The signed value the object sends: the path velocity `delayCycles` +
// `unchangedCount` entries after the oldest (the newest one when the ring
// holds no more), 0 on an empty ring, times gain, over divisor, plus offset,
// rounded half away from zero and capped to what the object's data length
// holds (127, 32767, 8388607, 2147483647), the sign kept. A velocity that is
// not a number counts as 0.
std::int32_t VelocityOutputValue(const VelocityOutput& output) noexcept;

// The same for the CAN object list, which knows the record only as its
// context pointer.
std::int32_t VelocityOutputValueOf(void* output) noexcept;

// Drops the oldest entries until `keep` are left; a ring holding no more
// than `keep` stays as it is.
void TrimVelocityOutput(std::uint32_t keep, VelocityOutput& output) noexcept;

// Appends a path velocity. On a full ring the oldest entry goes, so the
// ring always keeps its newest 530 entries.
void PushPathVelocity(double value, VelocityOutput& output) noexcept;

// Empties the ring and clears the stall counter.
void ResetVelocityOutputIndexes(VelocityOutput& output) noexcept;

// One axis of the set-point entries: where its values go and how they are
// scaled. `lastWritten` is the value the axis sent last; it is written
// again where the final position is no number, and takes each new value.
struct FinalPositionAxis {
  double position = 0.0;        // user units
  bool scalingEnabled = false;  // the node scales user units to increments
  double scalingDivisor = 1.0;  // increments per user unit
  std::uint32_t slot = 0;       // column of the entry, 0 to 5
  std::int32_t lastWritten = 0;
};

// Called by the motion processing when the motion ends and the drives are
// to hold their final positions: entries `first` to `first` + `count` - 1 of
// the exchange record get every axis' final position (scaled when its node
// scales, clamped to +-2147483647, rounded), and a path velocity of 0 is
// pushed per entry, so that the output falls to its offset in step with the
// drives. Entries beyond the record's 500 and columns beyond 6 are left
// alone.
void FillFinalPositions(std::uint32_t first, std::uint32_t count, std::span<FinalPositionAxis> axes,
                        VelocityOutput& output, common::ExchangeBuffer& exchange) noexcept;

// A delay in whole cycles, rounded, at most 498; 0 without a cycle time.
std::uint16_t DelayInCycles(std::uint32_t delayMicroseconds, double cycleTimeSeconds) noexcept;
// round(cycles x cycleTime) in microseconds, as a 32-bit word (0 without a
// cycle time).
std::uint32_t CyclesInMicroseconds(double cycles, double cycleTimeSeconds) noexcept;

// ---- The cycle's bookkeeping of the output ---------------------------------
// Kept by the real-time cycle next to the record, zeroed when the cycle
// thread starts. Every function below runs on the cycle thread inside the
// motion processing, only while `velocityOutputActive` is set, with the
// cycle's lock set held.
struct VelocityOutputBookkeeping {
  std::uint16_t expectedQueueCount = 0;  // entries the driver should still hold
  std::int16_t leadCountdown = 0;        // drive-buffer entries still to drain
  std::uint32_t leadRunning = 0;
};

// After the exchange, while the driver's ring runs (ring control not 0):
// the driver's count of entries still queued, compared with the count
// expected; unchanged means it took none, and `unchangedCount` counts up
// (at most 2), else it falls to 0. The reported count becomes the expected
// one.
void CountStalledSetpoints(std::int16_t reportedQueued, std::uint8_t ringControl,
                           VelocityOutputBookkeeping& bookkeeping, VelocityOutput& output) noexcept;

// Keeps as many path velocities as set-points still lie ahead of the
// drives: those queued in the driver plus the drive's own buffer. Called
// with path mode on and the path not started, with entries still queued at
// the end of a motion, and before each interpolation step while the ring
// runs.
void TrimToQueuedSetpoints(std::int16_t reportedQueued, std::uint16_t driveBufferDepth,
                           VelocityOutput& output) noexcept;

// At the end of a motion, while the drives' queue is empty and the motion
// waits for their statusword bit 15: the first such cycle starts the lead
// countdown at the drive buffer depth, each later one counts it down (not
// below 0); while it is not 0 the ring keeps that many entries. The stall
// counter is cleared.
void DrainDriveBuffer(std::uint16_t driveBufferDepth, VelocityOutputBookkeeping& bookkeeping,
                      VelocityOutput& output) noexcept;

// After the drives' resumption has just started the ring (ring control 1):
// the ring starts empty and the lead countdown is over.
void RestartWithRing(VelocityOutputBookkeeping& bookkeeping, VelocityOutput& output) noexcept;

// At the end of the motion processing: while `motionActive` is set the
// entries written this cycle join the expected queue count, else it is 0.
void FinishVelocityOutputCycle(bool motionActive, std::uint32_t entriesWritten,
                               VelocityOutputBookkeeping& bookkeeping) noexcept;

}  // namespace vantor::kernel

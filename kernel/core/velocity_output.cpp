#include "kernel/core/velocity_output.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantor::kernel {

namespace {

constexpr std::uint16_t kRingSize = static_cast<std::uint16_t>(kVelocityRingSize);
// A full ring holds one entry less than its size: equal indexes mean empty.
constexpr std::uint16_t kFullRing = kRingSize - 1;
// Cycles in a row without a taken set-point that still move the read
// position on.
constexpr std::uint16_t kMaxUnchangedCount = 2;
// The largest magnitude of each data length (1 to 4 bytes).
constexpr std::array<double, 5> kLargestValue{127.0, 127.0, 32767.0, 8388607.0, 2147483647.0};
constexpr double kLargestSetpoint = 2147483647.0;
constexpr double kMicrosecondsPerSecond = 1e6;

std::uint16_t Wrap(std::uint32_t index) noexcept {
  return static_cast<std::uint16_t>(index % kRingSize);
}

double DelayedVelocity(const VelocityOutput& output) noexcept {
  const std::uint32_t fill = VelocityOutputFill(output);
  if (fill == 0) return 0.0;
  const std::uint32_t ahead = std::uint32_t{output.delayCycles} + output.unchangedCount;
  const std::uint32_t index =
      ahead < fill - 1 ? output.readIndex + ahead : output.writeIndex + kRingSize - 1;
  const double value = output.ring[Wrap(index)];
  return std::isnan(value) ? 0.0 : value;
}

bool HasCycleTime(double cycleTimeSeconds) noexcept {
  return std::isfinite(cycleTimeSeconds) && cycleTimeSeconds > 0.0;
}

}  // namespace

std::uint16_t VelocityOutputFill(const VelocityOutput& output) noexcept {
  return Wrap(std::uint32_t{Wrap(output.writeIndex)} + kRingSize - Wrap(output.readIndex));
}

std::int32_t VelocityOutputValue(const VelocityOutput& output) noexcept {
  // A zero record is an output that is off.
  if (output.divisor == 0.0) return 0;
  const double x = DelayedVelocity(output) * output.gain / output.divisor + output.offset;
  if (std::isnan(x)) return 0;
  const double largest = kLargestValue[std::min<std::size_t>(output.dataLength, 4)];
  const double magnitude = std::min(std::round(std::fabs(x)), largest);
  const auto value = static_cast<std::int32_t>(magnitude);
  return x < 0.0 ? -value : value;
}

std::int32_t VelocityOutputValueOf(void* output) noexcept {
  return output != nullptr ? VelocityOutputValue(*static_cast<const VelocityOutput*>(output)) : 0;
}

void TrimVelocityOutput(std::uint32_t keep, VelocityOutput& output) noexcept {
  const std::uint16_t fill = VelocityOutputFill(output);
  if (fill < keep) return;
  output.readIndex = Wrap(std::uint32_t{Wrap(output.readIndex)} + fill - keep);
}

void PushPathVelocity(double value, VelocityOutput& output) noexcept {
  if (VelocityOutputFill(output) == kFullRing) {
    output.readIndex = Wrap(std::uint32_t{output.readIndex} + 1);
  }
  const std::uint16_t at = Wrap(output.writeIndex);
  output.ring[at] = value;
  output.writeIndex = Wrap(std::uint32_t{at} + 1);
}

void ResetVelocityOutputIndexes(VelocityOutput& output) noexcept {
  output.readIndex = 0;
  output.writeIndex = 0;
  output.unchangedCount = 0;
}

void FillFinalPositions(std::uint32_t first, std::uint32_t count, std::span<FinalPositionAxis> axes,
                        VelocityOutput& output, common::ExchangeBuffer& exchange) noexcept {
  for (FinalPositionAxis& axis : axes) {
    double value = axis.position;
    if (axis.scalingEnabled) value *= axis.scalingDivisor;
    // Not a number: the drive keeps the value it was sent last.
    if (std::isnan(value) || !std::isfinite(axis.position)) continue;
    value = std::clamp(value, -kLargestSetpoint, kLargestSetpoint);
    axis.lastWritten = static_cast<std::int32_t>(std::lround(value));
  }
  const std::uint32_t end = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{first} + count, common::kSetpointEntryCount));
  for (std::uint32_t entry = first; entry < end; ++entry) {
    for (const FinalPositionAxis& axis : axes) {
      const std::size_t at = common::exchange_buffer::SetpointValueOffset(entry, axis.slot);
      if (at != common::kNoOffset)
        static_cast<void>(exchange.Store<std::int32_t>(at, axis.lastWritten));
    }
    PushPathVelocity(0.0, output);
  }
}

std::uint16_t DelayInCycles(std::uint32_t delayMicroseconds, double cycleTimeSeconds) noexcept {
  if (!HasCycleTime(cycleTimeSeconds)) return 0;
  const double cycles = std::round(delayMicroseconds / (cycleTimeSeconds * kMicrosecondsPerSecond));
  return static_cast<std::uint16_t>(std::min(cycles, double{kMaxDelayCycles}));
}

std::uint32_t CyclesInMicroseconds(double cycles, double cycleTimeSeconds) noexcept {
  if (!HasCycleTime(cycleTimeSeconds) || !(cycles >= 0.0)) return 0;
  const double microseconds = std::round(cycles * cycleTimeSeconds * kMicrosecondsPerSecond);
  return static_cast<std::uint32_t>(std::min(microseconds, 4294967295.0));
}

void CountStalledSetpoints(std::int16_t reportedQueued, std::uint8_t ringControl,
                           VelocityOutputBookkeeping& bookkeeping,
                           VelocityOutput& output) noexcept {
  if (ringControl == common::exchange_buffer::kRingNotInUse) return;
  // The driver's count is read from the exchange record: a negative one
  // counts as nothing queued.
  const auto reported = static_cast<std::uint16_t>(std::max<std::int16_t>(reportedQueued, 0));
  if (reported == bookkeeping.expectedQueueCount) {
    output.unchangedCount =
        static_cast<std::uint16_t>(std::min<int>(output.unchangedCount + 1, kMaxUnchangedCount));
  } else {
    output.unchangedCount = 0;
  }
  bookkeeping.expectedQueueCount = reported;
}

void TrimToQueuedSetpoints(std::int16_t reportedQueued, std::uint16_t driveBufferDepth,
                           VelocityOutput& output) noexcept {
  const auto queued = static_cast<std::uint32_t>(std::max<std::int16_t>(reportedQueued, 0));
  TrimVelocityOutput(queued + driveBufferDepth, output);
}

void DrainDriveBuffer(std::uint16_t driveBufferDepth, VelocityOutputBookkeeping& bookkeeping,
                      VelocityOutput& output) noexcept {
  if (bookkeeping.leadRunning == 0) {
    bookkeeping.leadCountdown = static_cast<std::int16_t>(
        std::min<std::uint16_t>(driveBufferDepth, std::numeric_limits<std::int16_t>::max()));
    bookkeeping.leadRunning = 1;
  } else if (bookkeeping.leadCountdown > 0) {
    --bookkeeping.leadCountdown;
  } else {
    bookkeeping.leadCountdown = 0;
  }
  if (bookkeeping.leadCountdown != 0) {
    TrimVelocityOutput(static_cast<std::uint32_t>(bookkeeping.leadCountdown), output);
  }
  output.unchangedCount = 0;
}

void RestartWithRing(VelocityOutputBookkeeping& bookkeeping, VelocityOutput& output) noexcept {
  ResetVelocityOutputIndexes(output);
  bookkeeping.leadRunning = 0;
}

void FinishVelocityOutputCycle(bool motionActive, std::uint32_t entriesWritten,
                               VelocityOutputBookkeeping& bookkeeping) noexcept {
  if (!motionActive) {
    bookkeeping.expectedQueueCount = 0;
    return;
  }
  const std::uint32_t expected = std::uint32_t{bookkeeping.expectedQueueCount} + entriesWritten;
  bookkeeping.expectedQueueCount = static_cast<std::uint16_t>(
      std::min<std::uint32_t>(expected, std::numeric_limits<std::uint16_t>::max()));
}

}  // namespace vantor::kernel

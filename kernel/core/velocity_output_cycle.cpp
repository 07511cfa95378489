#include "kernel/core/velocity_output_cycle.h"

#include <algorithm>
#include <array>
#include <limits>

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

namespace {

namespace xb = common::exchange_buffer;

// The ring follows the drives' own buffer at its normal depth, in teach
// mode too: the output's delay was set against it.
std::uint16_t NormalDriveBufferDepth(const KernelData& data) noexcept {
  return data.motion.fill.DriveBufferDepthInForce(false);
}

}  // namespace

std::int32_t VelocityOutputEntries::WriteStartEntries(common::ExchangeBuffer& exchange,
                                                      std::int32_t room) noexcept {
  motion::PathMotion& path = data_.motionRuntime.path;
  const std::int32_t count =
      std::clamp<std::int32_t>(data_.velocityOutput.delayCycles, 0, std::max(room, 0));
  if (count == 0) return 0;
  std::array<FinalPositionAxis, motion::kMaxInterpolatedAxes> axes{};
  const std::uint32_t axisCount =
      std::min<std::uint32_t>(path.entryAxisCount, motion::kMaxInterpolatedAxes);
  for (std::uint32_t k = 0; k < axisCount; ++k) {
    const motion::EntryAxis& entry = path.entryAxes[k];
    // An axis without a coordinate keeps the value it was sent last.
    const double position = entry.coordinate < path.axisCount
                                ? path.axes[entry.coordinate].setPosition
                                : std::numeric_limits<double>::quiet_NaN();
    axes[k] = FinalPositionAxis{position, entry.scalingEnabled, entry.scalingFactor, entry.slot,
                                entry.lastSent};
  }
  FillFinalPositions(0, static_cast<std::uint32_t>(count), std::span(axes).first(axisCount),
                     data_.velocityOutput, exchange);
  for (std::uint32_t k = 0; k < axisCount; ++k) path.entryAxes[k].lastSent = axes[k].lastWritten;
  return count;
}

void VelocityOutputEntries::EntryWritten(double pathVelocity) noexcept {
  PushPathVelocity(pathVelocity, data_.velocityOutput);
}

void VelocityOutputEntries::WindDown() noexcept {
  DrainDriveBuffer(NormalDriveBufferDepth(data_), data_.velocityOutputBookkeeping,
                   data_.velocityOutput);
}

void BeginVelocityOutputCycle(KernelData& data, std::int16_t reportedQueued,
                              const common::ExchangeBuffer& exchange) noexcept {
  CountStalledSetpoints(reportedQueued, exchange.Get(xb::kRingControl),
                        data.velocityOutputBookkeeping, data.velocityOutput);
}

void FollowMotionTail(KernelData& data, motion::TailAction action,
                      std::int16_t reportedQueued) noexcept {
  using motion::TailAction;
  switch (action) {
    case TailAction::kHeldUntilStarted:
    case TailAction::kEntriesStillQueued:
      TrimToQueuedSetpoints(reportedQueued, NormalDriveBufferDepth(data), data.velocityOutput);
      break;
    case TailAction::kAwaitingDrives:
      DrainDriveBuffer(NormalDriveBufferDepth(data), data.velocityOutputBookkeeping,
                       data.velocityOutput);
      break;
    case TailAction::kSettling:
    case TailAction::kMotionEnded:
      ResetVelocityOutputIndexes(data.velocityOutput);
      break;
    case TailAction::kNothing:
    case TailAction::kInterpolate:
      break;
  }
}

void BeforeInterpolation(KernelData& data, std::int16_t reportedQueued,
                         const common::ExchangeBuffer& exchange) noexcept {
  const std::uint8_t ring = exchange.Get(xb::kRingControl);
  if (ring == xb::kRingStart) {
    RestartWithRing(data.velocityOutputBookkeeping, data.velocityOutput);
  } else if (ring != xb::kRingNotInUse) {
    TrimToQueuedSetpoints(reportedQueued, NormalDriveBufferDepth(data), data.velocityOutput);
  }
}

void EndVelocityOutputCycle(KernelData& data, bool motionEnded,
                            std::uint32_t entriesWritten) noexcept {
  if (motionEnded) ResetVelocityOutputIndexes(data.velocityOutput);
  FinishVelocityOutputCycle(data.state.motionActive != 0, entriesWritten,
                            data.velocityOutputBookkeeping);
}

void StopVelocityOutputAtDriveStop(KernelData& data) noexcept {
  ResetVelocityOutputIndexes(data.velocityOutput);
  data.velocityOutputBookkeeping = VelocityOutputBookkeeping{};
}

}  // namespace vantor::kernel

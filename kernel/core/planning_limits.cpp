#include "kernel/core/planning_limits.h"

#include <algorithm>

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

motion::NodeLimits DriveLimitsOfNode(const canopen::NodeObject& node,
                                     const motion::NodeLimits& previous) noexcept {
  motion::NodeLimits limits;
  limits.overrides = previous.overrides;
  limits.scalingEnabled = node.scalingOn != 0;
  limits.scalingDivisor = node.scalingDivisor;
  // The drive itself and, on a gantry, its slave drives, each scaled as
  // the node.
  limits.axisCount =
      std::min(1 + node.axisCount, static_cast<std::uint32_t>(motion::kMaxAxesPerNode));
  const double scale = limits.scalingEnabled ? node.scalingDivisor : 1.0;
  limits.axisScalingFactors.fill(scale);
  // A scale that is no positive number leaves the limits at zero: no move
  // plans with them.
  if (!(scale > 0.0)) return limits;
  limits.maxVelocity = node.drive.maxVelocity / scale;
  limits.maxAcceleration = node.drive.maxAcceleration / scale;
  if (limits.maxVelocity > 0.0) {
    limits.maxJerk = limits.maxAcceleration * limits.maxAcceleration / limits.maxVelocity;
  }
  limits.kv = kAssumedPositionLoopGain;
  return limits;
}

void TakeDriveLimitsIntoPlanning(KernelData& data) noexcept {
  const auto coordinates = static_cast<std::size_t>(
      std::clamp<std::int32_t>(data.coordinateCount, 0, motion::kMaxCoordinates));
  std::array<motion::NodeLimits, motion::kMaxCoordinates>& limits = data.planning.nodeLimits;
  for (std::size_t i = 0; i < limits.size(); ++i) {
    const NodeObject* node =
        i < coordinates ? data.nodeConfiguration.Node(static_cast<std::uint32_t>(i)) : nullptr;
    if (node == nullptr || !node->can) {
      motion::NodeLimits none;
      none.overrides = limits[i].overrides;
      limits[i] = none;
      continue;
    }
    limits[i] = DriveLimitsOfNode(*node->can, limits[i]);
  }
}

}  // namespace vantor::kernel

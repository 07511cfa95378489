#include "kernel/core/motion/preparation_support.h"

#include <cmath>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/segment_transition.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion::detail {

AxisLimitTable ScaleAxisLimits(const PlanningContext& context, RampOverrideSet set) noexcept {
  AxisLimitTable table{};
  const double cycleCap = kLargestIncrementsPerCycle / context.parameters.cycleTime;
  for (std::size_t i = 0; i < context.coordinates.size() && i < table.size(); ++i) {
    const NodeLimits& node = context.nodes[i];
    const RampOverride& factors = node.overrides[static_cast<std::size_t>(set)];
    AxisLimit& limit = table[i];
    // A limit that is no number must stay one, so the check before use
    // refuses it instead of the cap hiding it.
    const double velocity = node.maxVelocity * factors.velocityFactor;
    limit.velocity = std::isnan(velocity) ? velocity : MinOf(velocity, cycleCap);
    limit.acceleration = node.maxAcceleration * factors.accelerationFactor;
    limit.jerk = node.maxJerk * factors.jerkFactor;
    limit.kv = node.kv;
  }
  return table;
}

bool AxisLimitUsable(const AxisLimit& limit) noexcept {
  return IsPositiveFinite(limit.velocity) && IsPositiveFinite(limit.acceleration) &&
         IsPositiveFinite(limit.jerk);
}

bool ContextUsable(const PlanningContext& context) noexcept {
  const auto n = context.coordinates.size();
  if (n == 0 || n > kMaxCoordinates || context.nodes.size() < n) return false;
  if (!IsPositiveFinite(context.parameters.cycleTime)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const CoordinateInput& coordinate = context.coordinates[i];
    if (!std::isfinite(coordinate.zeroOffset) || !std::isfinite(coordinate.position) ||
        !std::isfinite(coordinate.cylinderRadius)) {
      return false;
    }
  }
  return true;
}

double StartPosition(std::size_t axis, const PathSegment* newestMotion,
                     const PlanningContext& context) noexcept {
  if (newestMotion != nullptr) return newestMotion->axes[axis].end;
  return context.coordinates[axis].position;
}

bool FitTargetIntoRange(std::size_t axis, double& target, bool clamp,
                        const PlanningContext& context) noexcept {
  if (!std::isfinite(target)) return false;
  const NodeLimits& node = context.nodes[axis];
  const double sign = target < 0.0 ? -1.0 : 1.0;
  bool inRange = true;
  if (std::fabs(target) >= kLargestDriveValue) {
    if (!clamp) return false;
    target = sign * kLargestDriveValue;
    inRange = false;
  }
  if (node.scalingEnabled) {
    // A scale that is not a positive number cannot be checked against: the
    // node's configuration is unusable for a move.
    if (!IsPositiveFinite(node.scalingDivisor)) return false;
    if (std::fabs(target * node.scalingDivisor) >= kLargestDriveValue) {
      if (!clamp) return false;
      target = sign * kLargestDriveValue / node.scalingDivisor;
      inRange = false;
    }
    const std::size_t axes = node.axisCount < kMaxAxesPerNode ? node.axisCount : kMaxAxesPerNode;
    for (std::size_t k = 0; k < axes; ++k) {
      const double scale = node.axisScalingFactors[k];
      if (!IsPositiveFinite(scale)) return false;
      if (std::fabs(target * scale) >= kLargestDriveValue) {
        if (!clamp) return false;
        target = sign * kLargestDriveValue / scale;
        inRange = false;
      }
    }
  }
  return inRange || clamp;
}

bool Refuse(PathSegment& segment, SegmentError error) noexcept {
  segment.error = error;
  return false;
}

void FinishMotionSegment(PathSegment& segment, PathSegment* newestMotion, double endAngle,
                         const AxisLimitTable& limits, const PlanningContext& context) noexcept {
  segment.isMotion = true;
  segment.state = 0;
  segment.exitVelocity = 0.0;
  segment.passThroughA = false;
  segment.passThroughB = false;
  segment.segmentKind = SegmentKind::kMotionOrVelocity;
  ComputeReachConstants(segment);
  if (context.pathMode) PlanSegmentTransition(segment, newestMotion, endAngle, limits, context);
}

bool TransitionInputsUsable(const AxisLimitTable& limits, const PlanningContext& context) noexcept {
  if (!context.pathMode) return true;
  const PathParameters& parameters = context.parameters;
  if (!IsPositiveFinite(parameters.pathVelFacInverse)) return false;
  if (!std::isfinite(parameters.PathError) || parameters.PathError < 0.0) return false;
  if (!std::isfinite(parameters.CarryAxisVelFac)) return false;
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    if (context.coordinates[i].onPath && !IsPositiveFinite(limits[i].kv)) return false;
  }
  return true;
}

}  // namespace vantor::motion::detail

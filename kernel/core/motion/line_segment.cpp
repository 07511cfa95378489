// Preparation of a linear move: a path move over the path axes, or a move
// of one axis that is not on the path.
#include <array>
#include <cmath>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/plane_rotation.h"
#include "kernel/core/motion/preparation_support.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

using detail::AxisLimitTable;

using AxisValues = std::array<double, kMaxCoordinates>;

// Programmed coordinates of the two rotation axes are taken in the rotated
// plane; the distance pair is turned back into machine coordinates.
void ApplyPlaneRotation(const LinearMove& move, const AxisValues& start, AxisValues& distance,
                        const PlanningContext& context) noexcept {
  const PlaneRotation& rotation = context.rotation;
  const auto a = static_cast<std::size_t>(rotation.axisA);
  const auto b = static_cast<std::size_t>(rotation.axisB);
  const PlanePoint rotatedStart = UnrotateInPlane(
      {start[a] - context.coordinates[a].zeroOffset, start[b] - context.coordinates[b].zeroOffset},
      rotation);
  const auto rotatedDistance = [&](std::size_t axis, double rotatedStartComponent) {
    const CommandValue& value = move.values[axis];
    if (!value.programmed) return 0.0;
    return move.absolute ? value.value - rotatedStartComponent : value.value;
  };
  const PlanePoint turned =
      RotateInPlane({rotatedDistance(a, rotatedStart.x), rotatedDistance(b, rotatedStart.y)}, rotation);
  distance[a] = turned.x;
  distance[b] = turned.y;
}

bool RotationAxesValid(const PlanningContext& context) noexcept {
  const PlaneRotation& rotation = context.rotation;
  const auto n = static_cast<std::int32_t>(context.coordinates.size());
  return rotation.axisA >= 0 && rotation.axisA < n && rotation.axisB >= 0 && rotation.axisB < n &&
         rotation.axisA != rotation.axisB && std::isfinite(rotation.angle);
}

// Path length contribution of an axis distance.
double PathDistance(std::size_t axis, double distance, const PlanningContext& context) noexcept {
  const CoordinateInput& coordinate = context.coordinates[axis];
  if (coordinate.linear) return distance;
  return distance * coordinate.cylinderRadius * context.parameters.AngleToRadianFac;
}

void SetPathLimits(PathSegment& segment, const LinearMove& move, const AxisLimitTable& limits,
                   const PlanningContext& context) noexcept {
  double velocity = INFINITY;
  double acceleration = INFINITY;
  double jerk = INFINITY;
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    const double factor = std::fabs(segment.axes[i].factor);
    if (factor == 0.0) continue;
    velocity = MinOf(velocity, limits[i].velocity / factor);
    acceleration = MinOf(acceleration, limits[i].acceleration / factor);
    jerk = MinOf(jerk, limits[i].jerk / factor);
  }
  if (!move.clampMode && !move.rapid) {
    const PathParameters& parameters = context.parameters;
    const bool singleRotary =
        !segment.isPath && !context.coordinates[segment.singleAxis].linear;
    const double accelerationLimit = singleRotary ? parameters.singleRotaryAccelerationLimit
                                                  : parameters.pathAccelerationLimit;
    const double jerkLimit = singleRotary ? parameters.singleRotaryJerkLimit : parameters.pathJerkLimit;
    if (accelerationLimit > 0.0) acceleration = MinOf(acceleration, accelerationLimit);
    if (jerkLimit > 0.0) jerk = MinOf(jerk, jerkLimit);
  }
  segment.velocity = velocity;
  segment.acceleration = acceleration;
  segment.jerk = jerk;
}

}  // namespace

bool PrepareLinearSegment(const LinearMove& move, PathSegment* queueTail, PathSegment& segment,
                          const PlanningContext& context) noexcept {
  segment.error = SegmentError::kNone;
  if (!detail::ContextUsable(context) || move.values.size() < context.coordinates.size()) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  const std::size_t n = context.coordinates.size();
  const RampOverrideSet set = move.clampMode ? RampOverrideSet::kClamp
                              : move.rapid   ? RampOverrideSet::kRapid
                                             : RampOverrideSet::kNormal;
  const AxisLimitTable limits = detail::ScaleAxisLimits(context, set);
  PathSegment* const newestMotion = NewestMotionSegment(queueTail);

  AxisValues start{};
  AxisValues distance{};
  for (std::size_t i = 0; i < n; ++i) {
    start[i] = detail::StartPosition(i, newestMotion, context);
    const CommandValue& value = move.values[i];
    if (!value.programmed) continue;
    distance[i] = move.absolute ? value.value + context.coordinates[i].zeroOffset - start[i]
                                : value.value;
  }
  if (context.rotation.IsOn() && !move.clampMode) {
    if (!RotationAxesValid(context)) return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    ApplyPlaneRotation(move, start, distance, context);
  }

  for (std::size_t i = 0; i < n; ++i) {
    double target = start[i] + distance[i];
    if (!detail::FitTargetIntoRange(i, target, move.clampMode, context)) {
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    }
    distance[i] = target - start[i];
  }

  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!context.coordinates[i].onPath) continue;
    const double pathDistance = PathDistance(i, distance[i], context);
    sum += pathDistance * pathDistance;
  }
  double length = 0.0;
  if (sum > kNegligibleMagnitude) {
    length = std::sqrt(sum);
    segment.isPath = true;
    segment.singleAxis = 0;
  } else {
    // The first axis off the path that really moves; selecting it by the
    // same test that accepts it keeps a real move on a later axis from
    // being dropped behind a negligible one.
    std::size_t axis = n;
    for (std::size_t i = 0; i < n && axis == n; ++i) {
      if (!context.coordinates[i].onPath && distance[i] * distance[i] > kNegligibleMagnitude) axis = i;
    }
    if (axis == n) return detail::Refuse(segment, SegmentError::kZeroLength);
    length = std::fabs(distance[axis]);
    segment.isPath = false;
    segment.singleAxis = static_cast<std::uint32_t>(axis);
  }

  for (std::size_t i = 0; i < n; ++i) {
    SegmentAxisPart& part = segment.axes[i];
    part = SegmentAxisPart{};
    part.shape = AxisShape::kLinear;
    part.factor = ZeroIfNegligible(distance[i] / length);
    part.start = start[i];
    part.end = start[i] + distance[i];
    if (part.factor != 0.0 && !detail::AxisLimitUsable(limits[i])) {
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    }
  }
  segment.length = length;
  SetPathLimits(segment, move, limits, context);
  if (!IsPositiveFinite(segment.velocity) || !IsPositiveFinite(segment.acceleration) ||
      !IsPositiveFinite(segment.jerk) || !detail::TransitionInputsUsable(limits, context)) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  detail::FinishMotionSegment(segment, newestMotion, 0.0, limits, context);
  return true;
}

}  // namespace vantor::motion

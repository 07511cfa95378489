// Preparation of an arc in the plane of two path axes, given by its end
// point or by its sweep angle, with a linear move of the other axes (a
// helix when a third path axis moves).
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

#include "kernel/core/motion/arc_geometry.h"
#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/plane_rotation.h"
#include "kernel/core/motion/preparation_support.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

using detail::AxisLimit;
using detail::AxisLimitTable;
using AxisValues = std::array<double, kMaxCoordinates>;

constexpr std::size_t kFirstAxisValue = 0;
constexpr std::size_t kSecondAxisValue = 1;
constexpr std::size_t kDirectionValue = 2;
constexpr std::size_t kSweepValue = 3;

struct PlaneAxes {
  std::size_t first = 0;   // the cosine axis
  std::size_t second = 0;  // the sine axis
};

// Index of the first centre value and of the first per-coordinate value.
std::size_t CentreValueIndex(const ArcMove& move) noexcept { return move.byEndPoint ? 3 : 4; }
std::size_t CoordinateValueIndex(const ArcMove& move) noexcept { return move.byEndPoint ? 5 : 6; }

// 0 selects X, 1 selects Y, any other value (after rounding) Z.
std::int32_t SelectAxis(double selector, const CartesianAxes& axes) noexcept {
  const auto rounded = RoundToInt32(selector);
  if (rounded && *rounded == 0) return axes.x;
  if (rounded && *rounded == 1) return axes.y;
  return axes.z;
}

std::optional<PlaneAxes> SelectPlaneAxes(const ArcMove& move,
                                         const PlanningContext& context) noexcept {
  const CartesianAxes axes = AssignCartesianAxes(context.coordinates);
  const std::int32_t first = SelectAxis(move.values[kFirstAxisValue].value, axes);
  const std::int32_t second = SelectAxis(move.values[kSecondAxisValue].value, axes);
  const auto n = static_cast<std::int32_t>(context.coordinates.size());
  if (first < 0 || second < 0 || first >= n || second >= n || first == second) {
    return std::nullopt;
  }
  if (!context.coordinates[static_cast<std::size_t>(first)].onPath ||
      !context.coordinates[static_cast<std::size_t>(second)].onPath) {
    return std::nullopt;
  }
  if (context.rotation.IsOn()) {
    const PlaneRotation& rotation = context.rotation;
    const bool same = (first == rotation.axisA && second == rotation.axisB) ||
                      (first == rotation.axisB && second == rotation.axisA);
    if (!same || !std::isfinite(rotation.angle)) return std::nullopt;
  }
  return PlaneAxes{static_cast<std::size_t>(first), static_cast<std::size_t>(second)};
}

// Offset from the start of a programmed value: absolute values are targets
// (plus the zero offset), relative ones offsets, unprogrammed ones 0.
double OffsetOf(const CommandValue& value, bool absolute, double zeroOffset,
                double start) noexcept {
  if (!value.programmed) return 0.0;
  return absolute ? value.value + zeroOffset - start : value.value;
}

// The two values of the rotated plane, taken in rotated coordinates and
// turned back into an offset pair of the rotation axes A and B.
PlanePoint RotatedOffsets(const CommandValue& valueA, const CommandValue& valueB, bool absolute,
                          const AxisValues& start, const PlanningContext& context) noexcept {
  const PlaneRotation& rotation = context.rotation;
  const auto a = static_cast<std::size_t>(rotation.axisA);
  const auto b = static_cast<std::size_t>(rotation.axisB);
  const PlanePoint rotatedStart = UnrotateInPlane(
      {start[a] - context.coordinates[a].zeroOffset, start[b] - context.coordinates[b].zeroOffset},
      rotation);
  const auto offset = [&](const CommandValue& value, double rotatedStartComponent) {
    if (!value.programmed) return 0.0;
    return absolute ? value.value - rotatedStartComponent : value.value;
  };
  return RotateInPlane({offset(valueA, rotatedStart.x), offset(valueB, rotatedStart.y)}, rotation);
}

// Offsets of a value pair of the plane axes, in plane-axis order.
PlanePoint PlaneOffsets(const CommandValue& firstValue, const CommandValue& secondValue,
                        bool absolute, const PlaneAxes& plane, const AxisValues& start,
                        const PlanningContext& context) noexcept {
  if (!context.rotation.IsOn()) {
    return {OffsetOf(firstValue, absolute, context.coordinates[plane.first].zeroOffset,
                     start[plane.first]),
            OffsetOf(secondValue, absolute, context.coordinates[plane.second].zeroOffset,
                     start[plane.second])};
  }
  const bool firstIsA = static_cast<std::int32_t>(plane.first) == context.rotation.axisA;
  const CommandValue& valueA = firstIsA ? firstValue : secondValue;
  const CommandValue& valueB = firstIsA ? secondValue : firstValue;
  const PlanePoint turned = RotatedOffsets(valueA, valueB, absolute, start, context);
  return firstIsA ? turned : PlanePoint{turned.y, turned.x};
}

double ArcVelocityLimit(double r, const PlaneAxes& plane, const AxisLimitTable& limits,
                        const PlanningContext& context) noexcept {
  const PathParameters& parameters = context.parameters;
  const AxisLimit& first = limits[plane.first];
  const AxisLimit& second = limits[plane.second];
  const double kv = MinOf(first.kv, second.kv);
  double limit =
      kv * std::sqrt(std::fabs(2.0 * r * parameters.RadiusError)) / parameters.circleVelFacInverse;
  const double chord =
      parameters.RadiusError < r
          ? 2.0 * r * std::acos(1.0 - parameters.RadiusError / r) / parameters.cycleTime
          : 2.0 * std::numbers::pi * r / parameters.cycleTime;
  limit = MinOf(limit, chord);
  for (const AxisLimit* axis : {&first, &second}) {
    limit = MinOf(limit, axis->velocity);
    limit = MinOf(limit, std::sqrt(std::fabs(r * axis->acceleration / 2.0)));
    limit = MinOf(limit, CubeRoot(std::fabs(r * r * axis->jerk / 3.0)));
  }
  return limit;
}

// The arc's own inputs must be usable before any geometry is computed.
bool ArcParametersUsable(const PlaneAxes& plane, const AxisLimitTable& limits,
                         const PlanningContext& context) noexcept {
  const PathParameters& parameters = context.parameters;
  return IsPositiveFinite(parameters.RadiusError) &&
         IsPositiveFinite(parameters.circleVelFacInverse) &&
         std::isfinite(parameters.RadiusRoundingError) &&
         std::isfinite(parameters.AngleRoundingError) &&
         detail::AxisLimitUsable(limits[plane.first]) &&
         detail::AxisLimitUsable(limits[plane.second]) &&
         IsPositiveFinite(limits[plane.first].kv) && IsPositiveFinite(limits[plane.second].kv);
}

// The offset from `start` to an end within kWholeUnitSnap_units of a whole
// unit, taken to that unit; any other end as it is.
double SnappedToWholeUnit(double start, double offset) noexcept {
  const double end = start + offset;
  const double whole = std::round(end);
  return std::fabs(end - whole) < kWholeUnitSnap_units ? whole - start : offset;
}

bool ArcExtentsInRange(const PlaneAxes& plane, double r, const AxisValues& centre,
                       const PlanningContext& context) noexcept {
  for (const std::size_t axis : {plane.first, plane.second}) {
    for (const double edge : {centre[axis] - r, centre[axis] + r}) {
      double target = edge;
      if (!detail::FitTargetIntoRange(axis, target, false, context)) return false;
    }
  }
  return true;
}

}  // namespace

bool PrepareArcSegment(const ArcMove& move, PathSegment* queueTail, PathSegment& segment,
                       const PlanningContext& context) noexcept {
  segment.error = SegmentError::kNone;
  const std::size_t n = context.coordinates.size();
  if (!detail::ContextUsable(context) || move.values.size() < CoordinateValueIndex(move) + n) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  const AxisLimitTable limits = detail::ScaleAxisLimits(context, RampOverrideSet::kNormal);
  for (std::size_t i = 0; i < n; ++i) {
    if (context.coordinates[i].onPath && !context.coordinates[i].linear) {
      return detail::Refuse(segment, SegmentError::kCylinderArc);
    }
  }
  const auto plane = SelectPlaneAxes(move, context);
  if (!plane || !ArcParametersUsable(*plane, limits, context)) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  const CommandValue& direction = move.values[kDirectionValue];
  const bool decreasing = direction.programmed && direction.value == 0.0;

  double sweep = 0.0;
  if (!move.byEndPoint) {
    const CommandValue& sweepValue = move.values[kSweepValue];
    const double angleFactor = context.parameters.AngleToRadianFac;
    if (!sweepValue.programmed || sweepValue.value < 0.0 || !IsPositiveFinite(angleFactor)) {
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    }
    sweep = sweepValue.value * angleFactor;
  }

  PathSegment* const newestMotion = NewestMotionSegment(queueTail);
  AxisValues start{};
  for (std::size_t i = 0; i < n; ++i) start[i] = detail::StartPosition(i, newestMotion, context);

  const std::size_t centreIndex = CentreValueIndex(move);
  const PlanePoint centreOffset =
      PlaneOffsets(move.values[centreIndex], move.values[centreIndex + 1], move.absolute, *plane,
                   start, context);
  const std::size_t valueIndex = CoordinateValueIndex(move);
  AxisValues distance{};
  for (std::size_t i = 0; i < n; ++i) {
    distance[i] = OffsetOf(move.values[valueIndex + i], move.absolute,
                           context.coordinates[i].zeroOffset, start[i]);
  }

  const double r = std::hypot(centreOffset.x, centreOffset.y);
  if (!(r > kNegligibleMagnitude) || !std::isfinite(r)) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }
  const double startAngle = PointAngle(r, -centreOffset.x, -centreOffset.y);
  double endAngle = 0.0;
  if (move.byEndPoint) {
    const PlanePoint endOffset = PlaneOffsets(move.values[valueIndex + plane->first],
                                              move.values[valueIndex + plane->second],
                                              move.absolute, *plane, start, context);
    const double endDx = endOffset.x - centreOffset.x;
    const double endDy = endOffset.y - centreOffset.y;
    const double endRadius = std::hypot(endDx, endDy);
    if (!(std::fabs(r - endRadius) < context.parameters.RadiusRoundingError)) {
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    }
    endAngle = PointAngle(endRadius, endDx, endDy);
    sweep = ArcSweep(decreasing, context.parameters.AngleRoundingError, startAngle, endAngle);
    distance[plane->first] = endOffset.x;
    distance[plane->second] = endOffset.y;
  } else {
    endAngle = decreasing ? startAngle - sweep : startAngle + sweep;
    // The end follows from the sweep; only the angle functions' rounding
    // is taken off an end next to a whole unit.
    distance[plane->first] =
        SnappedToWholeUnit(start[plane->first], centreOffset.x + r * std::cos(endAngle));
    distance[plane->second] =
        SnappedToWholeUnit(start[plane->second], centreOffset.y + r * std::sin(endAngle));
  }

  const double arcLength = std::fabs(r * sweep);
  if (!(arcLength > kNegligibleMagnitude))
    return detail::Refuse(segment, SegmentError::kZeroLength);
  double helix = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i != plane->first && i != plane->second && context.coordinates[i].onPath) {
      helix = distance[i];
      break;
    }
  }
  const double length = std::sqrt(arcLength * arcLength + helix * helix);

  AxisValues centre{};
  centre[plane->first] = start[plane->first] + centreOffset.x;
  centre[plane->second] = start[plane->second] + centreOffset.y;
  for (std::size_t i = 0; i < n; ++i) {
    double target = start[i] + distance[i];
    if (!detail::FitTargetIntoRange(i, target, false, context)) {
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    }
  }
  if (!ArcExtentsInRange(*plane, r, centre, context)) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }

  double velocity = ArcVelocityLimit(r, *plane, limits, context);
  double acceleration = INFINITY;
  double jerk = INFINITY;
  for (std::size_t i = 0; i < n; ++i) {
    SegmentAxisPart& part = segment.axes[i];
    part = SegmentAxisPart{};
    part.start = start[i];
    part.end = start[i] + distance[i];
    const AxisLimit& limit = limits[i];
    if (i == plane->first || i == plane->second) {
      part.shape = AxisShape::kCircular;
      part.factor = (arcLength / length) / r;
      part.decreasing = decreasing;
      part.radius = r;
      part.startAngle = startAngle;
      part.cosineAxis = i == plane->first;
      part.centre = centre[i];
      const double jerkShare = limit.jerk / 3.0;
      acceleration = MinOf(acceleration, limit.acceleration / 2.0);
      acceleration =
          MinOf(acceleration, jerkShare / (3.0 * CubeRoot(std::fabs(limit.jerk / (3.0 * r)))));
      jerk = MinOf(jerk, jerkShare);
      continue;
    }
    part.shape = AxisShape::kLinear;
    part.factor = ZeroIfNegligible(distance[i] / length);
    const double factor = std::fabs(part.factor);
    if (factor == 0.0) continue;
    if (!detail::AxisLimitUsable(limit))
      return detail::Refuse(segment, SegmentError::kGeometryOrRange);
    velocity = MinOf(velocity, limit.velocity / factor);
    acceleration = MinOf(acceleration, limit.acceleration / factor);
    jerk = MinOf(jerk, limit.jerk / factor);
  }
  const PathParameters& parameters = context.parameters;
  if (parameters.pathAccelerationLimit > 0.0)
    acceleration = MinOf(acceleration, parameters.pathAccelerationLimit);
  if (parameters.pathJerkLimit > 0.0) jerk = MinOf(jerk, parameters.pathJerkLimit);
  if (!IsPositiveFinite(velocity) || !IsPositiveFinite(acceleration) || !IsPositiveFinite(jerk) ||
      !detail::TransitionInputsUsable(limits, context)) {
    return detail::Refuse(segment, SegmentError::kGeometryOrRange);
  }

  segment.velocity = velocity;
  segment.acceleration = acceleration;
  segment.jerk = jerk;
  segment.length = length;
  segment.isPath = true;
  segment.singleAxis = 0;
  detail::FinishMotionSegment(segment, newestMotion, endAngle, limits, context);
  return true;
}

}  // namespace vantor::motion

#include "kernel/core/motion/segment_transition.h"

#include <cmath>
#include <optional>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

// Path length per unit of a linear part's axis: 1, or for a rotational
// coordinate its cylinder radius in path units per angle unit.
double PathScale(std::size_t axis, const PlanningContext& context) noexcept {
  const CoordinateInput& coordinate = context.coordinates[axis];
  if (coordinate.linear) return 1.0;
  return coordinate.cylinderRadius * context.parameters.AngleToRadianFac;
}

// Direction of a circular part at angle phi, per unit path velocity.
double CircularDirection(const SegmentAxisPart& part, double phi) noexcept {
  const double along = part.cosineAxis ? -std::sin(phi) : std::cos(phi);
  const double component = along * part.radius * part.factor;
  return part.decreasing ? -component : component;
}

bool AllZero(const DirectionVector& vector) noexcept {
  for (const double component : vector) {
    if (component != 0.0) return false;
  }
  return true;
}

DirectionVector ExitDirectionOf(const PathSegment& segment, const PlanningContext& context) noexcept {
  DirectionVector vector{};
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    if (context.coordinates[i].onPath) vector[i] = segment.axes[i].exitDirection;
  }
  return vector;
}

double SmallestPathGain(const detail::AxisLimitTable& limits, const PlanningContext& context) noexcept {
  double smallest = INFINITY;
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    if (context.coordinates[i].onPath) smallest = MinOf(smallest, limits[i].kv);
  }
  return smallest;
}

std::optional<double> CornerVelocity(const DirectionVector& entry, const DirectionVector& exit,
                                     const detail::AxisLimitTable& limits,
                                     const PlanningContext& context) noexcept {
  if (AllZero(entry) || AllZero(exit)) return std::nullopt;
  // exit holds the negated direction: c = 1 - cos(theta).
  double c = 1.0;
  for (std::size_t i = 0; i < entry.size(); ++i) c += exit[i] * entry[i];
  if (c <= kNegligibleMagnitude) return std::nullopt;
  const PathParameters& parameters = context.parameters;
  return SmallestPathGain(limits, context) * std::sqrt(2.0 / c) * parameters.PathError /
         parameters.pathVelFacInverse;
}

// Velocity change per unit path velocity that each axis takes at the
// transition, or a negative value where the axis is not compared.
DirectionVector AxisVelocityJumps(const PathSegment& segment, const PathSegment& previous,
                                  const DirectionVector& entry, const DirectionVector& exit,
                                  const PlanningContext& context) noexcept {
  DirectionVector jumps;
  jumps.fill(-1.0);
  const std::size_t n = context.coordinates.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool onPath = context.coordinates[i].onPath;
    const double newFactor = segment.axes[i].factor;
    const double oldFactor = previous.axes[i].factor;
    if (!segment.isPath) {
      const double oldOnAxis = std::fabs(previous.axes[segment.singleAxis].factor);
      jumps[i] = onPath ? std::fabs(exit[i]) : std::fabs(oldOnAxis * newFactor - oldFactor);
    } else if (previous.isPath) {
      jumps[i] = onPath ? std::fabs(exit[i] + entry[i]) : std::fabs(newFactor - oldFactor);
    } else if (!onPath) {
      jumps[i] = std::fabs(oldFactor);
    }
  }
  return jumps;
}

std::optional<double> JumpVelocity(const DirectionVector& jumps,
                                   const detail::AxisLimitTable& limits,
                                   const PlanningContext& context) noexcept {
  const PathParameters& parameters = context.parameters;
  const double carry = parameters.CarryAxisVelFac > 0.0 ? parameters.CarryAxisVelFac : 1.0;
  std::optional<double> smallest;
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    if (!(jumps[i] > kNegligibleMagnitude)) continue;
    const double candidate = limits[i].acceleration * parameters.cycleTime / jumps[i] * carry;
    smallest = smallest ? MinOf(*smallest, candidate) : candidate;
  }
  if (!smallest) return std::nullopt;
  return *smallest / parameters.pathVelFacInverse;
}

// Transition velocity when neither a corner nor an axis jump limits it.
double UnlimitedTransitionVelocity(const PathSegment& segment, const PathSegment& previous) noexcept {
  if (segment.isPath) return previous.isPath ? MinOf(previous.velocity, segment.velocity) : 0.0;
  // A single-axis move after any move: the previous segment's speed on that
  // axis, capped by the new segment's velocity, in the previous path's terms.
  const double oldOnAxis = previous.axes[segment.singleAxis].factor;
  if (!(oldOnAxis > kNegligibleMagnitude)) return 0.0;
  return MinOf(std::fabs(previous.velocity * oldOnAxis), segment.velocity) / oldOnAxis;
}

}  // namespace

DirectionVector EntryDirection(const PathSegment& segment, const PlanningContext& context) noexcept {
  DirectionVector vector{};
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    if (!context.coordinates[i].onPath) continue;
    const SegmentAxisPart& part = segment.axes[i];
    const double component = part.shape == AxisShape::kCircular
                                 ? CircularDirection(part, part.startAngle)
                                 : part.factor * PathScale(i, context);
    vector[i] = ZeroIfNegligible(component);
  }
  return vector;
}

void StoreExitDirection(PathSegment& segment, double endAngle,
                        const PlanningContext& context) noexcept {
  for (std::size_t i = 0; i < context.coordinates.size(); ++i) {
    SegmentAxisPart& part = segment.axes[i];
    if (!context.coordinates[i].onPath) {
      part.exitDirection = 0.0;
      continue;
    }
    const double direction = part.shape == AxisShape::kCircular
                                 ? CircularDirection(part, endAngle)
                                 : part.factor * PathScale(i, context);
    part.exitDirection = ZeroIfNegligible(-direction);
  }
}

void ComputeReachConstants(PathSegment& segment) noexcept {
  const double J = segment.jerk;
  const double A = segment.acceleration;
  const double L = segment.length;
  ReachConstants& reach = segment.reach;
  reach.twoAOverJ = 2.0 * A / J;
  reach.aCubedOverJSquared = A * A * A / (J * J);
  reach.aSquaredOverTwoJ = A * A / (2.0 * J);
  reach.trapezoidConstant = A * A * A * A / (4.0 * J * J) + 2.0 * L * A;
  reach.aSquaredOverJ = A * A / J;
  reach.lSquaredJOverFour = L * L * J / 4.0;
  reach.sqrtJLOverTwo = std::sqrt(J) * L / 2.0;
  reach.length = L;
}

double ReachableEndVelocity(const ReachConstants& reach, double v) noexcept {
  double result = 0.0;
  if (v * reach.twoAOverJ + reach.aCubedOverJSquared < reach.length) {
    result = ClampedSqrt(v * v + reach.trapezoidConstant - v * reach.aSquaredOverJ) -
             reach.aSquaredOverTwoJ;
  } else {
    const double u =
        CubeRoot(std::sqrt(std::fabs(8.0 / 27.0 * v * v * v + reach.lSquaredJOverFour)) +
                 reach.sqrtJLOverTwo);
    const double w = std::fabs(u) < kNegligibleMagnitude ? 0.0 : -(2.0 / 3.0) * v / u;
    result = (u + w) * (u + w) + v;
  }
  return result > 0.0 ? result : 0.0;
}

void PlanSegmentTransition(PathSegment& segment, PathSegment* previous, double endAngle,
                           const detail::AxisLimitTable& limits,
                           const PlanningContext& context) noexcept {
  const DirectionVector entry = EntryDirection(segment, context);
  StoreExitDirection(segment, endAngle, context);
  if (previous == nullptr) return;

  const DirectionVector exit = ExitDirectionOf(*previous, context);
  const auto corner = CornerVelocity(entry, exit, limits, context);
  const auto jump =
      JumpVelocity(AxisVelocityJumps(segment, *previous, entry, exit, context), limits, context);
  if (corner && jump) {
    previous->endVelocity = MinOf(*corner, *jump);
  } else if (corner) {
    previous->endVelocity = *corner;
  } else if (jump) {
    previous->endVelocity = *jump;
  } else {
    previous->endVelocity = UnlimitedTransitionVelocity(segment, *previous);
  }
}

}  // namespace vantor::motion

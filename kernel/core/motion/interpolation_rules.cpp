#include "kernel/core/motion/interpolation_rules.h"

#include <cmath>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

void StartSegmentProfile(PathVelocityProfile& profile, const PathSegment& segment,
                         double entryVelocity, double requestedVelocity) noexcept {
  profile.remaining = segment.length;
  profile.travelled = 0.0;
  profile.stepDistance = 0.0;
  profile.endReached = false;
  profile.jerk = segment.jerk;
  profile.maxAcceleration = segment.acceleration;
  profile.maxVelocity = segment.velocity;
  profile.requestedVelocity = requestedVelocity;
  profile.targetChanged = true;
  profile.endVelocityRequest = segment.exitVelocity;
  profile.endVelocity = segment.exitVelocity;
  profile.replan = false;
  profile.brakingPlanned = false;
  profile.settled = false;
  profile.cruiseAfterRamp = false;
  profile.acceleration = 0.0;
  profile.phase = ProfilePhase::kConstantVelocity;
  profile.velocity = entryVelocity;
  profile.targetVelocity = entryVelocity;
}

double SegmentStartVelocity(double v, const PathSegment* previous,
                            const PathSegment& next) noexcept {
  if (previous == nullptr) return 0.0;
  if (next.isPath) return previous->isPath ? v : 0.0;
  const std::size_t axis = next.singleAxis;
  if (axis >= previous->axes.size()) return 0.0;
  const SegmentAxisPart& part = previous->axes[axis];
  // Along an arc the axis's share of the path velocity is its direction
  // component at the end, not the angle factor.
  const double share =
      part.shape == AxisShape::kCircular ? std::fabs(part.exitDirection) : std::fabs(part.factor);
  return MinOf3(std::fabs(v * share), next.velocity, previous->exitVelocity);
}

double LimitVelocityByAxes(double v, double linearLimit, double rotaryLimit,
                           const PathSegment& segment, std::span<const PathAxis> axes) noexcept {
  for (std::size_t i = 0; i < axes.size() && i < segment.axes.size(); ++i) {
    if (axes[i].onPath) continue;
    const double f = std::fabs(segment.axes[i].factor);
    if (f < kNegligibleMagnitude) continue;
    const double limit = axes[i].linear ? linearLimit : rotaryLimit;
    if (std::fabs(v * f) > limit) v = limit / f;
  }
  return std::fabs(v);
}

bool IsStepWithinLimits(double lower, double upper, double previous, double next) noexcept {
  if (lower <= next && next <= upper) return true;
  if (lower <= previous && previous <= upper) return false;
  if (previous < lower) return previous <= next && next <= lower;
  return previous >= next && next >= upper;
}

std::int32_t DriveValueOf(double value) noexcept {
  // The interpolation never hands over a non-number; should one come, it
  // must not reach the conversion, whose result would be undefined.
  if (std::isnan(value)) return 0;
  if (value >= kLargestDriveValue) return 2147483647;
  if (value <= -kLargestDriveValue) return -2147483647;
  return static_cast<std::int32_t>(value);
}

std::size_t EntrySlotOfAxis(std::span<const std::uint32_t> sendRecords, std::size_t axis) noexcept {
  std::size_t slot = 0;
  if (axis >= sendRecords.size()) return slot;
  for (const std::uint32_t record : sendRecords) {
    if (record < sendRecords[axis]) ++slot;
  }
  return slot;
}

}  // namespace vantor::motion

#include "sim/drives/axis_motion.h"

#include <algorithm>
#include <cmath>

namespace vantor::sim::drives {

namespace {
// Closer than this to its target, with a velocity that one step of
// deceleration removes, the axis is taken to stand on the target.
constexpr double kArrivalToleranceIncrements = 0.5;

// A rate of 0 sets no limit: the drives take it as "at once".
double RampedVelocity(double from, double to, double rate, double seconds) {
  if (rate <= 0.0) return to;
  return from + std::clamp(to - from, -rate * seconds, rate * seconds);
}
}  // namespace

bool StepTowardPosition(AxisMotion& axis, double target, const RampLimits& limits, double seconds) {
  const double remaining = target - axis.position;
  if (std::abs(remaining) <= kArrivalToleranceIncrements &&
      (limits.deceleration <= 0.0 || std::abs(axis.velocity) <= limits.deceleration * seconds)) {
    axis.position = target;
    axis.velocity = 0.0;
    return true;
  }
  const double direction = remaining >= 0.0 ? 1.0 : -1.0;
  // The fastest velocity from which the axis still stops on the target.
  const double braking = limits.deceleration > 0.0
                             ? std::sqrt(2.0 * limits.deceleration * std::abs(remaining))
                             : limits.velocity;
  const double wanted = direction * std::min(limits.velocity, braking);
  const bool speedingUp =
      std::abs(wanted) > std::abs(axis.velocity) && wanted * axis.velocity >= 0.0;
  const double rate = speedingUp ? limits.acceleration : limits.deceleration;
  axis.velocity = RampedVelocity(axis.velocity, wanted, rate, seconds);
  const double next = axis.position + axis.velocity * seconds;
  // A step that would pass the target ends on it.
  if ((target - axis.position) * (target - next) <= 0.0) {
    axis.position = target;
    axis.velocity = 0.0;
    return true;
  }
  axis.position = next;
  return false;
}

bool StepTowardVelocity(AxisMotion& axis, double velocity, double acceleration, double seconds) {
  axis.velocity = RampedVelocity(axis.velocity, velocity, acceleration, seconds);
  axis.position += axis.velocity * seconds;
  return std::abs(axis.velocity - velocity) <= 1e-9;
}

}  // namespace vantor::sim::drives

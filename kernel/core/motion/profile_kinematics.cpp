#include "kernel/core/motion/profile_kinematics.h"

#include <cmath>

#include "kernel/core/motion/numeric.h"

namespace vantor::motion {

void AddDistance(PathVelocityProfile& profile, double distance) noexcept {
  // The path never runs past its end point: a profile whose end velocity
  // was lowered too late for braking ends its path here.
  if (distance >= profile.remaining) {
    distance = MaxOf(profile.remaining, 0.0);
    profile.endReached = true;
  }
  profile.travelled += distance;
  profile.stepDistance += distance;
  profile.remaining -= distance;
}

namespace {

void UseTime(PathVelocityProfile& profile, double t) noexcept {
  profile.timeLeft = MaxOf(profile.timeLeft - t, 0.0);
}

// The acceleration never leaves [-A, A], whatever rounding did.
double ClampAcceleration(const PathVelocityProfile& profile, double a) noexcept {
  const double limit = profile.maxAcceleration;
  return a > limit ? limit : (a < -limit ? -limit : a);
}

}  // namespace

void AdvanceRisingJerk(PathVelocityProfile& profile, double t) noexcept {
  const double J = profile.jerk;
  const double a = profile.acceleration;
  const double v = profile.velocity;
  AddDistance(profile, ((J * t / 6.0 + a / 2.0) * t + v) * t);
  profile.velocity = MaxOf((J * t / 2.0 + a) * t + v, 0.0);
  profile.acceleration = ClampAcceleration(profile, J * t + a);
  UseTime(profile, t);
}

void AdvanceEndingDeceleration(PathVelocityProfile& profile, double t) noexcept {
  const double J = profile.jerk;
  const double a = profile.acceleration;
  const double v = profile.velocity;
  const double distance = MaxOf(((J * t / 6.0 + a / 2.0) * t + v) * t, 0.0);
  AddDistance(profile, MinOf(distance, MaxOf(profile.remaining, 0.0)));
  profile.velocity = MaxOf((J * t / 2.0 + a) * t + v, 0.0);
  profile.acceleration = MinOf(J * t + a, 0.0);
  UseTime(profile, t);
}

void AdvanceConstantAcceleration(PathVelocityProfile& profile, double t) noexcept {
  const double a = profile.acceleration;
  const double v = profile.velocity;
  AddDistance(profile, (a * t / 2.0 + v) * t);
  profile.velocity = MaxOf(a * t + v, 0.0);
  UseTime(profile, t);
}

void AdvanceFallingJerk(PathVelocityProfile& profile, double t, bool stopAtZero) noexcept {
  const double J = profile.jerk;
  const double a = profile.acceleration;
  const double v = profile.velocity;
  AddDistance(profile, (a * t / 2.0 + v) * t - J * t * t * t / 6.0);
  profile.velocity = MaxOf(v + a * t - J * t * t / 2.0, 0.0);
  const double next = a - J * t;
  profile.acceleration = ClampAcceleration(profile, stopAtZero ? MaxOf(next, 0.0) : next);
  UseTime(profile, t);
}

void AdvanceConstantVelocity(PathVelocityProfile& profile, double t) noexcept {
  AddDistance(profile, profile.velocity * t);
  UseTime(profile, t);
}

double BrakingDistance(double J, double A, double v1, double v2) noexcept {
  if (v1 < A * A / J + v2) return (v1 + v2) * ClampedSqrt((v1 - v2) / J);
  return ((v1 - v2) / (2.0 * A) + A / (2.0 * J)) * (v1 + v2);
}

double StoppingDistance(double J, double accelerationMagnitude, double A, double v,
                        double vEnd) noexcept {
  const double a = accelerationMagnitude;
  const double toZeroAcceleration = a * a * a / (3.0 * J * J) + v * a / J;
  const double v0 = v + a * a / (2.0 * J);
  if (v0 <= vEnd) return toZeroAcceleration;
  if (v0 <= A * A / J + vEnd) {
    return ClampedSqrt((v0 - vEnd) / J) * (v0 + vEnd) + toZeroAcceleration;
  }
  return ((v0 - vEnd) / (2.0 * A) + A / (2.0 * J)) * (v0 + vEnd) + toZeroAcceleration;
}

double RampEndVelocityUp(double J, double accelerationMagnitude, double v) noexcept {
  return v + accelerationMagnitude * accelerationMagnitude / (2.0 * J);
}

double RampEndVelocityDown(double J, double accelerationMagnitude, double v) noexcept {
  return MaxOf(v - accelerationMagnitude * accelerationMagnitude / (2.0 * J), 0.0);
}

double TwoStepDistance(double J, double A, double v, double v1, double v2) noexcept {
  double distance = BrakingDistance(J, A, v, v1);
  if (v1 > v2) distance += BrakingDistance(J, A, v1, v2);
  return distance;
}

double RampTwoStepDistance(double J, double A, double accelerationMagnitude, double v, double v1,
                           double v2) noexcept {
  const double a = accelerationMagnitude;
  const double rampEnd = v + a * a / (2.0 * J);
  const double rampRest = a * a * a / (3.0 * J * J) + a * v / J;
  double distance = MaxOf(BrakingDistance(J, A, rampEnd, v1) - rampRest, 0.0);
  if (v1 > v2) distance += BrakingDistance(J, A, v1, v2);
  return distance;
}

double DecelerationTailDistance(double J, double A, double accelerationMagnitude, double v,
                                double vEnd) noexcept {
  const double a = accelerationMagnitude;
  double distance = a * v / J - a * a * a / (3.0 * J * J);
  const double rampEnd = v - a * a / (2.0 * J);
  if (rampEnd > vEnd) distance += BrakingDistance(J, A, rampEnd, vEnd);
  return distance;
}

}  // namespace vantor::motion

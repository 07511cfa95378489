#include "kernel/core/motion/path_velocity_ramp.h"

#include <cmath>

#include "kernel/core/motion/braking_solver.h"
#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/profile_kinematics.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

using Phase = ProfilePhase;

bool IsAccelerating(const PathVelocityProfile& p) noexcept {
  return p.phase == Phase::kRisingAcceleration || p.phase == Phase::kConstantAcceleration ||
         p.phase == Phase::kFallingAcceleration;
}

bool IsDecelerating(const PathVelocityProfile& p) noexcept {
  return p.phase == Phase::kRisingDeceleration || p.phase == Phase::kConstantDeceleration ||
         p.phase == Phase::kFallingDeceleration;
}

double AccelerationMagnitude(const PathVelocityProfile& p) noexcept {
  return std::fabs(p.acceleration);
}

double RampUpEnd(const PathVelocityProfile& p) noexcept {
  return RampEndVelocityUp(p.jerk, AccelerationMagnitude(p), p.velocity);
}

double RampDownEnd(const PathVelocityProfile& p) noexcept {
  return RampEndVelocityDown(p.jerk, AccelerationMagnitude(p), p.velocity);
}

// Distance still covered while a running ramp brings its acceleration to 0.
double RampRestDistance(const PathVelocityProfile& p) noexcept {
  const double a = AccelerationMagnitude(p);
  return p.velocity * a / p.jerk + a * a * a / (3.0 * p.jerk * p.jerk);
}

// Asks for the old target again later, then aims the running ramp at x.
void Retarget(PathVelocityProfile& p, double x) noexcept {
  if (!p.targetChanged && p.targetVelocity != x) {
    p.requestedVelocity = p.targetVelocity;
    p.targetChanged = true;
  }
  p.targetVelocity = x;
}

void Adopt(PathVelocityProfile& p) noexcept { p.endVelocity = p.endVelocityRequest; }

// Chooses the end velocity from the solver's range and decides whether
// braking starts now. `rampEnd` is the velocity the running acceleration
// ramp ends at (phases 1 to 4).
void SelectEndVelocity(PathVelocityProfile& p, const BrakingVelocities& range, double base,
                       const double* floor, double rampEnd) noexcept {
  double lower = range.lower;
  const double upper = range.upper;
  double candidate = p.endVelocityRequest;
  bool floorMovedLower = false;
  if (floor != nullptr && *floor < upper) {
    if (*floor <= lower) {
      lower = *floor;
      floorMovedLower = true;
    } else {
      base = *floor;
    }
  }
  if (!floorMovedLower && candidate > base) candidate = base;
  if (lower >= 0.0 && lower < candidate && candidate < upper) candidate = lower;

  if (candidate == range.lower || candidate == range.upper) {
    if (p.phase == Phase::kRisingAcceleration || p.phase == Phase::kConstantAcceleration) {
      p.phase = Phase::kFallingAcceleration;
    }
    p.endVelocity = candidate;
    p.brakingPlanned = true;
    return;
  }
  if (IsDecelerating(p)) {
    if (p.brakingPlanned) {
      Retarget(p, candidate);
      p.endVelocity = candidate;
    }
  } else if (p.brakingPlanned || p.phase == Phase::kConstantVelocity) {
    Retarget(p, rampEnd);
  }
  p.endVelocity = candidate;
  p.brakingPlanned = false;
}

void PlanWhileAccelerating(PathVelocityProfile& p) noexcept {
  const bool cruising = p.phase == Phase::kConstantVelocity;
  const double rampEnd = cruising ? p.velocity : RampUpEnd(p);
  if (p.endVelocityRequest < rampEnd) {
    const double distance = MaxOf(p.remaining - (cruising ? 0.0 : RampRestDistance(p)), 0.0);
    if (const auto range = SolveBrakingVelocities(p.jerk, p.maxAcceleration, rampEnd, distance)) {
      SelectEndVelocity(p, *range, rampEnd, nullptr, rampEnd);
      return;
    }
    if (cruising) Retarget(p, rampEnd);
    Adopt(p);
    return;
  }
  if (!p.brakingPlanned) {
    if (cruising) Retarget(p, rampEnd);
    Adopt(p);
    return;
  }
  if (p.endVelocity < rampEnd) {
    p.brakingPlanned = false;
    Retarget(p, rampEnd);
  }
  Adopt(p);
}

// Velocity at which the running deceleration began.
double DecelerationStartVelocity(const PathVelocityProfile& p) noexcept {
  const double a = p.acceleration;
  return p.velocity + a * a / (2.0 * p.jerk);
}

void PlanWhileDecelerating(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double A = p.maxAcceleration;
  const double startVelocity = DecelerationStartVelocity(p);
  if (!p.brakingPlanned) {
    if (p.endVelocityRequest >= p.targetVelocity) {
      Adopt(p);
      return;
    }
    const double vt = p.targetVelocity;
    const double rampTime = startVelocity <= A * A / J + vt
                                ? ClampedSqrt((startVelocity - vt) / J)
                                : A / (2.0 * J) + (startVelocity - vt) / (2.0 * A);
    const double covered = (startVelocity + vt) * rampTime - RampRestDistance(p);
    const double distance = MaxOf(p.remaining - covered, 0.0);
    if (const auto range = SolveBrakingVelocities(J, A, vt, distance)) {
      SelectEndVelocity(p, *range, vt, nullptr, vt);
      return;
    }
    Adopt(p);
    return;
  }
  if (p.phase == Phase::kFallingDeceleration) return;
  const double floor = MaxOf(2.0 * p.velocity - startVelocity, 0.0);
  const double distance = RampRestDistance(p) + p.remaining;
  if (const auto range = SolveBrakingVelocities(J, A, startVelocity, distance)) {
    SelectEndVelocity(p, *range, startVelocity, &floor, startVelocity);
  }
}

bool HasUsableRampLimits(const PathVelocityProfile& p) noexcept {
  return IsPositiveFinite(p.jerk) && IsPositiveFinite(p.maxAcceleration) &&
         IsPositiveFinite(p.maxVelocity);
}

}  // namespace

void PlanVelocityProfile(PathVelocityProfile& p) noexcept {
  if (!p.replan) return;
  p.replan = false;
  if (p.endVelocityRequest == p.endVelocity) return;
  if (!IsPositiveFinite(p.jerk) || !IsPositiveFinite(p.maxAcceleration) ||
      !std::isfinite(p.endVelocityRequest)) {
    return;
  }
  if (IsDecelerating(p)) {
    PlanWhileDecelerating(p);
  } else {
    PlanWhileAccelerating(p);
  }
}

ProfileStepResult DecelerateTowardTarget(PathVelocityProfile& p) noexcept {
  const double request = p.requestedVelocity;
  if (IsAccelerating(p)) {
    p.acceptedVelocity = request;
    p.settled = false;
    p.targetVelocity = RampUpEnd(p);
    p.phase = Phase::kFallingAcceleration;
    return StepProfile(p);
  }
  if (p.phase == Phase::kConstantVelocity) {
    p.settled = true;
    if (TwoStepDistance(p.jerk, p.maxAcceleration, p.velocity, request, p.endVelocity) <=
        p.remaining) {
      p.acceptedVelocity = request;
      p.targetVelocity = request;
      p.phase = Phase::kRisingDeceleration;
    }
    return StepProfile(p);
  }
  const double rampEnd = RampDownEnd(p);
  const double a = AccelerationMagnitude(p);
  if (std::fabs(rampEnd - request) <= kNegligibleMagnitude) {
    p.acceptedVelocity = rampEnd;
    p.targetVelocity = rampEnd;
    p.settled = true;
    p.phase = Phase::kFallingDeceleration;
  } else if (rampEnd > request) {
    const double distance = RampTwoStepDistance(p.jerk, p.maxAcceleration, a, p.velocity, request,
                                                p.endVelocity);
    if (distance > p.remaining) {
      p.settled = false;
      p.acceptedVelocity = request;
    } else {
      p.acceptedVelocity = request;
      p.targetVelocity = request;
      p.settled = true;
      if (p.phase != Phase::kConstantDeceleration) p.phase = Phase::kRisingDeceleration;
    }
  } else {
    const double distance = RampTwoStepDistance(p.jerk, p.maxAcceleration, a, p.velocity, rampEnd,
                                                p.endVelocity);
    p.settled = false;
    p.acceptedVelocity = request;
    if (distance <= p.remaining) {
      p.targetVelocity = rampEnd;
      p.phase = Phase::kFallingDeceleration;
    }
  }
  return StepProfile(p);
}

ProfileStepResult AccelerateTowardTarget(PathVelocityProfile& p) noexcept {
  const double request = p.requestedVelocity;
  if (p.phase == Phase::kConstantVelocity) {
    p.acceptedVelocity = request;
    p.targetVelocity = request;
    p.settled = true;
    p.cruiseAfterRamp = true;
    p.phase = Phase::kRisingAcceleration;
    return StepProfile(p);
  }
  if (IsDecelerating(p)) {
    p.acceptedVelocity = request;
    p.settled = false;
    if (DecelerationTailDistance(p.jerk, p.maxAcceleration, AccelerationMagnitude(p), p.velocity,
                                 p.endVelocity) <= p.remaining) {
      p.targetVelocity = RampDownEnd(p);
      p.phase = Phase::kFallingDeceleration;
    }
    return StepProfile(p);
  }
  const double rampEnd = RampUpEnd(p);
  if (std::fabs(rampEnd - request) <= kNegligibleMagnitude) {
    p.acceptedVelocity = rampEnd;
    p.settled = true;
    p.targetVelocity = rampEnd;
    p.phase = Phase::kFallingAcceleration;
  } else if (rampEnd < request) {
    p.acceptedVelocity = request;
    p.targetVelocity = request;
    p.settled = true;
    if (p.phase != Phase::kConstantAcceleration) p.phase = Phase::kRisingAcceleration;
  } else {
    p.acceptedVelocity = request;
    p.settled = false;
    p.targetVelocity = rampEnd;
    p.phase = Phase::kFallingAcceleration;
  }
  return StepProfile(p);
}

ProfileStepResult HoldVelocity(PathVelocityProfile& p) noexcept {
  if (IsAccelerating(p)) {
    p.settled = false;
    p.acceptedVelocity = p.velocity;
    p.targetVelocity = RampUpEnd(p);
    p.phase = Phase::kFallingAcceleration;
  } else if (IsDecelerating(p)) {
    p.acceptedVelocity = p.velocity;
    p.settled = false;
    if (DecelerationTailDistance(p.jerk, p.maxAcceleration, AccelerationMagnitude(p), p.velocity,
                                 p.endVelocity) <= p.remaining) {
      p.targetVelocity = RampDownEnd(p);
      p.phase = Phase::kFallingDeceleration;
    }
  }
  return StepProfile(p);
}

ProfileStepResult RampPathVelocity(PathVelocityProfile& p) noexcept {
  // Refused before anything is decided: a maximum velocity that is no number
  // or not above zero caps nothing (a negative one would run the path
  // backwards), and a bad jerk or acceleration would leave non-numbers in the
  // targets the ramp sets.
  if (!HasUsableRampLimits(p)) {
    p.timeLeft = 0.0;
    return ProfileStepResult::kInvalidLimits;
  }
  PlanVelocityProfile(p);
  if (p.brakingPlanned || !p.targetChanged) return StepProfile(p);
  if (!std::isfinite(p.requestedVelocity) || p.requestedVelocity < 0.0) p.requestedVelocity = 0.0;
  if (p.requestedVelocity > p.maxVelocity) p.requestedVelocity = p.maxVelocity;
  p.targetChanged = false;
  if (std::fabs(p.requestedVelocity - p.velocity) <= kNegligibleMagnitude) return HoldVelocity(p);
  if (p.requestedVelocity < p.velocity) return DecelerateTowardTarget(p);
  return AccelerateTowardTarget(p);
}

}  // namespace vantor::motion

#include "kernel/core/motion/velocity_profile.h"

#include <cmath>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/profile_kinematics.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

// What a phase step leaves behind: either the next phase should run with the
// time left, or the cycle ends here (its time used up, or a phase that waits).
enum class StepFlow { kHandOver, kEndOfCycle };

// Bisections that place the end of a rise inside a cycle: 2^-40 of a cycle.
constexpr int kRiseSwitchBisections = 40;

constexpr double kSqrtThirtyTwoOverTwentySeven = 1.0885621722338523;  // sqrt(32/27)

// Hands over to `next`, or only sets it when the cycle's time is used up.
StepFlow HandOverTo(PathVelocityProfile& p, ProfilePhase next) noexcept {
  p.phase = next;
  return p.timeLeft > 0.0 ? StepFlow::kHandOver : StepFlow::kEndOfCycle;
}

StepFlow EndCycle(PathVelocityProfile& p) noexcept {
  p.timeLeft = 0.0;
  return StepFlow::kEndOfCycle;
}

void MarkEndIfUsedUp(PathVelocityProfile& p) noexcept {
  if (p.remaining <= 0.0) {
    p.remaining = 0.0;
    p.endReached = true;
  }
}

using RiseAdvance = void (*)(PathVelocityProfile&, double) noexcept;

void AdvanceConstantAccelerationStep(PathVelocityProfile& p, double t) noexcept {
  AdvanceConstantAcceleration(p, t);
}

// Stopping distance after an advance of phase 1 (the acceleration reached)
// or phase 2 (A, as the ramp may still be held there).
bool FitsAfter(const PathVelocityProfile& p, bool useMaxAcceleration) noexcept {
  const double a = useMaxAcceleration ? p.maxAcceleration : std::fabs(p.acceleration);
  return StoppingDistance(p.jerk, a, p.maxAcceleration, p.velocity, p.endVelocity) <= p.remaining;
}

// Where a ramp goes when it must stop rising: phase 3, or phase 4 directly
// when the ramp was asked to cruise afterwards and no acceleration is left.
// The rise is kept up to the last moment of this cycle's advance at which
// braking still fits (found by bisection), so that short moves are not
// stretched by a whole cycle.
StepFlow AbandonRise(PathVelocityProfile& p, const PathVelocityProfile& saved, double step,
                     RiseAdvance advance, bool useMaxAcceleration) noexcept {
  double fits = 0.0;
  double failsAt = step;
  for (int i = 0; i < kRiseSwitchBisections; ++i) {
    const double middle = 0.5 * (fits + failsAt);
    PathVelocityProfile probe = saved;
    advance(probe, middle);
    if (FitsAfter(probe, useMaxAcceleration)) {
      fits = middle;
    } else {
      failsAt = middle;
    }
  }
  p = saved;
  if (fits > 0.0) advance(p, fits);
  // Cruising straight away is only right when no acceleration is left to
  // ramp down; cutting a running acceleration would be a jerk without bound.
  if (p.cruiseAfterRamp && p.acceleration <= kNegligibleMagnitude) {
    p.cruiseAfterRamp = false;
    p.acceleration = 0.0;
    p.phase = ProfilePhase::kConstantVelocity;
  } else {
    p.cruiseAfterRamp = false;
    p.phase = ProfilePhase::kFallingAcceleration;
  }
  return StepFlow::kHandOver;
}

// Checks after an advance of phase 1 or 2 whether braking to the end
// velocity still fits into `remaining` with the acceleration given.
bool StillFits(PathVelocityProfile& p, double accelerationMagnitude) noexcept {
  const double stopping = StoppingDistance(p.jerk, accelerationMagnitude, p.maxAcceleration,
                                           p.velocity, p.endVelocity);
  if (stopping > p.remaining) return false;
  if (stopping == p.remaining) p.brakingPlanned = true;
  return true;
}

StepFlow ContinueRising(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double a = std::fabs(p.acceleration);
  const double v = p.velocity;
  const double vt = p.targetVelocity;
  const double tA = MaxOf((p.maxAcceleration - a) / J, 0.0);
  const double radicand = 2.0 * ((v + vt) / 2.0 - a * a / (4.0 * J) - v) / J + a * a / (J * J);
  // Clamped at 0 only: a floor on this radicand (it is in s^2) would skip
  // small velocity changes under a stiff jerk and leave the path below its
  // requested velocity for good.
  const double root = ClampedSqrt(radicand);
  const double tV = MaxOf(root - a / J, 0.0);
  const double t = MinOf(tA, tV);
  const ProfilePhase next =
      tV <= tA ? ProfilePhase::kFallingAcceleration : ProfilePhase::kConstantAcceleration;

  const PathVelocityProfile saved = p;
  const bool phaseEnds = t <= p.timeLeft;
  AdvanceRisingJerk(p, phaseEnds ? t : p.timeLeft);
  if (!StillFits(p, std::fabs(p.acceleration))) {
    return AbandonRise(p, saved, phaseEnds ? t : saved.timeLeft, AdvanceRisingJerk, false);
  }
  if (!phaseEnds) return EndCycle(p);
  p.cruiseAfterRamp = false;
  return HandOverTo(p, next);
}

// The rise time of a move too short to reach its target: accelerate for t,
// fall for t, then brake to the end velocity within `remaining`.
double ShortMoveRiseTime(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double d = p.remaining;
  const double vEnd = p.endVelocity;
  if (vEnd <= 0.0) {
    p.brakingPlanned = true;
    return CubeRoot(d * 0.5 / J);
  }
  if (std::sqrt(vEnd / J) * vEnd >= d) {
    p.brakingPlanned = true;
    return CubeRoot(d / J);
  }
  const double t = CubeRoot((d / J) / (1.0 + kSqrtThirtyTwoOverTwentySeven));
  p.brakingPlanned = t * t * J / 3.0 >= vEnd;
  return t;
}

StepFlow StartFromStandstill(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double vt = p.targetVelocity;
  p.cruiseAfterRamp = false;
  const double tA = p.maxAcceleration / J;
  const double tV = std::sqrt(MaxOf(vt, 0.0) / J);
  const double t = MinOf3(tA, tV, p.timeLeft);

  // Distance of a start that rises for t, falls for t and brakes to vEnd.
  const double peak = J * t * t;
  const double vEnd = p.endVelocity;
  double distance = J * t * t * t;
  if (peak > vEnd) distance += std::sqrt((peak - vEnd) / J) * (peak + vEnd);

  if (distance <= p.remaining) {
    if (distance == p.remaining) p.brakingPlanned = true;
    AdvanceRisingJerk(p, t);
    if (p.timeLeft <= 0.0) return StepFlow::kEndOfCycle;
    return ContinueRising(p);
  }

  const bool wasBraking = p.brakingPlanned;
  const double rise = ShortMoveRiseTime(p);
  if (rise <= p.timeLeft) {
    AdvanceRisingJerk(p, rise);
    return HandOverTo(p, ProfilePhase::kFallingAcceleration);
  }
  // The rise lasts beyond this cycle: the following cycles keep rising and
  // watch the stopping distance, which leaves the exact braking point to the
  // constant-velocity phase.
  p.brakingPlanned = wasBraking;
  AdvanceRisingJerk(p, p.timeLeft);
  return EndCycle(p);
}

StepFlow StepRisingAcceleration(PathVelocityProfile& p) noexcept {
  const bool entering = p.acceleration <= kNegligibleMagnitude;
  if (entering && p.velocity < kStandstillVelocity_unitsPerSecond) {
    p.velocity = 0.0;
    p.acceleration = 0.0;
  }
  if (p.velocity > 0.0 || p.acceleration > 0.0) return ContinueRising(p);
  return StartFromStandstill(p);
}

StepFlow StepConstantAcceleration(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double a = p.acceleration;
  const double t2 = a > 0.0 ? MaxOf((p.targetVelocity - a * a / (2.0 * J) - p.velocity) / a, 0.0)
                            : 0.0;
  const PathVelocityProfile saved = p;
  const bool phaseEnds = t2 <= p.timeLeft;
  AdvanceConstantAcceleration(p, phaseEnds ? t2 : p.timeLeft);
  if (!StillFits(p, p.maxAcceleration)) {
    return AbandonRise(p, saved, phaseEnds ? t2 : saved.timeLeft, AdvanceConstantAccelerationStep,
                       true);
  }
  if (!phaseEnds) return EndCycle(p);
  return HandOverTo(p, ProfilePhase::kFallingAcceleration);
}

StepFlow StepFallingAcceleration(PathVelocityProfile& p) noexcept {
  const double t3 = std::fabs(p.acceleration) / p.jerk;
  if (p.timeLeft < t3) {
    AdvanceFallingJerk(p, p.timeLeft, true);
    return EndCycle(p);
  }
  AdvanceFallingJerk(p, t3, true);
  p.acceleration = 0.0;
  if (p.brakingPlanned) return HandOverTo(p, ProfilePhase::kRisingDeceleration);
  if (p.settled) return HandOverTo(p, ProfilePhase::kConstantVelocity);
  p.settled = true;
  if (TwoStepDistance(p.jerk, p.maxAcceleration, p.velocity, p.acceptedVelocity, p.endVelocity) <=
      p.remaining) {
    p.targetVelocity = p.acceptedVelocity;
    return HandOverTo(p, ProfilePhase::kRisingDeceleration);
  }
  return HandOverTo(p, ProfilePhase::kConstantVelocity);
}

StepFlow StepConstantVelocity(PathVelocityProfile& p) noexcept {
  if (p.targetVelocity <= 0.0) return EndCycle(p);
  const double v = p.velocity;
  if (p.endVelocity >= v) {
    if (v > 0.0 && p.remaining / v <= p.timeLeft) {
      // The rest of the path is used up within this cycle.
      const double used = p.remaining / v;
      AddDistance(p, p.remaining);
      p.remaining = 0.0;
      p.acceleration = 0.0;
      p.endReached = true;
      p.timeLeft = MaxOf(p.timeLeft - used, 0.0);
      return StepFlow::kEndOfCycle;
    }
    if (v <= 0.0 && p.remaining > 0.0) {
      // Standing short of the end with a target above zero: start again
      // rather than wait here for ever.
      return HandOverTo(p, ProfilePhase::kRisingAcceleration);
    }
    AdvanceConstantVelocity(p, p.timeLeft);
    return EndCycle(p);
  }
  const double cruise =
      MaxOf((p.remaining - BrakingDistance(p.jerk, p.maxAcceleration, v, p.endVelocity)) / v, 0.0);
  if (p.timeLeft >= cruise) {
    if (cruise > 0.0) AdvanceConstantVelocity(p, cruise);
    p.brakingPlanned = true;
    return HandOverTo(p, ProfilePhase::kRisingDeceleration);
  }
  AdvanceConstantVelocity(p, p.timeLeft);
  return EndCycle(p);
}

double DecelerationTarget(const PathVelocityProfile& p) noexcept {
  return p.brakingPlanned ? p.endVelocity : p.targetVelocity;
}

StepFlow StepRisingDeceleration(PathVelocityProfile& p) noexcept {
  const double J = p.jerk;
  const double a = p.acceleration;
  const double vt = DecelerationTarget(p);
  const double tV = MaxOf(a / J + ClampedSqrt(a * a / (2.0 * J * J) + (p.velocity - vt) / J), 0.0);
  const double tA = MaxOf((p.maxAcceleration - std::fabs(a)) / J, 0.0);
  const double t = MinOf(tV, tA);
  if (p.timeLeft < t) {
    AdvanceFallingJerk(p, p.timeLeft, false);
    return EndCycle(p);
  }
  if (tV > tA) {
    AdvanceFallingJerk(p, tA, false);
    p.acceleration = -p.maxAcceleration;
    return HandOverTo(p, ProfilePhase::kConstantDeceleration);
  }
  AdvanceFallingJerk(p, tV, false);
  return HandOverTo(p, ProfilePhase::kFallingDeceleration);
}

StepFlow StepConstantDeceleration(PathVelocityProfile& p) noexcept {
  const double a = p.acceleration;
  const double vt = DecelerationTarget(p);
  const double t6 = a < 0.0 ? MaxOf(a / (2.0 * p.jerk) + (vt - p.velocity) / a, 0.0) : 0.0;
  if (p.timeLeft < t6) {
    AdvanceConstantAcceleration(p, p.timeLeft);
    return EndCycle(p);
  }
  AdvanceConstantAcceleration(p, t6);
  return HandOverTo(p, ProfilePhase::kFallingDeceleration);
}

// Braking has brought the velocity to the end velocity. Closes a gap that
// rounding left at the end; a larger gap is travelled on rather than jumped.
StepFlow FinishBraking(PathVelocityProfile& p, double t7) noexcept {
  PathVelocityProfile probe = p;
  probe.remaining = INFINITY;
  AdvanceEndingDeceleration(probe, t7);
  const double brakingDistance = probe.stepDistance - p.stepDistance;
  double endVelocity = probe.velocity;
  if (std::fabs(endVelocity - p.endVelocity) <= kNegligibleMagnitude) endVelocity = p.endVelocity;

  if (p.remaining - brakingDistance <= kEndSnapDistance_units) {
    AddDistance(p, MaxOf(p.remaining, 0.0));
    p.remaining = 0.0;
    p.endReached = true;
    p.phase = ProfilePhase::kConstantVelocity;
    p.velocity = endVelocity;
    p.acceleration = 0.0;
    p.timeLeft = MaxOf(p.timeLeft - t7, 0.0);
    return StepFlow::kEndOfCycle;
  }

  AdvanceEndingDeceleration(p, t7);
  p.velocity = endVelocity;
  p.acceleration = 0.0;
  p.brakingPlanned = false;
  if (p.velocity <= kNegligibleMagnitude) {
    // Stopped short of the end: move the rest as a fresh short move.
    p.velocity = 0.0;
    if (p.acceptedVelocity > p.targetVelocity) p.targetVelocity = p.acceptedVelocity;
    if (p.targetVelocity <= 0.0) p.targetVelocity = p.requestedVelocity;
    return HandOverTo(p, ProfilePhase::kRisingAcceleration);
  }
  return HandOverTo(p, ProfilePhase::kConstantVelocity);
}

StepFlow StepFallingDeceleration(PathVelocityProfile& p) noexcept {
  const double t7 = std::fabs(p.acceleration) / p.jerk;
  if (p.brakingPlanned && t7 <= p.timeLeft) return FinishBraking(p, t7);
  if (p.timeLeft < t7) {
    AdvanceEndingDeceleration(p, p.timeLeft);
    MarkEndIfUsedUp(p);
    return EndCycle(p);
  }
  AdvanceEndingDeceleration(p, t7);
  p.acceleration = 0.0;
  MarkEndIfUsedUp(p);
  if (p.settled) return HandOverTo(p, ProfilePhase::kConstantVelocity);
  p.settled = true;
  if (p.targetVelocity < p.acceptedVelocity) {
    p.targetVelocity = p.acceptedVelocity;
    p.cruiseAfterRamp = true;
    return HandOverTo(p, ProfilePhase::kRisingAcceleration);
  }
  if (TwoStepDistance(p.jerk, p.maxAcceleration, p.velocity, p.acceptedVelocity, p.endVelocity) <=
      p.remaining) {
    p.targetVelocity = p.acceptedVelocity;
    return HandOverTo(p, ProfilePhase::kRisingDeceleration);
  }
  return HandOverTo(p, ProfilePhase::kConstantVelocity);
}

StepFlow StepPhase(PathVelocityProfile& p) noexcept {
  switch (p.phase) {
    case ProfilePhase::kRisingAcceleration: return StepRisingAcceleration(p);
    case ProfilePhase::kConstantAcceleration: return StepConstantAcceleration(p);
    case ProfilePhase::kFallingAcceleration: return StepFallingAcceleration(p);
    case ProfilePhase::kConstantVelocity: return StepConstantVelocity(p);
    case ProfilePhase::kRisingDeceleration: return StepRisingDeceleration(p);
    case ProfilePhase::kConstantDeceleration: return StepConstantDeceleration(p);
    case ProfilePhase::kFallingDeceleration: return StepFallingDeceleration(p);
  }
  // A phase word outside 1..7: hold the velocity.
  p.phase = ProfilePhase::kConstantVelocity;
  return StepFlow::kHandOver;
}

bool HasUsableState(const PathVelocityProfile& p) noexcept {
  return IsPositiveFinite(p.jerk) && IsPositiveFinite(p.maxAcceleration) &&
         std::isfinite(p.velocity) && std::isfinite(p.acceleration) &&
         std::isfinite(p.remaining) && std::isfinite(p.timeLeft) &&
         std::isfinite(p.endVelocity) && std::isfinite(p.targetVelocity);
}

}  // namespace

ProfileStepResult StepProfile(PathVelocityProfile& profile) noexcept {
  if (!HasUsableState(profile)) {
    profile.timeLeft = 0.0;
    return ProfileStepResult::kInvalidLimits;
  }
  for (int handOvers = 0; handOvers < kMaxPhaseHandOversPerStep; ++handOvers) {
    if (StepPhase(profile) == StepFlow::kEndOfCycle || profile.timeLeft <= 0.0) {
      return ProfileStepResult::kStepped;
    }
  }
  profile.timeLeft = 0.0;
  return ProfileStepResult::kHandOverLimit;
}

}  // namespace vantor::motion

#include "kernel/core/motion/tests/profile_checker.h"

#include <cmath>
#include <sstream>

#include "kernel/core/motion/path_velocity_ramp.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion::testing {

namespace {

// Distance of the fastest ramp from rest to v (and, mirrored, back to rest).
double RampDistance(double J, double A, double v) {
  if (v * J <= A * A) return v * std::sqrt(v / J);
  return 0.5 * v * (v / A + A / J);
}

double RampTime(double J, double A, double v) {
  if (v * J <= A * A) return 2.0 * std::sqrt(v / J);
  return v / A + A / J;
}

void Violation(MoveOutcome& outcome, std::int64_t cycle, const std::string& what) {
  if (outcome.violations.size() < 8) {
    outcome.violations.push_back("cycle " + std::to_string(cycle) + ": " + what);
  }
}

}  // namespace

double RestToRestDuration(double J, double A, double V, double L) {
  if (2.0 * RampDistance(J, A, V) <= L) return 2.0 * RampTime(J, A, V) + (L - 2.0 * RampDistance(J, A, V)) / V;
  // The peak velocity is not reached: find the peak whose two ramps fill L.
  double peak = std::cbrt(L * L * J / 4.0);  // jerk-only ramps: 2 * v * sqrt(v / J) = L
  if (peak * J > A * A) {
    peak = 0.5 * A * (-A / J + std::sqrt(A * A / (J * J) + 4.0 * L / A));
  }
  return 2.0 * RampTime(J, A, peak);
}

std::string Describe(const MoveCase& m) {
  std::ostringstream text;
  text.precision(17);
  text << "J=" << m.jerk << " A=" << m.acceleration << " V=" << m.velocity << " L=" << m.length
       << " dt=" << m.cycleTime << " v0=" << m.startVelocity << " vE=" << m.endVelocity;
  return text.str();
}

MoveOutcome RunAndCheckMove(const MoveCase& m, std::int64_t cycleLimit) {
  PathVelocityProfile profile;
  profile.jerk = m.jerk;
  profile.maxAcceleration = m.acceleration;
  profile.maxVelocity = m.velocity;
  profile.velocity = m.startVelocity;
  profile.remaining = m.length;
  profile.endVelocity = m.endVelocity;
  profile.endVelocityRequest = m.endVelocity;
  profile.requestedVelocity = m.velocity;
  profile.targetVelocity = m.startVelocity;
  profile.targetChanged = true;
  profile.phase = ProfilePhase::kConstantVelocity;

  MoveOutcome outcome;
  const double J = m.jerk;
  const double A = m.acceleration;
  const double dt = m.cycleTime;
  double previousVelocity = m.startVelocity;
  double previousAcceleration = 0.0;
  double previousTravelled = 0.0;
  for (std::int64_t cycle = 0; cycle < cycleLimit; ++cycle) {
    profile.timeLeft = dt;
    profile.stepDistance = 0.0;
    const ProfileStepResult result = RampPathVelocity(profile);
    outcome.cycles = cycle + 1;
    if (result != ProfileStepResult::kStepped) Violation(outcome, cycle, "step result not kStepped");

    const double v = profile.velocity;
    const double a = profile.acceleration;
    const double s = profile.travelled;
    if (!std::isfinite(v) || !std::isfinite(a) || !std::isfinite(s) ||
        !std::isfinite(profile.remaining)) {
      Violation(outcome, cycle, "value not finite");
      return outcome;
    }
    if (v < 0.0) Violation(outcome, cycle, "negative velocity " + std::to_string(v));
    if (std::fabs(a) > A * (1.0 + kLimitSlack)) {
      Violation(outcome, cycle, "acceleration " + std::to_string(a) + " above the limit");
    }
    const double used = dt - profile.timeLeft;
    if (std::fabs(a - previousAcceleration) > J * used * (1.0 + 1e-6) + 1e-9 * A) {
      Violation(outcome, cycle, "jerk above the limit: da=" + std::to_string(a - previousAcceleration));
    }
    if (std::fabs(v - previousVelocity) > A * used * (1.0 + 1e-6) + 1e-9 * (1.0 + v)) {
      Violation(outcome, cycle, "velocity jump " + std::to_string(v - previousVelocity));
    }
    // Trapezoid integral of the sampled velocity; the exact distance of a
    // motion with |jerk| <= J differs from it by at most J * t^3 / 12.
    const double step = s - previousTravelled;
    const double trapezoid = 0.5 * (previousVelocity + v) * used;
    const double bound = J * used * used * used / 12.0 * (1.0 + 1e-6) + 1e-9 * (1.0 + std::fabs(s));
    // In the cycle that reaches the end the path may stop at the end point
    // before the cycle's time is used: only an excess counts there.
    const bool lastCycle = profile.endReached || profile.remaining <= 0.0;
    const double deviation = lastCycle ? step - trapezoid : std::fabs(step - trapezoid);
    if (deviation > bound + (lastCycle ? kEndSnapDistance_units : 0.0)) {
      Violation(outcome, cycle,
                "distance " + std::to_string(step) + " does not match the velocities (" +
                    std::to_string(trapezoid) + ")");
    }
    if (std::fabs(profile.stepDistance - step) > 1e-9 * (1.0 + std::fabs(s))) {
      Violation(outcome, cycle, "stepDistance disagrees with travelled");
    }
    if (std::fabs(s + profile.remaining - m.length) > 1e-9 * (1.0 + m.length)) {
      Violation(outcome, cycle, "travelled + remaining differs from the length");
    }
    previousVelocity = v;
    previousAcceleration = a;
    previousTravelled = s;

    if (profile.endReached || profile.remaining <= 0.0) {
      outcome.finished = true;
      outcome.duration_s = static_cast<double>(cycle) * dt + used;
      outcome.finalVelocity = v;
      outcome.travelled = s;
      if (std::fabs(s - m.length) > 1e-9 * (1.0 + m.length)) {
        Violation(outcome, cycle, "ended at " + std::to_string(s) + " instead of the length");
      }
      return outcome;
    }
  }
  outcome.travelled = profile.travelled;
  outcome.finalVelocity = profile.velocity;
  return outcome;
}

}  // namespace vantor::motion::testing

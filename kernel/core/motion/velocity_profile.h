// The seven-phase jerk-limited path-velocity profile (S-curve).
//
// The path velocity follows seven phases: acceleration rising with jerk +J,
// constant acceleration A, acceleration falling to 0, constant velocity,
// deceleration building with jerk -J, constant deceleration, deceleration
// falling to 0. Each real-time cycle loads its time into `timeLeft`; the ramp
// (path_velocity_ramp.h) decides and then `StepProfile` advances the profile
// by that time, handing over from phase to phase inside one call.
#pragma once

#include <cstdint>

namespace vantor::motion {

enum class ProfilePhase : std::uint32_t {
  kRisingAcceleration = 1,
  kConstantAcceleration = 2,
  kFallingAcceleration = 3,
  kConstantVelocity = 4,
  kRisingDeceleration = 5,
  kConstantDeceleration = 6,
  kFallingDeceleration = 7,
};

struct PathVelocityProfile {
  // `requestedVelocity` was set anew and is not yet handled.
  bool targetChanged = false;
  // The current target was accepted and the braking check of the running
  // ramp is done.
  bool settled = false;
  double requestedVelocity = 0.0;   // units/s: command velocity times override
  double targetVelocity = 0.0;      // units/s: the running ramp ends here
  double acceptedVelocity = 0.0;    // units/s: the request when it was decided
  // The end velocity may have changed: the planner looks at it this cycle.
  bool replan = false;
  double endVelocityRequest = 0.0;  // units/s: asked for at the end of `remaining`
  double endVelocity = 0.0;         // units/s: planned for at the end of `remaining`
  // The constant-velocity phase used up all of `remaining` in this cycle.
  bool endReached = false;
  // Braking to `endVelocity` at the end of `remaining` is under way.
  bool brakingPlanned = false;
  // After the acceleration ramp the constant-velocity phase follows directly.
  bool cruiseAfterRamp = false;
  ProfilePhase phase = ProfilePhase::kConstantVelocity;
  double acceleration = 0.0;      // units/s^2, negative while decelerating
  double velocity = 0.0;          // units/s, never negative
  double travelled = 0.0;         // units advanced in total
  double remaining = 0.0;         // units left to the planned end point
  double stepDistance = 0.0;      // units advanced in the current cycle
  double timeLeft = 0.0;          // s of the current cycle not yet used
  double jerk = 0.0;              // units/s^3, J > 0
  double maxAcceleration = 0.0;   // units/s^2, A > 0
  double maxVelocity = 0.0;       // units/s, upper bound of the request
};

enum class ProfileStepResult : std::uint32_t {
  kStepped = 0,
  // Jerk or acceleration (for the ramp also the maximum velocity) not
  // positive and finite, or a state value not finite: nothing moved, the
  // cycle's time is dropped.
  kInvalidLimits,
  // The phases kept handing over without using the cycle's time; the rest
  // of the cycle is dropped rather than spinning.
  kHandOverLimit,
};

// Runs the step of the current phase and those it hands over to, until the
// cycle's time is used up or a phase waits (a step that ends the cycle sets
// `timeLeft` to 0). Allocation-free and bounded.
ProfileStepResult StepProfile(PathVelocityProfile& profile) noexcept;

}  // namespace vantor::motion

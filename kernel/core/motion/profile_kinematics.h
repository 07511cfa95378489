// Kinematic advances and distances of the jerk-limited profile.
//
// J is the jerk, A the largest acceleration, a the current acceleration and
// v the current velocity of a profile; all distances are path lengths in
// units. Radicands are clamped at 0, so rounding never yields NaN.
#pragma once

#include "kernel/core/motion/velocity_profile.h"

namespace vantor::motion {

// Advances by t with jerk +J (phases 1 and 7). In phase 7 the distance is
// capped at `remaining`, the velocity at 0 from below and the acceleration
// at 0 from above.
void AdvanceRisingJerk(PathVelocityProfile& profile, double t) noexcept;
void AdvanceEndingDeceleration(PathVelocityProfile& profile, double t) noexcept;

// Advances by t with the acceleration held.
void AdvanceConstantAcceleration(PathVelocityProfile& profile, double t) noexcept;

// Advances by t with jerk -J; the acceleration stops at 0 in phase 3
// (`stopAtZero`) and runs on into deceleration in phase 5.
void AdvanceFallingJerk(PathVelocityProfile& profile, double t, bool stopAtZero) noexcept;

// Advances by t at constant velocity.
void AdvanceConstantVelocity(PathVelocityProfile& profile, double t) noexcept;

// Adds a distance advanced to `travelled` and `stepDistance` and takes it
// from `remaining`.
void AddDistance(PathVelocityProfile& profile, double distance) noexcept;

// Distance of the fastest jerk-limited ramp between v1 and v2 (either way).
double BrakingDistance(double J, double A, double v1, double v2) noexcept;

// Distance to bring acceleration `accelerationMagnitude` to 0 and then brake
// from the velocity reached to vEnd.
double StoppingDistance(double J, double accelerationMagnitude, double A, double v,
                        double vEnd) noexcept;

// The velocity a rising ramp ends at when its acceleration is brought to 0
// now, and the same for a falling ramp (never below 0).
double RampEndVelocityUp(double J, double accelerationMagnitude, double v) noexcept;
double RampEndVelocityDown(double J, double accelerationMagnitude, double v) noexcept;

// Distance from v to v1 and, when v1 > v2, on from v1 to v2.
double TwoStepDistance(double J, double A, double v, double v1, double v2) noexcept;

// As TwoStepDistance, for a ramp that is still rising with the given
// acceleration.
double RampTwoStepDistance(double J, double A, double accelerationMagnitude, double v, double v1,
                           double v2) noexcept;

// Distance to end a running deceleration and brake on to vEnd.
double DecelerationTailDistance(double J, double A, double accelerationMagnitude, double v,
                                double vEnd) noexcept;

}  // namespace vantor::motion

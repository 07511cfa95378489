// The kinematic axis of a simulated drive: position and velocity stepped
// in fixed time steps toward a target position or a target velocity with
// bounded acceleration, so that profile moves, homing runs and stops take
// the time a real axis takes.
#pragma once

namespace vantor::sim::drives {

struct AxisMotion {
  double position = 0.0;  // increments
  double velocity = 0.0;  // increments per second
};

// An acceleration or deceleration of 0 sets no limit (the change happens
// at once); a velocity of 0 lets the axis not move at all.
struct RampLimits {
  double velocity = 0.0;      // increments per second
  double acceleration = 0.0;  // increments per second squared
  double deceleration = 0.0;  // increments per second squared
};

// One step of `seconds` toward `target`; true once the axis stands on it.
bool StepTowardPosition(AxisMotion& axis, double target, const RampLimits& limits, double seconds);

// One step toward `velocity`; true once the velocity is reached.
bool StepTowardVelocity(AxisMotion& axis, double velocity, double acceleration, double seconds);

}  // namespace vantor::sim::drives

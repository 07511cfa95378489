// Drives a path-velocity profile cycle by cycle through the ramp, the way
// the interpolation does, and checks the sampled motion with arithmetic of
// its own: limits, continuity, distance against an integration of the
// sampled velocity, end point and end velocity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantor::motion::testing {

struct MoveCase {
  double jerk = 1.0;              // units/s^3
  double acceleration = 1.0;      // units/s^2
  double velocity = 1.0;          // units/s, requested and largest
  double length = 1.0;            // units
  double cycleTime = 0.001;       // s
  double startVelocity = 0.0;     // units/s
  double endVelocity = 0.0;       // units/s, largest allowed at the end
};

struct MoveOutcome {
  bool finished = false;
  std::int64_t cycles = 0;
  double duration_s = 0.0;        // time until the end of the path was reached
  double finalVelocity = 0.0;
  double travelled = 0.0;
  std::vector<std::string> violations;
};

// Relative slack of the limit checks.
inline constexpr double kLimitSlack = 1e-9;

// Time-optimal rest-to-rest duration of a move, in closed form.
double RestToRestDuration(double jerk, double acceleration, double velocity, double length);

// Runs the move for at most `cycleLimit` cycles and checks every sample.
MoveOutcome RunAndCheckMove(const MoveCase& move, std::int64_t cycleLimit);

std::string Describe(const MoveCase& move);

}  // namespace vantor::motion::testing

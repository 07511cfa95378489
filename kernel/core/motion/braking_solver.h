// End velocities reachable when braking starts now.
#pragma once

#include <optional>

namespace vantor::motion {

// The lowest and highest velocity a jerk-limited ramp from velocity v can
// end at over distance d, with jerk J and acceleration A.
struct BrakingVelocities {
  double lower = 0.0;
  double upper = 0.0;
};

// Nothing when the distance is too long to be covered by braking from v
// (braking would have to start later).
std::optional<BrakingVelocities> SolveBrakingVelocities(double J, double A, double v,
                                                        double d) noexcept;

}  // namespace vantor::motion

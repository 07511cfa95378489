// The path velocity that the drives' measured velocities show: what the
// velocity-proportional output follows.
#pragma once

#include <cstdint>
#include <span>

namespace vantor::kernel {

// One axis as the motion processing measured it in this cycle.
struct PathVelocityAxis {
  double measuredVelocity = 0.0;  // units/s
  // The node holds a measured velocity (its positions arrived).
  bool velocityValid = false;
  bool onPath = false;             // its coordinate has PathCoor
  std::uint32_t handlingAxis = 0;  // the node's handling-axis word
};

struct MeasuredPathVelocity {
  double pathVelocity = 0.0;    // units/s
  double rotaryVelocity = 0.0;  // angle units/s
};

// `axes` are the node objects in table order, the first
// `interpolatedCount` of them the interpolated ones. The path velocity is
// the root of the summed squares of the interpolated path axes' valid
// velocities (0 below 1e-8). Without any such axis the first axis off the
// path with a valid velocity gives it: as path velocity for a handling
// axis, else as rotary velocity. A velocity that is not a finite number
// counts as not valid.
MeasuredPathVelocity GetPathVelocity(std::span<const PathVelocityAxis> axes,
                                     std::uint32_t interpolatedCount) noexcept;

}  // namespace vantor::kernel

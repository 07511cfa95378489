// What segment preparation reads of the kernel beyond the configuration,
// the coordinates' zero offsets and the rotated plane: the cylinder radii
// of the coordinates and the limits of the drives that they move.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/motion/motion_inputs.h"

namespace vantor::kernel {

struct PathPlanningInputs {
  // Units of path per radian of a rotational path coordinate.
  std::array<double, motion::kMaxCoordinates> cylinderRadii{};
  // Coordinate i moves node i; the reset takes the drives' limits over.
  std::array<motion::NodeLimits, motion::kMaxCoordinates> nodeLimits{};
  // 1 once an application set the ramp overrides of node i.
  std::array<std::uint32_t, motion::kMaxCoordinates> rampOverridesSet{};
};

}  // namespace vantor::kernel

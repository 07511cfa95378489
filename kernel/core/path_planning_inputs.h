// What segment preparation reads of the kernel beyond the configuration:
// the zero offsets and cylinder radii of the coordinates, the rotated plane
// and the limits of the drives that the coordinates move.
#pragma once

#include <array>

#include "kernel/core/motion/motion_inputs.h"

namespace vantor::kernel {

struct PathPlanningInputs {
  // Units, added to absolute targets of coordinate i.
  std::array<double, motion::kMaxCoordinates> zeroOffsets{};
  // Units of path per radian of a rotational path coordinate.
  std::array<double, motion::kMaxCoordinates> cylinderRadii{};
  motion::PlaneRotation rotation;
  // Coordinate i moves node i; the reset takes the drives' limits over.
  std::array<motion::NodeLimits, motion::kMaxCoordinates> nodeLimits{};
};

}  // namespace vantor::kernel

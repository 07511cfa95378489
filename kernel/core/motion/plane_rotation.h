// The rotated plane: programmed coordinates of two axes are taken in a
// plane turned by the rotation angle, and the X, Y, Z roles of the path axes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "kernel/core/motion/motion_inputs.h"

namespace vantor::motion {

struct PlanePoint {
  double x = 0.0;
  double y = 0.0;
};

// (x cos a - y sin a, x sin a + y cos a) with a = rotation.angle.
PlanePoint RotateInPlane(PlanePoint point, const PlaneRotation& rotation) noexcept;

// The inverse: (x cos a + y sin a, y cos a - x sin a).
PlanePoint UnrotateInPlane(PlanePoint point, const PlaneRotation& rotation) noexcept;

// The coordinates that act as X, Y and Z (-1 where none does). X, Y and Z
// are coordinates 0, 1 and 2 when they are on the path; every further path
// coordinate fills the first of X and Y still unset, else becomes Z.
struct CartesianAxes {
  std::int32_t x = -1;
  std::int32_t y = -1;
  std::int32_t z = -1;
};

CartesianAxes AssignCartesianAxes(std::span<const CoordinateInput> coordinates) noexcept;

}  // namespace vantor::motion

// Switching the rotated plane on and off: which two path coordinates turn,
// and by what angle.
#pragma once

#include <cstdint>
#include <span>

#include "kernel/core/motion/motion_inputs.h"

namespace vantor::kernel {

struct PlaneRotationRequest {
  std::uint32_t plane = 0;  // 0 off, 1 X-Y, 2 Z-X, 3 Y-Z
  std::int32_t angle = 0;   // angle units; 0 switches the rotation off
};

// 1 when the rotation was set (or switched off), 0 when refused with
// `rotation` unchanged: a plane above 3, a rotational coordinate on the
// path, or a plane whose X, Y or Z axis the path does not have. The axes
// are assigned as for arcs.
std::uint32_t SetPlaneRotation(const PlaneRotationRequest& request,
                               std::span<const motion::CoordinateInput> coordinates,
                               double angleToRadianFac, motion::PlaneRotation& rotation) noexcept;

}  // namespace vantor::kernel

#include "kernel/core/plane_rotation_setting.h"

#include <algorithm>
#include <utility>

#include "kernel/core/motion/plane_rotation.h"

namespace vantor::kernel {

namespace {

constexpr std::uint32_t kPlaneOff = 0;
constexpr std::uint32_t kPlaneXY = 1;
constexpr std::uint32_t kPlaneZX = 2;
constexpr std::uint32_t kPlaneYZ = 3;

std::pair<std::int32_t, std::int32_t> PlaneAxes(std::uint32_t plane,
                                                const motion::CartesianAxes& axes) noexcept {
  switch (plane) {
    case kPlaneXY:
      return {axes.x, axes.y};
    case kPlaneZX:
      return {axes.z, axes.x};
    default:
      return {axes.y, axes.z};
  }
}

}  // namespace

std::uint32_t SetPlaneRotation(const PlaneRotationRequest& request,
                               std::span<const motion::CoordinateInput> coordinates,
                               double angleToRadianFac, motion::PlaneRotation& rotation) noexcept {
  if (request.plane > kPlaneYZ) return 0;
  if (request.plane == kPlaneOff || request.angle == 0) {
    rotation = motion::PlaneRotation{};
    return 1;
  }
  const bool rotaryOnPath = std::any_of(coordinates.begin(), coordinates.end(),
                                        [](const auto& c) { return c.onPath && !c.linear; });
  if (rotaryOnPath) return 0;
  const auto [a, b] = PlaneAxes(request.plane, motion::AssignCartesianAxes(coordinates));
  if (a < 0 || b < 0) return 0;
  rotation.plane = request.plane;
  rotation.axisA = a;
  rotation.axisB = b;
  rotation.angleValue = request.angle;
  rotation.angle = request.angle * angleToRadianFac;
  return 1;
}

}  // namespace vantor::kernel

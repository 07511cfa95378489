#include "kernel/core/motion/plane_rotation.h"

#include <cmath>

namespace vantor::motion {

PlanePoint RotateInPlane(PlanePoint point, const PlaneRotation& rotation) noexcept {
  const double c = std::cos(rotation.angle);
  const double s = std::sin(rotation.angle);
  return {point.x * c - point.y * s, point.x * s + point.y * c};
}

PlanePoint UnrotateInPlane(PlanePoint point, const PlaneRotation& rotation) noexcept {
  const double c = std::cos(rotation.angle);
  const double s = std::sin(rotation.angle);
  return {point.x * c + point.y * s, point.y * c - point.x * s};
}

CartesianAxes AssignCartesianAxes(std::span<const CoordinateInput> coordinates) noexcept {
  CartesianAxes axes;
  const auto onPath = [&](std::size_t i) { return i < coordinates.size() && coordinates[i].onPath; };
  if (onPath(0)) axes.x = 0;
  if (onPath(1)) axes.y = 1;
  if (onPath(2)) axes.z = 2;
  for (std::size_t i = 3; i < coordinates.size(); ++i) {
    if (!coordinates[i].onPath) continue;
    const auto index = static_cast<std::int32_t>(i);
    if (axes.x < 0) {
      axes.x = index;
    } else if (axes.y < 0) {
      axes.y = index;
    } else {
      axes.z = index;
    }
  }
  return axes;
}

}  // namespace vantor::motion

#include "kernel/core/path_velocity.h"

#include <algorithm>
#include <cmath>

#include "kernel/core/motion/tolerances.h"

namespace vantor::kernel {

namespace {

bool HasVelocity(const PathVelocityAxis& axis) noexcept {
  return axis.velocityValid && std::isfinite(axis.measuredVelocity);
}

}  // namespace

MeasuredPathVelocity GetPathVelocity(std::span<const PathVelocityAxis> axes,
                                     std::uint32_t interpolatedCount) noexcept {
  MeasuredPathVelocity result;
  const std::size_t interpolated = std::min<std::size_t>(interpolatedCount, axes.size());
  bool anyPathAxis = false;
  double sum = 0.0;
  for (const PathVelocityAxis& axis : axes.first(interpolated)) {
    if (!axis.onPath || !HasVelocity(axis)) continue;
    anyPathAxis = true;
    sum += axis.measuredVelocity * axis.measuredVelocity;
  }
  if (anyPathAxis) {
    if (sum >= motion::kNegligibleMagnitude) result.pathVelocity = std::sqrt(sum);
    return result;
  }
  for (const PathVelocityAxis& axis : axes) {
    if (axis.onPath || !HasVelocity(axis)) continue;
    if (axis.handlingAxis != 0) {
      result.pathVelocity = axis.measuredVelocity;
    } else {
      result.rotaryVelocity = axis.measuredVelocity;
    }
    break;
  }
  return result;
}

}  // namespace vantor::kernel

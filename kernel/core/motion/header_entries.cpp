#include "kernel/core/motion/header_entries.h"

#include <cmath>

#include "kernel/core/motion/interpolation_rules.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

namespace xb = common::exchange_buffer;

void StoreValue(common::ExchangeBuffer& exchange, std::int32_t entry, std::uint32_t slot,
                std::int32_t value) noexcept {
  static_cast<void>(exchange.Store<std::int32_t>(
      xb::SetpointValueOffset(static_cast<std::size_t>(entry), slot), value));
}

}  // namespace

std::int32_t HeaderVelocityValue(const EntryAxis& axis, const SegmentAxisPart& part,
                                 double programmedVelocity, double maxOverride) noexcept {
  const double direction = part.shape == AxisShape::kCircular ? 1.0 : part.factor;
  double velocity = direction * programmedVelocity * maxOverride;
  if (std::fabs(axis.velocityUnit) >= kNegligibleMagnitude) velocity /= axis.velocityUnit;
  velocity = std::fabs(velocity * axis.velocityFactor) + std::fabs(axis.velocityOffset);
  if (axis.scalingEnabled) velocity *= std::fabs(axis.scalingFactor);
  return std::isnan(velocity) ? 0 : DriveValueOf(velocity);
}

void WriteHeaderEntries(const PathMotion& motion, common::ExchangeBuffer& exchange,
                        std::int32_t entry) noexcept {
  const PathSegment* head = motion.queue.head;
  for (std::uint32_t k = 0; k < motion.entryAxisCount && k < kMaxInterpolatedAxes; ++k) {
    const EntryAxis& axis = motion.entryAxes[k];
    StoreValue(exchange, entry, axis.slot, kHeaderMarker);
    const bool onSegment = head != nullptr && axis.coordinate < motion.axisCount;
    const std::int32_t velocity =
        onSegment ? HeaderVelocityValue(axis, head->axes[axis.coordinate],
                                        motion.programmedVelocity, motion.maxOverride)
                  : 0;
    StoreValue(exchange, entry + 1, axis.slot, velocity);
  }
}

}  // namespace vantor::motion

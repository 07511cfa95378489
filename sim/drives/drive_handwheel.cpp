// Hand operation of the drive: the handwheel gateway's transmit PDO lands
// in 0x205D sub 12 (buttons) and sub 13 (pulse counter) of every linked
// drive; the drive whose selector bits are pressed moves by the pulses
// counted, within its travel limits 0x607D, at the handwheel's own
// velocity and acceleration limits.
#include "sim/drives/drive_model.h"

#include <algorithm>

namespace vantor::sim::drives {

bool DriveModel::HandwheelSelected() const {
  const auto selector = static_cast<std::uint8_t>(
      Objects().Unsigned(object::kHandwheel, handwheel::kSelector) & handwheel::kSelectorMask);
  const auto buttons = static_cast<std::uint8_t>(
      Objects().Unsigned(object::kHandwheel, handwheel::kButtons) & handwheel::kSelectorMask);
  return selector != 0 && (buttons & selector) != 0;
}

bool DriveModel::HandwheelDriving() const {
  return Objects().Unsigned(object::kHandwheel, handwheel::kLinked) == 1 &&
         Objects().Unsigned(object::kHandwheel, handwheel::kActive) == 1 &&
         stateMachine_.State() == DriveState::kOperationEnabled &&
         Mode() == OperationMode::kProfilePosition &&
         (controlword_ & controlword::kNewSetPoint) != 0;
}

std::uint8_t DriveModel::HandwheelFlags() const {
  if (Objects().Unsigned(object::kHandwheel, handwheel::kLinked) != 1) return 0;
  std::uint8_t flags = handwheel::kFlagsLinked;
  if (HandwheelDriving() && HandwheelSelected()) flags |= handwheel::kFlagSelected;
  return flags;
}

RampLimits DriveModel::ProfileLimits() const {
  RampLimits limits{UnsignedValue(object::kProfileVelocity, 0),
                    UnsignedValue(object::kProfileAcceleration, 0),
                    UnsignedValue(object::kProfileDeceleration, 0)};
  if (HandwheelDriving()) {
    const double velocity = UnsignedValue(object::kHandwheel, handwheel::kVelocityLimit);
    const double acceleration = UnsignedValue(object::kHandwheel, handwheel::kAccelerationLimit);
    if (velocity > 0.0) limits.velocity = velocity;
    if (acceleration > 0.0) limits.acceleration = limits.deceleration = acceleration;
  }
  return limits;
}

void DriveModel::OnHandwheelFrame() {
  const auto counter =
      static_cast<std::uint16_t>(Objects().Unsigned(object::kHandwheel, handwheel::kCounter));
  // The first frame only tells where the counter stands.
  const std::uint16_t previous = handwheelCounter_.value_or(counter);
  handwheelCounter_ = counter;
  const auto pulses = static_cast<std::int16_t>(static_cast<std::uint16_t>(counter - previous));
  if (pulses == 0 || !HandwheelDriving() || !HandwheelSelected()) return;
  const double increments =
      std::max<double>(1.0, UnsignedValue(object::kHandwheel, handwheel::kIncrementsPerPulse));
  const double lower = static_cast<double>(SignedValue(object::kSoftwarePositionLimit, 1)) + zero_;
  const double upper = static_cast<double>(SignedValue(object::kSoftwarePositionLimit, 2)) + zero_;
  const double from = profileTarget_.value_or(axis_.position);
  profileTarget_ =
      std::clamp(from + pulses * increments, std::min(lower, upper), std::max(lower, upper));
  Schedule();
}

}  // namespace vantor::sim::drives

// What the drive reports: statusword, inputs, positions and velocity.
#include "sim/drives/drive_model.h"

#include <cmath>

namespace vantor::sim::drives {

bool DriveModel::NegativeLimitActive() const {
  return config_.negativeLimit && actual_ <= *config_.negativeLimit;
}

bool DriveModel::PositiveLimitActive() const {
  return config_.positiveLimit && actual_ >= *config_.positiveLimit;
}

bool DriveModel::LimitsBridged() const {
  return Objects().Unsigned(object::kLimitSwitchBridge, 0) != 0;
}

std::uint8_t DriveModel::Inputs() const {
  std::uint8_t bits = userInputs_ | inputs::kInterlock;
  if (NegativeLimitActive()) bits |= inputs::kNegativeLimit;
  if (PositiveLimitActive()) bits |= inputs::kPositiveLimit;
  if (config_.homeSwitch) {
    const auto method = static_cast<std::int8_t>(SignedValue(object::kHomingMethod, 0));
    const bool active = HomeSwitchActiveBelowEdge(method) ? actual_ <= *config_.homeSwitch
                                                          : actual_ >= *config_.homeSwitch;
    if (active) bits |= inputs::kHomeSwitch;
  }
  return bits;
}

std::uint16_t DriveModel::ComposeStatusword() const {
  const DriveState state = stateMachine_.State();
  std::uint16_t word = StateBits(state) | statusword::kRemote;
  const bool onLimit = !LimitsBridged() && (NegativeLimitActive() || PositiveLimitActive());
  const bool standing = std::abs(axis_.velocity) <= kStandstillVelocity;
  bool internalLimit = onLimit;
  if (state == DriveState::kOperationEnabled) {
    switch (Mode()) {
      case OperationMode::kProfilePosition: {
        const bool reached = ProfileTargetReached() && !pendingTarget_;
        if (reached || (halted_ && standing)) word |= statusword::kTargetReached;
        if (setPointAcknowledged_) word |= statusword::kModeSpecific12;
        break;
      }
      case OperationMode::kProfileVelocity: {
        const double target =
            halted_ ? 0.0 : static_cast<double>(SignedValue(object::kTargetVelocity, 0));
        if (std::abs(axis_.velocity - target) <= kStandstillVelocity)
          word |= statusword::kTargetReached;
        break;
      }
      case OperationMode::kHoming: {
        if (!homing_ || (halted_ && standing)) word |= statusword::kTargetReached;
        if (homingAttained_) word |= statusword::kModeSpecific12;
        if (homingError_) word |= statusword::kModeSpecific13;
        // Bits 11 and 15 carry the gantry phases while homing.
        internalLimit = false;
        if (homing_ && homing_->Status() == HomingStatus::kWaitingPhaseA) {
          word |= statusword::kInternalLimit;
        } else if (homing_ && homing_->Status() == HomingStatus::kWaitingPhaseB) {
          word |= statusword::kInternalLimit | statusword::kBufferEmpty;
        }
        break;
      }
      case OperationMode::kInterpolatedPosition:
        if ((controlword_ & controlword::kNewSetPoint) != 0) word |= statusword::kModeSpecific12;
        if (setPoints_.size() >= BufferedDepth()) word |= statusword::kBufferFull;
        if (setPoints_.empty()) word |= statusword::kBufferEmpty;
        if (setPoints_.empty() && !segment_) word |= statusword::kTargetReached;
        break;
      case OperationMode::kLeaveLimitSwitch: {
        const bool onSwitch = NegativeLimitActive() || PositiveLimitActive();
        if (leaving_ || onSwitch) {
          word |= statusword::kLeaving;
        } else if (standing) {
          word |= statusword::kTargetReached;
        }
        break;
      }
      case OperationMode::kNone:
        break;
    }
  } else if (Mode() == OperationMode::kInterpolatedPosition && setPoints_.empty()) {
    word |= statusword::kBufferEmpty;
  }
  if (internalLimit) word |= statusword::kInternalLimit;
  if (followingError_) word |= statusword::kModeSpecific13;
  return word;
}

void DriveModel::Publish() {
  canopen::ObjectDictionary& objects = Objects();
  const std::uint16_t word = ComposeStatusword();
  objects.SetUnsigned(object::kStatusword, 0, word);
  objects.SetUnsigned(object::kAxisChain, chain::kStatuswordMirror, word);
  objects.SetUnsigned(object::kModesOfOperationDisplay, 0,
                      static_cast<std::uint8_t>(SignedValue(object::kModesOfOperation, 0)));
  const auto demand = static_cast<std::uint32_t>(ToIncrements(axis_.position - zero_));
  const auto actual = static_cast<std::uint32_t>(ReportedPosition());
  objects.SetUnsigned(object::kPositionDemand, 0, demand);
  objects.SetUnsigned(object::kPositionActual, 0, actual);
  objects.SetUnsigned(object::kAxisChain, chain::kPositionMirror, actual);
  objects.SetUnsigned(object::kVelocityActual, 0,
                      static_cast<std::uint32_t>(ToIncrements(stalled_ ? 0.0 : axis_.velocity)));
  objects.SetUnsigned(object::kDigitalInputs, 0, Inputs());
  objects.SetUnsigned(object::kHandwheel, handwheel::kFlagByte, HandwheelFlags());
  WatchStopInput();
}

}  // namespace vantor::sim::drives

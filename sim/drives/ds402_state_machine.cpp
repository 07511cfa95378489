#include "sim/drives/ds402_state_machine.h"

#include "sim/drives/drive_objects.h"

namespace vantor::sim::drives {

namespace {

// Device control commands, decoded from the low byte of the controlword
// with the don't-care bits masked out.
enum class Command : std::uint8_t {
  kDisableVoltage,
  kQuickStop,
  kShutdown,
  kSwitchOn,
  kEnableOperation,
};

Command Decode(std::uint16_t controlword) {
  if ((controlword & controlword::kEnableVoltage) == 0) return Command::kDisableVoltage;
  if ((controlword & controlword::kQuickStop) == 0) return Command::kQuickStop;
  if ((controlword & controlword::kSwitchOn) == 0) return Command::kShutdown;
  if ((controlword & controlword::kEnableOperation) == 0) return Command::kSwitchOn;
  return Command::kEnableOperation;
}

}  // namespace

std::uint16_t StateBits(DriveState state) {
  switch (state) {
    case DriveState::kSwitchOnDisabled:
      return statusword::kSwitchOnDisabled;
    case DriveState::kReadyToSwitchOn:
      return statusword::kReadyToSwitchOn;
    case DriveState::kSwitchedOn:
      return statusword::kSwitchedOn;
    case DriveState::kOperationEnabled:
      return statusword::kOperationEnabled;
    case DriveState::kQuickStopActive:
      return statusword::kQuickStopActive;
    case DriveState::kFault:
      return statusword::kFault;
  }
  return statusword::kFault;
}

void Ds402StateMachine::Reset() {
  state_ = DriveState::kSwitchOnDisabled;
  previous_ = 0;
}

void Ds402StateMachine::QuickStop() {
  if (state_ == DriveState::kOperationEnabled) {
    state_ = DriveState::kQuickStopActive;
  } else if (state_ != DriveState::kQuickStopActive && state_ != DriveState::kFault) {
    state_ = DriveState::kSwitchOnDisabled;
  }
}

void Ds402StateMachine::DisableVoltage() {
  if (state_ != DriveState::kFault) state_ = DriveState::kSwitchOnDisabled;
}

void Ds402StateMachine::EndQuickStop() {
  if (state_ == DriveState::kQuickStopActive) state_ = DriveState::kSwitchOnDisabled;
}

DriveState Ds402StateMachine::ApplyControlword(std::uint16_t controlword,
                                               const ControlConditions& conditions) {
  const bool faultResetEdge =
      (controlword & controlword::kFaultReset) != 0 && (previous_ & controlword::kFaultReset) == 0;
  previous_ = controlword;
  if (state_ == DriveState::kFault) {
    if (faultResetEdge) state_ = DriveState::kSwitchOnDisabled;
    return state_;
  }
  // While bit 7 is high no other command is carried out.
  if ((controlword & controlword::kFaultReset) != 0) return state_;

  switch (Decode(controlword)) {
    case Command::kDisableVoltage:
      DisableVoltage();
      break;
    case Command::kQuickStop:
      QuickStop();
      break;
    case Command::kShutdown:
      if (state_ == DriveState::kSwitchOnDisabled || state_ == DriveState::kSwitchedOn ||
          state_ == DriveState::kOperationEnabled) {
        state_ = DriveState::kReadyToSwitchOn;
      }
      break;
    case Command::kSwitchOn:
      if (state_ == DriveState::kReadyToSwitchOn || state_ == DriveState::kOperationEnabled) {
        state_ = DriveState::kSwitchedOn;
      }
      break;
    case Command::kEnableOperation: {
      // Switch on and enable in one command is taken from ready to switch
      // on too, as our firmware does unless told otherwise.
      if (state_ == DriveState::kReadyToSwitchOn) {
        state_ = DriveState::kSwitchedOn;
        if (!conditions.enableFromReadyToSwitchOn) break;
      }
      const bool mayEnable = state_ == DriveState::kSwitchedOn ||
                             (state_ == DriveState::kQuickStopActive && conditions.quickStopHolds);
      if (mayEnable && !conditions.enableRefused) state_ = DriveState::kOperationEnabled;
      break;
    }
  }
  return state_;
}

}  // namespace vantor::sim::drives

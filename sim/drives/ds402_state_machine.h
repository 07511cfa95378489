// The DS402 device control state machine of the simulated drive, as the
// kernel reads it through `statusword & 0x6F`. A fault reads 0x2F (the
// pattern the kernel resets) and is left only on a rising edge of
// controlword bit 7.
#pragma once

#include <cstdint>

namespace vantor::sim::drives {

enum class DriveState : std::uint8_t {
  kSwitchOnDisabled,
  kReadyToSwitchOn,
  kSwitchedOn,
  kOperationEnabled,
  kQuickStopActive,
  kFault,
};

// The state bits of the statusword (within the 0x6F mask).
std::uint16_t StateBits(DriveState state);

// What the drive's parameters say about a controlword, besides the word.
struct ControlConditions {
  // An amplifier that will not come up: the drive stays switched on.
  bool enableRefused = false;
  // Quick stop option codes 5 to 8: the drive stays in quick stop active
  // and enable operation leaves it; with codes 0 to 4 it ends in switch on
  // disabled and cannot be enabled from quick stop active.
  bool quickStopHolds = true;
  // Enable operation from ready to switch on goes through switched on to
  // operation enabled in one command, as our firmware allows.
  bool enableFromReadyToSwitchOn = true;
};

class Ds402StateMachine {
 public:
  DriveState State() const { return state_; }

  // A new controlword; returns the state it leads to.
  DriveState ApplyControlword(std::uint16_t controlword, const ControlConditions& conditions);

  // Commands the drive gives itself (its reaction to a lost master), as
  // the controlword would give them.
  void QuickStop();
  void DisableVoltage();

  // The quick stop ramp has ended with an option code that does not hold:
  // quick stop active becomes switch on disabled.
  void EndQuickStop();

  // The drive found a fault: whatever the state, it now reads fault.
  void EnterFault() { state_ = DriveState::kFault; }
  // Power-on or reset node.
  void Reset();

 private:
  DriveState state_ = DriveState::kSwitchOnDisabled;
  std::uint16_t previous_ = 0;
};

}  // namespace vantor::sim::drives

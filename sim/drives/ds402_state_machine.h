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

class Ds402StateMachine {
 public:
  DriveState State() const { return state_; }

  // A new controlword; returns the state it leads to. `enableRefused`
  // keeps a drive from entering operation enabled (an amplifier that will
  // not come up), so it stays switched on.
  DriveState ApplyControlword(std::uint16_t controlword, bool enableRefused);

  // The drive found a fault: whatever the state, it now reads fault.
  void EnterFault() { state_ = DriveState::kFault; }
  // Power-on or reset node.
  void Reset();

 private:
  DriveState state_ = DriveState::kSwitchOnDisabled;
  std::uint16_t previous_ = 0;
};

}  // namespace vantor::sim::drives

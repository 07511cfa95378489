// The homing machine started, CNC mode on and every axis homed clear of its
// negative limit switch, for the chain tests that move it.
#pragma once

#include <cstdint>
#include <string>

#include "examples/tests/chain_processes.h"

namespace vantor::examples_test {

// X on drive 1, Y on drive 2 with its gantry slave on drive 3, Z on drive 4.
inline constexpr std::uint32_t kHomedMachineAxes = 0b111;
inline constexpr std::uint32_t kHomedMachineDrives[] = {1, 2, 3, 4};
// The drives home on the release of their negative limit switches; their
// home lies this far beyond, clear of the switch.
inline constexpr std::int32_t kHomeOffset = 2000;

class HomedMachineTest : public ChainTest {
 protected:
  using ChainTest::ChainTest;

  // The driver host on the homing machine (every frame logged to `candump`
  // when given), CNC mode on from `ini`, the drives reset and every axis
  // homed; a fatal failure when any step fails.
  void StartHomedMachine(const std::string& ini, const std::string& candump = {});
};

}  // namespace vantor::examples_test

// A fixture for tests that move the machine over the whole chain: the
// driver host on a machine whose drives stand a short way above their
// negative limit switches, CNC mode on from machine.ini, the drives reset
// and every axis homed, so that a test starts on a machine ready to move.
// The drives home on their negative limit switches, and the cycle keeps
// what it saw of a switch until a reset: a second reset after homing lets
// the drives move.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "examples/tests/chain_processes.h"
#include "interface/include/linkora.h"

namespace vantor::examples_test {

// Positions, targets and zero points as the library passes them.
using Coordinates = std::array<std::int32_t, 9>;

class CncChainTest : public ChainTest {
 protected:
  explicit CncChainTest(std::string prefix) : ChainTest(std::move(prefix)) {}

  // The driver host started, CNC mode on, the drives reset, every axis
  // homed; a fatal failure when any step fails.
  void SetUp() override;
  // Leaves CNC mode when a test stopped half-way, so that the next test of
  // the process starts the channel afresh.
  void TearDown() override;

  // The machine description the driver host runs: the homing machine,
  // unless a test needs its drives otherwise.
  virtual std::string MachineDescription();

  // One object of a drive's dictionary, read through the driver host, as
  // "ok <value>".
  std::string ReadObject(std::uint32_t node, std::uint16_t index, std::uint8_t subindex);

  // The drive conditions that are not in order, latched or current, axis by
  // axis ("none" when all are): what a refused command's node check saw.
  std::string DriveConditionsNotInOrder();

  LinkoraMotionControlStatus Status();
  Coordinates Position();
  Coordinates DesiredPosition();

  // Waits (bounded) until the machine reports no motion; false when it
  // still moves at the bound.
  bool AwaitMotionEnd();

  // Waits (bounded, generously) until `done` holds; false when it never did.
  template <typename Condition>
  static bool Await(Condition&& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // A bound for anything that should take seconds: a hang fails, a slow
  // machine does not.
  static constexpr std::chrono::seconds kGenerous{120};
  // machine.ini: X, Y (a gantry pair) and Z.
  static constexpr std::uint32_t kAxisCount = 3;
  static constexpr std::uint32_t kAllAxes = 0b111;
};

}  // namespace vantor::examples_test

// The kernel state words that every command handler tests.
//
// They are 32-bit words, 0 or 1, of the motion record. The cycle thread and
// the server thread share them under the kernel data lock; only
// `cncInitialised` is tested without the lock at handler entry, so it is an
// atomic word.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace vantor::kernel {

struct KernelStateFlags {
  // Set by the CNC initialisation once the cycle thread is seen running;
  // cleared by the cycle at an exchange time-out.
  std::uint32_t cycleRunning = 0;
  // Cleared by the cycle while the driver reports a bus fault.
  std::uint32_t busOk = 0;
  std::uint32_t syncRunning = 0;
  std::uint32_t peripheryPdoOk = 0;
  // The CNC initialisation succeeded: node objects, mutexes and
  // configuration exist. Cleared by opening the hardware and by CNC exit.
  std::atomic<std::uint32_t> cncInitialised{0};
  // The CNC initialisation ran but no reset has succeeded since.
  std::uint32_t resetPending = 0;
  std::uint32_t velocityOutputActive = 0;

  // Motion flags that the guards read.
  std::uint32_t motionBreak = 0;
  std::uint32_t quickStopping = 0;
  std::uint32_t stopped = 0;
  std::uint32_t teachMode = 0;
  std::uint32_t powerOff = 0;
  std::uint32_t testMode = 0;
  std::uint32_t limitSwitchBridge = 0;
  std::uint32_t limitSwitchLeave = 0;
  // Set only by a successful reset; the reset clears both first, so that a
  // reset that fails leaves motion refused.
  std::uint32_t driveEnable = 0;
  std::uint32_t haltOk = 0;
  // How the reset waits for running motion to end: not at all, or only for
  // the node requests in flight (both 0: for the path and the handling
  // axes).
  std::uint32_t motionEndNoWait = 0;
  std::uint32_t motionEndDrainOnly = 0;

  // The further words that the complete status shows, in its order.
  std::uint32_t drivesOk = 0;
  std::uint32_t limitsOk = 0;
  std::uint32_t motionActive = 0;
  std::uint32_t pathMode = 0;
  std::uint32_t pathStarted = 0;
  std::uint32_t moving = 0;
  std::uint32_t pathActive = 0;
  std::uint32_t motionStop = 0;
  std::uint32_t motionAbort = 0;
  // Three words without a meaning of their own; the initialisation gives
  // them 0, 1 and 1.
  std::array<std::uint32_t, 3> reservedStateWords{};
  std::uint32_t resuming = 0;
  std::uint32_t axisLimitError = 0;
  std::uint32_t stopOnInputInitialised = 0;
  std::uint32_t stopOnInputActive = 0;
  std::uint32_t stopOnInputTriggered = 0;
  std::uint32_t handwheelInitialised = 0;
  std::uint32_t handwheelActive = 0;
  std::uint32_t handwheelOk = 0;
  std::uint32_t handwheelLatched = 0;
  std::uint32_t handwheelF1 = 0;
  std::uint32_t handwheelF2 = 0;
  // The complete status is reading the drives through the node slots.
  std::uint32_t statusRefresh = 0;

  bool IsCncInitialised() const noexcept {
    return cncInitialised.load(std::memory_order_acquire) != 0;
  }
  void SetCncInitialised(bool value) noexcept {
    cncInitialised.store(value ? 1u : 0u, std::memory_order_release);
  }
};

}  // namespace vantor::kernel

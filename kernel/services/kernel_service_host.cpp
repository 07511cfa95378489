#include "kernel/services/kernel_service_host.h"

#include <chrono>

#include "kernel/core/canopen/axis_profile_move.h"
#include "kernel/core/canopen/event_completion_signal.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion_runtime.h"
#include "platform/os/timing.h"

namespace vantor::kernel {

void KernelServiceHost::LockKernelData() noexcept {
  static_cast<void>(vantor::kernel::LockKernelData(data_));
}

void KernelServiceHost::UnlockKernelData() noexcept { vantor::kernel::UnlockKernelData(data_); }

void KernelServiceHost::LockCanObjects() noexcept { static_cast<void>(LockCanObjectList(data_)); }

void KernelServiceHost::UnlockCanObjects() noexcept { UnlockCanObjectList(data_); }

bool KernelServiceHost::IsCycleRunning() noexcept { return data_.state.cycleRunning != 0; }

void KernelServiceHost::WaitForAll(std::span<canopen::CompletionSignal* const> signals) noexcept {
  static_cast<void>(canopen::WaitForCompletion(
      signals, [this] { return IsCanBusRunning(data_); }, canopen::kCycleLookMilliseconds,
      companion_));
}

canopen::CompletionSignal* KernelServiceHost::SpareCompletionSignal() noexcept {
  if (!spareSignal_) spareSignal_ = canopen::EventCompletionSignal::Create();
  return spareSignal_.get();
}

void KernelServiceHost::Sleep(std::uint32_t milliseconds) noexcept { os::Sleep(milliseconds); }

std::uint64_t KernelServiceHost::MonotonicMilliseconds() noexcept {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool KernelServiceHost::StopOnInputOrHandwheelInitialised() noexcept {
  return data_.state.stopOnInputInitialised != 0 || data_.state.handwheelInitialised != 0;
}

void KernelServiceHost::ClearStopOnInputAndHandwheel() noexcept {
  KernelStateFlags& state = data_.state;
  state.stopOnInputInitialised = 0;
  state.stopOnInputActive = 0;
  state.stopOnInputTriggered = 0;
  // The drives lost their configuration with their reset: nothing is
  // stored any more and the cycle no longer watches their inputs.
  data_.stopOnInputParameters.mode = 0;
  data_.motionRuntime.stopOnInput.armed = 0;
  state.handwheelInitialised = 0;
  state.handwheelActive = 0;
}

void KernelServiceHost::ClearNodeEnableWords(std::uint32_t count) noexcept {
  std::array<std::uint32_t, 3>& words = data_.nodeConfiguration.enableWords;
  for (std::uint32_t k = 0; k < count && k < words.size(); ++k) words[k] = 0;
}

void KernelServiceHost::TakeNodePositionsIntoAxisRecords() noexcept {
  TakeNodePositionsIntoSetPositions(data_);
}

bool KernelServiceHost::IsResetPending() noexcept { return data_.state.resetPending != 0; }

std::uint32_t KernelServiceHost::InterpolatedNodeCount() noexcept {
  return data_.nodeConfiguration.interpolatedNodeCount;
}

void KernelServiceHost::StoreConfiguredRpdoNumbers(std::uint32_t nodeIndex,
                                                   std::uint16_t controlRpdo,
                                                   std::uint16_t motionRpdo) noexcept {
  // The configuration is kept per node record, which an axis exchange may
  // have given another axis.
  const std::uint32_t record = data_.nodeConfiguration.RecordOfAxis(nodeIndex);
  if (record >= data_.savedConfiguration.nodes.size()) return;
  canopen::NodeSetup& setup = data_.savedConfiguration.nodes[record].setup;
  setup.controlRpdo = controlRpdo;
  setup.motionRpdo = motionRpdo;
}

void KernelServiceHost::TakeNodePositionIntoAxisRecord(std::uint32_t nodeIndex) noexcept {
  TakeNodePositionIntoSetPosition(data_, nodeIndex);
}

canopen::GlobalRequest& KernelServiceHost::GlobalSlot() noexcept {
  return data_.globalSlot.request;
}

bool KernelServiceHost::LockGlobalRequest() noexcept { return LockGlobalRequestSlot(data_); }

void KernelServiceHost::UnlockGlobalRequest() noexcept { UnlockGlobalRequestSlot(data_); }

// The all-node services' profile-position move of the selected axes, run
// through the nodes' request slots.
common::StatusCode KernelServiceHost::SetupAxesProfileMode(
    bool includeNode, canopen::NodeMask mask, std::span<const std::int32_t> positions) noexcept {
  canopen::ServiceContext context = Context();
  return canopen::SetupAxesProfileMode(context, includeNode, mask, positions);
}

}  // namespace vantor::kernel

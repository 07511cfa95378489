// The kernel's side of the node services: its kernel data lock, its cycle
// flag, the wait on the slots' completion events (which also watches the
// cycle, so no wait outlives it) and the kernel state words the services
// touch.
#pragma once

#include <memory>

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/event_completion_signal.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

class KernelServiceHost final : public canopen::NodeServiceHost {
 public:
  KernelServiceHost(KernelData& data, canopen::CanObjectList& canObjects) noexcept
      : data_(data), canObjects_(canObjects) {}

  void LockKernelData() noexcept override;
  void UnlockKernelData() noexcept override;
  bool IsCycleRunning() noexcept override;
  void WaitForAll(std::span<canopen::CompletionSignal* const> signals) noexcept override;
  void Sleep(std::uint32_t milliseconds) noexcept override;
  std::uint64_t MonotonicMilliseconds() noexcept override;
  bool StopOnInputOrHandwheelInitialised() noexcept override;
  void ClearStopOnInputAndHandwheel() noexcept override;
  void ClearNodeEnableWords(std::uint32_t count) noexcept override;
  void TakeNodePositionsIntoAxisRecords() noexcept override;
  bool IsResetPending() noexcept override;
  std::uint32_t InterpolatedNodeCount() noexcept override;
  void StoreConfiguredRpdoNumbers(std::uint32_t nodeIndex, std::uint16_t controlRpdo,
                                  std::uint16_t motionRpdo) noexcept override;
  void TakeNodePositionIntoAxisRecord(std::uint32_t nodeIndex) noexcept override;
  canopen::GlobalRequest& GlobalSlot() noexcept override;
  bool LockGlobalRequest() noexcept override;
  void UnlockGlobalRequest() noexcept override;
  common::StatusCode SetupAxesProfileMode(
      bool includeNode, canopen::NodeMask mask,
      std::span<const std::int32_t> positions) noexcept override;

  canopen::DriveWorkingValues WorkingValues() noexcept override { return data_.driveWorkingValues; }
  canopen::CompletionSignal* SpareCompletionSignal() noexcept override;
  void SetLimitSwitchBridge(bool bridged) noexcept override {
    data_.state.limitSwitchBridge = bridged ? 1 : 0;
  }
  canopen::CanObjectList& CanObjects() noexcept override { return canObjects_; }
  void LockCanObjects() noexcept override;
  void UnlockCanObjects() noexcept override;

  canopen::ServiceContext Context() noexcept { return {*this, data_.nodeConfiguration.table}; }

  // Work its waits on the drives do on the side (none by default).
  void ServeWhileWaiting(canopen::WaitCompanion* companion) noexcept { companion_ = companion; }

 private:
  KernelData& data_;
  canopen::CanObjectList& canObjects_;
  canopen::WaitCompanion* companion_ = nullptr;
  // Made when a service first asks for it.
  std::unique_ptr<canopen::EventCompletionSignal> spareSignal_;
};

}  // namespace vantor::kernel

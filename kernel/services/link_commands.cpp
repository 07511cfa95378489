#include "kernel/services/link_commands.h"

#include <algorithm>
#include <array>

#include "kernel/core/exchange_timeout.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/timer_periods.h"
#include "platform/os/process.h"

namespace vantor::kernel {

namespace cb = common::communication_block;
namespace hw = common::can_hardware_parameters;

namespace {

void WriteResult(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(cb::kResult, result);
}

}  // namespace

AfterCommand HandlePing(Kernel& kernel) {
  WriteResult(kernel, common::kKernelSuccess);
  return AfterCommand::KeepServing;
}

AfterCommand HandleTerminateKernel(Kernel& kernel) {
  EndTimerPeriods(kernel.settings, kernel.settings);
  WriteResult(kernel, common::kKernelSuccess);
  // The driver link closes with the teardown that the exit command starts.
  return AfterCommand::EndKernel;
}

AfterCommand HandleIdentifyKernel(Kernel& kernel) {
  namespace id = common::kernel_identity;
  auto identity = kernel.Block().MutableWindow<common::kKernelIdentitySize>(cb::kPayloadOffset);
  const auto& hardware = kernel.settings.hardware;
  identity->Set(id::kCanInterface, hardware.Get(hw::kCanInterface));
  identity->Set(id::kKernelModus, hardware.Get(hw::kKernelModus));
  identity->Set(id::kBaudRateForCan, hardware.Get(hw::kBaudRateForCan));
  identity->Set(id::kMeasureLatenzTime, hardware.Get(hw::kMeasureLatenzTime));
  identity->Set(id::kLookAheadDesPosiMaxNo, hardware.Get(hw::kLookAheadDesPosiMaxNo));
  identity->Set(id::kInterruptCycle, hardware.Get(hw::kInterruptCycle));
  identity->Set(id::kTimeForGlobalSynPeriod, hardware.Get(hw::kTimeForGlobalSynPeriod));
  identity->Set(id::kSynMaxWaitTime, hardware.Get(hw::kSynMaxWaitTime));
  identity->Set(id::kWindowsTimerRes, kernel.settings.normalTimerResolution);
  identity->Set(id::kPathWindowsTimerRes, kernel.settings.pathTimerResolution);
  identity->Set(id::kRealTimeThreadIntWaitTime, kernel.settings.exchangeTimeoutMilliseconds);
  identity->Set(id::kKernelProcessId, os::CurrentProcessId());
  identity->Set(id::kWatchProcessId, kernel.settings.watchProcessId);
  WriteResult(kernel, common::kKernelSuccess);
  return AfterCommand::KeepServing;
}

namespace {

void TakeCanTiming(KernelSettings& settings,
                   common::ConstByteView<common::kCanStartRecordSize> start) {
  namespace sr = common::can_start_record;
  auto& hardware = settings.hardware;
  hardware.Set(hw::kBaudRateForCan, start.Get(sr::kBaudRateForCan));
  hardware.Set(hw::kMeasureLatenzTime, start.Get(sr::kMeasureLatenzTime));
  hardware.Set(hw::kLookAheadDesPosiMaxNo, start.Get(sr::kLookAheadDesPosiMaxNo));
  hardware.Set(hw::kInterruptCycle, start.Get(sr::kInterruptCycle));
  hardware.Set(hw::kTimeForGlobalSynPeriod, start.Get(sr::kTimeForGlobalSynPeriod));
  hardware.Set(hw::kSynMaxWaitTime, start.Get(sr::kSynMaxWaitTime));
}

void ClearCanTiming(KernelSettings& settings) {
  auto& hardware = settings.hardware;
  hardware.Set(hw::kBaudRateForCan, 0);
  hardware.Set(hw::kMeasureLatenzTime, 0);
  hardware.Set(hw::kLookAheadDesPosiMaxNo, 0);
  hardware.Set(hw::kInterruptCycle, 0);
  hardware.Set(hw::kTimeForGlobalSynPeriod, 0);
  hardware.Set(hw::kSynMaxWaitTime, 0);
}

}  // namespace

AfterCommand HandleOpenHardware(Kernel& kernel) {
  namespace sr = common::can_start_record;
  // A second opening would tear down the running cycle under the
  // applications that use it; the link is opened once per kernel.
  if (kernel.driverLink->IsOpen()) {
    WriteResult(kernel, common::kKernelOutOfResources);
    return AfterCommand::KeepServing;
  }

  const auto start = *kernel.Block().Window<common::kCanStartRecordSize>(cb::kPayloadOffset);
  // The name is bounded to its field whatever the block holds.
  const std::string_view deviceName = start.GetText(sr::kDeviceName);
  auto& name = kernel.settings.deviceName;
  name.fill('\0');
  std::copy_n(deviceName.begin(), std::min(deviceName.size(), name.size() - 1), name.begin());

  const common::StatusCode opened =
      kernel.driverLink->OpenCanDevice(kernel.instance.channel, start);
  if (opened == common::kKernelSuccess) {
    KernelSettings& settings = kernel.settings;
    if (kernel.instance.channel == common::Channel::NoCan) {
      ClearCanTiming(settings);
    } else {
      TakeCanTiming(settings, start);
      settings.normalTimerResolution = start.Get(sr::kWindowsTimerRes);
      settings.pathTimerResolution = start.Get(sr::kPathWindowsTimerRes);
      // What the cycle waits, not what the record asked for.
      settings.exchangeTimeoutMilliseconds = ExchangeTimeoutFromStartRecord(start);
      settings.normalPeriodActive = false;
      settings.pathPeriodActive = false;
      if (SetTimerResolution(TimerPeriod::Begin, settings.normalTimerResolution)) {
        settings.normalPeriodActive = true;
      }
    }
    settings.watchProcessId = start.Get(sr::kWatchProcessId);
    kernel.savedSettings = settings;
  }
  // A CNC configuration never outlives the opening of the hardware.
  kernel.data.state.SetCncInitialised(false);
  WriteResult(kernel, opened);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetDataRecord(Kernel& kernel) {
  if (!kernel.data.state.IsCncInitialised()) {
    WriteResult(kernel, common::kKernelCncNotInitialized);
    return AfterCommand::KeepServing;
  }
  // No operation of the kernel writes its data record, so its eight words
  // are zero. The result word keeps the application's preset.
  constexpr std::size_t kDataRecordWords = 8;
  kernel.Block().Fill(cb::kPayloadOffset, kDataRecordWords * sizeof(std::uint32_t), 0);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

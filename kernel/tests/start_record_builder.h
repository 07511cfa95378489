// CAN start records (the payload of command 4) for the kernel's tests and
// benchmarks.
#pragma once

#include <cstdint>

#include "common/kernel_link_records.h"

namespace vantor::kernel::testing {

struct StartSettings {
  std::uint8_t interfaceType = 2;
  std::uint8_t channel = 1;
  std::uint8_t bitRateCode = 3;
  std::uint32_t latencyMeasurement = 1;
  std::uint32_t interruptCycle = 2048;
  std::uint32_t syncPeriod = 10000;
  std::uint32_t syncWait = 300;
  std::uint32_t exchangeTimeoutMs = 1500;
  const char* deviceName = "tarnis1";
};

inline common::CanStartRecord StartRecord(const StartSettings& settings) {
  namespace sr = common::can_start_record;
  common::CanStartRecord start;
  start.Set(sr::kCanInterface, settings.interfaceType);
  start.Set(sr::kKernelModus, settings.channel);
  start.Set(sr::kBaudRateForCan, settings.bitRateCode);
  start.Set(sr::kMeasureLatenzTime, settings.latencyMeasurement);
  start.Set(sr::kInterruptCycle, settings.interruptCycle);
  start.Set(sr::kTimeForGlobalSynPeriod, settings.syncPeriod);
  start.Set(sr::kSynMaxWaitTime, settings.syncWait);
  start.Set(sr::kRealTimeThreadIntWaitTime, settings.exchangeTimeoutMs);
  static_cast<void>(start.SetText(sr::kDeviceName, settings.deviceName));
  return start;
}

}  // namespace vantor::kernel::testing

#include "kernel/core/driver_link_records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/driver_requests.h"

namespace vantor::kernel {

namespace sr = common::can_start_record;
namespace rr = common::run_record;

common::RunRecord BuildRunRecord(CanStartRecordView start) noexcept {
  common::RunRecord run;
  run.Set(rr::kInterfaceKind, start.Get(sr::kCanInterface));
  run.Set(rr::kChannel, start.Get(sr::kKernelModus));
  run.Set(rr::kLatencyMeasurement, start.Get(sr::kMeasureLatenzTime) != 0 ? 1 : 0);
  run.Set(rr::kTickClockDivider, kKernelTickClockDivider);
  run.Set(rr::kBitRateCode, start.Get(sr::kBaudRateForCan));
  run.Set(rr::kCycleDivider, TicksForMicroseconds(start.Get(sr::kInterruptCycle)));
  run.Set(rr::kRunMode, rr::kRunModeBuffered);
  run.Set(rr::kSendTick, 0);
  run.Set(rr::kFillLimit, kKernelRingFillLimit);
  // The poll interval is a 16-bit tick count widened to the field's 32 bits.
  run.Set(rr::kPollInterval, TicksForMicroseconds(start.Get(sr::kTimeForGlobalSynPeriod)));
  run.Set(rr::kPollBudget, static_cast<std::int32_t>(start.Get(sr::kSynMaxWaitTime)));
  return run;
}

std::string DevicePathFromStartRecord(CanStartRecordView start) {
  const std::string_view name = start.GetText(sr::kDeviceName);
  std::string path(common::kUserDevicePrefix);
  path.append(name.substr(0, sr::kMaxDeviceNameLength));
  return path;
}

DriverVersionTextBuffer FormatDriverVersion(
    common::ConstByteView<common::kDriverVersionRecordSize> record) {
  namespace vr = common::driver_version_record;
  // Four words of at most five digits and three dots: 23 characters and the
  // terminator at most.
  std::array<char, 32> full{};
  std::snprintf(
      full.data(), full.size(), "%02u.%02u.%02u.%02u",
      static_cast<unsigned>(record.Get(vr::kMajor)), static_cast<unsigned>(record.Get(vr::kMinor)),
      static_cast<unsigned>(record.Get(vr::kZero)), static_cast<unsigned>(record.Get(vr::kBuild)));
  DriverVersionTextBuffer text{};
  std::copy_n(full.begin(), kDriverVersionTextCapacity, text.begin());
  text.back() = '\0';
  return text;
}

}  // namespace vantor::kernel

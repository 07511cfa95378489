// What the kernel puts into the driver's records when it opens the link, and
// what it makes of the driver's answers: the run record built from the CAN
// start record, the device path and the version text (the exchange time-out:
// exchange_timeout.h).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "common/driver_records.h"
#include "common/kernel_link_records.h"
#include "kernel/core/exchange_timeout.h"

namespace vantor::kernel {

using CanStartRecordView = common::ConstByteView<common::kCanStartRecordSize>;

// The kernel's fixed choices for a run: the tick clock at divider 4, the
// buffered run mode with the ring filled to at most 498 entries.
inline constexpr std::uint8_t kKernelTickClockDivider = 4;
inline constexpr std::int16_t kKernelRingFillLimit = 498;
// Microseconds of the start record over one tick (512 us at divider 4).
inline constexpr double kTicksPerMicrosecond = 0.001953125;

// Interface types whose driver starts a run: the parallel-port adapter and
// the PCI card. A PC/104 interface is served without a run request.
constexpr bool InterfaceTakesRunRequest(std::uint8_t interfaceType) noexcept {
  return interfaceType == static_cast<std::uint8_t>(common::InterfaceType::Dongle) ||
         interfaceType == static_cast<std::uint8_t>(common::InterfaceType::Pci);
}

constexpr bool IsKnownInterfaceType(std::uint8_t interfaceType) noexcept {
  return interfaceType <= static_cast<std::uint8_t>(common::InterfaceType::Pci);
}

// Ticks that a span of microseconds takes, plus one, truncated; a span
// longer than the field can hold gives the largest field value instead of a
// wrapped one that the driver would take for a short cycle.
inline std::int16_t TicksForMicroseconds(std::uint32_t microseconds) noexcept {
  const double ticks = std::trunc(static_cast<double>(microseconds) * kTicksPerMicrosecond + 1.0);
  constexpr double kLargest = std::numeric_limits<std::int16_t>::max();
  return static_cast<std::int16_t>(std::min(ticks, kLargest));
}

// The driver's cycle for a start record's `InterruptCycle`: whole cycle
// divider ticks of 512 us. The drives take one set-point per cycle, so this,
// not the configured value, is the period the kernel plans and times with.
inline std::uint32_t DriverCycleMicroseconds(std::uint32_t interruptCycle) noexcept {
  return static_cast<std::uint32_t>(common::run_record::CycleMicroseconds(
      TicksForMicroseconds(interruptCycle), kKernelTickClockDivider));
}

common::RunRecord BuildRunRecord(CanStartRecordView start) noexcept;

// `\\.\` and the device name of the start record, bounded to its 20
// characters whatever the block holds.
std::string DevicePathFromStartRecord(CanStartRecordView start);

// The driver's version as the complete status reports it: major, minor, the
// zero word and the build, each in two digits at least, joined by dots
// ("01.70.00.10"). Words above 99 lengthen it; the text is cut to its 22
// characters.
inline constexpr std::size_t kDriverVersionTextCapacity = 22;
using DriverVersionTextBuffer = std::array<char, kDriverVersionTextCapacity + 1>;
DriverVersionTextBuffer FormatDriverVersion(
    common::ConstByteView<common::kDriverVersionRecordSize> record);

}  // namespace vantor::kernel

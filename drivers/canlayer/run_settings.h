// The run record checked and turned into the settings of one run.
#pragma once

#include <cstdint>

#include "common/driver_records.h"
#include "common/driver_status.h"

namespace vantor::canlayer {

enum class RunMode : std::uint8_t { kFixed = 0, kBuffered = 1 };

struct RunSettings {
  bool latencyMeasurement = false;
  std::uint8_t tickClockDivider = 0;  // d: one tick = d x 128 microseconds
  std::uint8_t bitRateCode = 0;
  std::int16_t cycleDivider = 0;  // N: ticks per cycle
  RunMode mode = RunMode::kFixed;
  std::int16_t sendTick = 0;      // fixed cycle
  std::int16_t fillLimit = 0;     // buffered cycle
  std::int32_t pollInterval = 0;  // buffered cycle, ticks
  std::int32_t pollBudget = 0;    // buffered cycle, microseconds
};

struct RunRecordCheck {
  common::DriverStatus status = common::kDriverInvalidRunRecord;
  RunSettings settings{};
};

// Checks every field of a run record against the driver's own interface
// kind and channel; kDriverInvalidRunRecord for the first field that breaks
// its rule. Bit-rate code 6 (800 kbit/s) has no timing row and is refused.
RunRecordCheck CheckRunRecord(common::ConstByteView<common::kRunRecordSize> record,
                              common::InterfaceKind ownKind, std::uint8_t ownChannel) noexcept;

// N x d x 128 microseconds.
std::uint32_t CycleTimeMicroseconds(std::uint8_t tickDivider, std::int16_t cycleDivider) noexcept;

// N x d x 128 microseconds in performance-counter ticks of `frequency`,
// plus one, computed so that nothing overflows.
std::int64_t CycleLengthTicks(std::uint8_t tickDivider, std::int16_t cycleDivider,
                              std::int64_t frequency) noexcept;

}  // namespace vantor::canlayer

// Records of the driver requests other than the cyclic exchange: the run
// record, latency and run-time answers, the channel-2 resources, the port
// records and the version, and the bit-rate table of the 82527.
//
// All records are little-endian and packed; a status word at the offset
// of driver_requests.h overwrites the input that lay there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/kernel_object_names.h"
#include "common/wire_record.h"

namespace vantor::common {

// The driver's interface kind: 0 parallel-port adapter, 1 PC/104 (served by
// no driver of ours), 2 PCI card.
using InterfaceKind = InterfaceType;

// ---- RunRecord (24 bytes, input of IOCTL_CAN_START_RUN) ------------------------------
inline constexpr std::size_t kRunRecordSize = 24;
using RunRecord = ByteRecord<kRunRecordSize>;
static_assert(sizeof(RunRecord) == 24);

namespace run_record {
inline constexpr Field<std::uint8_t, 0> kInterfaceKind{};
inline constexpr Field<std::uint8_t, 1> kChannel{};
inline constexpr Field<std::uint8_t, 2> kLatencyMeasurement{};
inline constexpr Field<std::uint8_t, 3> kTickClockDivider{};  // 1..15; tick = d x 128 us
inline constexpr Field<std::uint8_t, 4> kBitRateCode{};
inline constexpr Field<std::int16_t, 6> kCycleDivider{};  // N > 0: ticks per cycle
inline constexpr Field<std::uint8_t, 8> kRunMode{};
inline constexpr Field<std::int16_t, 10> kSendTick{};      // mode 0: 0 .. N-1
inline constexpr Field<std::int16_t, 12> kFillLimit{};     // mode 1: at most 498
inline constexpr Field<std::int32_t, 16> kPollInterval{};  // mode 1: ticks, at least 1
inline constexpr Field<std::int32_t, 20> kPollBudget{};    // mode 1: microseconds, at least 1
inline constexpr Field<std::uint32_t, 0> kStatus{};        // written over bytes 0..3
static_assert(kPollBudget.kEnd == kRunRecordSize);

inline constexpr std::uint8_t kRunModeFixed = 0;
inline constexpr std::uint8_t kRunModeBuffered = 1;
inline constexpr std::uint8_t kMinTickClockDivider = 1;
inline constexpr std::uint8_t kMaxTickClockDivider = 15;
inline constexpr std::int16_t kMaxFillLimit = 498;
// One tick lasts d x 128 microseconds: the controller's clock output
// divided by d, 2,048,000,000 / 16,000,000 microseconds per divider step.
inline constexpr std::uint64_t kTickMicrosecondsPerDivider = 128;

// Cycle time in microseconds for N ticks of divider d, in 64 bits.
constexpr std::uint64_t CycleMicroseconds(std::int64_t cycleDivider,
                                          std::uint64_t tickDivider) noexcept {
  return cycleDivider <= 0
             ? 0
             : static_cast<std::uint64_t>(cycleDivider) * tickDivider * kTickMicrosecondsPerDivider;
}
}  // namespace run_record

// ---- Bit rates of the 82527 (8 MHz system clock, jump width 2 quanta) -----------------
struct BitRateTiming {
  std::uint32_t bitsPerSecond;
  std::uint8_t timing0;  // bit-timing register 0
  std::uint8_t timing1;  // bit-timing register 1
};

inline constexpr std::size_t kBitRateCodeCount = 8;
// Code 6 (800 kbit/s) is offered by the configuration: at 8 MHz it takes ten
// quanta of 125 ns (1 + 6 + 3, sample point at 70 %), 0x40 / 0x25.
inline constexpr std::array<BitRateTiming, kBitRateCodeCount> kBitRateTimings = {{
    {10000, 0x5F, 0x7F},
    {20000, 0x4F, 0x7F},
    {50000, 0x47, 0x6B},
    {125000, 0x43, 0x49},
    {250000, 0x41, 0x49},
    {500000, 0x40, 0x49},
    {800000, 0x40, 0x25},
    {1000000, 0x40, 0x23},
}};

constexpr std::optional<BitRateTiming> BitRateTimingOf(std::uint32_t code) noexcept {
  if (code >= kBitRateCodeCount) return std::nullopt;
  return kBitRateTimings[code];
}

// The bit rate that two timing registers give at the controller's 8 MHz:
// quantum = (prescaler + 1) / 8 MHz, bit = 1 + (tseg1 + 1) + (tseg2 + 1) quanta.
constexpr std::uint32_t BitRateOfTiming(std::uint8_t timing0, std::uint8_t timing1) noexcept {
  constexpr std::uint32_t kSystemClockHz = 8000000;
  const std::uint32_t prescaler = (timing0 & 0x3Fu) + 1;
  const std::uint32_t tseg1 = (timing1 & 0x0Fu) + 1;
  const std::uint32_t tseg2 = ((timing1 >> 4) & 0x07u) + 1;
  return kSystemClockHz / (prescaler * (1 + tseg1 + tseg2));
}

namespace detail {
constexpr bool BitRateTableIsExact() noexcept {
  for (const auto& row : kBitRateTimings) {
    if (BitRateOfTiming(row.timing0, row.timing1) != row.bitsPerSecond) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::BitRateTableIsExact());

// ---- LatencyRecord (40 bytes, IOCTL_CAN_GET_LATENCY_TIME) ------------------------------
inline constexpr std::size_t kLatencyRecordSize = 40;
using LatencyRecord = ByteRecord<kLatencyRecordSize>;
static_assert(sizeof(LatencyRecord) == 40);
namespace latency_record {
inline constexpr Field<std::uint32_t, 0> kCycleMicroseconds{};
// Performance-counter ticks.
inline constexpr Field<std::uint32_t, 4> kInterruptIntervalMin{};
inline constexpr Field<std::uint32_t, 8> kInterruptIntervalMax{};
inline constexpr Field<std::uint32_t, 12> kCompletionIntervalMin{};
inline constexpr Field<std::uint32_t, 16> kCompletionIntervalMax{};
inline constexpr Field<std::uint64_t, 24> kCounterFrequency{};
inline constexpr Field<std::uint32_t, 32> kStatus{};
static_assert(kStatus.kEnd + 4 == kLatencyRecordSize);
}  // namespace latency_record

// ---- RunTimeRecord (24 bytes, IOCTL_CAN_GET_RUN_TIME) ----------------------------------
inline constexpr std::size_t kRunTimeRecordSize = 24;
using RunTimeRecord = ByteRecord<kRunTimeRecordSize>;
static_assert(sizeof(RunTimeRecord) == 24);
namespace run_time_record {
inline constexpr Field<std::uint64_t, 0> kTicksSinceStart{};
inline constexpr Field<std::uint64_t, 8> kCounterFrequency{};
inline constexpr Field<std::uint32_t, 16> kStatus{};
static_assert(kStatus.kEnd + 4 == kRunTimeRecordSize);
}  // namespace run_time_record

// ---- ChannelResources (48 bytes, channel 1 hands them to channel 2) -------------------
inline constexpr std::size_t kChannelResourcesSize = 48;
using ChannelResources = ByteRecord<kChannelResourcesSize>;
static_assert(sizeof(ChannelResources) == 48);
namespace channel_resources {
inline constexpr Field<std::uint32_t, 0> kInterruptVector{};
inline constexpr Field<std::uint32_t, 4> kInterruptLevel{};  // low byte used
inline constexpr Field<std::uint32_t, 8> kProcessorAffinity{};
inline constexpr Field<std::uint32_t, 12> kInterruptMode{};  // 1 latched, 0 level-sensitive
inline constexpr Field<std::uint64_t, 16> kBridgeWindowAddress{};
inline constexpr Field<std::uint32_t, 24> kBridgeWindowLength{};
inline constexpr Field<std::uint64_t, 32> kControllerWindowAddress{};
inline constexpr Field<std::uint32_t, 40> kControllerWindowLength{};
static_assert(kControllerWindowLength.kEnd + 4 == kChannelResourcesSize);
}  // namespace channel_resources

// ---- Port records (parallel-port driver) ------------------------------------------------
inline constexpr std::size_t kStaticPortSlotCount = 16;

// StaticPortTable: 16 slots {u8 kind, u8 reserved, u16 port}, then the status.
inline constexpr std::size_t kStaticPortTableSize = 68;
using StaticPortTable = ByteRecord<kStaticPortTableSize>;
static_assert(sizeof(StaticPortTable) == 68);
namespace static_port_table {
inline constexpr std::size_t kSlotSize = 4;
inline constexpr std::size_t kSlotKind = 0;
inline constexpr std::size_t kSlotPort = 2;  // u16
inline constexpr std::uint8_t kKindUnused = 0;
inline constexpr std::uint8_t kKindRead = 1;
inline constexpr std::uint8_t kKindWrite = 2;
inline constexpr Field<std::uint32_t, 64> kStatus{};
constexpr std::size_t SlotOffset(std::size_t slot) noexcept {
  return slot < kStaticPortSlotCount ? kSlotSize * slot : kNoOffset;
}
static_assert(kSlotSize * kStaticPortSlotCount == kStatus.kOffset);
static_assert(kStatus.kEnd == kStaticPortTableSize);
}  // namespace static_port_table

// Access record: 16 slots {u8 access flag, u8 value}, then the status.
inline constexpr std::size_t kStaticPortAccessSize = 36;
using StaticPortAccess = ByteRecord<kStaticPortAccessSize>;
static_assert(sizeof(StaticPortAccess) == 36);
namespace static_port_access {
inline constexpr std::size_t kSlotSize = 2;
inline constexpr std::size_t kSlotAccessFlag = 0;  // 1 = access this slot now
inline constexpr std::size_t kSlotValue = 1;
inline constexpr Field<std::uint32_t, 32> kStatus{};
constexpr std::size_t SlotOffset(std::size_t slot) noexcept {
  return slot < kStaticPortSlotCount ? kSlotSize * slot : kNoOffset;
}
static_assert(kSlotSize * kStaticPortSlotCount == kStatus.kOffset);
static_assert(kStatus.kEnd == kStaticPortAccessSize);
}  // namespace static_port_access

// IOCTL_CAN_DYN_PORT_IN: 2 bytes in (the port), 8 bytes out.
inline constexpr std::size_t kDynPortInInputSize = 2;
inline constexpr std::size_t kDynPortInOutputSize = 8;
namespace dyn_port_in {
inline constexpr Field<std::uint16_t, 0> kPort{};    // input
inline constexpr Field<std::uint8_t, 0> kValue{};    // output
inline constexpr Field<std::uint32_t, 4> kStatus{};  // output
}  // namespace dyn_port_in

// IOCTL_CAN_DYN_PORT_OUT: {u8 value, u8 reserved, u16 port} in, the status out.
inline constexpr std::size_t kDynPortOutSize = 4;
namespace dyn_port_out {
inline constexpr Field<std::uint8_t, 0> kValue{};
inline constexpr Field<std::uint16_t, 2> kPort{};
inline constexpr Field<std::uint32_t, 0> kStatus{};
}  // namespace dyn_port_out

// ---- DriverVersionRecord (10 bytes, IOCTL_CAN_GET_VERSION) ------------------------------
inline constexpr std::size_t kDriverVersionRecordSize = 10;
using DriverVersionRecord = ByteRecord<kDriverVersionRecordSize>;
static_assert(sizeof(DriverVersionRecord) == 10);
namespace driver_version_record {
inline constexpr Field<std::uint16_t, 0> kInterfaceKind{};
inline constexpr Field<std::uint16_t, 2> kMajor{};
inline constexpr Field<std::uint16_t, 4> kMinor{};
inline constexpr Field<std::uint16_t, 6> kZero{};
inline constexpr Field<std::uint16_t, 8> kBuild{};
static_assert(kBuild.kEnd == kDriverVersionRecordSize);
}  // namespace driver_version_record

struct DriverVersion {
  std::uint16_t interfaceKind;
  std::uint16_t major;
  std::uint16_t minor;
  std::uint16_t zero;
  std::uint16_t build;
};
inline constexpr DriverVersion kPciDriverVersion{2, 1, 70, 0, 10};
inline constexpr DriverVersion kParallelPortDriverVersion{0, 1, 55, 0, 41};
inline constexpr DriverVersion kPciDriverVersion155{2, 1, 55, 0, 41};

// ---- Channel-2 attach input ---------------------------------------------------------------
inline constexpr std::size_t kChannelTwoAttachInputSize = 1;  // u8 tick clock divider

}  // namespace vantor::common

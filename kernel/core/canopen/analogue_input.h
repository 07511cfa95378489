// A drive's analogue input and its distance regulator (maker object
// 0x2055): the conversion switched on and off with its transmit PDO, the
// regulator's working area and range, the regulator itself with the motion
// PDO that carries its state, and the reads of its parameters. The limits
// of the regulator's range follow the gear of a gantry pair, and are
// computed here so that no product wraps and no division is by zero.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Subindices of object 0x2055.
namespace analogue {
inline constexpr std::uint8_t kCoupling = 1;   // 0 none, 1 master of a pair, 2 slave
inline constexpr std::uint8_t kValue = 4;      // 16 bits, in the A/D PDO
inline constexpr std::uint8_t kFirstArea = 5;  // 5 to 8, two bytes each
inline constexpr std::uint8_t kFactorNumerator = 9;
inline constexpr std::uint8_t kFactorDenominator = 10;
inline constexpr std::uint8_t kResponse = 11;
inline constexpr std::uint8_t kStart = 12;
inline constexpr std::uint8_t kValid = 13;  // in the A/D PDO
inline constexpr std::uint8_t kRange = 14;
inline constexpr std::uint8_t kGantryUncoupled = 15;
inline constexpr std::uint8_t kGantrySteps = 16;
inline constexpr std::uint8_t kRegulatorState = 17;  // in the motion PDO
inline constexpr std::uint8_t kRegulatorOn = 20;
inline constexpr std::uint8_t kInRange = 21;  // in the A/D PDO
inline constexpr std::uint8_t kCouplingMaster = 1;
inline constexpr std::uint8_t kCouplingSlave = 2;
}  // namespace analogue

// The largest range the drive's regulator takes: 127 steps of 32767.
inline constexpr std::uint32_t kRegulatorRangeSteps = 127;
inline constexpr std::uint32_t kRegulatorRangeLimit = 127u * 32767u;
static_assert(kRegulatorRangeLimit == 4161409u);
// The smallest response value the drive is given.
inline constexpr std::uint16_t kMinimumResponse = 5;
// The A/D PDO and its CAN object: sent on request, polled this often (ms).
inline constexpr std::uint16_t kAnalogueTpdo = 3;
inline constexpr std::int32_t kAnaloguePeriod = 300;

// How a node's slave drives stand to the regulator: none, or coupled when
// every slave shares the node's gear (the range then scales with it).
struct RegulatorCoupling {
  bool hasSlave = false;
  bool coupled = false;
  GearRatio gear{};
};

// 1 when the node has no axis entries or every one holds the node's gear.
bool IsGearSharedWithAxes(const NodeObject& node) noexcept;
RegulatorCoupling DescribeCoupling(const NodeObject& node) noexcept;

// What code 78 writes for a range: sub 15 and sub 16 (on the node alone
// without a slave, else on the node and its slaves), or !valid.
struct RegulatorRange {
  bool valid = false;
  std::uint8_t uncoupled = 1;
  std::uint16_t steps = 1;
};
RegulatorRange CheckRegulatorRange(std::int32_t range, const RegulatorCoupling& coupling) noexcept;

// The range limit code 81 reports.
std::uint32_t RegulatorRangeLimit(const RegulatorCoupling& coupling) noexcept;
// The cycle-rate value code 81 reports: cycles per second, 1 to 32767.
std::uint16_t RegulatorCycleRate(double cycleSeconds) noexcept;

// The working area as code 78 gives it.
struct RegulatorArea {
  std::array<std::int16_t, 4> area{};
  std::uint16_t response = 0;
  std::int32_t range = 0;
};
// Refusals of the area's values themselves (not of its range).
bool IsAreaValid(const RegulatorArea& area) noexcept;

// ---- Services on node `nodeIndex` (0-based); the caller holds the node
// ---- mutexes. SDO failures answer their result.
// Conversion on: coupling subs, the A/D PDO mapped, then sub 12 0 and 1.
common::StatusCode StartAnalogueConversion(ServiceContext& context,
                                           std::uint32_t nodeIndex) noexcept;
// Conversion off: sub 12 0, the A/D PDO off, coupling sub 1 back to 0.
common::StatusCode StopAnalogueConversion(ServiceContext& context,
                                          std::uint32_t nodeIndex) noexcept;
// The A/D PDO switched off alone, after a failed start.
common::StatusCode SwitchAnalogueTpdoOff(ServiceContext& context, std::uint32_t nodeIndex) noexcept;
common::StatusCode WriteRegulatorArea(ServiceContext& context, std::uint32_t nodeIndex,
                                      const RegulatorArea& area, bool hasSlave,
                                      const RegulatorRange& range) noexcept;
// Regulator on: sub 20 0, the motion PDO with the regulator state, sub 20 1.
// Off: sub 20 0, the motion PDO without it, and the position demand read
// back into `demand`.
common::StatusCode SwitchRegulator(ServiceContext& context, std::uint32_t nodeIndex, bool on,
                                   std::int32_t& demand) noexcept;

// What code 81 reads of the drive, in the order of its answer.
inline constexpr std::array<std::uint8_t, 8> kParameterSubs = {2, 3, 5, 6, 7, 8, 9, 10};
struct RegulatorParameters {
  std::array<std::uint16_t, kParameterSubs.size()> values{};
  std::uint16_t response = 0;
  std::uint32_t range = 0;
};
common::StatusCode ReadRegulatorParameters(ServiceContext& context, std::uint32_t nodeIndex,
                                           RegulatorParameters& read) noexcept;

// A repeated reset: every node's conversion and regulator off; a failed
// download leaves its flag set, goes on and answers kKernelOperationFailed.
common::StatusCode SwitchAnalogueFunctionsOff(ServiceContext& context) noexcept;

}  // namespace vantor::canopen

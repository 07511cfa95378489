// The parameter record of a node's request slot: the arming thread fills it,
// the step function reads its request from it and leaves its answer in it.
//
// One record serves every kind of request, each with its own layout over the
// same bytes, so it is a byte array with named fields per layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wire_record.h"

namespace vantor::canopen {

inline constexpr std::size_t kRequestRecordSize = 64;
using RequestRecord = common::ByteRecord<kRequestRecordSize>;
static_assert(sizeof(RequestRecord) == kRequestRecordSize);

// An SDO transfer; also the 8-byte record of the masked SDO services.
namespace sdo_request {
inline constexpr common::Field<std::uint32_t, 0> kValue{};
// After a refused answer: 1 when the object or subindex does not exist.
inline constexpr common::Field<std::uint8_t, 0> kObjectMissing{};
inline constexpr common::Field<std::uint8_t, 4> kSize{};  // 1, 2 or 4
inline constexpr common::Field<std::uint8_t, 5> kSubindex{};
inline constexpr common::Field<std::uint16_t, 6> kIndex{};
inline constexpr std::size_t kRecordLength = 8;
static_assert(kIndex.kEnd == kRecordLength);
}  // namespace sdo_request

namespace raw_frame_request {
inline constexpr common::Field<std::uint16_t, 0> kCobId{};
inline constexpr common::Field<std::uint8_t, 2> kLength{};
inline constexpr common::BytesField<3, 8> kData{};
static_assert(kData.kEnd == 11);
}  // namespace raw_frame_request

namespace nmt_request {
// Not 0: the frame addresses the slot's own node, else `kNodeId`.
inline constexpr common::Field<std::uint32_t, 0> kUseOwnNode{};
inline constexpr common::Field<std::uint32_t, 4> kNodeId{};
inline constexpr common::Field<std::uint32_t, 8> kCommand{};
static_assert(kCommand.kEnd == 12);
}  // namespace nmt_request

namespace enable_request {
// 1 when the sequence found the drive already enabled.
inline constexpr common::Field<std::uint32_t, 0> kAlreadyEnabled{};
// Signed: it runs below zero to end the wait after a fault reset.
inline constexpr common::Field<std::int32_t, 4> kFaultResetCountdown{};
static_assert(kFaultResetCountdown.kEnd == 8);
}  // namespace enable_request

namespace disable_request {
inline constexpr common::Field<std::int32_t, 0> kFaultResetCountdown{};
}  // namespace disable_request

namespace option_request {
inline constexpr common::Field<std::uint32_t, 0> kOptionChanged{};
}  // namespace option_request

// A PDO's configuration: its communication parameters, then its mapping.
namespace pdo_mapping_request {
inline constexpr common::Field<std::uint32_t, 0> kDirection{};  // 0 receive, 1 transmit
inline constexpr common::Field<std::uint16_t, 4> kPdoNumber{};  // 1..4
inline constexpr common::Field<std::uint8_t, 6> kObjectCount{};
inline constexpr common::Field<std::uint8_t, 7> kMapped{};  // entries written so far
inline constexpr common::Field<std::uint32_t, 8> kCobId{};
inline constexpr common::Field<std::uint8_t, 12> kTransmissionType{};
inline constexpr common::Field<std::uint16_t, 14> kInhibitTime{};  // transmit only
inline constexpr common::Field<std::uint16_t, 18> kEventTimer{};   // transmit only
// Mapping entries in the CiA 301 format (index, subindex, bit length).
inline constexpr std::size_t kEntriesOffset = 20;
inline constexpr std::size_t kMaxEntries = (kRequestRecordSize - kEntriesOffset) / 4;
static_assert(kEventTimer.kEnd <= kEntriesOffset);
constexpr std::uint32_t MappingEntry(std::uint16_t index, std::uint8_t subindex,
                                     std::uint8_t bits) noexcept {
  return (static_cast<std::uint32_t>(index) << 16) | (static_cast<std::uint32_t>(subindex) << 8) |
         bits;
}
static_assert(MappingEntry(0x6040, 0, 16) == 0x60400010);
}  // namespace pdo_mapping_request

// The homing sequence of a node without further axes.
namespace homing_request {
// 1: the drive may be left with another homing method than its own.
inline constexpr common::Field<std::uint32_t, 0> kMethodChanged{};
// The drive's own homing method, read in test mode.
inline constexpr common::Field<std::uint8_t, 4> kSavedMethod{};
static_assert(kSavedMethod.kEnd == 5);
}  // namespace homing_request

namespace position_request {
inline constexpr common::Field<std::uint32_t, 0> kValue{};
}  // namespace position_request

}  // namespace vantor::canopen

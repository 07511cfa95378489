// The standard request area's payload of the user-PDO commands 47 to 50, as
// block offsets: the application writes them, the kernel reads them and
// writes its answer into the same places.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

// Code 47: a new CAN object (the caller's 44-byte assignment record, as it
// stands, at the payload's start).
namespace assign_pdo {
inline constexpr Field<std::uint32_t, 0x44> kDirection{};  // 0 receive
inline constexpr Field<std::uint32_t, 0x48> kGuarding{};
inline constexpr Field<std::uint8_t, 0x4C> kNodeId{};
inline constexpr Field<std::uint16_t, 0x4E> kCobId{};
inline constexpr Field<std::uint8_t, 0x50> kLength{};
inline constexpr Field<std::uint32_t, 0x54> kCompare{};
inline constexpr BytesField<0x58, 8> kMask{};
inline constexpr BytesField<0x60, 8> kExpected{};
inline constexpr Field<std::uint32_t, 0x68> kAnswerTimeout{};
inline constexpr Field<std::uint32_t, 0x6C> kPeriod{};
inline constexpr std::size_t kRecordSize = 44;
static_assert(kDirection.kOffset == communication_block::kPayloadOffset);
static_assert(kPeriod.kEnd == communication_block::kPayloadOffset + kRecordSize);
}  // namespace assign_pdo

// Code 48: the object to remove.
namespace remove_pdo {
inline constexpr Field<std::uint16_t, 0x44> kCobId{};
static_assert(kCobId.kOffset == communication_block::kPayloadOffset);
}  // namespace remove_pdo

// Codes 49 and 50: the caller's 16-byte data record at the payload's start.
// Code 49 answers data, length and mismatch flag; code 50 takes data and
// length and answers length and mismatch flag.
namespace pdo_data {
inline constexpr Field<std::uint16_t, 0x44> kCobId{};
inline constexpr BytesField<0x46, 8> kData{};
inline constexpr Field<std::uint8_t, 0x4E> kLength{};
inline constexpr Field<std::uint32_t, 0x50> kMismatch{};
inline constexpr std::size_t kRecordSize = 16;
static_assert(kCobId.kOffset == communication_block::kPayloadOffset);
static_assert(kMismatch.kEnd == communication_block::kPayloadOffset + kRecordSize);
}  // namespace pdo_data

}  // namespace vantor::common

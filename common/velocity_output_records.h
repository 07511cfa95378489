// The standard request area's payload of the velocity-proportional output
// commands 101 (start), 103 (working parameters) and 104 (read), as block
// offsets. Code 102 (stop) has no payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

// Code 101: the output's mode and delay, then its CAN object as the user
// PDO assignment describes one.
namespace velocity_output_start {
inline constexpr Field<std::uint32_t, 0x44> kMode{};  // 1 or 2
inline constexpr Field<std::uint32_t, 0x48> kDelayMicroseconds{};
inline constexpr Field<std::uint32_t, 0x4C> kDirection{};  // must not be 0
inline constexpr Field<std::uint32_t, 0x50> kGuarding{};   // must be 0
inline constexpr Field<std::uint8_t, 0x54> kNodeId{};
inline constexpr Field<std::uint16_t, 0x56> kCobId{};
inline constexpr Field<std::uint32_t, 0x58> kDataLength{};  // 1 to 4
// The five words copied into the object: compare flag, mask, expected data.
inline constexpr Field<std::uint32_t, 0x5C> kCompare{};
inline constexpr BytesField<0x60, 8> kMask{};
inline constexpr BytesField<0x68, 8> kExpected{};
inline constexpr Field<std::uint32_t, 0x70> kAnswerTimeout{};
inline constexpr Field<std::uint32_t, 0x74> kPeriod{};
inline constexpr std::size_t kRecordSize = 52;
static_assert(kMode.kOffset == communication_block::kPayloadOffset);
static_assert(kCompare.kOffset == communication_block::kPayloadOffset + 24);
static_assert(kExpected.kEnd == communication_block::kPayloadOffset + 44);
static_assert(kPeriod.kEnd == communication_block::kPayloadOffset + kRecordSize);
}  // namespace velocity_output_start

// Code 103.
namespace velocity_output_parameters {
inline constexpr Field<std::uint32_t, 0x44> kEnable{};
inline constexpr Field<std::int32_t, 0x48> kGain{};
inline constexpr Field<std::int32_t, 0x4C> kDivisor{};  // must not be 0
inline constexpr Field<std::int32_t, 0x50> kOffset{};
inline constexpr Field<std::uint32_t, 0x54> kDelayMicroseconds{};
inline constexpr std::size_t kRecordSize = 20;
static_assert(kEnable.kOffset == communication_block::kPayloadOffset);
static_assert(kDelayMicroseconds.kEnd == communication_block::kPayloadOffset + kRecordSize);
}  // namespace velocity_output_parameters

// Code 104's answer. While the output is off, active, mode, the start
// delay and everything from the enable word on read 0.
namespace velocity_output_state {
inline constexpr Field<std::uint32_t, 0x44> kActive{};
inline constexpr Field<std::uint32_t, 0x48> kMode{};
inline constexpr Field<std::uint32_t, 0x4C> kLargestDelayMicroseconds{};
inline constexpr Field<std::uint32_t, 0x50> kSmallestDelayMicroseconds{};
inline constexpr Field<std::uint32_t, 0x54> kDelayMicroseconds{};
inline constexpr Field<std::uint32_t, 0x58> kEnable{};
inline constexpr Field<std::int32_t, 0x5C> kGain{};
inline constexpr Field<std::int32_t, 0x60> kDivisor{};
inline constexpr Field<std::int32_t, 0x64> kOffset{};
inline constexpr Field<std::uint32_t, 0x68> kEffectiveDelayMicroseconds{};
inline constexpr std::size_t kRecordSize = 40;
static_assert(kActive.kOffset == communication_block::kPayloadOffset);
static_assert(kEffectiveDelayMicroseconds.kEnd ==
              communication_block::kPayloadOffset + kRecordSize);
}  // namespace velocity_output_state

}  // namespace vantor::common

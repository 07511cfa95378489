// The stop-on-input commands' records: the 36-byte parameter record of
// codes 87 (set) and 88 (read back), and the payloads of codes 89 to 93,
// as offsets in the standard request area.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

// The parameter record, offsets within the record.
namespace stop_on_input_parameters {
inline constexpr std::size_t kRecordSize = 36;
inline constexpr Field<std::uint8_t, 0> kMode{};         // 0 off, 1 module, 2 one drive, 3 mask
inline constexpr Field<std::uint8_t, 1> kInputMask{};    // drive object sub 9
inline constexpr Field<std::uint8_t, 2> kInputLevels{};  // drive object sub 10
inline constexpr Field<std::uint32_t, 4> kPerMoveStopValue{};
inline constexpr Field<std::uint32_t, 8> kAxisMask{};  // mode 3
inline constexpr Field<std::int32_t, 12> kInputAxis{};
inline constexpr Field<std::int32_t, 16> kInputSlave{};  // -1: the axis's own drive
inline constexpr Field<std::uint32_t, 20> kSubindex6Value{};
inline constexpr Field<std::uint32_t, 24> kSubindex7Flag{};
inline constexpr Field<std::uint8_t, 28> kSourceNodeId{};
inline constexpr Field<std::uint16_t, 30> kSourceCobId{};
inline constexpr Field<std::uint32_t, 32> kSourceValid{};
static_assert(kSourceValid.kEnd == kRecordSize);
using Record = ByteRecord<kRecordSize>;
static_assert(sizeof(Record) == kRecordSize);
// Where codes 87 and 88 carry the record in the block.
inline constexpr std::size_t kBlockOffset = communication_block::kPayloadOffset;
}  // namespace stop_on_input_parameters

// Code 89's answer: one signed 64-bit wire value per interpolated axis.
namespace stop_on_input_latched {
inline constexpr std::size_t kAxes = 8;
inline constexpr std::size_t kValueSize = 8;
inline constexpr std::size_t kRecordSize = kAxes * kValueSize;
inline constexpr BytesField<0x44, kRecordSize> kPositions{};
static_assert(kPositions.kOffset == communication_block::kPayloadOffset);
}  // namespace stop_on_input_latched

// Code 90: the bit asked for and its value; code 91: the port byte.
namespace stop_on_input_bit {
inline constexpr Field<std::uint8_t, 0x44> kBitNumber{};
inline constexpr Field<std::uint8_t, 0x45> kBitValue{};
}  // namespace stop_on_input_bit
namespace stop_on_input_port {
inline constexpr Field<std::uint8_t, 0x44> kPort{};
}  // namespace stop_on_input_port

// Code 92: non-zero arms, 0 disarms.
namespace stop_on_input_run {
inline constexpr Field<std::uint32_t, 0x44> kArm{};
}  // namespace stop_on_input_run

// Code 93: a drive's input 4.
namespace main_amplifier_input {
inline constexpr Field<std::int32_t, 0x44> kAxisIndex{};
inline constexpr Field<std::uint8_t, 0x48> kAxis{};         // must be 0
inline constexpr Field<std::uint8_t, 0x49> kInputNumber{};  // must be 4
inline constexpr Field<std::uint8_t, 0x4A> kInputSet{};
static_assert(kInputSet.kOffset == communication_block::kPayloadOffset + 6);
}  // namespace main_amplifier_input

}  // namespace vantor::common

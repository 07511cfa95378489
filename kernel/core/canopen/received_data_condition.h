// The driver's received-data condition: which answer frames of the drives
// count as in order and which report a condition (the watched inputs of a
// drive stop).
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "common/wire_record.h"

namespace vantor::canopen {

// The 10-byte source of the condition, as a node keeps it: three words
// (mask, pattern, condition mask of bytes 4 and 5) and four option bytes
// (byte 6 of mask and pattern, one pair per selector).
inline constexpr std::size_t kConditionSourceSize = 10;
using ConditionSource = common::ByteRecord<kConditionSourceSize>;
static_assert(sizeof(ConditionSource) == kConditionSourceSize);
namespace condition_source {
inline constexpr common::Field<std::uint16_t, 0> kMaskWord{};
inline constexpr common::Field<std::uint16_t, 2> kPatternWord{};
inline constexpr common::Field<std::uint16_t, 4> kConditionWord{};
inline constexpr common::Field<std::uint8_t, 6> kFirstMaskOption{};
inline constexpr common::Field<std::uint8_t, 7> kFirstPatternOption{};
inline constexpr common::Field<std::uint8_t, 8> kSecondMaskOption{};
inline constexpr common::Field<std::uint8_t, 9> kSecondPatternOption{};
static_assert(kSecondPatternOption.kEnd == kConditionSourceSize);
}  // namespace condition_source

// Selector 1 takes the first option pair, any other value the second.
inline constexpr std::uint32_t kFirstOptionPair = 1;

// Writes the 24-byte condition of the exchange: every byte 0 but bytes 4-6
// of mask and pattern and bytes 4-5 of the condition mask.
void WriteReceivedDataCondition(std::uint32_t selector, const ConditionSource& source,
                                common::ExchangeBuffer& exchange) noexcept;

}  // namespace vantor::canopen

#include "kernel/core/canopen/received_data_condition.h"

namespace vantor::canopen {

namespace {

// Bytes 4 and 5 from `word`, byte 6 from `option`, as the little-endian
// 64-bit field of the condition.
constexpr std::uint64_t ConditionBytes(std::uint16_t word, std::uint8_t option) noexcept {
  return (std::uint64_t{word} << 32) | (std::uint64_t{option} << 48);
}
static_assert(ConditionBytes(0x1234, 0x56) == 0x0056'1234'0000'0000);

}  // namespace

void WriteReceivedDataCondition(std::uint32_t selector, const ConditionSource& source,
                                common::ExchangeBuffer& exchange) noexcept {
  namespace cs = condition_source;
  namespace rdc = common::received_data_condition;
  const bool first = selector == kFirstOptionPair;
  const std::uint8_t maskOption =
      first ? source.Get(cs::kFirstMaskOption) : source.Get(cs::kSecondMaskOption);
  const std::uint8_t patternOption =
      first ? source.Get(cs::kFirstPatternOption) : source.Get(cs::kSecondPatternOption);
  common::ReceivedDataCondition condition;
  condition.Set(rdc::kMask, ConditionBytes(source.Get(cs::kMaskWord), maskOption));
  condition.Set(rdc::kPattern, ConditionBytes(source.Get(cs::kPatternWord), patternOption));
  condition.Set(rdc::kConditionMask, ConditionBytes(source.Get(cs::kConditionWord), 0));
  exchange.CopyIn(common::exchange_buffer::kReceivedDataConditionOffset, condition.Bytes());
}

}  // namespace vantor::canopen

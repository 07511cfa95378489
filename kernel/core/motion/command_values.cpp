#include "kernel/core/motion/command_values.h"

#include "common/byte_order.h"
#include "kernel/core/motion/tolerances.h"
#include "kernel/core/motion/wire_values.h"

namespace vantor::motion {

bool IsNoMoveMarker(double value, bool int32Values) noexcept {
  // 0x3FFFFFFFFFFFFFFF and 2^62 are the same double once converted.
  return value == (int32Values ? kNoMoveMarker32 : kNoMoveMarker64);
}

std::optional<CommandValues> ReadCommandValues(std::span<const std::uint8_t> bytes,
                                               std::size_t count, bool int32Values) noexcept {
  const std::size_t width = int32Values ? 4 : kWireValueSize;
  if (count > kMaxCommandValues || bytes.size() / width < count) return std::nullopt;
  CommandValues values;
  values.count = count;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* at = bytes.data() + i * width;
    const double value =
        int32Values ? static_cast<double>(common::LoadLittleEndian<std::int32_t>(at))
                    : WireValueToReal(common::LoadLittleEndian<std::int64_t>(at));
    values.items[i] = CommandValue{value, !IsNoMoveMarker(value, int32Values)};
  }
  return values;
}

}  // namespace vantor::motion

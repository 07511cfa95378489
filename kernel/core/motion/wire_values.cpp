#include "kernel/core/motion/wire_values.h"

#include <cmath>

#include "common/byte_order.h"

namespace vantor::motion {

namespace {

constexpr double kTwoPow32 = 4294967296.0;
constexpr double kTwoPow63 = 9223372036854775808.0;

}  // namespace

double WireValueToReal(std::int64_t value) noexcept {
  // Work on the magnitude as an unsigned 64-bit number, so that the most
  // negative value (whose negation does not fit) converts exactly as well.
  const bool negative = value < 0;
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (negative) magnitude = ~magnitude + 1u;
  const auto high = static_cast<std::uint32_t>(magnitude >> 32);
  const auto low = static_cast<std::uint32_t>(magnitude & 0xFFFFFFFFu);
  // high * 2^32 is exact; the sum rounds once, to the nearest double.
  const double real = static_cast<double>(high) * kTwoPow32 + static_cast<double>(low);
  return negative ? -real : real;
}

double WireValueToReal(std::span<const std::uint8_t, kWireValueSize> bytes) noexcept {
  return WireValueToReal(common::LoadLittleEndian<std::int64_t>(bytes.data()));
}

std::int64_t RealToWireValue(double x) noexcept {
  if (std::isnan(x)) return 0;
  if (std::fabs(x) >= kTwoPow63) return x > 0.0 ? INT64_MAX : -INT64_MAX;
  const double magnitude = std::fabs(x);
  const double high = std::trunc(magnitude / kTwoPow32);
  const double low = std::trunc(magnitude - high * kTwoPow32);
  const std::uint64_t unsignedMagnitude =
      (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint64_t>(low);
  const auto result = static_cast<std::int64_t>(unsignedMagnitude);
  return x < 0.0 ? -result : result;
}

void RealToWireValue(double x, std::span<std::uint8_t, kWireValueSize> bytes) noexcept {
  common::StoreLittleEndian<std::int64_t>(bytes.data(), RealToWireValue(x));
}

}  // namespace vantor::motion

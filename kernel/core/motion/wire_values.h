// Conversion between the 64-bit interface values of the command payloads
// and the kernel's doubles.
//
// An interface value is a signed 64-bit integer stored little-endian, low
// 32-bit word first, two's complement. Doubles are rounded to the nearest
// value on the way in and truncated toward zero, saturating, on the way out.
#pragma once

#include <cstdint>
#include <span>

namespace vantor::motion {

inline constexpr std::size_t kWireValueSize = 8;

// The nearest double of a signed 64-bit interface value.
double WireValueToReal(std::int64_t value) noexcept;

// Reads the 8 bytes at `bytes` (low word first).
double WireValueToReal(std::span<const std::uint8_t, kWireValueSize> bytes) noexcept;

// The interface value of x, truncated toward zero (2.9 -> 2, -2.9 -> -2).
// Magnitudes of 2^63 and more saturate to +(2^63 - 1) or -(2^63 - 1); NaN,
// which has no integer value, becomes 0.
std::int64_t RealToWireValue(double x) noexcept;

// Writes RealToWireValue(x) into the 8 bytes at `bytes` (low word first).
void RealToWireValue(double x, std::span<std::uint8_t, kWireValueSize> bytes) noexcept;

}  // namespace vantor::motion

// Little-endian loads and stores of scalars at any byte address.
//
// Every record that crosses a process or driver boundary is little-endian
// and packed, so fields sit at unaligned addresses; all access goes through
// memcpy, which is the one well-defined way to read an unaligned 64-bit value.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vantor::common {

// The scalar types that appear in wire records.
template <typename T>
concept WireScalar = std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int8_t> ||
    std::is_same_v<T, std::uint16_t> || std::is_same_v<T, std::int16_t> ||
    std::is_same_v<T, std::uint32_t> || std::is_same_v<T, std::int32_t> ||
    std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t> ||
    std::is_same_v<T, double>;

namespace detail {

template <typename Unsigned>
constexpr Unsigned ReverseBytes(Unsigned value) noexcept {
  Unsigned reversed = 0;
  for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
    reversed = static_cast<Unsigned>((reversed << 8) | (value & 0xFFu));
    value = static_cast<Unsigned>(value >> 8);
  }
  return reversed;
}

template <std::size_t Bytes>
struct UnsignedOfSize;
template <>
struct UnsignedOfSize<1> {
  using Type = std::uint8_t;
};
template <>
struct UnsignedOfSize<2> {
  using Type = std::uint16_t;
};
template <>
struct UnsignedOfSize<4> {
  using Type = std::uint32_t;
};
template <>
struct UnsignedOfSize<8> {
  using Type = std::uint64_t;
};

}  // namespace detail

// Reads a T stored little-endian at `source` (no alignment required).
template <WireScalar T>
inline T LoadLittleEndian(const void* source) noexcept {
  using Raw = typename detail::UnsignedOfSize<sizeof(T)>::Type;
  Raw raw;
  std::memcpy(&raw, source, sizeof(raw));
  if constexpr (std::endian::native == std::endian::big) {
    raw = detail::ReverseBytes(raw);
  }
  return std::bit_cast<T>(raw);
}

// Writes `value` little-endian at `target` (no alignment required).
template <WireScalar T>
inline void StoreLittleEndian(void* target, T value) noexcept {
  using Raw = typename detail::UnsignedOfSize<sizeof(T)>::Type;
  auto raw = std::bit_cast<Raw>(value);
  if constexpr (std::endian::native == std::endian::big) {
    raw = detail::ReverseBytes(raw);
  }
  std::memcpy(target, &raw, sizeof(raw));
}

}  // namespace vantor::common

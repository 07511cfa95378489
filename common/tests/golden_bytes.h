// Test helpers: an independent little-endian reader over raw record bytes,
// so the golden-layout tests never check the accessors with themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantor::common::testing {

inline std::uint64_t RawLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset,
                                     std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) {
    value = (value << 8) | bytes[offset + i - 1];
  }
  return value;
}

// One expected field: its offset and width as the layout gives them, and
// the raw value expected there.
struct GoldenField {
  const char* name;
  std::size_t offset;
  std::size_t width;
  std::uint64_t raw;
};

}  // namespace vantor::common::testing

// The numeric values of a move record: 32-bit integers or 64-bit interface
// values, each either a number or the marker of an unprogrammed coordinate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "kernel/core/motion/motion_inputs.h"

namespace vantor::motion {

struct CommandValue {
  double value = 0.0;
  bool programmed = false;
};

// Values of the longest record: an arc by sweep angle has plane axes,
// direction, sweep and two centre values before one value per coordinate.
inline constexpr std::size_t kMaxCommandValues = 6 + kMaxCoordinates;

struct CommandValues {
  std::array<CommandValue, kMaxCommandValues> items{};
  std::size_t count = 0;

  std::span<const CommandValue> View() const noexcept { return {items.data(), count}; }
};

// Reads `count` values from `bytes` (4 bytes each when `int32Values`, else
// 8-byte interface values). Nothing when the bytes are too short or more
// values are asked for than a record holds.
std::optional<CommandValues> ReadCommandValues(std::span<const std::uint8_t> bytes,
                                               std::size_t count, bool int32Values) noexcept;

// True for the marker of an unprogrammed coordinate, in either width.
bool IsNoMoveMarker(double value, bool int32Values) noexcept;

}  // namespace vantor::motion

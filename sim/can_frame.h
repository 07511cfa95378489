#pragma once

#include <array>
#include <cstdint>

namespace vantor::sim {

// One CAN 2.0A frame as it travels on a simulated bus.
struct CanFrame {
  static constexpr std::uint16_t kMaxIdentifier = 0x7FF;
  static constexpr std::uint8_t kMaxLength = 8;

  std::uint16_t identifier = 0;  // 11-bit identifier
  bool remote = false;           // remote transmission request
  std::uint8_t length = 0;       // data length code, 0..8
  std::array<std::uint8_t, kMaxLength> data{};

  friend bool operator==(const CanFrame&, const CanFrame&) = default;
};

}  // namespace vantor::sim

#include "kernel/core/motion/wire_values.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>

namespace vantor::motion {
namespace {

struct ToRealCase {
  std::uint64_t bits;
  double expected;
};

TEST(WireValueToReal, ConvertsToTheNearestDouble) {
  const ToRealCase cases[] = {
      {0, 0.0},
      {1, 1.0},
      {0xFFFFFFFFFFFFFFFFu, -1.0},
      {0xFFFFFFFF00000000u, -4294967296.0},
      {0x8000000000000000u, -9223372036854775808.0},
      {0x7FFFFFFFFFFFFFFFu, 9223372036854775808.0},
      {0x3FFFFFFFFFFFFFFFu, 4611686018427387904.0},
      {0x4000000000000000u, 4611686018427387904.0},
      {0x0000000100000001u, 4294967297.0},
      {0x0020000000000001u, 9007199254740992.0},  // 2^53 + 1 ties to even
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WireValueToReal(static_cast<std::int64_t>(c.bits)), c.expected) << std::hex << c.bits;
  }
}

TEST(WireValueToReal, ReadsLowWordFirst) {
  const std::array<std::uint8_t, 8> bytes = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(WireValueToReal(std::span<const std::uint8_t, 8>(bytes)), -4294967296.0);
}

struct ToWireCase {
  double value;
  std::uint64_t expected;
};

TEST(RealToWireValue, TruncatesTowardZeroAndSaturates) {
  const ToWireCase cases[] = {
      {2.9, 2},
      {-2.9, 0xFFFFFFFFFFFFFFFEu},
      {-1.5, 0xFFFFFFFFFFFFFFFFu},
      {4294967296.5, 0x100000000u},
      {1e19, 0x7FFFFFFFFFFFFFFFu},
      {-1e19, 0x8000000000000001u},
      {9223372036854775808.0, 0x7FFFFFFFFFFFFFFFu},
      {-9223372036854775808.0, 0x8000000000000001u},
      {INFINITY, 0x7FFFFFFFFFFFFFFFu},
      {-INFINITY, 0x8000000000000001u},
      {NAN, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<std::uint64_t>(RealToWireValue(c.value)), c.expected) << c.value;
  }
}

TEST(RealToWireValue, WritesLowWordFirstAndRoundTrips) {
  std::array<std::uint8_t, 8> bytes{};
  RealToWireValue(-4294967296.0, std::span<std::uint8_t, 8>(bytes));
  const std::array<std::uint8_t, 8> expected = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(bytes, expected);
  for (const double value : {0.0, 1.0, -7.0, 123456789012.0, -9007199254740992.0}) {
    EXPECT_EQ(WireValueToReal(RealToWireValue(value)), value);
  }
}

}  // namespace
}  // namespace vantor::motion

// The kernel's conversions of 64-bit interface values, checked at the
// values where a conversion can go wrong: sign, truncation, saturation and
// values without an integer.
#include "kernel/core/motion/wire_values.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vantor::kernel {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr double kTwoTo63 = 9223372036854775808.0;

TEST(RealToWireValueTest, TruncatesTowardZeroAndSaturatesSymmetrically) {
  const struct {
    double real;
    std::int64_t wire;
  } cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {2.9, 2},
      {-2.9, -2},
      {-1.5, -1},
      {4294967296.5, 4294967296},
      {-4294967296.5, -4294967296},
      {1e19, kMax},
      {-1e19, -kMax},
      {kTwoTo63, kMax},
      {-kTwoTo63, -kMax},
      {std::numeric_limits<double>::infinity(), kMax},
      {-std::numeric_limits<double>::infinity(), -kMax},
      {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(motion::RealToWireValue(c.real), c.wire) << c.real;
  }
}

TEST(RealToWireValueTest, WritesTheLowWordFirst) {
  std::array<std::uint8_t, motion::kWireValueSize> bytes{};
  motion::RealToWireValue(-1e19, bytes);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{0x01, 0, 0, 0, 0, 0, 0, 0x80}));
  motion::RealToWireValue(-1.5, bytes);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(WireValueToRealTest, GivesTheNearestDouble) {
  const struct {
    std::int64_t wire;
    double real;
  } cases[] = {
      {0, 0.0},
      {1, 1.0},
      {-1, -1.0},
      {static_cast<std::int64_t>(0xFFFFFFFF00000000ULL), -4294967296.0},
      {kMin, -kTwoTo63},
      {kMax, kTwoTo63},
      {0x3FFFFFFFFFFFFFFF, 4611686018427387904.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(motion::WireValueToReal(c.wire), c.real) << c.wire;
  }
  const std::array<std::uint8_t, 8> lowWordFirst = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(motion::WireValueToReal(lowWordFirst), -4294967296.0);
}

}  // namespace
}  // namespace vantor::kernel

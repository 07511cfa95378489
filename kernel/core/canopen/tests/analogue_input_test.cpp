// The distance regulator's range against its limit: without a slave drive,
// with an uncoupled one and with one coupled through a shared gear, where
// the range scales with the gear; what the drives are given for it; and
// the limits and cycle rate the parameter read reports.
#include "kernel/core/canopen/analogue_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vantor::canopen {
namespace {

RegulatorCoupling Coupled(std::uint32_t numerator, std::uint32_t denominator) {
  return {true, true, {numerator, denominator, 0}};
}
constexpr RegulatorCoupling kAlone{false, false, {}};
constexpr RegulatorCoupling kUncoupled{true, false, {3, 1, 0}};

struct RangeCase {
  const char* name;
  RegulatorCoupling coupling;
  std::int32_t range;
  bool valid;
  std::uint8_t uncoupled;
  std::uint16_t steps;
};

TEST(RegulatorRange, TheRangeIsHeldToWhatTheDriveTakes) {
  const RangeCase cases[] = {
      {"alone: not limited here", kAlone, -5, true, 1, 1},
      {"alone: any size", kAlone, 0x7FFFFFFF, true, 1, 1},
      {"uncoupled: the limit", kUncoupled, 4161409, true, 1, 32768},
      {"uncoupled: one beyond", kUncoupled, 4161410, false, 0, 0},
      {"uncoupled: negative", kUncoupled, -1, false, 0, 0},
      {"uncoupled: zero", kUncoupled, 0, true, 1, 1},
      {"coupled 1/1: the limit", Coupled(1, 1), 4161409, true, 0, 32768},
      {"coupled 1/1: one beyond", Coupled(1, 1), 4161410, false, 0, 0},
      {"coupled 2/1: scaled 4161408", Coupled(2, 1), 2080704, true, 0, 32767},
      {"coupled 2/1: scaled 4161410", Coupled(2, 1), 2080705, false, 0, 0},
      {"coupled 1/2: scaled down", Coupled(1, 2), 8322818, true, 0, 32768},
      {"coupled: negative", Coupled(1, 1), -1, false, 0, 0},
      // 0x40000000 x 4 wraps to 0 in 32 bits.
      {"coupled: a product beyond 32 bits", Coupled(4, 1), 0x40000000, false, 0, 0},
      {"coupled: a product that wraps small", Coupled(0x80000000u, 1), 2, false, 0, 0},
      {"coupled: zero denominator", Coupled(1, 0), 1, false, 0, 0},
      {"coupled: zero numerator", Coupled(0, 1), 0x7FFFFFFF, true, 0, 1},
  };
  for (const RangeCase& c : cases) {
    const RegulatorRange r = CheckRegulatorRange(c.range, c.coupling);
    EXPECT_EQ(r.valid, c.valid) << c.name;
    if (!c.valid || !r.valid) continue;
    EXPECT_EQ(r.uncoupled, c.uncoupled) << c.name;
    EXPECT_EQ(r.steps, c.steps) << c.name;
  }
}

TEST(RegulatorRange, TheLimitReportedFollowsTheCoupling) {
  const struct {
    const char* name;
    RegulatorCoupling coupling;
    std::uint32_t limit;
  } cases[] = {
      {"alone", kAlone, 0x7FFFFFFF},
      {"uncoupled", kUncoupled, 4161409},
      {"coupled 1/1", Coupled(1, 1), 4161409},
      {"coupled 2/1: truncated toward zero", Coupled(2, 1), 2080704},
      {"coupled 1/2", Coupled(1, 2), 8322818},
      {"coupled, zero numerator", Coupled(0, 1), 0x7FFFFFFF},
      {"coupled, a limit beyond the answer", Coupled(1, 0xFFFFFFFFu), 0x7FFFFFFF},
      {"coupled, zero denominator", Coupled(1, 0), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(RegulatorRangeLimit(c.coupling), c.limit) << c.name;
  // What the limit reports is what the range check takes.
  for (const std::uint32_t numerator : {1u, 2u, 3u, 7u}) {
    const std::uint32_t limit = RegulatorRangeLimit(Coupled(numerator, 1));
    EXPECT_TRUE(CheckRegulatorRange(static_cast<std::int32_t>(limit), Coupled(numerator, 1)).valid)
        << numerator;
    EXPECT_FALSE(
        CheckRegulatorRange(static_cast<std::int32_t>(limit + 1), Coupled(numerator, 1)).valid)
        << numerator;
  }
}

TEST(RegulatorRange, TheCycleRateStaysInItsField) {
  const struct {
    double cycleSeconds;
    std::uint16_t rate;
  } cases[] = {
      {0.001, 1000}, {0.003, 333}, {2.0, 1},        {1e-6, 32767},
      {1e-9, 32767}, {0.0, 32767}, {-0.001, 32767},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RegulatorCycleRate(c.cycleSeconds), c.rate) << c.cycleSeconds;
  }
}

TEST(RegulatorArea, EachValueIsHeldToItsRange) {
  const RegulatorArea good{{-1024, 0, 1024, 5}, 1, 0};
  ASSERT_TRUE(IsAreaValid(good));
  const struct {
    const char* name;
    std::size_t at;
    std::int16_t value;
  } cases[] = {
      {"first below", 0, -1025}, {"first above", 0, 1025}, {"second below", 1, -1},
      {"third above", 2, 1025},  {"fourth below", 3, -1},
  };
  for (const auto& c : cases) {
    RegulatorArea a = good;
    a.area[c.at] = c.value;
    EXPECT_FALSE(IsAreaValid(a)) << c.name;
  }
  RegulatorArea noResponse = good;
  noResponse.response = 0;
  EXPECT_FALSE(IsAreaValid(noResponse));
}

TEST(RegulatorCoupling, ASlaveIsCoupledOnlyWhenItSharesTheNodesGear) {
  NodeObject node(NodeSetup{});
  EXPECT_FALSE(DescribeCoupling(node).hasSlave);
  node.axisCount = 1;
  node.gear = {2, 1, 0};
  node.axes[0].gear = {2, 1, 0};
  EXPECT_TRUE(DescribeCoupling(node).coupled);
  node.axes[0].gear = {2, 3, 0};
  EXPECT_FALSE(DescribeCoupling(node).coupled) << "denominator differs";
  node.axes[0].gear = {1, 1, 0};
  EXPECT_FALSE(DescribeCoupling(node).coupled) << "numerator differs";
  // Axes beyond the count do not take part.
  node.axes[0].gear = {2, 1, 0};
  node.axes[1].gear = {5, 5, 0};
  EXPECT_TRUE(DescribeCoupling(node).coupled);
}

}  // namespace
}  // namespace vantor::canopen

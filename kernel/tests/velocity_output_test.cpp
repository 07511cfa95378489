// The velocity-proportional output's ring, the value it sends, the final
// positions it writes with the drives' last set-points, the cycle's
// bookkeeping and the rules of its start.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/velocity_output.h"
#include "kernel/core/velocity_output_check.h"

namespace vantor::kernel {
namespace {

constexpr std::uint16_t kFullRing = kVelocityRingSize - 1;

VelocityOutput OutputOf(std::uint8_t dataLength, std::initializer_list<double> velocities = {}) {
  VelocityOutput output;
  output.gain = 1.0;
  output.divisor = 1.0;
  output.dataLength = dataLength;
  for (double v : velocities) PushPathVelocity(v, output);
  return output;
}

TEST(VelocityOutputValue, ScalesRoundsAndCapsToTheDataLength) {
  struct Case {
    const char* what;
    std::uint8_t length;
    double velocity;
    double gain, divisor, offset;
    std::int32_t sent;
  };
  const Case cases[] = {
      {"2 bytes above", 2, 40000.0, 1, 1, 0, 32767},
      {"2 bytes below", 2, -40000.0, 1, 1, 0, -32767},
      {"2 bytes inside", 2, -32766.6, 1, 1, 0, -32767},
      {"1 byte", 1, 200.0, 1, 1, 0, 127},
      {"1 byte negative", 1, -128.0, 1, 1, 0, -127},
      {"half away from zero", 1, 2.5, 1, 1, 0, 3},
      {"negative half", 1, -2.5, 1, 1, 0, -3},
      {"3 bytes", 3, 1e7, 1, 1, 0, 8388607},
      {"4 bytes", 4, 1e12, 1, 1, 0, 2147483647},
      {"4 bytes negative", 4, -1e12, 1, 1, 0, -2147483647},
      {"gain, divisor, offset", 2, 100.0, 3, 2, 7, 157},
      {"offset turns the sign", 2, 10.0, 1, -4, 1, -2},
      {"not a number counts as 0", 2, std::nan(""), 5, 1, 9, 9},
  };
  for (const Case& c : cases) {
    VelocityOutput output = OutputOf(c.length, {c.velocity});
    output.gain = c.gain;
    output.divisor = c.divisor;
    output.offset = c.offset;
    EXPECT_EQ(VelocityOutputValue(output), c.sent) << c.what;
    EXPECT_EQ(VelocityOutputValueOf(&output), c.sent) << c.what;
  }
}

TEST(VelocityOutputValue, AnEmptyRingSendsTheRoundedOffset) {
  for (const auto& [offset, sent] : {std::pair{12.6, 13}, {-12.5, -13}, {0.0, 0}}) {
    VelocityOutput output = OutputOf(2);
    output.gain = 50.0;
    output.offset = offset;
    EXPECT_EQ(VelocityOutputValue(output), sent) << offset;
  }
  // An output that is off (zero record) sends nothing but 0.
  EXPECT_EQ(VelocityOutputValue(VelocityOutput{}), 0);
  EXPECT_EQ(VelocityOutputValueOf(nullptr), 0);
}

TEST(VelocityOutputValue, ReadsTheDelayedEntryOrTheNewest) {
  struct Case {
    std::uint16_t delayCycles;
    std::uint16_t unchangedCount;
    std::int32_t sent;
  };
  // Five entries: a delay below fill - 1 reads that far past the oldest,
  // anything else the newest.
  const Case cases[] = {{0, 0, 10},   {2, 0, 30}, {3, 0, 40}, {4, 0, 50},
                        {498, 0, 50}, {1, 2, 40}, {2, 2, 50}, {0, 1, 20}};
  for (const Case& c : cases) {
    VelocityOutput output = OutputOf(2, {10, 20, 30, 40, 50});
    output.delayCycles = c.delayCycles;
    output.unchangedCount = c.unchangedCount;
    EXPECT_EQ(VelocityOutputValue(output), c.sent)
        << "delay " << c.delayCycles << " unchanged " << c.unchangedCount;
  }
  // Across the end of the ring.
  VelocityOutput wrapped = OutputOf(2);
  wrapped.readIndex = wrapped.writeIndex = kVelocityRingSize - 2;
  for (double v : {1.0, 2.0, 3.0, 4.0}) PushPathVelocity(v, wrapped);
  EXPECT_EQ(wrapped.writeIndex, 2);
  wrapped.delayCycles = 2;
  EXPECT_EQ(VelocityOutputValue(wrapped), 3);
  wrapped.delayCycles = 3;
  EXPECT_EQ(VelocityOutputValue(wrapped), 4) << "the newest sits just before index 2";
}

TEST(VelocityOutputRing, FillTrimAndPushAcrossTheEnd) {
  VelocityOutput output = OutputOf(2);
  output.readIndex = output.writeIndex = kVelocityRingSize - 3;
  for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) PushPathVelocity(v, output);
  EXPECT_EQ(VelocityOutputFill(output), 5);
  EXPECT_EQ(output.writeIndex, 2);

  TrimVelocityOutput(9, output);
  EXPECT_EQ(VelocityOutputFill(output), 5) << "a ring below the length asked for stays";
  TrimVelocityOutput(2, output);
  EXPECT_EQ(VelocityOutputFill(output), 2);
  EXPECT_EQ(output.readIndex, 0);
  EXPECT_EQ(VelocityOutputValue(output), 4) << "the oldest kept";
  TrimVelocityOutput(0, output);
  EXPECT_EQ(VelocityOutputFill(output), 0);
  EXPECT_EQ(VelocityOutputValue(output), 0);

  PushPathVelocity(7.0, output);
  output.unchangedCount = 2;
  ResetVelocityOutputIndexes(output);
  EXPECT_EQ(VelocityOutputFill(output), 0);
  EXPECT_EQ(output.readIndex, 0);
  EXPECT_EQ(output.writeIndex, 0);
  EXPECT_EQ(output.unchangedCount, 0);
}

TEST(VelocityOutputRing, AFullRingDropsItsOldestEntryAndStaysFull) {
  VelocityOutput output = OutputOf(4);
  for (int k = 0; k < kFullRing; ++k) PushPathVelocity(k, output);
  ASSERT_EQ(VelocityOutputFill(output), kFullRing);
  EXPECT_EQ(VelocityOutputValue(output), 0);

  PushPathVelocity(kFullRing, output);
  EXPECT_EQ(VelocityOutputFill(output), kFullRing) << "not emptied";
  EXPECT_EQ(VelocityOutputValue(output), 1) << "the oldest went";

  // Pushed on for several turns without a trim: always the newest 530.
  for (int k = kFullRing + 1; k < 3000; ++k) PushPathVelocity(k, output);
  EXPECT_EQ(VelocityOutputFill(output), kFullRing);
  EXPECT_EQ(VelocityOutputValue(output), 3000 - kFullRing);
  output.delayCycles = kMaxDelayCycles;
  EXPECT_EQ(VelocityOutputValue(output), 3000 - kFullRing + kMaxDelayCycles);
}

TEST(FillFinalPositions, WritesClampedScaledPositionsAndZeroVelocities) {
  std::vector<FinalPositionAxis> axes = {
      {1.4, false, 1.0, 0, 0},
      {3e9, false, 1.0, 1, 0},
      {-1.5, true, 1000.0, 2, 0},
      {-5e6, true, 1000.0, 3, 0},
      {std::nan(""), false, 1.0, 4, 77},
      {std::numeric_limits<double>::infinity(), true, 10.0, 5, -9},
      {8.0, false, 1.0, 6, 0},  // no such column
  };
  const std::int32_t expected[] = {1, 2147483647, -1500, -2147483647, 77, -9};
  common::ExchangeBuffer exchange;
  const auto value = [&](std::size_t entry, std::size_t axis) {
    return *exchange.Load<std::int32_t>(common::exchange_buffer::SetpointValueOffset(entry, axis));
  };
  static_cast<void>(
      exchange.Store<std::int32_t>(common::exchange_buffer::SetpointValueOffset(497, 0), 0x55));
  VelocityOutput output = OutputOf(2, {100.0});

  // Only entries 498 and 499 exist of the five asked for.
  FillFinalPositions(498, 5, axes, output, exchange);
  for (std::size_t entry : {498u, 499u}) {
    for (std::size_t axis = 0; axis < 6; ++axis) {
      EXPECT_EQ(value(entry, axis), expected[axis]) << entry << " axis " << axis;
    }
  }
  EXPECT_EQ(value(497, 0), 0x55) << "an entry before the first one";
  EXPECT_EQ(VelocityOutputFill(output), 3) << "one zero velocity per entry written";
  output.delayCycles = 1;
  EXPECT_EQ(VelocityOutputValue(output), 0);
  EXPECT_EQ(axes[0].lastWritten, 1) << "each written value is the axis' last";
  EXPECT_EQ(axes[4].lastWritten, 77);
}

TEST(VelocityOutputBookkeeping, CountsStalledSetpointsWhileTheRingRuns) {
  VelocityOutputBookkeeping book;
  VelocityOutput output = OutputOf(2);
  CountStalledSetpoints(0, common::exchange_buffer::kRingNotInUse, book, output);
  EXPECT_EQ(output.unchangedCount, 0) << "an idle ring counts nothing";
  const std::uint8_t running = common::exchange_buffer::kRingRunning;
  for (std::uint16_t expected : {1, 2, 2}) {
    CountStalledSetpoints(0, running, book, output);
    EXPECT_EQ(output.unchangedCount, expected);
  }
  CountStalledSetpoints(12, running, book, output);
  EXPECT_EQ(output.unchangedCount, 0);
  EXPECT_EQ(book.expectedQueueCount, 12);
  CountStalledSetpoints(-4, running, book, output);
  EXPECT_EQ(book.expectedQueueCount, 0) << "a negative count is none queued";

  FinishVelocityOutputCycle(true, 9, book);
  EXPECT_EQ(book.expectedQueueCount, 9);
  CountStalledSetpoints(9, running, book, output);
  EXPECT_EQ(output.unchangedCount, 1) << "the driver took none of the nine";
  FinishVelocityOutputCycle(false, 9, book);
  EXPECT_EQ(book.expectedQueueCount, 0);
}

TEST(VelocityOutputBookkeeping, KeepsWhatLiesAheadOfTheDrivesAndDrainsTheirBuffer) {
  VelocityOutput output = OutputOf(2);
  for (int k = 0; k < 40; ++k) PushPathVelocity(k, output);
  TrimToQueuedSetpoints(5, 20, output);
  EXPECT_EQ(VelocityOutputFill(output), 25);
  TrimToQueuedSetpoints(-3, 20, output);
  EXPECT_EQ(VelocityOutputFill(output), 20);

  // The queue is empty: the drive's buffer of 3 drains one entry a cycle.
  VelocityOutputBookkeeping book;
  output.unchangedCount = 2;
  for (std::uint16_t fill : {3, 2, 1, 1, 1}) {
    DrainDriveBuffer(3, book, output);
    EXPECT_EQ(VelocityOutputFill(output), fill);
    EXPECT_EQ(output.unchangedCount, 0);
  }
  EXPECT_EQ(book.leadCountdown, 0);
  EXPECT_EQ(VelocityOutputValue(output), 39) << "the newest stays";

  RestartWithRing(book, output);
  EXPECT_EQ(VelocityOutputFill(output), 0);
  EXPECT_EQ(book.leadRunning, 0u);
  PushPathVelocity(1.0, output);
  PushPathVelocity(2.0, output);
  DrainDriveBuffer(1, book, output);
  EXPECT_EQ(VelocityOutputFill(output), 1) << "a new drain starts at the depth again";
}

TEST(VelocityOutputDelay, CyclesAndMicroseconds) {
  EXPECT_EQ(DelayInCycles(80000, 0.002), 40);
  EXPECT_EQ(DelayInCycles(81000, 0.002), 41) << "rounded";
  EXPECT_EQ(DelayInCycles(80999, 0.002), 40);
  EXPECT_EQ(DelayInCycles(0xFFFFFFFF, 0.002), kMaxDelayCycles);
  EXPECT_EQ(DelayInCycles(80000, 0.0), 0);
  EXPECT_EQ(CyclesInMicroseconds(498, 0.002), 996000u);
  EXPECT_EQ(CyclesInMicroseconds(498, 0.0015), 747000u);
  EXPECT_EQ(CyclesInMicroseconds(498, std::nan("")), 0u);
}

class VelocityOutputStartRules : public ::testing::Test {
 protected:
  void SetUp() override { canopen::ResetCanObjectList(list_); }

  static VelocityOutputStart ValidStart() {
    VelocityOutputStart start;
    start.mode = 1;
    start.delayMicroseconds = 100000;
    start.direction = 1;
    start.nodeId = 20;
    start.cobId = 0x214;
    start.dataLength = 2;
    start.answerTimeout = 5000;
    start.period = 2000;
    return start;
  }

  std::uint32_t Check(const VelocityOutputStart& start, double cycleTime = 0.002) {
    return CheckVelPropOutputParams(start, {cycleTime, 40, &nodes_, &list_, &handwheel_});
  }

  canopen::NodeTable nodes_;
  canopen::CanObjectList list_;
  HandwheelSettings handwheel_;
};

TEST_F(VelocityOutputStartRules, TheDelayLiesBetweenTheFillLevelAndFourHundredNinetyEightCycles) {
  struct Case {
    double cycleTime;
    std::uint32_t delay;
    std::uint32_t valid;
  };
  const Case cases[] = {
      {0.002, 996000, 1}, {0.002, 996001, 0},  {0.002, 80000, 1},
      {0.002, 79999, 0},  {0.0015, 747000, 1}, {0.0015, 747001, 0},
      {0.0015, 60000, 1}, {0.0015, 59999, 0},  {0.0, 100000, 0},
  };
  for (const Case& c : cases) {
    VelocityOutputStart start = ValidStart();
    start.delayMicroseconds = c.delay;
    EXPECT_EQ(Check(start, c.cycleTime), c.valid) << c.cycleTime << " s, " << c.delay << " us";
  }
}

TEST_F(VelocityOutputStartRules, EachRuleRefusesOnItsOwn) {
  ASSERT_EQ(Check(ValidStart()), 1u);
  canopen::CanObjectParameters taken;
  taken.cobId = 0x294;
  ASSERT_NE(canopen::AppendCanObject(list_, taken), nullptr);
  struct Case {
    const char* what;
    void (*change)(VelocityOutputStart&, HandwheelSettings&);
    std::uint32_t valid;
  };
  const Case cases[] = {
      {"mode 0", [](auto& s, auto&) { s.mode = 0; }, 0},
      {"mode 2", [](auto& s, auto&) { s.mode = 2; }, 1},
      {"mode 3", [](auto& s, auto&) { s.mode = 3; }, 0},
      {"guarding", [](auto& s, auto&) { s.guarding = 1; }, 0},
      {"receive object", [](auto& s, auto&) { s.direction = 0; }, 0},
      {"period 0", [](auto& s, auto&) { s.period = 0; }, 0},
      {"period beyond 31 bits", [](auto& s, auto&) { s.period = 0x80000000; }, 0},
      {"time-out 0", [](auto& s, auto&) { s.answerTimeout = 0; }, 0},
      {"time-out beyond 31 bits", [](auto& s, auto&) { s.answerTimeout = 0xFFFFFFFF; }, 0},
      {"length 0", [](auto& s, auto&) { s.dataLength = 0; }, 0},
      {"length 1", [](auto& s, auto&) { s.dataLength = 1; }, 1},
      {"length 4", [](auto& s, auto&) { s.dataLength = 4; }, 1},
      {"length 5", [](auto& s, auto&) { s.dataLength = 5; }, 0},
      {"SYNC", [](auto& s, auto&) { s.cobId = 0x080; }, 0},
      {"an SDO answer", [](auto& s, auto&) { s.cobId = 0x581; }, 0},
      {"an object of the list", [](auto& s, auto&) { s.cobId = 0x294; }, 0},
      {"another node's PDO", [](auto& s, auto&) { s.cobId = 0x215; }, 0},
      {"node 0", [](auto& s, auto&) { s.nodeId = 0; }, 0},
      {"the linked handwheel's node",
       [](auto&, auto& h) {
         h.linked = 1;
         h.nodeId = 20;
       },
       0},
      {"a handwheel node that is not linked",
       [](auto&, auto& h) {
         h.linked = 0;
         h.nodeId = 20;
       },
       1},
  };
  for (const Case& c : cases) {
    VelocityOutputStart start = ValidStart();
    handwheel_ = {};
    c.change(start, handwheel_);
    EXPECT_EQ(Check(start), c.valid) << c.what;
  }
}

}  // namespace
}  // namespace vantor::kernel

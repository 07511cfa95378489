// The velocity-proportional output over the real channel-1 driver and
// simulated drives while a path runs: its value follows the path, and its
// object's frames on the bus carry it scaled, capped and ahead of the
// drives' set-points by the output's delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/velocity_output_records.h"
#include "kernel/core/velocity_output.h"
#include "kernel/tests/motion_bus_fixture.h"

namespace vantor::kernel {
namespace {

using testing::kOk;
using testing::kPathVelocity;
using testing::MotionOnTheBus;
using namespace std::chrono_literals;

// X on drive 1, Y on drive 2.
class VelocityOutputOnTheBusTest : public MotionOnTheBus {
 protected:
  VelocityOutputOnTheBusTest() : MotionOnTheBus({}) {}
};

// The velocity-proportional output follows the path: its value rises with
// the path velocity while the drives move and falls back to its offset once
// the motion has ended; its lead entries at the start cost no set-point.
TEST_F(VelocityOutputOnTheBusTest, TheVelocityOutputFollowsThePathAndFallsToItsOffsetAtTheEnd) {
  constexpr double kOffset = 7.0;
  // Sampled by the cycle itself: a sampling thread may be kept waiting for
  // the whole of a short path on a loaded machine.
  std::atomic<std::int32_t> largest{0};
  UnderLock([&](KernelData& data) {
    VelocityOutput& output = data.velocityOutput;
    output.gain = 1.0;
    output.divisor = 1.0;
    output.offset = kOffset;
    output.dataLength = 4;
    output.delayCycles = 5;
    data.state.velocityOutputActive = 1;
    beforeEveryCycle_ = [&] {
      const std::int32_t value = VelocityOutputValue(kernel_.data.velocityOutput);
      if (value > largest.load()) largest = value;
    };
    return 0;
  });
  QueueLines({{3000.0, 1500.0}});
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    UnderLock([&](KernelData& data) {
      ended = data.state.motionActive == 0;
      return 0;
    });
    std::this_thread::sleep_for(1ms);
  }
  UnderLock([&](KernelData&) {
    beforeEveryCycle_ = nullptr;
    return 0;
  });
  ASSERT_TRUE(ended);
  EXPECT_GT(largest.load(), 100 + kOffset) << "the output never followed the path";
  EXPECT_LE(largest.load(), kPathVelocity + kOffset + 1.0);
  UnderLock([&](KernelData& data) {
    EXPECT_EQ(VelocityOutputValue(data.velocityOutput), kOffset);
    return 0;
  });
  EXPECT_TRUE(WaitForPositions(3000, 1500))
      << "drives at " << PositionOf(1) << ", " << PositionOf(2);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u);
  }
}

// The velocity-proportional output as codes 101 and 103 set it up, its
// object served and scheduled by the cycle: its frames on the bus carry the
// offset at rest, the path velocity scaled while the path runs (ahead of
// the drives' set-points by the delay, with them without one), capped to
// the object's two bytes with its sign kept, and the offset again after
// the end.
TEST_F(VelocityOutputOnTheBusTest, TheVelocityOutputsFramesFollowThePathScaledAndCapped) {
  namespace cb = common::communication_block;
  namespace vs = common::velocity_output_start;
  namespace vp = common::velocity_output_parameters;
  namespace vr = common::velocity_output_state;
  constexpr std::uint16_t kOutputCobId = 0x214;  // no node's identifier here
  constexpr std::int32_t kOffset = 100;
  LogTheBus();
  UnderLock([&](KernelData&) {
    beforeExchange_ = [this](common::ExchangeBuffer& exchange) {
      steps_.ServeCanObjectList(exchange);
      steps_.ScheduleCanObjects(exchange);
    };
    return 0;
  });
  auto block = kernel_.Block();
  ASSERT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::GetVelPropOutputActPar)), kOk);
  const std::uint32_t delay = block.Get(vr::kSmallestDelayMicroseconds);
  block.Fill(cb::kPayloadOffset, vs::kRecordSize, 0);
  block.Set(vs::kMode, 1u);
  block.Set(vs::kDelayMicroseconds, delay);
  block.Set(vs::kDirection, 1u);
  block.Set(vs::kNodeId, std::uint8_t{20});
  block.Set(vs::kCobId, kOutputCobId);
  block.Set(vs::kDataLength, 2u);
  block.Set(vs::kAnswerTimeout, 20000u);
  block.Set(vs::kPeriod, 2000u);
  ASSERT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::ActivateVelPropOutputMode)), kOk);
  std::size_t seen = 0;
  // What the output sent during one line: its values, and when it first
  // left its offset against when drive 1 was first sent a set-point away
  // from its start.
  struct Sent {
    std::vector<std::int16_t> values;
    double firstMovedSeconds = -1.0;
    double firstSetpointMovedSeconds = -1.0;
    double Lead() const { return firstSetpointMovedSeconds - firstMovedSeconds; }
  };
  const std::uint16_t setpointCobId = UnderLock(
      [](KernelData& data) { return data.nodeConfiguration.Node(0)->can->setpointRpdoCobId; });
  const auto line = [&](double target, std::int32_t gain, std::int32_t divisor,
                        std::uint32_t delayMicroseconds) {
    block.Set(vp::kEnable, 1u);
    block.Set(vp::kGain, gain);
    block.Set(vp::kDivisor, divisor);
    block.Set(vp::kOffset, kOffset);
    block.Set(vp::kDelayMicroseconds, delayMicroseconds);
    Sent result;
    EXPECT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::SetVelPropOutputWorkPar)), kOk);
    const std::int32_t position = static_cast<std::int32_t>(target);
    QueueLines({{target, 0.0}});
    EXPECT_TRUE(WaitFor([](KernelData& data) { return data.state.motionActive == 0; }));
    EXPECT_TRUE(WaitForPositions(position, 0));
    const int ended = cycles_;
    EXPECT_TRUE(WaitFor([&](KernelData&) { return cycles_ >= ended + 20; }));
    const std::int32_t start = position == 0 ? 6000 : 0;
    for (const LoggedFrame& frame : FramesSince(seen)) {
      if (frame.cobId == kOutputCobId && frame.data.size() == 2) {
        const auto value = static_cast<std::int16_t>(frame.data[0] | (frame.data[1] << 8));
        result.values.push_back(value);
        if (value != kOffset && result.firstMovedSeconds < 0.0) {
          result.firstMovedSeconds = frame.seconds;
        }
      } else if (frame.cobId == setpointCobId && frame.data.size() >= 4 &&
                 result.firstSetpointMovedSeconds < 0.0) {
        std::int32_t sent = 0;
        std::memcpy(&sent, frame.data.data(), sizeof sent);
        if (sent != start) result.firstSetpointMovedSeconds = frame.seconds;
      }
    }
    EXPECT_GE(result.firstMovedSeconds, 0.0);
    EXPECT_GE(result.firstSetpointMovedSeconds, 0.0);
    return result;
  };
  constexpr double kCycleSeconds = 0.00256;

  // 5000 units/s x 3 / 2 + 100 = 7600, at the start's delay.
  const Sent delayed = line(6000.0, 3, 2, delay);
  ASSERT_GT(delayed.values.size(), 100u);
  EXPECT_EQ(delayed.values.front(), kOffset) << "at rest before the path";
  EXPECT_EQ(*std::max_element(delayed.values.begin(), delayed.values.end()), 7600)
      << "at the path velocity";
  EXPECT_EQ(*std::min_element(delayed.values.begin(), delayed.values.end()), kOffset);
  EXPECT_EQ(delayed.values.back(), kOffset) << "at rest after the path";

  // Without a delay the output changes with the set-points the drives are
  // sent; the delay moves it ahead of them.
  const Sent undelayed = line(0.0, 3, 2, 0);
  EXPECT_EQ(*std::max_element(undelayed.values.begin(), undelayed.values.end()), 7600);
  EXPECT_NEAR(undelayed.Lead(), 0.0, 4 * kCycleSeconds);
  EXPECT_GT(delayed.Lead(), undelayed.Lead() + 10 * kCycleSeconds);

  // 5000 units/s x -10 + 100 lies beyond two bytes: -32767.
  const Sent capped = line(6000.0, -10, 1, delay);
  EXPECT_EQ(*std::min_element(capped.values.begin(), capped.values.end()), -32767);
  EXPECT_EQ(*std::max_element(capped.values.begin(), capped.values.end()), kOffset);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u);
  }
  UnderLock([&](KernelData&) {
    beforeExchange_ = nullptr;
    return 0;
  });
}

}  // namespace
}  // namespace vantor::kernel

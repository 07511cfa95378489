// The handling-axis commands over the real channel-1 driver and simulated
// drives: drive 3 is a handling axis behind the interpolated drives 1 and
// 2. It moves to its target, turns in velocity mode, halts and stops where
// it stands; the handling mode switched on and off gives back the counts.
#include <gtest/gtest.h>

#include <cstdint>

#include "kernel/tests/motion_bus_fixture.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the bus fixture's helpers

namespace cb = common::communication_block;

constexpr std::uint32_t kHandlingAxis = 2;
constexpr std::uint8_t kHandlingDrive = 3;
constexpr std::int64_t kKeep = 0x3FFFFFFFFFFFFFFF;

class HandlingAxisCommandsOnTheBus : public MotionOnTheBus {
 protected:
  HandlingAxisCommandsOnTheBus() : MotionOnTheBus({.drives = 3, .nodes = 3}) {}

  void Word(std::size_t at, std::uint32_t value) {
    ASSERT_TRUE(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(at), value));
  }
  void Value(std::size_t at, std::int64_t value) {
    ASSERT_TRUE(kernel_.Block().Store<std::int64_t>(cb::PayloadAt(at), value));
  }

  common::StatusCode MoveTo(bool absolute, std::int64_t acceleration, std::int64_t velocity,
                            std::int64_t target) {
    Word(0, kHandlingAxis);
    Word(4, absolute ? 1 : 0);
    Value(8, acceleration);
    Value(16, velocity);
    Value(24, target);
    return Run(67);
  }
  common::StatusCode Turn(std::int64_t acceleration, std::int64_t velocity) {
    Word(0, kHandlingAxis);
    Value(8, acceleration);
    Value(16, velocity);
    return Run(68);
  }
  common::StatusCode MoveMode(bool position) {
    Word(0, kHandlingAxis);
    Word(4, position ? 1 : 0);
    return Run(65);
  }
  common::StatusCode MotionState(std::uint32_t state) {
    Word(0, 1u << kHandlingAxis);
    Word(4, state);
    return Run(69);
  }

  // Still, and at its target as the drive reports it (the drive's bit may
  // come a cycle after the drive stopped moving).
  static bool IsStanding(KernelData& data) {
    const NodeObject& node = *data.nodeConfiguration.Node(kHandlingAxis);
    return node.motion.standing != 0 && node.motion.inMotion == 0;
  }
  bool Standing() { return UnderLock(IsStanding); }
  // Waits (bounded) until the handling drive reports `position`.
  bool WaitForHandlingPosition(std::int32_t position) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    while (std::chrono::steady_clock::now() < deadline) {
      if (PositionOf(kHandlingDrive) == position && Standing()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
};

TEST_F(HandlingAxisCommandsOnTheBus, APositionMoveReachesItsTargetAndKeepsItsValues) {
  const std::int32_t start = PositionOf(kHandlingDrive);
  ASSERT_EQ(MoveTo(true, 20000, 4000, start + 2000), kOk);
  ASSERT_TRUE(WaitForHandlingPosition(start + 2000)) << PositionOf(kHandlingDrive);

  // The values of the last move, relative to where it went.
  ASSERT_EQ(MoveTo(false, kKeep, kKeep, -500), kOk);
  ASSERT_TRUE(WaitForHandlingPosition(start + 1500)) << PositionOf(kHandlingDrive);

  Word(0, kHandlingAxis);
  ASSERT_EQ(Run(66), kOk);
  const auto value = [&](std::size_t at) {
    return kernel_.Block().Load<std::int64_t>(cb::PayloadAt(at)).value_or(-1);
  };
  EXPECT_EQ(kernel_.Block().Load<std::uint32_t>(cb::PayloadAt(4)).value_or(9), 1u);
  EXPECT_EQ(value(8), 20000);
  EXPECT_EQ(value(16), 4000);
  EXPECT_EQ(value(32), start + 1500);
  EXPECT_EQ(value(40), start + 1500);

  EXPECT_EQ(Turn(1000, 100), common::kKernelHandlingSubModeInvalid) << "not in velocity mode";
}

TEST_F(HandlingAxisCommandsOnTheBus, ATurnHaltsAndThenStopsWhereItStands) {
  ASSERT_EQ(MoveMode(false), kOk);
  EXPECT_EQ(MoveTo(true, 1000, 100, 0), common::kKernelHandlingSubModeInvalid);
  const std::int32_t start = PositionOf(kHandlingDrive);
  ASSERT_EQ(Turn(20000, 3000), kOk);
  ASSERT_TRUE(WaitUntilUnderWay(kHandlingDrive, start + 300));

  // The halt answers once the drive stands.
  ASSERT_EQ(MotionState(1), kOk);
  EXPECT_TRUE(WaitFor(IsStanding));
  const std::int32_t halted = PositionOf(kHandlingDrive);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(PositionOf(kHandlingDrive), halted);
  EXPECT_EQ(MoveMode(true), common::kKernelSegmentMotionAlreadyActive)
      << "a halted turn still has its velocity";

  // Running again turns on; the end stops and holds the drive.
  ASSERT_EQ(MotionState(0), kOk);
  ASSERT_TRUE(WaitUntilUnderWay(kHandlingDrive, halted + 300));
  ASSERT_EQ(MotionState(3), kOk);
  const std::int32_t stopped = PositionOf(kHandlingDrive);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(PositionOf(kHandlingDrive), stopped);
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.nodeConfiguration.Node(kHandlingAxis)->motion.commandedVelocity, 0.0);
    return 0;
  });
  EXPECT_EQ(MoveMode(true), kOk) << "a stopped axis changes its mode";
}

TEST_F(HandlingAxisCommandsOnTheBus, TheHandlingModeOnAndOffGivesBackTheCounts) {
  const std::uint32_t coordinates = 2;
  kernel_.Block().Set(cb::kCurrentCoordinateCount, coordinates);
  const auto counts = [&] {
    return UnderLock([&](KernelData& data) {
      return std::array<std::uint32_t, 4>{data.nodeConfiguration.interpolatedNodeCount,
                                          static_cast<std::uint32_t>(data.coordinateCount),
                                          kernel_.Block().Get(cb::kCurrentCoordinateCount),
                                          data.nodeConfiguration.Node(1)->can->handlingAxis};
    });
  };
  const std::array<std::uint32_t, 4> before = counts();
  ASSERT_EQ(before[0], 2u);

  Word(0, 1);
  ASSERT_EQ(Run(64), kOk);
  const std::array<std::uint32_t, 4> on = counts();
  EXPECT_EQ(on[0], before[0] - 1);
  EXPECT_EQ(on[1], before[1] - 1);
  EXPECT_EQ(on[2], before[2] - 1);
  EXPECT_EQ(on[3], 1u);

  Word(0, 0);
  ASSERT_EQ(Run(64), kOk);
  EXPECT_EQ(counts(), before);
}

}  // namespace
}  // namespace vantor::kernel

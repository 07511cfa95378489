#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using drivetest::DriveHarness;
using drivetest::Frame;
using drivetest::kMs;
using ::testing::ElementsAreArray;

constexpr std::uint16_t kTargetReached = 0x0400;
constexpr std::uint16_t kInternalLimit = 0x0800;
constexpr std::uint16_t kBit12 = 0x1000;
constexpr std::uint16_t kBit13 = 0x2000;
constexpr std::uint16_t kLeaving = 0x4000;
constexpr std::uint16_t kBufferEmpty = 0x8000;
constexpr SimTime kPeriod = kMs;

constexpr std::uint32_t kControlwordEntry = 0x60400010;
constexpr std::uint32_t kSetPointEntries[] = {0x60C10120, 0x60C10210, 0x60C10310};

CanFrame SetPointFrame(std::uint16_t cobId, std::int32_t e0, std::int32_t e1, std::int32_t e2) {
  const auto d1 = static_cast<std::uint16_t>(e1 - e0);
  const auto d2 = static_cast<std::uint16_t>(e2 - e1);
  const auto e = static_cast<std::uint32_t>(e0);
  return Frame(cobId, {static_cast<std::uint8_t>(e), static_cast<std::uint8_t>(e >> 8),
                       static_cast<std::uint8_t>(e >> 16), static_cast<std::uint8_t>(e >> 24),
                       static_cast<std::uint8_t>(d1), static_cast<std::uint8_t>(d1 >> 8),
                       static_cast<std::uint8_t>(d2), static_cast<std::uint8_t>(d2 >> 8)});
}

CanFrame ControlwordFrame(std::uint16_t cobId, std::uint16_t controlword) {
  return Frame(
      cobId, {static_cast<std::uint8_t>(controlword), static_cast<std::uint8_t>(controlword >> 8)});
}

TEST(ProfilePositionTest, MoveReachesItsTargetWithTargetReached) {
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Write(0x607A, 0, 10000, 4);
  harness.Controlword(0x001F);
  const std::uint16_t started = harness.Statusword();
  EXPECT_EQ(started & kTargetReached, 0);
  EXPECT_EQ(started & kBit12, kBit12);  // set-point acknowledged
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
  EXPECT_EQ(harness.Position(), 10000);
  EXPECT_EQ(harness.Upload(0x6062, 0), 10000u);
  // 10000 increments at 100000/s with 1e6/s^2 take about 0.11 s.
  EXPECT_GT(harness.Now(), 90 * kMs);
  harness.Controlword(0x000F);
  EXPECT_EQ(harness.Statusword() & kBit12, 0);

  harness.Write(0x607A, 0, static_cast<std::uint32_t>(-500), 4);
  harness.Controlword(0x005F);  // relative
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
  EXPECT_EQ(harness.Position(), 9500);
}

TEST(ProfilePositionTest, ControlwordByTypeZeroPdoActsAtTheNextSync) {
  DriveHarness harness;
  harness.MapRpdo(1, {kControlwordEntry}, 0);
  harness.EnableInMode(1);
  harness.Write(0x607A, 0, 2000, 4);
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x003F));
  harness.Advance(20 * kMs);
  EXPECT_EQ(harness.Position(), 0);
  harness.Sync();
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 1000 * kMs));
  EXPECT_EQ(harness.Position(), 2000);
}

TEST(ProfileVelocityTest, RunsAtTheTargetVelocityAndHaltStopsIt) {
  DriveHarness harness;
  harness.EnableInMode(3);
  harness.Write(0x60FF, 0, 20000, 4);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 500 * kMs));
  EXPECT_EQ(harness.Upload(0x606C, 0), 20000u);
  const std::int32_t before = harness.Position();
  harness.Advance(100 * kMs);
  EXPECT_NEAR(harness.Position() - before, 2000, 1);
  harness.Controlword(0x010F);
  ASSERT_TRUE(harness.RunUntil([&] { return harness.Upload(0x606C, 0) == 0u; }, 500 * kMs));
  EXPECT_EQ(harness.Statusword() & kTargetReached, kTargetReached);
}

TEST(QuickStopTest, QuickStopBringsTheAxisToRestAndHolds) {
  DriveHarness harness;
  harness.EnableInMode(3);
  harness.Write(0x60FF, 0, 50000, 4);
  harness.Advance(200 * kMs);
  harness.Controlword(0x0002);
  EXPECT_EQ(harness.State(), 0x07);
  ASSERT_TRUE(harness.RunUntil([&] { return harness.Upload(0x606C, 0) == 0u; }, 500 * kMs));
  EXPECT_EQ(harness.State(), 0x07);
}

class InterpolatedPositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.MapRpdo(1, {kControlwordEntry}, 0);
    harness.MapRpdo(2, {kSetPointEntries[0], kSetPointEntries[1], kSetPointEntries[2]}, 0xFF);
    harness.Write(0x60C2, 1, 1000, 2);
    harness.Write(0x60C2, 2, 0xFA, 1);
    harness.EnableInMode(7);
    harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x001F));
    harness.Sync();
  }

  // A SYNC at the start of each of `count` interpolation periods.
  void SyncPeriods(int count) {
    for (int period = 0; period < count; ++period) {
      harness.Sync();
      harness.Advance(kPeriod);
    }
  }

  DriveHarness harness;
};

TEST_F(InterpolatedPositionTest, AxisMovesAlongExactlyTheStreamedPositions) {
  ASSERT_EQ(harness.Statusword() & (kBit12 | kBufferEmpty), kBit12 | kBufferEmpty);
  // A path with acceleration, a reversal and negative positions.
  std::vector<std::int32_t> path;
  for (int i = 0; i < 30; ++i) path.push_back(5 * i * i - 90 * i);
  std::vector<std::int32_t> seen;
  for (std::size_t frame = 0; frame < path.size(); frame += 3) {
    harness.Send(
        SetPointFrame(harness.RpdoCobId(2), path[frame], path[frame + 1], path[frame + 2]));
    // One set-point per SYNC, reached one interpolation period later.
    for (int entry = 0; entry < 3; ++entry) {
      harness.Sync();
      harness.Advance(kPeriod);
      seen.push_back(harness.Position());
    }
  }
  EXPECT_THAT(seen, ElementsAreArray(path));
  EXPECT_EQ(harness.Statusword() & kBufferEmpty, kBufferEmpty);
  EXPECT_EQ(harness.Drive().DroppedSetPoints(), 0u);
}

TEST_F(InterpolatedPositionTest, HeaderMarkerIsNoPositionAndAbsoluteFrameRestarts) {
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 0x3FFFFFFF, 0x3FFFFFFF, 0x3FFFFFFF));
  SyncPeriods(5);
  EXPECT_EQ(harness.Position(), 0);
  EXPECT_EQ(harness.Drive().BufferedSetPoints(), 0u);

  harness.MapRpdo(4, {kSetPointEntries[0]}, 0xFF);
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 5, 6, 7));
  harness.Send(Frame(harness.RpdoCobId(4), {0x10, 0x27, 0, 0}));  // 10000
  EXPECT_EQ(harness.Drive().BufferedSetPoints(), 1u);
  SyncPeriods(1);
  EXPECT_EQ(harness.Position(), 10000);
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 10010, 10020, 10030));
  SyncPeriods(3);
  EXPECT_EQ(harness.Position(), 10030);
}

TEST_F(InterpolatedPositionTest, SetPointsWaitUntilInterpolationIsEnabled) {
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x000F));
  harness.Sync();
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 30, 60, 90));
  SyncPeriods(10);
  EXPECT_EQ(harness.Position(), 0);
  EXPECT_EQ(harness.Statusword() & (kBit12 | kBufferEmpty), 0);
  // The SYNC that takes the controlword takes the first set-point too.
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x001F));
  SyncPeriods(1);
  EXPECT_EQ(harness.Position(), 30);
  SyncPeriods(2);
  EXPECT_EQ(harness.Position(), 90);
}

TEST_F(InterpolatedPositionTest, FullBufferRefusesFurtherSetPointsAndCountsThem) {
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x000F));
  harness.Sync();
  for (int frame = 0; frame < 22; ++frame) {
    harness.Send(SetPointFrame(harness.RpdoCobId(2), 3 * frame, 3 * frame + 1, 3 * frame + 2));
  }
  EXPECT_EQ(harness.Drive().BufferedSetPoints(), 64u);
  EXPECT_EQ(harness.Drive().DroppedSetPoints(), 2u);
}

TEST_F(InterpolatedPositionTest, BufferReportsItselfFullFromItsBufferedDepthOn) {
  constexpr std::uint16_t kBufferFull = 0x4000;
  harness.Write(0x60C4, 2, 4, 1);
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x000F));
  harness.Sync();
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 10, 20, 30));
  EXPECT_EQ(harness.Statusword() & kBufferFull, 0) << "3 of 4";
  harness.Send(SetPointFrame(harness.RpdoCobId(2), 40, 50, 60));
  EXPECT_EQ(harness.Statusword() & kBufferFull, kBufferFull) << "6 of 4";
  harness.Send(ControlwordFrame(harness.RpdoCobId(1), 0x001F));
  SyncPeriods(2);
  EXPECT_EQ(harness.Statusword() & kBufferFull, kBufferFull) << "4 of 4";
  SyncPeriods(1);
  EXPECT_EQ(harness.Statusword() & kBufferFull, 0) << "3 of 4";
}

TEST(DigitalInputTest, UserInputsJoinTheSwitchBits) {
  DriveConfig config;
  config.negativeLimit = 0;
  DriveHarness harness(config);
  harness.Drive().SetUserInputs(0x13);
  // Bit 3: the interlock input, wired closed.
  EXPECT_EQ(harness.Upload(0x60FD, 0), 0x19u);
}

TEST(LimitSwitchTest, SwitchStopsTheAxisAndBridgingLetsItPass) {
  DriveConfig config;
  config.negativeLimit = -5000;
  config.positiveLimit = 5000;
  for (const std::int32_t target : {10000, -10000}) {
    SCOPED_TRACE(target);
    DriveHarness harness(config);
    harness.EnableInMode(1);
    harness.Write(0x607A, 0, static_cast<std::uint32_t>(target), 4);
    harness.Controlword(0x001F);
    ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
    EXPECT_EQ(harness.Position(), target / 2);
    EXPECT_EQ(harness.Statusword() & kInternalLimit, kInternalLimit);
    EXPECT_EQ(harness.SwitchInputs(), target > 0 ? 0x02u : 0x01u);

    harness.Write(0x2054, 0, 1, 1);
    harness.Controlword(0x000F);
    harness.Controlword(0x001F);
    ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
    EXPECT_EQ(harness.Position(), target);
    EXPECT_EQ(harness.Statusword() & kInternalLimit, 0);
  }
}

TEST(LeaveLimitSwitchTest, LeaveModeMovesOffTheSwitch) {
  DriveConfig config;
  config.negativeLimit = -5000;
  config.positiveLimit = 5000;
  for (const std::int32_t start : {-5200, 5300}) {
    SCOPED_TRACE(start);
    config.startPosition = start;
    DriveHarness harness(config);
    harness.EnableInMode(-3);
    EXPECT_EQ(harness.Statusword() & (kLeaving | kTargetReached), kLeaving);
    harness.Controlword(0x001F);
    ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
    EXPECT_EQ(harness.Statusword() & kLeaving, 0);
    EXPECT_EQ(harness.SwitchInputs(), 0u);
    EXPECT_GT(harness.Position(), -5000);
    EXPECT_LT(harness.Position(), 5000);
  }
}

TEST(LeaveLimitSwitchTest, OffTheSwitchTheLeaveMoveEndsAtOnce) {
  DriveHarness harness;
  harness.EnableInMode(-3);
  harness.Controlword(0x001F);
  EXPECT_EQ(harness.Statusword() & (kLeaving | kTargetReached), kTargetReached);
}

TEST(FollowingErrorTest, StalledAxisFaultsWithFollowingError) {
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Drive().SetStalled(true);
  harness.Write(0x607A, 0, 100000, 4);
  harness.Controlword(0x001F);
  ASSERT_TRUE(harness.RunUntil([&] { return harness.State() == 0x2F; }, 2000 * kMs));
  EXPECT_EQ(harness.Statusword() & kBit13, kBit13);
  EXPECT_EQ(harness.Upload(0x1003, 1), 0x8611u);
  harness.Drive().SetStalled(false);
  harness.Controlword(0x0080);
  EXPECT_EQ(harness.State(), 0x60);
  EXPECT_EQ(harness.Statusword() & kBit13, 0);
}

TEST(FollowingErrorTest, InjectedFollowingErrorReadsFaultWithBit13) {
  DriveHarness harness;
  harness.Enable();
  harness.Drive().InjectFollowingError();
  EXPECT_EQ(harness.Statusword() & (0x6F | kBit13), 0x2F | kBit13);
}

// The gateway's frame as it reaches a linked drive: buttons, then counter.
CanFrame HandwheelFrame(std::uint16_t cobId, std::uint16_t buttons, std::uint16_t counter) {
  return Frame(cobId,
               {static_cast<std::uint8_t>(buttons), static_cast<std::uint8_t>(buttons >> 8),
                static_cast<std::uint8_t>(counter), static_cast<std::uint8_t>(counter >> 8)});
}

class HandwheelDriveTest : public ::testing::Test {
 protected:
  static constexpr std::uint16_t kGatewayTpdo = 0x194;

  void SetUp() override {
    harness.MapRpdo(4, {0x205D0C10, 0x205D0D10}, 0xFF, kGatewayTpdo);
    harness.Write(0x205D, 3, 0x01, 2);  // selector: button bit 0
    harness.Write(0x205D, 6, 10, 2);    // increments per pulse
    harness.Write(0x607D, 1, static_cast<std::uint32_t>(-1000), 4);
    harness.Write(0x607D, 2, 1000, 4);
    harness.Write(0x205D, 1, 1, 1);
    harness.EnableInMode(1);
    harness.Write(0x205D, 18, 1, 1);
    harness.Controlword(0x001F);
    harness.Send(HandwheelFrame(kGatewayTpdo, 0, 100));
  }

  void Settle() { ASSERT_TRUE(harness.WaitForStatusBits(0x0400, 2000 * kMs)); }

  DriveHarness harness;
};

TEST_F(HandwheelDriveTest, SelectedDriveMovesByThePulsesCounted) {
  harness.Send(HandwheelFrame(kGatewayTpdo, 0x01, 105));
  EXPECT_EQ(harness.Upload(0x205D, 19), 0x78u);
  Settle();
  EXPECT_EQ(harness.Position(), 50);
  // Backwards through the counter's wrap: 106 pulses, held at the lower
  // travel limit.
  harness.Send(HandwheelFrame(kGatewayTpdo, 0x01, 65535));
  Settle();
  EXPECT_EQ(harness.Position(), -1000);
}

TEST_F(HandwheelDriveTest, UnselectedOrInactiveDriveStands) {
  harness.Send(HandwheelFrame(kGatewayTpdo, 0x02, 110));
  EXPECT_EQ(harness.Upload(0x205D, 19), 0x70u);
  harness.Write(0x205D, 18, 0, 1);
  harness.Send(HandwheelFrame(kGatewayTpdo, 0x01, 130));
  harness.Advance(100 * kMs);
  EXPECT_EQ(harness.Position(), 0);
}

// Parameters a move cannot run with end it at once or leave the axis
// standing; nothing keeps the simulation stepping for ever.
TEST(MotionParameterTest, ZeroProfileVelocityLeavesTheAxisStanding) {
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Write(0x6081, 0, 0, 4);
  harness.Write(0x607A, 0, 1000, 4);
  harness.Controlword(0x001F);
  harness.Advance(100 * kMs);
  EXPECT_EQ(harness.Position(), 0);
  EXPECT_EQ(harness.Statusword() & 0x0400, 0);
  EXPECT_EQ(harness.Drive().NextDeadline(), kNever);
}

TEST(MotionParameterTest, ZeroAccelerationsChangeVelocityAtOnce) {
  DriveHarness harness;
  harness.EnableInMode(3);
  harness.Write(0x6083, 0, 0, 4);
  harness.Write(0x6085, 0, 0, 4);
  harness.Write(0x60FF, 0, 4000, 4);
  harness.Advance(kMs);
  EXPECT_EQ(harness.Upload(0x606C, 0), 4000u);
  harness.Controlword(0x0002);
  harness.Advance(kMs);
  EXPECT_EQ(harness.Upload(0x606C, 0), 0u);
  EXPECT_EQ(harness.Drive().NextDeadline(), kNever);
}

TEST(MotionParameterTest, HomingWithoutSearchSpeedFailsAtOnce) {
  DriveHarness harness;
  harness.Enable();
  harness.Write(0x6099, 2, 0, 4);
  harness.Write(0x6098, 0, 33, 1);
  harness.Mode(6);
  harness.Controlword(0x001F);
  EXPECT_EQ(harness.Statusword() & 0x3400, 0x2400);
}

}  // namespace
}  // namespace vantor::sim::drives

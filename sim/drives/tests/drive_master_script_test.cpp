// Scripted masters against one simulated drive: what a CiA 402 device does
// with profile position set-points, halt, the quick stop option codes, a
// master that stops guarding and one that sends no SYNC. A master that
// gets these wrong must see the drive misbehave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using drivetest::DriveHarness;
using drivetest::Frame;
using drivetest::kMs;

constexpr std::uint16_t kTargetReached = 0x0400;
constexpr std::uint16_t kSetPointAcknowledge = 0x1000;
constexpr std::uint16_t kSwitchOnDisabled = 0x60;
constexpr std::uint16_t kOperationEnabled = 0x27;
constexpr std::uint16_t kQuickStopActive = 0x07;
constexpr std::uint16_t kFault = 0x2F;

std::int32_t Velocity(DriveHarness& harness) {
  return static_cast<std::int32_t>(harness.Upload(0x606C, 0).value_or(0));
}

// The emergency codes among `frames`, oldest first.
std::vector<std::uint16_t> EmergencyCodes(const std::vector<CanFrame>& frames, std::uint8_t id) {
  std::vector<std::uint16_t> codes;
  for (const CanFrame& frame : frames) {
    if (frame.identifier == 0x080 + id && frame.length == 8)
      codes.push_back(static_cast<std::uint16_t>(frame.data[0] | (frame.data[1] << 8)));
  }
  return codes;
}

// ---- profile position ---------------------------------------------------

// A move to 20000 runs; 20 ms in, the master gives a second set-point of 0
// (behind the axis) with or without "change immediately".
struct SecondSetPointCase {
  std::string name;
  std::uint16_t startWord;  // rising edge of bit 4 for the second set-point
  bool firstTargetReached;  // the axis stands on 20000 before turning back
};

class SecondSetPointTest : public ::testing::TestWithParam<SecondSetPointCase> {};

TEST_P(SecondSetPointTest, PositionsOverTimeFollowBit5) {
  const SecondSetPointCase& scenario = GetParam();
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Write(0x607A, 0, 20000, 4);
  harness.Controlword(0x001F);
  harness.Advance(20 * kMs);
  harness.Controlword(0x000F);
  const std::int32_t atSecond = harness.Position();
  ASSERT_GT(atSecond, 0);
  ASSERT_LT(atSecond, 20000);
  harness.Write(0x607A, 0, 0, 4);
  harness.Controlword(scenario.startWord);
  EXPECT_EQ(harness.Statusword() & kSetPointAcknowledge, kSetPointAcknowledge);

  // Sampled every millisecond until the axis is back on 0.
  std::int32_t furthest = atSecond;
  bool reachedEarly = false;
  const bool back = harness.RunUntil(
      [&] {
        const std::int32_t position = harness.Position();
        const std::uint16_t status = harness.Statusword();
        furthest = std::max(furthest, position);
        if (position != 0 && (status & kTargetReached) != 0) reachedEarly = true;
        return position == 0 && (status & kTargetReached) != 0;
      },
      2000 * kMs);
  ASSERT_TRUE(back);
  EXPECT_EQ(furthest == 20000, scenario.firstTargetReached) << furthest;
  // Target reached only comes once no set-point waits any more.
  EXPECT_FALSE(reachedEarly);
}

INSTANTIATE_TEST_SUITE_P(Drives, SecondSetPointTest,
                         ::testing::Values(SecondSetPointCase{"AfterTheCurrentTarget", 0x001F,
                                                              true},
                                           SecondSetPointCase{"AtOnce", 0x003F, false}),
                         [](const auto& info) { return info.param.name; });

TEST(ProfilePositionHandshakeTest, AWaitingSetPointHoldsTheAcknowledgeAndRefusesAThird) {
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Write(0x607A, 0, 20000, 4);
  harness.Controlword(0x001F);
  harness.Controlword(0x000F);
  EXPECT_EQ(harness.Statusword() & kSetPointAcknowledge, 0);  // the buffer is free again

  harness.Write(0x607A, 0, 30000, 4);
  harness.Controlword(0x001F);
  harness.Controlword(0x000F);
  // Bit 12 stays up while the second set-point waits ...
  EXPECT_EQ(harness.Statusword() & kSetPointAcknowledge, kSetPointAcknowledge);
  // ... and a third one is not taken.
  harness.Write(0x607A, 0, 90000, 4);
  harness.Controlword(0x001F);
  harness.Controlword(0x000F);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 3000 * kMs));
  EXPECT_EQ(harness.Position(), 30000);
  EXPECT_EQ(harness.Statusword() & kSetPointAcknowledge, 0);
}

TEST(ProfilePositionHaltTest, HaltStopsOnTheProfileDecelerationAndClearingResumes) {
  DriveHarness harness;
  harness.EnableInMode(1);
  harness.Write(0x6083, 0, 1000000, 4);  // acceleration
  harness.Write(0x6084, 0, 100000, 4);   // deceleration, ten times gentler
  harness.Write(0x607A, 0, 100000, 4);
  harness.Controlword(0x001F);
  ASSERT_TRUE(
      harness.RunUntil([&] { return Velocity(harness) == 100000; }, 500 * kMs));  // cruising
  const std::int32_t atHalt = harness.Position();
  harness.Controlword(0x011F);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
  EXPECT_EQ(Velocity(harness), 0);
  // 100000 inc/s braked at 100000 inc/s^2 need 50000 increments.
  EXPECT_NEAR(harness.Position() - atHalt, 50000, 200);
  const std::int32_t halted = harness.Position();
  harness.Advance(50 * kMs);
  EXPECT_EQ(harness.Position(), halted);

  harness.Controlword(0x001F);  // halt cleared, no new set-point
  EXPECT_EQ(harness.Statusword() & kTargetReached, 0);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 3000 * kMs));
  EXPECT_EQ(harness.Position(), 100000);
}

// ---- quick stop option codes ---------------------------------------------

struct QuickStopCase {
  std::int16_t code;
  std::int32_t stoppingDistance;  // from 50000 inc/s
  std::uint16_t stateAfterStop;
  std::uint16_t stateAfterEnable;  // what 0x000F does then
};

class QuickStopOptionTest : public ::testing::TestWithParam<QuickStopCase> {};

TEST_P(QuickStopOptionTest, StopsOnItsRampAndEndsInItsState) {
  const QuickStopCase& scenario = GetParam();
  DriveConfig config;
  config.behaviour.quickStopOptionCode = scenario.code;
  DriveHarness harness(config);
  EXPECT_EQ(harness.Upload(0x605A, 0), static_cast<std::uint32_t>(scenario.code));
  harness.EnableInMode(3);
  harness.Write(0x6084, 0, 100000, 4);   // profile deceleration
  harness.Write(0x6085, 0, 1000000, 4);  // quick stop deceleration
  harness.Write(0x60FF, 0, 50000, 4);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 500 * kMs));
  const std::int32_t atStop = harness.Position();

  harness.Controlword(0x0002);  // quick stop, as the kernel sends it
  EXPECT_EQ(harness.State(), kQuickStopActive);
  ASSERT_TRUE(harness.RunUntil([&] { return Velocity(harness) == 0; }, 2000 * kMs));
  harness.Advance(10 * kMs);
  EXPECT_NEAR(harness.Position() - atStop, scenario.stoppingDistance, 100);
  EXPECT_EQ(harness.State(), scenario.stateAfterStop);

  harness.Controlword(0x000F);  // the kernel's resumption
  EXPECT_EQ(harness.State(), scenario.stateAfterEnable);
}

TEST_P(QuickStopOptionTest, EnableDuringTheRampLeavesOnlyAHoldingQuickStop) {
  const QuickStopCase& scenario = GetParam();
  DriveConfig config;
  config.behaviour.quickStopOptionCode = scenario.code;
  DriveHarness harness(config);
  harness.EnableInMode(3);
  harness.Write(0x6084, 0, 100000, 4);
  harness.Write(0x6085, 0, 1000000, 4);
  harness.Write(0x60FF, 0, 50000, 4);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 500 * kMs));
  harness.Controlword(0x0002);
  harness.Advance(kMs);
  ASSERT_NE(Velocity(harness), 0);  // still on the ramp
  harness.Controlword(0x000F);
  const bool holds = scenario.stateAfterStop == kQuickStopActive;
  EXPECT_EQ(harness.State(), holds ? kOperationEnabled : kQuickStopActive);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, QuickStopOptionTest,
    ::testing::Values(QuickStopCase{1, 12500, kSwitchOnDisabled, kSwitchOnDisabled},
                      QuickStopCase{2, 1250, kSwitchOnDisabled, kSwitchOnDisabled},
                      QuickStopCase{5, 12500, kQuickStopActive, kOperationEnabled},
                      QuickStopCase{6, 1250, kQuickStopActive, kOperationEnabled}),
    [](const auto& info) { return "Code" + std::to_string(info.param.code); });

TEST(QuickStopOptionObjectTest, OnlySupportedCodesAreTaken) {
  DriveHarness harness;
  EXPECT_EQ(harness.Upload(0x605A, 0), 6u);  // the kernel's resumption works
  for (const std::uint32_t code : {0u, 3u, 4u, 7u, 8u, 0xFFFFu})
    EXPECT_EQ(harness.Download(0x605A, 0, code, 2), canopen::SdoAbortCode::kValueRange) << code;
  EXPECT_EQ(harness.Download(0x605A, 0, 2, 2), canopen::SdoAbortCode::kNone);
}

// ---- life guarding -----------------------------------------------------------

constexpr SimTime kGuardTime = 100 * kMs;
constexpr std::uint8_t kLifeTimeFactor = 3;

struct GuardingCase {
  std::string name;
  std::uint8_t errorBehaviour;   // 0x1029 sub 1
  std::int16_t abortConnection;  // 0x6007
  std::uint8_t nmtStateAfter;    // as the guard answer reports it
  std::uint16_t driveStateAfter;
  bool axisStands;
};

class LifeGuardingTest : public ::testing::TestWithParam<GuardingCase> {};

TEST_P(LifeGuardingTest, LostMasterStopsTheNodeAndTheAxisWithinTheLifeTime) {
  const GuardingCase& scenario = GetParam();
  DriveHarness harness;
  const std::uint8_t id = harness.Node().Id();
  const auto guardRequest = canopen::nodetest::Remote(static_cast<std::uint16_t>(0x700 + id));
  harness.Write(0x100C, 0, 100, 2);
  harness.Write(0x100D, 0, kLifeTimeFactor, 1);
  harness.Write(0x1029, 1, scenario.errorBehaviour, 1);
  harness.Write(0x6007, 0, static_cast<std::uint16_t>(scenario.abortConnection), 2);
  harness.EnableInMode(3);
  harness.Write(0x60FF, 0, 50000, 4);

  // The master guards for a while, then stops.
  for (int request = 0; request < 5; ++request) {
    harness.Send(guardRequest);
    harness.Advance(kGuardTime);
  }
  harness.Node().sent.clear();
  harness.Send(guardRequest);
  const SimTime lastRequest = harness.Now();
  const SimTime lifeTime = kGuardTime * kLifeTimeFactor;
  harness.Node().AdvanceTo(lastRequest + lifeTime - 1);
  EXPECT_THAT(EmergencyCodes(harness.Node().Take(), id), ::testing::IsEmpty());
  EXPECT_EQ(StateBits(harness.Drive().State()), kOperationEnabled);

  // Read from the model: a stopped node answers no SDO.
  harness.Node().AdvanceTo(lastRequest + lifeTime + kGuardTime);
  EXPECT_THAT(EmergencyCodes(harness.Node().Take(), id), ::testing::ElementsAre(0x8130));
  EXPECT_EQ(StateBits(harness.Drive().State()), scenario.driveStateAfter);
  const double standing = harness.Drive().MachinePosition();
  harness.Advance(kGuardTime);
  EXPECT_EQ(harness.Drive().MachinePosition() == standing, scenario.axisStands);

  const std::vector<CanFrame> answer = harness.Node().Exchange(guardRequest);
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].data[0] & 0x7F, scenario.nmtStateAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, LifeGuardingTest,
    ::testing::Values(GuardingCase{"Defaults", 0, 3, 0x7F, kQuickStopActive, true},
                      GuardingCase{"NodeStaysDriveFaults", 1, 1, 0x05, kFault, true},
                      GuardingCase{"NodeStopsDriveDisables", 2, 2, 0x04, kSwitchOnDisabled, true},
                      GuardingCase{"NoReactionKeepsMoving", 1, 0, 0x05, kOperationEnabled, false}),
    [](const auto& info) { return info.param.name; });

// ---- interpolated position without SYNC ----------------------------------

constexpr std::uint32_t kSetPointEntries[] = {0x60C10120, 0x60C10210, 0x60C10310};

CanFrame SetPointFrame(std::uint16_t cobId, std::int32_t e0, std::int16_t d1, std::int16_t d2) {
  const auto e = static_cast<std::uint32_t>(e0);
  const auto u1 = static_cast<std::uint16_t>(d1);
  const auto u2 = static_cast<std::uint16_t>(d2);
  return Frame(cobId, {static_cast<std::uint8_t>(e), static_cast<std::uint8_t>(e >> 8),
                       static_cast<std::uint8_t>(e >> 16), static_cast<std::uint8_t>(e >> 24),
                       static_cast<std::uint8_t>(u1), static_cast<std::uint8_t>(u1 >> 8),
                       static_cast<std::uint8_t>(u2), static_cast<std::uint8_t>(u2 >> 8)});
}

class InterpolationSyncTest : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  // Interpolation active (bit 4 by SDO), a 2 ms period, set-points queued.
  void Start(DriveHarness& harness) {
    harness.MapRpdo(2, {kSetPointEntries[0], kSetPointEntries[1], kSetPointEntries[2]}, 0xFF);
    harness.Write(0x60C2, 1, 2000, 2);
    harness.EnableInMode(7);
    harness.Controlword(0x001F);
    harness.Node().sent.clear();
    harness.Send(SetPointFrame(harness.RpdoCobId(2), 1000, 1000, 1000));
  }
  static constexpr SimTime kPeriod = 2 * kMs;
};

TEST_P(InterpolationSyncTest, WithoutSyncTheAxisStandsThenFaultsWithSyncLoss) {
  DriveConfig config;
  config.behaviour.missedSyncLimit = GetParam();
  DriveHarness harness(config);
  Start(harness);
  const std::uint8_t id = harness.Node().Id();
  const SimTime started = harness.Now();
  const SimTime limit = kPeriod * GetParam();

  harness.Node().AdvanceTo(started + limit - 1);
  EXPECT_EQ(harness.Position(), 0);
  EXPECT_EQ(harness.State(), kOperationEnabled);
  EXPECT_THAT(harness.Node().Take(), ::testing::IsEmpty());

  harness.Node().AdvanceTo(started + limit);
  EXPECT_THAT(EmergencyCodes(harness.Node().Take(), id), ::testing::ElementsAre(0x8700));
  EXPECT_EQ(harness.State(), kFault);
  EXPECT_EQ(harness.Position(), 0);
}

TEST_P(InterpolationSyncTest, EachSyncTakesOneSetPointCrossedInOnePeriod) {
  DriveConfig config;
  config.behaviour.missedSyncLimit = GetParam();
  DriveHarness harness(config);
  Start(harness);
  // Well beyond the limit, as long as SYNC keeps coming.
  for (int round = 0; round < 3; ++round) {
    harness.Advance(kPeriod * (GetParam() - 1));
    harness.Sync();
  }
  harness.Advance(kPeriod / 2);
  EXPECT_EQ(harness.Position(), 2500);  // halfway from 2000 to 3000
  harness.Advance(kPeriod / 2);
  EXPECT_EQ(harness.Position(), 3000);
  harness.Advance(kPeriod * (GetParam() - 2));
  EXPECT_EQ(harness.Position(), 3000);  // nothing left, no SYNC: it stands
  EXPECT_EQ(harness.State(), kOperationEnabled);
}

INSTANTIATE_TEST_SUITE_P(Drives, InterpolationSyncTest, ::testing::Values(3u, 10u),
                         [](const auto& info) { return "Limit" + std::to_string(info.param); });

}  // namespace
}  // namespace vantor::sim::drives

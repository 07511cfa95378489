#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using drivetest::DriveHarness;
using drivetest::Frame;
using drivetest::kMs;

constexpr std::uint16_t kStopOnInput = 0x205C;
constexpr std::uint16_t kTargetReached = 0x0400;
constexpr std::int32_t kFarTarget = 1000000;

// Velocity 0x606C as the drive reports it.
std::int32_t Velocity(DriveHarness& h) {
  return static_cast<std::int32_t>(h.Upload(0x606C, 0).value_or(0));
}

// Sets the drive up for the watch (role, mask 0x30, levels 0x10, a
// deceleration) and arms it.
void Arm(DriveHarness& h, std::uint8_t role, std::uint32_t deceleration) {
  h.Write(kStopOnInput, 2, role, 1);
  h.Write(kStopOnInput, 3, deceleration, 4);
  h.Write(kStopOnInput, 9, 0x30, 1);
  h.Write(kStopOnInput, 10, 0x10, 1);
  h.Write(kStopOnInput, 1, 1, 1);
  h.Write(kStopOnInput, 11, 1, 1);
}

// A profile move toward a far target, under way.
void StartFarMove(DriveHarness& h) {
  h.EnableInMode(1);
  h.Write(0x607A, 0, static_cast<std::uint32_t>(kFarTarget), 4);
  h.Controlword(0x003F);
  ASSERT_TRUE(h.RunUntil([&] { return Velocity(h) != 0; }, 1000 * kMs));
  h.Advance(50 * kMs);
}

bool Latched(DriveHarness& h) { return h.Upload(kStopOnInput, 12).value_or(0) >= 128; }

TEST(StopOnInputDriveTest, InputDriveStopsOnItsOwnInputLatchesAndHoldsUntilDisarmed) {
  DriveHarness h;
  StartFarMove(h);
  Arm(h, 2, 0);
  h.Drive().SetUserInputs(0x20);  // a watched bit, but not the pattern
  h.Advance(10 * kMs);
  EXPECT_FALSE(Latched(h));
  EXPECT_EQ(h.Upload(kStopOnInput, 8).value_or(0) & 0xF0u, 0x20u) << "the input byte follows";

  const std::int32_t before = h.Position();
  h.Drive().SetUserInputs(0x10);
  ASSERT_TRUE(h.RunUntil([&] { return Velocity(h) == 0; }, 1000 * kMs));
  EXPECT_TRUE(Latched(h));
  const auto latched = static_cast<std::int32_t>(h.Upload(kStopOnInput, 5).value_or(0));
  EXPECT_GE(latched, before);
  EXPECT_LT(h.Position(), kFarTarget);
  const std::int32_t stoppedAt = h.Position();

  // A new set-point is not taken while the drive holds.
  h.Controlword(0x000F);
  h.Controlword(0x003F);
  h.Advance(100 * kMs);
  EXPECT_EQ(h.Position(), stoppedAt);

  h.Write(kStopOnInput, 11, 0, 1);
  h.Controlword(0x000F);
  h.Controlword(0x003F);
  ASSERT_TRUE(h.RunUntil([&] { return h.Position() > stoppedAt; }, 1000 * kMs));
}

TEST(StopOnInputDriveTest, StoppingDriveWatchesTheInputByteItReceives) {
  struct Case {
    std::string name;
    std::uint8_t inputByte;
    bool armed;
    bool stops;
  };
  const Case cases[] = {
      {"pattern matches", 0x1F, true, true},
      {"unwatched bits differ", 0x50, true, true},
      {"watched bits differ", 0x30, true, false},
      {"not armed", 0x10, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHarness h;
    // The input source's byte lands in sub 8 through receive PDO 4.
    h.MapRpdo(4, {0x205C0808}, 0xFF, 0x385);
    StartFarMove(h);
    Arm(h, 1, 2000000);
    if (!c.armed) h.Write(kStopOnInput, 11, 0, 1);
    h.Send(Frame(0x385, {c.inputByte}));
    h.Advance(200 * kMs);
    EXPECT_EQ(Latched(h), c.stops);
    EXPECT_EQ(Velocity(h) == 0, c.stops);
  }
}

TEST(StopOnInputDriveTest, DecelerationOfSubindex3) {
  // The slower ramp runs farther past the latch.
  std::int32_t overrun[2] = {};
  const std::uint32_t decelerations[2] = {4000000, 400000};
  for (int i = 0; i < 2; ++i) {
    DriveHarness h;
    StartFarMove(h);
    Arm(h, 2, decelerations[i]);
    h.Drive().SetUserInputs(0x10);
    ASSERT_TRUE(h.RunUntil([&] { return Velocity(h) == 0; }, 2000 * kMs));
    overrun[i] = h.Position() - static_cast<std::int32_t>(h.Upload(kStopOnInput, 5).value_or(0));
  }
  EXPECT_GE(overrun[0], 0);
  EXPECT_GT(overrun[1], overrun[0]);
}

TEST(ProfilePositionTest, ControlwordBit11EndsTheMove) {
  DriveHarness h;
  StartFarMove(h);
  h.Controlword(0x080F);
  ASSERT_TRUE(h.RunUntil([&] { return Velocity(h) == 0; }, 2000 * kMs));
  const std::int32_t stoppedAt = h.Position();
  EXPECT_LT(stoppedAt, kFarTarget);
  h.Advance(100 * kMs);
  EXPECT_EQ(h.Position(), stoppedAt);
  EXPECT_EQ(h.Statusword() & kTargetReached, kTargetReached);
}

}  // namespace
}  // namespace vantor::sim::drives

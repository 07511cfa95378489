// Rewiring the machine around a running drive: switches moved or removed
// while it runs, and its A/D reading.
#include <gtest/gtest.h>

#include <cstdint>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using drivetest::DriveHarness;
using drivetest::kMs;

constexpr std::uint16_t kTargetReached = 0x0400;
constexpr std::uint16_t kInternalLimit = 0x0800;

TEST(DriveWiringTest, ASwitchMovedIntoThePathStopsTheMoveOnIt) {
  DriveHarness harness;
  harness.EnableInMode(1);
  ASSERT_TRUE(harness.Drive().SetSwitchPosition(DriveSwitch::kPositiveLimit, 4000));
  harness.Write(0x607A, 0, 10000, 4);
  harness.Controlword(0x001F);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
  EXPECT_EQ(harness.Position(), 4000);
  EXPECT_EQ(harness.Statusword() & kInternalLimit, kInternalLimit);
  EXPECT_EQ(harness.SwitchInputs(), 0x02u);

  // Taken out, the switch lets the next move pass.
  ASSERT_TRUE(harness.Drive().SetSwitchPosition(DriveSwitch::kPositiveLimit, std::nullopt));
  EXPECT_EQ(harness.SwitchInputs(), 0u) << "the inputs show the change at once";
  harness.Controlword(0x000F);
  harness.Controlword(0x001F);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 2000 * kMs));
  EXPECT_EQ(harness.Position(), 10000);
}

TEST(DriveWiringTest, SwitchesPlacedAtTheAxisAreActiveAtOnce) {
  struct Case {
    DriveSwitch which;
    std::uint32_t inputs;
  };
  for (const Case& c : {Case{DriveSwitch::kNegativeLimit, 0x01},
                        Case{DriveSwitch::kPositiveLimit, 0x02}, Case{DriveSwitch::kHome, 0x04}}) {
    DriveHarness harness;
    EXPECT_EQ(harness.SwitchInputs(), 0u);
    ASSERT_TRUE(harness.Drive().SetSwitchPosition(c.which, 0));
    EXPECT_EQ(harness.SwitchInputs(), c.inputs);
  }
}

TEST(DriveWiringTest, LimitsThatWouldCrossAreRefusedAndChangeNothing) {
  DriveConfig config;
  config.negativeLimit = -5000;
  config.positiveLimit = 5000;
  DriveHarness harness(config);
  EXPECT_FALSE(harness.Drive().SetSwitchPosition(DriveSwitch::kNegativeLimit, 5000));
  EXPECT_FALSE(harness.Drive().SetSwitchPosition(DriveSwitch::kPositiveLimit, -6000));
  EXPECT_EQ(harness.SwitchInputs(), 0u) << "the axis at 0 still stands between its limits";
  EXPECT_TRUE(harness.Drive().SetSwitchPosition(DriveSwitch::kNegativeLimit, -100));
  EXPECT_EQ(harness.SwitchInputs(), 0u);
}

TEST(DriveWiringTest, TheAnalogueValueIsReadWhereTheFirmwareHasAnAdConverter) {
  DriveHarness standard;
  EXPECT_TRUE(standard.Drive().SetAnalogueValue(0x1234));
  EXPECT_EQ(standard.Upload(0x2055, 4), 0x1234u);

  DriveConfig compact;
  compact.variant = DriveVariant::kCompact;
  DriveHarness older(compact);
  EXPECT_FALSE(older.Drive().SetAnalogueValue(0x1234));
}

}  // namespace
}  // namespace vantor::sim::drives

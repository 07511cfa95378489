#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
constexpr std::uint16_t kPhaseA = 0x0800;
constexpr std::uint16_t kAttained = 0x1000;
constexpr std::uint16_t kHomingError = 0x2000;
constexpr std::uint16_t kPhaseB = 0x8000;
constexpr SimTime kPoll = 10 * kMs;
constexpr SimTime kHomingTimeout = 20000 * kMs;
constexpr std::int32_t kHomeOffset = 300;

// Switches at +-50000, home switch edge at 10000, index pulses at
// 100 + k * 4096.
DriveConfig Machine() {
  DriveConfig config;
  config.negativeLimit = -50000;
  config.positiveLimit = 50000;
  config.homeSwitch = 10000;
  config.indexSpacing = 4096;
  config.indexOffset = 100;
  return config;
}

struct MethodCase {
  std::int8_t method;
  double reference;  // on the machine's scale, worked out from the layout above
};

void PrintTo(const MethodCase& value, std::ostream* out) { *out << "method " << int{value.method}; }

class HomingMethodTest : public ::testing::TestWithParam<MethodCase> {};

// The kernel's plain homing: enable, homing mode and method, start, wait
// for bit 12, then back to enable operation.
TEST_P(HomingMethodTest, EndsAtTheHomePositionWithBit12) {
  const MethodCase& method = GetParam();
  DriveHarness harness(Machine());
  harness.Enable();
  harness.Write(0x6098, 0, static_cast<std::uint8_t>(method.method), 1);
  harness.Write(0x607C, 0, static_cast<std::uint32_t>(kHomeOffset), 4);
  harness.Mode(6);
  harness.Controlword(0x001F);
  ASSERT_TRUE(harness.WaitForStatusBits(kAttained | kTargetReached, kHomingTimeout, kPoll));
  EXPECT_EQ(harness.Statusword() & (0x6F | kHomingError), 0x27);
  EXPECT_EQ(harness.Position(), 0);
  const double offset = method.method == 34 ? 0.0 : kHomeOffset;
  EXPECT_DOUBLE_EQ(harness.Drive().MachinePosition(), method.reference + offset);
  harness.Controlword(0x000F);
  harness.Mode(7);
  EXPECT_EQ(harness.Position(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    KernelMethods, HomingMethodTest,
    ::testing::Values(MethodCase{1, -49052}, MethodCase{2, 49252}, MethodCase{3, 8292},
                      MethodCase{6, 8292}, MethodCase{17, -50000}, MethodCase{18, 50000},
                      MethodCase{19, 10000}, MethodCase{20, 10000}, MethodCase{21, 10000},
                      MethodCase{22, 10000}, MethodCase{4, 12388}, MethodCase{5, 12388},
                      MethodCase{33, -3996}, MethodCase{34, 0}),
    [](const auto& info) { return "Method" + std::to_string(info.param.method); });

// Homed on a limit switch without a home offset, the drive stands where
// the switch released: its input reads free and no internal limit is set.
TEST(HomingTest, ALimitSwitchRunEndsOffTheSwitch) {
  struct SwitchCase {
    std::int8_t method;
    std::uint8_t input;  // bit of 0x60FD
  };
  constexpr std::uint16_t kInternalLimit = 0x0800;
  for (const SwitchCase& run : {SwitchCase{17, 0x01}, SwitchCase{18, 0x02}}) {
    SCOPED_TRACE("method " + std::to_string(run.method));
    DriveHarness harness(Machine());
    harness.Enable();
    harness.Write(0x6098, 0, static_cast<std::uint8_t>(run.method), 1);
    harness.Mode(6);
    harness.Controlword(0x001F);
    ASSERT_TRUE(harness.WaitForStatusBits(kAttained | kTargetReached, kHomingTimeout, kPoll));
    EXPECT_EQ(harness.Upload(0x60FD, 0).value_or(0xFF) & run.input, 0u);
    harness.Controlword(0x000F);
    harness.Mode(7);
    EXPECT_EQ(harness.Statusword() & kInternalLimit, 0);
  }
}

TEST(HomingTest, ReachingTheWrongSwitchSetsBit13) {
  DriveConfig outOfReach = Machine();
  outOfReach.homeSwitch = 60000;  // beyond the positive limit switch
  DriveConfig missing = Machine();
  missing.homeSwitch.reset();
  for (const DriveConfig& config : {outOfReach, missing}) {
    DriveHarness harness(config);
    harness.Enable();
    harness.Write(0x6098, 0, 3, 1);
    harness.Mode(6);
    harness.Controlword(0x001F);
    ASSERT_TRUE(harness.WaitForStatusBits(kHomingError, kHomingTimeout, kPoll));
    EXPECT_EQ(harness.Statusword() & (kAttained | kTargetReached), kTargetReached);
    EXPECT_EQ(harness.Upload(0x60FD, 0).value_or(0) & 0x02u, 0x02u);
  }
}

TEST(HomingTest, SearchWithoutItsSwitchEndsInAnErrorAtTheRangeEnd) {
  DriveConfig config;  // no switches at all
  config.startPosition = -2147480000;
  DriveHarness harness(config);
  harness.Enable();
  harness.Write(0x6098, 0, 17, 1);
  harness.Mode(6);
  harness.Controlword(0x001F);
  ASSERT_TRUE(harness.WaitForStatusBits(kHomingError, kHomingTimeout, kPoll));
  EXPECT_EQ(harness.Drive().NextDeadline(), kNever);
}

TEST(HomingTest, HaltStopsTheRunWithoutAttaining) {
  DriveHarness harness(Machine());
  harness.Enable();
  harness.Write(0x6098, 0, 1, 1);
  harness.Mode(6);
  harness.Controlword(0x001F);
  harness.Advance(100 * kMs);
  harness.Controlword(0x011F);
  ASSERT_TRUE(harness.WaitForStatusBits(kTargetReached, 1000 * kMs));
  EXPECT_EQ(harness.Statusword() & kAttained, 0);
}

// The kernel reads the homing state from the feedback PDO on remote request.
TEST(HomingTest, FeedbackPdoOnRemoteRequestCarriesTheHomingState) {
  DriveHarness harness(Machine());
  const auto tpdo = static_cast<std::uint16_t>(0x180 + harness.Node().Id());
  harness.Write(0x1800, 1, tpdo, 4);
  harness.Write(0x1A00, 0, 0, 1);
  harness.Write(0x1A00, 1, 0x60640020, 4);
  harness.Write(0x1A00, 2, 0x60410010, 4);
  harness.Write(0x1A00, 3, 0x60FD0008, 4);
  harness.Write(0x1A00, 0, 3, 1);
  harness.Write(0x1800, 2, 253, 1);
  harness.Enable();
  harness.Write(0x6098, 0, 34, 1);
  harness.Mode(6);
  harness.Controlword(0x001F);
  harness.Node().sent.clear();
  harness.Send(canopen::nodetest::Remote(tpdo));
  const auto frames = harness.Node().Take();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].length, 7);
  const std::uint16_t statusword =
      static_cast<std::uint16_t>(frames[0].data[4] | (frames[0].data[5] << 8));
  EXPECT_EQ(statusword & (0x6F | kAttained), 0x27 | kAttained);
}

// A gantry pair homed with the gantry control PDO: both drives receive the
// master's control frames and report the phases the kernel waits for.
class GantryHomingTest : public ::testing::Test {
 protected:
  static DriveConfig Drive(std::int32_t indexOffset) {
    DriveConfig config = Machine();
    config.indexOffset = indexOffset;
    config.gantryPdoHoming = true;
    return config;
  }

  GantryHomingTest() : master(Drive(100), 5), slave(Drive(900), 6) {}

  void SetUp() override {
    const auto cobId = master.RpdoCobId(1);
    for (DriveHarness* drive : {&master, &slave}) {
      drive->MapRpdo(1, {0x60400010, 0x20430F08, 0x20431008}, 0, cobId);
      drive->Enable();
      drive->Write(0x6098, 0, 1, 1);
      drive->Write(0x607C, 0, static_cast<std::uint32_t>(kHomeOffset), 4);
      drive->Mode(6);
    }
    master.Write(0x2043, 1, 2, 1);
    slave.Write(0x2043, 1, 1, 1);
  }

  void ControlFrame(std::uint16_t controlword, std::uint8_t a, std::uint8_t b) {
    const CanFrame frame =
        Frame(master.RpdoCobId(1), {static_cast<std::uint8_t>(controlword),
                                    static_cast<std::uint8_t>(controlword >> 8), a, b});
    for (DriveHarness* drive : {&master, &slave}) {
      drive->Send(frame);
      drive->Sync();
    }
  }

  bool BothReport(std::uint16_t bits) {
    const SimTime deadline = master.Now() + kHomingTimeout;
    while (master.Now() < deadline) {
      if ((master.Statusword() & bits) == bits && (slave.Statusword() & bits) == bits) return true;
      master.Advance(kPoll);
      slave.Advance(kPoll);
    }
    return false;
  }

  DriveHarness master;
  DriveHarness slave;
};

TEST_F(GantryHomingTest, PairGoesThroughItsPhases) {
  ControlFrame(0x000F, 0, 0);
  ControlFrame(0x001F, 0, 0);
  ASSERT_TRUE(BothReport(kPhaseA));
  // The switch is found; the drives wait for the first phase byte.
  master.Advance(500 * kMs);
  EXPECT_EQ(master.Statusword() & (kPhaseB | kAttained), 0);
  EXPECT_DOUBLE_EQ(master.Drive().MachinePosition(), -50000);
  EXPECT_DOUBLE_EQ(slave.Drive().MachinePosition(), -50000);

  ControlFrame(0x001F, 1, 0);
  ASSERT_TRUE(BothReport(kPhaseB));
  EXPECT_DOUBLE_EQ(master.Drive().MachinePosition(), -49052);
  EXPECT_DOUBLE_EQ(slave.Drive().MachinePosition(), -48252);
  EXPECT_EQ(master.Statusword() & kAttained, 0);

  ControlFrame(0x001F, 1, 1);
  ASSERT_TRUE(BothReport(kAttained));
  EXPECT_EQ(master.Position(), 0);
  EXPECT_EQ(slave.Position(), 0);
  EXPECT_EQ(master.Statusword() & (kPhaseA | kPhaseB), 0);
  EXPECT_DOUBLE_EQ(slave.Drive().MachinePosition(), -48252 + kHomeOffset);
}

TEST_F(GantryHomingTest, UncoupledDriveHomesWithoutPhases) {
  master.Write(0x2043, 1, 0, 1);
  ControlFrame(0x000F, 0, 0);
  ControlFrame(0x001F, 0, 0);
  ASSERT_TRUE(master.WaitForStatusBits(kAttained, kHomingTimeout, kPoll));
  EXPECT_DOUBLE_EQ(master.Drive().MachinePosition(), -49052 + kHomeOffset);
}

}  // namespace
}  // namespace vantor::sim::drives

// Commands 28 to 32 over the real channel-1 driver and simulated drives:
// node 1 on drive 1, node 2 on the dual drive 2 with its gantry slave on
// drive 3. A switch that gets through sets its state and reaches every
// drive; one that fails leaves the state and the nodes' records armed; a
// request for the state in force leaves the drives alone.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/tests/drives_on_the_bus_fixture.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;
using namespace testing;  // NOLINT: the fixture's drives

class DriveModeOnTheBusTest : public DrivesOnTheBusFixture {};

struct SwitchCase {
  const char* name;
  std::uint32_t code;
  std::uint32_t KernelStateFlags::*flag;
  // What every drive (or the one named) logs when the state goes on.
  std::vector<std::pair<std::uint8_t, std::string>> onLines;
};

const SwitchCase kSwitches[] = {
    {"TeachMode",
     29,
     &KernelStateFlags::teachMode,
     {{1, "download 60C4:02 1 0x0A"},
      {kDualDrive, "download 60C4:02 1 0x0A"},
      {kSlaveDrive, "download 60C4:02 1 0x0A"}}},
    {"Bridge",
     30,
     &KernelStateFlags::limitSwitchBridge,
     {{1, "download 2054:00 1 0x01"},
      {kDualDrive, "download 2054:00 1 0x01"},
      {kSlaveDrive, "download 2054:00 1 0x01"}}},
    {"MoveOutMode",
     31,
     &KernelStateFlags::limitSwitchLeave,
     {{1, "download 6060:00 1 0xFD"},
      {kSlaveDrive, "download 2054:00 1 0x01"},
      {kDualDrive, "download 2043:01 1 0x00"}}},
};

class DriveSwitchTest : public DriveModeOnTheBusTest,
                        public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(DriveSwitchTest, OnReachesTheDrivesAndTheStateInForceLeavesThemAlone) {
  const SwitchCase& c = GetParam();
  ASSERT_EQ(Command(c.code, 1), kOk);
  EXPECT_EQ(Flag(c.flag), 1u);
  for (const auto& [id, line] : c.onLines) {
    EXPECT_TRUE(Logged(id, line)) << "drive " << int{id} << " lacks " << line;
  }
  ExpectRecordsArmed();
  ClearDriveLogs();
  ASSERT_EQ(Command(c.code, 7), kOk) << "any value other than 0 is on";
  for (std::uint8_t id : {1, 2, 3}) EXPECT_TRUE(LogOf(id).empty()) << "drive " << int{id};
  ASSERT_EQ(Command(c.code, 0), kOk);
  EXPECT_EQ(Flag(c.flag), 0u);
  ExpectRecordsArmed();
}

INSTANTIATE_TEST_SUITE_P(EachSwitch, DriveSwitchTest, ::testing::ValuesIn(kSwitches),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriveModeOnTheBusTest, PowerOffAndOnTakesOverWhereTheDrivesStand) {
  ASSERT_EQ(Command(28, 1), kOk);
  EXPECT_EQ(Flag(&KernelStateFlags::powerOff), 1u);
  for (std::uint8_t id : {1, 2, 3}) {
    EXPECT_EQ(Statusword(id) & 0x4F, 0x40u) << "drive " << int{id} << " switch-on disabled";
  }
  ClearDriveLogs();
  ASSERT_EQ(Command(28, 1), kOk);
  for (std::uint8_t id : {1, 2, 3}) EXPECT_TRUE(LogOf(id).empty()) << "drive " << int{id};
  // Moved while off: the set positions follow the drives.
  UnderLock([](KernelData& data) {
    data.motionRuntime.axes[0].actual = 12.5;
    data.motionRuntime.nodes[1].actual = -3.0;
    data.motionRuntime.path.axes[0].setPosition = 0.0;
    return 0;
  });
  ASSERT_EQ(Command(28, 0), kOk);
  EXPECT_EQ(Flag(&KernelStateFlags::powerOff), 0u);
  for (std::uint8_t id : {1, 2, 3}) {
    EXPECT_EQ(Statusword(id) & 0x6F, 0x27u) << "drive " << int{id} << " operation enabled";
  }
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.motionRuntime.path.axes[0].setPosition, 12.5);
    EXPECT_EQ(data.nodeConfiguration.table.nodes[1]->position, -3.0);
    for (std::uint32_t k = 0; k < 2; ++k) {
      const canopen::NodeObject& node = *data.nodeConfiguration.table.nodes[k];
      EXPECT_TRUE(node.latched.Has(StatusFlag::G) && node.current.Has(StatusFlag::H)) << k;
    }
    return 0;
  });
  ExpectRecordsArmed();
}

TEST_F(DriveModeOnTheBusTest, AFailedSwitchKeepsTheStateAndReArmsTheRecords) {
  Models([&](sim::Machine&) {
    DriveNode(kDualDrive).Faults().SilenceAll(true);
    return 0;
  });
  for (const std::uint32_t code : {29u, 30u}) {
    SCOPED_TRACE(code);
    EXPECT_NE(Command(code, 1), kOk);
    EXPECT_EQ(Flag(&KernelStateFlags::teachMode), 0u);
    EXPECT_EQ(Flag(&KernelStateFlags::limitSwitchBridge), 0u);
    EXPECT_TRUE(Logged(1, "download")) << "the other drives were switched";
    UnderLock([](KernelData& data) {
      EXPECT_EQ(data.nodeConfiguration.table.nodes[0]->cyclicExchange, 1u);
      return 0;
    });
  }
}

TEST_F(DriveModeOnTheBusTest, MoveOutOnlyInMoveOutMode) {
  EXPECT_EQ(Command(32, 0b11), common::kKernelLimitSwitchMoveOutActive);
  ASSERT_EQ(Command(31, 1), kOk);
  EXPECT_EQ(Command(32, 0b11), kOk);
  ExpectRecordsArmed();
  ASSERT_EQ(Command(31, 0), kOk);
  EXPECT_EQ(Command(32, 0b11), common::kKernelLimitSwitchMoveOutActive);
}

}  // namespace
}  // namespace vantor::kernel

#include "kernel/core/canopen/drive_services.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;

constexpr common::StatusCode kOk = common::kKernelSuccess;

// Drives 5 (with the axis drive 6) and 7.
class DriveServices : public ::testing::Test {
 protected:
  DriveServices(std::uint16_t state5 = 0x60, std::uint16_t state7 = 0x27)
      : nodes({5, 7}, {{6}}),
        drive5(5, state5),
        drive6(6, 0x60),
        drive7(7, state7),
        host(nodes.table, bus),
        context{host, nodes.table} {
    for (testing::Ds402Drive* drive : {&drive5, &drive6, &drive7}) bus.Attach(drive->server());
  }

  testing::TestNodes nodes;
  testing::Ds402Drive drive5;
  testing::Ds402Drive drive6;
  testing::Ds402Drive drive7;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(DriveServices, EnableRereadsOnlyTheDrivesThatWereNotEnabled) {
  for (std::size_t k = 0; k < 2; ++k) nodes[k].current.Set(StatusFlag::D, true);
  nodes[1].position = 55.0;
  EXPECT_EQ(EnableAllDrives(context, false), kOk);
  EXPECT_EQ(drive5.state(), 0x27);
  EXPECT_EQ(drive6.state(), 0x27);
  EXPECT_EQ(drive5.server().uploads6062, 1);
  EXPECT_EQ(drive7.server().uploads6062, 0);
  EXPECT_TRUE(drive7.controlwords().empty());
  EXPECT_EQ(nodes[0].position, -1000.0);
  EXPECT_EQ(nodes[1].position, 55.0);
  EXPECT_EQ(host.positionsTaken, 1);
  EXPECT_TRUE(host.profileMasks.empty());
}

TEST_F(DriveServices, SynchroniseMovesTheHomedNodesWithAxes) {
  nodes[0].SetFlagInBothRows(StatusFlag::D, true);
  EXPECT_EQ(EnableAllDrives(context, true), kOk);
  EXPECT_EQ(host.profileMasks, std::vector<NodeMask>{0b01});
  EXPECT_EQ(host.positionsTaken, 0);  // node 7 is not homed
}

TEST_F(DriveServices, FailedProfileMoveDisablesEveryDrive) {
  nodes[0].SetFlagInBothRows(StatusFlag::D, true);
  host.profileResult = common::kKernelGantryCompensationFailed;
  EXPECT_EQ(EnableAllDrives(context, true), common::kKernelGantryCompensationFailed);
  EXPECT_EQ(drive5.state(), 0x60);
  EXPECT_EQ(drive6.state(), 0x60);
  EXPECT_EQ(drive7.state(), 0x60);
}

class OneFailingDrive : public DriveServices {
 protected:
  OneFailingDrive() : DriveServices(0x60, 0x0F) {}
};

TEST_F(OneFailingDrive, EnableDisablesAllAndReturnsTheFailure) {
  EXPECT_EQ(EnableAllDrives(context, false), common::kKernelOperationFailed);
  EXPECT_EQ(drive5.controlwords(), (std::vector<std::uint16_t>{0x06, 0x07, 0x0F, 0x00}));
  EXPECT_EQ(drive5.state(), 0x60);
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelExternalNodeControlForbidden);
  EXPECT_EQ(drive5.server().uploads6062, 0);
}

TEST_F(DriveServices, DisableReportsAxisFailures) {
  drive6.server().silent = true;
  EXPECT_EQ(DisableAllDrives(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].axes[0].axisResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(drive7.state(), 0x60);
}

TEST_F(DriveServices, OptionIsRestoredExactlyWhereItWasCleared) {
  // Node 5 runs with the option set, node 7 runs without it, axis 6 stands
  // disabled with the option set.
  drive5.server().Define(0x6510, 7, 1, 1);
  drive5.server().Define(0x60FE, 0, 1, 0);
  drive7.server().Define(0x6510, 7, 1, 0);
  drive6.server().Define(0x6510, 7, 1, 1);
  ASSERT_EQ(drive7.state(), 0x27);
  drive5.server().onUpload = nullptr;
  drive5.server().Define(0x6041, 0, 2, 0x27);
  EXPECT_EQ(ClearDriveOption(context, 0b11), kOk);
  EXPECT_EQ(drive5.server().Value(0x6510, 7), 0u);
  EXPECT_EQ(host.sleeps, std::vector<std::uint32_t>{10});
  EXPECT_EQ(nodes[0].requestRecord.Get(option_request::kOptionChanged), 1u);
  EXPECT_EQ(nodes[1].requestRecord.Get(option_request::kOptionChanged), 0u);
  EXPECT_EQ(nodes[0].axes[0].requestRecord.Get(option_request::kOptionChanged), 0u);

  const std::size_t framesBefore = bus.frames.size();
  EXPECT_EQ(SetDriveOption(context, 0b11), kOk);
  EXPECT_EQ(drive5.server().Value(0x6510, 7), 1u);
  // Only node 5 was written to.
  ASSERT_EQ(bus.frames.size(), framesBefore + 1);
  EXPECT_EQ(bus.frames.back().cobId, 0x605);
  EXPECT_EQ(nodes[0].sdoRequestCobId, 0x605);
}

TEST_F(DriveServices, EmptyOptionMasksDoNothing) {
  EXPECT_EQ(ClearDriveOption(context, 0), kOk);
  EXPECT_EQ(SetDriveOption(context, 0), kOk);
  EXPECT_TRUE(bus.frames.empty());
}

TEST(AllNodesHomedNow, NoNodesCountAsHomed) {
  NodeTable empty;
  EXPECT_TRUE(AllNodesHomedNow(empty));
  testing::TestNodes nodes({5, 7});
  nodes[0].current.Set(StatusFlag::D, true);
  EXPECT_FALSE(AllNodesHomedNow(nodes.table));
  nodes[1].current.Set(StatusFlag::D, true);
  EXPECT_TRUE(AllNodesHomedNow(nodes.table));
}

}  // namespace
}  // namespace vantor::canopen

// Homing of plain axes over the real channel-1 driver and simulated drives
// on the virtual clock: the run side by side, the transmit PDO around it,
// the drive's reference and a stopped cycle.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/home_axes.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
using testing::RealBusFixture;
using Values = std::vector<std::uint64_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr std::uint8_t kNmtStart = 0x01;

class PlainHomingBus : public RealBusFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_EQ(EnableAllDrives(context_, false), kOk);
    ASSERT_EQ(MapFeedbackTpdo(context_, 1), kOk);
    ASSERT_EQ(SendNmtCommand(context_, false, kNmtStart), kOk);
    interpolatedNodes_ = 3;
    homing_.interpolatedNodeCount = 3;
    // Home where they stand: the run ends within a few cycles.
    for (std::uint8_t id : testing::kDriveIds) {
      Models([&](sim::Machine&) {
        DriveNode(id).Objects().SetUnsigned(0x6098, 0, ds402::kHomeOnCurrentPosition);
        return 0;
      });
      ClearDriveLog(id);
    }
  }
  Values Written(std::uint8_t id, std::uint16_t index, std::uint8_t subindex) {
    Values values;
    for (const sim::canopen::SdoAccess& access : SdoAccessesOf(id)) {
      if (access.direction == sim::canopen::SdoDirection::kDownload && access.index == index &&
          access.subindex == subindex && access.abort == sim::canopen::SdoAbortCode::kNone) {
        values.push_back(access.value);
      }
    }
    return values;
  }
  int CyclesToHome(NodeMask mask) {
    const int before = cycles_;
    EXPECT_EQ(HomeAxes(context_, mask, HomingRun{}), kOk);
    return cycles_ - before;
  }
};

TEST_F(PlainHomingBus, ThreeAxesHomeInAboutTheCyclesOfOne) {
  const int one = CyclesToHome(0b001);
  const int three = CyclesToHome(0b111);
  EXPECT_LT(three, 2 * one) << "one " << one << ", three " << three;
  for (std::uint8_t id : testing::kDriveIds) {
    SCOPED_TRACE(int{id});
    const NodeObject& node = nodes_[id - 1];
    EXPECT_TRUE(node.latched.Has(StatusFlag::D) && node.current.Has(StatusFlag::D));
    EXPECT_EQ(node.request.lastResult, kOk);
    EXPECT_EQ(Written(id, 0x1800, 2).back(), 1u) << "the feedback goes out every SYNC again";
    EXPECT_EQ(Written(id, 0x6060, 0).back(), 7u);
    EXPECT_EQ(LoggedControlwords(id).back(), 0x000F);
    EXPECT_EQ(DriveState(id), 0x27);
  }
}

TEST_F(PlainHomingBus, AStoppedCycleEndsTheRunAtOnce) {
  endCycleInWait_ = waits_ + 2;  // in the transmit PDO's preparation of node 2
  EXPECT_EQ(HomeAxes(context_, 0b111, HomingRun{}), kernel::kCycleNotRunning);
  for (std::uint8_t id : testing::kDriveIds) {
    EXPECT_FALSE(nodes_[id - 1].latched.Has(StatusFlag::D));
  }
}

}  // namespace
}  // namespace vantor::canopen

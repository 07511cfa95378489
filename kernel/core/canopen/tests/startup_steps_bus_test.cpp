// The first reset's probes and the gantry homing objects over the real
// channel-1 driver and simulated drives: node 0 (drive 1) leads a gantry
// slave on drive 2, node 1 (drive 3) is a plain axis. What reaches the
// drives is read from their own logs.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel/core/canopen/gantry_homing_objects.h"
#include "kernel/core/canopen/startup_probes.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using testing::RealBusFixture;
using Values = std::vector<std::uint64_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;

class StartupSteps : public RealBusFixture {
 protected:
  StartupSteps() : RealBusFixture(3) { UseNodes(nodes_.table); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    for (std::uint8_t id : {1, 2, 3}) ClearDriveLog(id);
  }

  // The values the drive took for one object, in order.
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

  testing::TestNodes nodes_{{1, 3}, {{2}}};
  ServiceContext context_{*this, nodes_.table};
};

TEST_F(StartupSteps, TheSimulatedDrivesShowTheirFirmwareInTheNodeFlags) {
  nodes_[0].has2047 = 1;
  EXPECT_EQ(ReadMakerObject2047Support(context_), kOk);
  EXPECT_EQ(ReadAnalogueSupport(context_), kOk);
  EXPECT_EQ(ReadHomeShiftSupport(context_), kOk);
  EXPECT_EQ(ReadGantryHomingObjects(context_), kOk);
  EXPECT_EQ(CheckStopOnInputCapability(context_), kOk);
  EXPECT_EQ(ReadInputCapabilities(context_), kOk);
  for (std::size_t k = 0; k < 2; ++k) {
    // The drives have 0x2047 sub 1 besides sub 0.
    EXPECT_EQ(nodes_[k].has2047, 0u) << k;
    EXPECT_EQ(nodes_[k].adSupported, 1u) << k;
    EXPECT_EQ(nodes_[k].homeShiftCapable, 1u) << k;
    EXPECT_EQ(nodes_[k].gantryPdoHoming, 0u) << k;
    EXPECT_EQ(nodes_[k].gantryWait, 1u) << k;
    EXPECT_EQ(nodes_[k].inputCapabilities, kInputCapabilityInput4) << k;
  }
  EXPECT_EQ(nodes_[0].axes[0].gantryWait, 1u);
  EXPECT_EQ(nodes_.table.stopOnInputCapable, 1u);
  EXPECT_EQ(nodes_[0].sdoRequestCobId, 0x601);
}

TEST_F(StartupSteps, TheGantryPairGetsItsObjectsResetAndItsOwnHomingValues) {
  nodes_[0].drive.homing = {17, -250.0, 1000.0, 200.0, 5000.0};
  nodes_[0].axes[0].drive.homing = {18, 300.0, 1100.0, 210.0, 5100.0};
  nodes_[1].drive.homing = {19, 1.0, 1.0, 1.0, 1.0};
  EXPECT_EQ(ResetAllGantryHomingObjects(context_), kOk);
  EXPECT_EQ(DownloadGantryHomingParameters(context_), kOk);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Written(id, 0x2054, 0), Values{0}) << int{id};
    EXPECT_EQ(Written(id, 0x2043, 9), Values{0}) << int{id};
  }
  EXPECT_EQ(Written(1, 0x607C, 0), Values{0xFFFFFF06});
  EXPECT_EQ(Written(2, 0x607C, 0), Values{300});
  EXPECT_EQ(Written(1, 0x6098, 0), Values{17});
  EXPECT_EQ(Written(2, 0x6098, 0), Values{18});
  EXPECT_EQ(Written(2, 0x6099, 1), Values{1100});
  EXPECT_EQ(Written(2, 0x6099, 2), Values{210});
  EXPECT_EQ(Written(1, 0x609A, 0), Values{5000});
  EXPECT_TRUE(SdoAccessesOf(3).empty());
  EXPECT_EQ(nodes_[0].sdoRequestCobId, 0x601);
}

}  // namespace
}  // namespace vantor::canopen

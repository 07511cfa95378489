#include "kernel/core/canopen/gantry_homing_objects.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <utility>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

// A plain node on drive 5 and two gantry pairs: drive 7 with axis 17 and
// drive 8 with axis 18.
class GantryHomingObjects : public ::testing::Test {
 protected:
  GantryHomingObjects() {
    for (testing::SdoServer& drive : drives) bus.Attach(drive);
  }
  testing::SdoServer& Drive(std::uint8_t id) {
    for (testing::SdoServer& drive : drives) {
      if (drive.nodeId() == id) return drive;
    }
    return drives[0];
  }
  // Every drive has the objects, with values the reset must overwrite.
  void DefineEverywhere(std::uint16_t index, std::uint8_t subindex, std::uint8_t size) {
    for (testing::SdoServer& drive : drives) drive.Define(index, subindex, size, 0x55);
  }
  std::optional<std::uint32_t> Value(std::uint8_t id, std::uint16_t index, std::uint8_t sub) {
    return Drive(id).Value(index, sub);
  }

  testing::TestNodes nodes{{5, 7, 8}, {{}, {17}, {18}}};
  std::array<testing::SdoServer, 5> drives{{testing::SdoServer(5), testing::SdoServer(7),
                                            testing::SdoServer(17), testing::SdoServer(8),
                                            testing::SdoServer(18)}};
  testing::FakeBus bus;
  testing::FakeHost host{nodes.table, bus};
  ServiceContext context{host, nodes.table};
};

TEST_F(GantryHomingObjects, ResetTurnsBridgingAndSearchOffOnEveryPairAndLeavesPlainNodes) {
  DefineEverywhere(0x2054, 0, 1);
  DefineEverywhere(0x2043, 9, 4);
  EXPECT_EQ(ResetAllGantryHomingObjects(context), common::kKernelSuccess);
  for (std::uint8_t id : {7, 17, 8, 18}) {
    EXPECT_EQ(Value(id, 0x2054, 0), 0u) << int{id};
    EXPECT_EQ(Value(id, 0x2043, 9), 0u) << int{id};
  }
  EXPECT_EQ(Value(5, 0x2054, 0), 0x55u);
  EXPECT_EQ(Value(5, 0x2043, 9), 0x55u);
}

TEST_F(GantryHomingObjects, AFailedBridgingWriteIsNotHiddenByTheSearchWrite) {
  DefineEverywhere(0x2043, 9, 4);
  for (std::uint8_t id : {7, 8, 18}) Drive(id).Define(0x2054, 0, 1, 1);
  // Drive 17 lacks the bridging object: its search mark is still cleared,
  // the other pair still reset, and the failure is reported.
  EXPECT_EQ(ResetGantryHomingObjects(context, 2), common::kKernelOperationFailed);
  EXPECT_NE(nodes[1].axes[0].axisResult, common::kKernelSuccess);
  EXPECT_EQ(Value(17, 0x2043, 9), 0u);
  EXPECT_EQ(ResetAllGantryHomingObjects(context), common::kKernelOperationFailed);
  EXPECT_EQ(Value(18, 0x2054, 0), 0u);
  EXPECT_EQ(Value(18, 0x2043, 9), 0u);

  EXPECT_EQ(ResetGantryHomingObjects(context, 4), common::kKernelOperationFailed);
  host.cycleRunning = false;
  EXPECT_EQ(ResetAllGantryHomingObjects(context), kernel::kCycleNotRunning);
  EXPECT_EQ(DownloadGantryHomingParameters(context), kernel::kCycleNotRunning);
  EXPECT_EQ(nodes[1].sdoRequestCobId, 0x607);
}

struct HomingValues {
  std::uint32_t offset;
  std::uint32_t method;
  std::uint32_t switchSpeed;
  std::uint32_t zeroSpeed;
  std::uint32_t acceleration;
};

TEST_F(GantryHomingObjects, EachDriveOfAPairGetsItsOwnHomingValues) {
  struct Object {
    std::uint16_t index;
    std::uint8_t subindex;
    std::uint8_t size;
  };
  for (const Object& object : {Object{0x607C, 0, 4}, Object{0x6098, 0, 1}, Object{0x6099, 1, 4},
                               Object{0x6099, 2, 4}, Object{0x609A, 0, 4}}) {
    DefineEverywhere(object.index, object.subindex, object.size);
  }
  nodes[1].drive.homing = {17, -250.0, 1000.0, 200.4, 5000.0};
  nodes[1].axes[0].drive.homing = {18, 300.0, 1100.0, 210.6, 5100.0};
  nodes[2].drive.homing = {35, 0.0, 1.0, 2.0, 3.0};
  nodes[2].axes[0].drive.homing = {34, -1.0, 4.0, 5.0, 6.0};
  nodes[0].drive.homing = {9, 9.0, 9.0, 9.0, 9.0};
  EXPECT_EQ(DownloadGantryHomingParameters(context), common::kKernelSuccess);

  const std::array<std::pair<std::uint8_t, HomingValues>, 4> expected{{
      {7, {0xFFFFFF06, 17, 1000, 200, 5000}},
      {17, {300, 18, 1100, 211, 5100}},
      {8, {0, 35, 1, 2, 3}},
      {18, {0xFFFFFFFF, 34, 4, 5, 6}},
  }};
  for (const auto& [id, values] : expected) {
    EXPECT_EQ(Value(id, 0x607C, 0), values.offset) << int{id};
    EXPECT_EQ(Value(id, 0x6098, 0), values.method) << int{id};
    EXPECT_EQ(Value(id, 0x6099, 1), values.switchSpeed) << int{id};
    EXPECT_EQ(Value(id, 0x6099, 2), values.zeroSpeed) << int{id};
    EXPECT_EQ(Value(id, 0x609A, 0), values.acceleration) << int{id};
  }
  EXPECT_EQ(Value(5, 0x6098, 0), 0x55u);
  EXPECT_EQ(nodes[1].sdoRequestCobId, 0x607);
}

TEST_F(GantryHomingObjects, TheDownloadStopsAtTheFirstObjectThatFailed) {
  DefineEverywhere(0x607C, 0, 4);
  DefineEverywhere(0x6099, 1, 4);
  // Drive 17 lacks the homing method.
  for (std::uint8_t id : {7, 8, 18}) Drive(id).Define(0x6098, 0, 1, 0x55);
  nodes[1].drive.homing.method = 17;
  EXPECT_EQ(DownloadGantryHomingParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(Value(7, 0x607C, 0), 0u);
  EXPECT_EQ(Value(7, 0x6098, 0), 17u);
  EXPECT_EQ(Value(7, 0x6099, 1), 0x55u);
  EXPECT_EQ(Value(8, 0x607C, 0), 0x55u);
  EXPECT_NE(nodes[1].axes[0].axisResult, common::kKernelSuccess);
}

TEST(GantryHomingObjectsWithoutPairs, NothingIsSentWhereNoNodeHasAxes) {
  testing::TestNodes nodes({5});
  testing::FakeBus bus;
  testing::FakeHost host(nodes.table, bus);
  ServiceContext context{host, nodes.table};
  EXPECT_EQ(ResetAllGantryHomingObjects(context), common::kKernelSuccess);
  EXPECT_EQ(DownloadGantryHomingParameters(context), common::kKernelSuccess);
  EXPECT_TRUE(bus.frames.empty());
  EXPECT_EQ(ResetGantryHomingObjects(context, 2), common::kKernelOperationFailed);
}

}  // namespace
}  // namespace vantor::canopen

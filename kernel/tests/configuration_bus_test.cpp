// Settings written to the drives while the machine runs: a gear ratio on a
// single drive and on a gantry pair, and the look-ahead's drive buffer
// depth. What gets through reaches the drives, is read back, leaves the
// nodes' records armed and, for a gear, the planning limits following the
// new ratio.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/core/planning_limits.h"
#include "kernel/tests/drives_on_the_bus_fixture.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the fixture's drives

class ConfigurationOnTheBusTest : public DrivesOnTheBusFixture {
 protected:
  // The commands want homed axes; how they were homed does not matter here.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DrivesOnTheBusFixture::SetUp());
    MarkEveryNodeHomed();
  }
  StatusCode Words(std::uint32_t code, const std::vector<std::uint32_t>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(4 * i), words[i]));
    }
    return Run(code);
  }
  std::uint32_t AnswerWord(std::size_t at) {
    return kernel_.Block().Load<std::uint32_t>(cb::PayloadAt(at)).value_or(0xDEADBEEF);
  }
  double PlannedVelocity(std::uint32_t coordinate) {
    return UnderLock(
        [&](KernelData& data) { return data.planning.nodeLimits[coordinate].maxVelocity; });
  }
  double DriveVelocityLimit(std::uint32_t node) {
    return UnderLock([&](KernelData& data) {
      return DriveLimitsOfNode(*data.nodeConfiguration.table.nodes[node], {}).maxVelocity;
    });
  }
};

constexpr std::uint32_t kGetGear = 53;
constexpr std::uint32_t kSetGear = 54;
constexpr std::uint32_t kGetGantryGear = 73;
constexpr std::uint32_t kSetGantryGear = 74;
constexpr std::uint32_t kChangeLookAhead = 70;
constexpr std::uint32_t kLookAheadStatus = 71;

TEST_F(ConfigurationOnTheBusTest, AGearRatioReachesTheDriveAndThePlanningLimitsFollow) {
  const double before = PlannedVelocity(0);
  ASSERT_GT(before, 0.0);
  ASSERT_EQ(Words(kSetGear, {0, 2, 1}), kOk);
  EXPECT_TRUE(Logged(1, "download 6093:01 4 0x00000002"));
  EXPECT_TRUE(Logged(1, "download 6093:02 4 0x00000001"));
  EXPECT_TRUE(LogOf(kDualDrive).empty()) << "only the named drive is geared";
  ExpectRecordsArmed();
  EXPECT_NE(PlannedVelocity(0), before);
  EXPECT_EQ(PlannedVelocity(0), DriveVelocityLimit(0));

  ASSERT_EQ(Words(kGetGear, {0}), kOk);
  EXPECT_EQ(AnswerWord(4), 2u);
  EXPECT_EQ(AnswerWord(8), 1u);
  EXPECT_EQ(Words(kSetGear, {0, 0, 1}), common::kKernelGearRatioInvalid);
  EXPECT_EQ(Words(kGetGear, {1}), common::kKernelAxisNumberInvalid) << "node 2 is a gantry pair";
}

TEST_F(ConfigurationOnTheBusTest, AGantryGearRatioReachesBothDrives) {
  // With scaling on, the pair's limits in units follow its divisor.
  UnderLock([](KernelData& data) {
    data.nodeConfiguration.table.nodes[1]->scalingOn = 1;
    TakeDriveLimitsIntoPlanning(data);
    return 0;
  });
  const double before = PlannedVelocity(1);
  ASSERT_EQ(Words(kSetGantryGear, {1, 3, 1, 3, 1}), kOk);
  for (const std::uint8_t id : {kDualDrive, kSlaveDrive}) {
    EXPECT_TRUE(Logged(id, "download 6093:01 4 0x00000003")) << "drive " << int{id};
    EXPECT_TRUE(Logged(id, "download 6093:02 4 0x00000001")) << "drive " << int{id};
  }
  EXPECT_TRUE(LogOf(1).empty());
  ExpectRecordsArmed();
  EXPECT_DOUBLE_EQ(PlannedVelocity(1), before / 3);
  EXPECT_EQ(PlannedVelocity(1), DriveVelocityLimit(1));

  ASSERT_EQ(Words(kGetGantryGear, {1}), kOk);
  EXPECT_EQ(AnswerWord(4), 3u);
  EXPECT_EQ(AnswerWord(8), 1u);
  EXPECT_EQ(AnswerWord(12), 3u);
  EXPECT_EQ(AnswerWord(16), 1u);
}

std::string DepthLine(std::uint32_t depth) {
  char line[32];
  std::snprintf(line, sizeof(line), "download 60C4:02 1 0x%02X", depth);
  return line;
}

TEST_F(ConfigurationOnTheBusTest, TheEnlargedFillLevelReachesTheDrivesAndIsReported) {
  const std::uint32_t configured =
      UnderLock([](KernelData& data) { return data.savedConfiguration.drive.pathBufferDepth; });
  ASSERT_EQ(Words(kChangeLookAhead, {0, 1}), kOk);
  for (const std::uint8_t id : {1, 2, 3}) {
    EXPECT_TRUE(Logged(id, DepthLine(31))) << "drive " << int{id};
  }
  ExpectRecordsArmed();
  EXPECT_EQ(UnderLock([](KernelData& data) { return data.motion.fill.fillLevel; }), 498);
  ASSERT_EQ(Words(kLookAheadStatus, {0}), kOk);
  EXPECT_EQ(AnswerWord(4), 1u);
  ASSERT_EQ(Words(kLookAheadStatus, {1}), kOk);
  EXPECT_EQ(AnswerWord(4), 0u) << "the teach-in pair stays as configured";

  ClearDriveLogs();
  ASSERT_EQ(Words(kChangeLookAhead, {0, 0}), kOk);
  for (const std::uint8_t id : {1, 2, 3}) {
    EXPECT_TRUE(Logged(id, DepthLine(configured))) << "drive " << int{id};
  }
  ASSERT_EQ(Words(kLookAheadStatus, {0}), kOk);
  EXPECT_EQ(AnswerWord(4), 0u);
}

TEST_F(ConfigurationOnTheBusTest, ASilentDriveFailsTheBufferDepthAndTheRecordsStayArmed) {
  Models([&](sim::Machine&) {
    DriveNode(kDualDrive).Faults().SilenceAll(true);
    return 0;
  });
  EXPECT_NE(Words(kChangeLookAhead, {0, 1}), kOk);
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.nodeConfiguration.table.nodes[0]->cyclicExchange, 1u);
    return 0;
  });
}

}  // namespace
}  // namespace vantor::kernel

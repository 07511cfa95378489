#include "common/complete_status_record.h"

#include <gtest/gtest.h>

#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

namespace cs = complete_status;

TEST(CompleteStatusRecordTest, OffsetsOfEverySection) {
  struct Case {
    const char* name;
    std::size_t offset;
    std::size_t expected;
  };
  const Case cases[] = {
      {"CanInterfaceOK", cs::StateWordOffset(cs::StateWord::CanInterfaceOK), 0},
      {"QuickStopActive", cs::StateWordOffset(cs::StateWord::QuickStopActive), 64},
      {"InterPreparing", cs::StateWordOffset(cs::StateWord::InterPreparing), 80},
      {"SoiInputActive", cs::StateWordOffset(cs::StateWord::SoiInputActive), 116},
      {"HandwheelF2", cs::StateWordOffset(cs::StateWord::HandwheelF2), 140},
      {"VpoActive", cs::StateWordOffset(cs::StateWord::VpoActive), 144},
      {"latched SynObj", cs::kLatchedSynObjOK.kOffset, 0x94},
      {"current TimeStampObj", cs::kCurrentTimeStampObjOK.kOffset, 0xA0},
      {"current CAN object", cs::kCurrentCanObjectOK.kOffset, 0xA8},
      {"CAN object error 0", cs::CanObjectErrorOffset(0), 0xAC},
      {"CAN object error 4", cs::CanObjectErrorOffset(4), 0xAC + 48},
      {"latched neg limit 0", cs::LatchedNegSweWarningOffset(0), 0xE8},
      {"latched pos limit 7", cs::LatchedPosSweWarningOffset(7), 0xE8 + 56 + 4},
      {"current neg limit 0", cs::CurrentNegSweWarningOffset(0), 0x128},
      {"current pos limit 1", cs::CurrentPosSweWarningOffset(1), 0x128 + 12},
      {"move active axis 1", cs::AxisOffset(cs::kAxisMotionWords, 1, cs::kMoveActiveWord), 0x178},
      {"hw connect axis 0", cs::AxisOffset(cs::kAxisMotionWords, 0, cs::kHwConnectWord), 0x174},
      {"position mode axis 0", cs::AxisOffset(cs::kAxisModes, 0, cs::kPositionModeWord), 0x1EC},
      {"latched block axis 0", cs::AxisOffset(cs::kLatchedDriveState, 0), 0x228},
      {"current block axis 0", cs::AxisOffset(cs::kCurrentDriveState, 0), 0x428},
      {"drive error axis 1", cs::AxisOffset(cs::kCurrentDriveState, 1, cs::kDriveErrorNumber),
       0x428 + 64 + 0x38},
      {"axis table axis 0", cs::AxisOffset(cs::kAxisTable, 0), 0x628},
      {"slave count axis 0", cs::AxisOffset(cs::kAxisTable, 0, cs::kSlaveCountWord), 0x62C},
      {"slave error axis 0", cs::AxisOffset(cs::kCurrentSlaveState, 0, cs::kSlaveDriveErrorNumber),
       0x688 + 8},
      {"latched slave axis 0", cs::AxisOffset(cs::kLatchedSlaveState, 0), 1768},
      {"master result axis 0", cs::AxisOffset(cs::kOperationResults, 0), 0x748},
      {"slave result axis 2", cs::AxisOffset(cs::kOperationResults, 2, cs::kSlaveResultWord),
       0x74C + 16},
      {"module name axis 0", cs::AxisOffset(cs::kModuleNames, 0), 0x788},
      {"slave module name axis 0", cs::AxisOffset(cs::kSlaveModuleNames, 0), 0x858},
      {"handwheel present", cs::kHandwheelConfigured.kOffset, 0x928},
      {"handwheel node", cs::kHandwheelNodeId.kOffset, 0x92C},
      {"handwheel model", cs::kHandwheelModel.kOffset, 0x92D},
      {"device name", cs::kDeviceName.kOffset, 2400},
      {"driver version", cs::kDriverVersion.kOffset, 2421},
      {"kernel version", cs::kKernelVersion.kOffset, 2442},
      {"library version", cs::kLibraryVersion.kOffset, 2463},
  };
  for (const auto& c : cases) EXPECT_EQ(c.offset, c.expected) << c.name;
}

TEST(CompleteStatusRecordTest, IndicesOutOfRangeReachNoField) {
  EXPECT_EQ(cs::AxisOffset(cs::kAxisMotionWords, 8), kNoOffset);
  EXPECT_EQ(cs::AxisOffset(cs::kModuleNames, 0, 26), kNoOffset);
  EXPECT_EQ(cs::CanObjectErrorOffset(5), kNoOffset);
  EXPECT_EQ(cs::LatchedNegSweWarningOffset(8), kNoOffset);
  EXPECT_EQ(cs::StateWordOffset(static_cast<cs::StateWord>(37)), kNoOffset);
  CompleteStatusRecord record;
  EXPECT_FALSE(record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, 8), 1));
}

TEST(CompleteStatusRecordTest, VersionTextsAreTerminatedInTwentyOneBytes) {
  CompleteStatusRecord record;
  ASSERT_TRUE(record.SetText(cs::kKernelVersion, "01.70.00.13"));
  ASSERT_TRUE(record.SetText(cs::kLibraryVersion, "01234567890123456789"));
  EXPECT_EQ(record.GetText(cs::kKernelVersion), "01.70.00.13");
  EXPECT_EQ(record.Bytes()[2483], 0);
  EXPECT_FALSE(record.SetText(cs::kDeviceName, "012345678901234567890"));
}

}  // namespace
}  // namespace vantor::common

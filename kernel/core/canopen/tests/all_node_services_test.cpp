// The all-node services on a gantry pair over the real channel-1 driver
// and simulated drives: node 0 (drive 1) leads axes on drives 2 and 3,
// node 1 (drive 4) leads one axis on drive 5. What reaches the drives is
// read from their own logs and models.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/axis_drive_settings.h"
#include "kernel/core/canopen/axis_profile_move.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/masked_axis_sdo.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/node_services.h"
#include "kernel/core/canopen/pdo_config_step.h"
#include "kernel/core/canopen/pdo_motion.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"
#include "sim/drives/ds402_state_machine.h"

namespace vantor::canopen {
namespace {

using testing::RealBusFixture;
using Words = std::vector<std::uint16_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr common::StatusCode kFailed = common::kKernelOperationFailed;
constexpr std::uint16_t kChain = 0x2043;
constexpr std::uint8_t kAllDrives[] = {1, 2, 3, 4, 5};

class Gantry : public RealBusFixture {
 protected:
  Gantry() : RealBusFixture(5) { UseNodes(gantry_.table); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    for (std::uint8_t id : kAllDrives) ClearDriveLog(id);
  }

  void ExpectOwnAddressing() {
    EXPECT_EQ(gantry_[0].sdoRequestCobId, 0x601);
    EXPECT_EQ(gantry_[0].sdoResponseCobId, 0x581);
    EXPECT_EQ(gantry_[1].sdoRequestCobId, 0x604);
    EXPECT_EQ(gantry_[1].sdoResponseCobId, 0x584);
  }

  // The values the drive took for one object, in order.
  std::vector<std::uint64_t> Written(std::uint8_t id, std::uint16_t index, std::uint8_t subindex) {
    std::vector<std::uint64_t> values;
    for (const sim::canopen::SdoAccess& access : SdoAccessesOf(id)) {
      if (access.direction == sim::canopen::SdoDirection::kDownload && access.index == index &&
          access.subindex == subindex && access.abort == sim::canopen::SdoAbortCode::kNone) {
        values.push_back(access.value);
      }
    }
    return values;
  }

  void Silence(std::uint8_t id) {
    Models([&](sim::Machine&) {
      Drive(id).SetSilent(true);
      return 0;
    });
  }

  testing::TestNodes gantry_{{1, 4}, {{2, 3}, {5}}};
  ServiceContext gantryContext_{*this, gantry_.table};
};

// ---- Masked SDO pair -------------------------------------------------------------

TEST_F(Gantry, MaskedDownloadReachesOnlyTheNodesThatHaveTheAxis) {
  SdoRecords records{};
  records[0] = MakeSdoRecord(0x6081, 0, 4, 1111);
  records[1] = MakeSdoRecord(0x6081, 0, 4, 4444);
  NodeMask mask = 0b11;
  EXPECT_EQ(SdoDownloadToMaskedAxis(gantryContext_, false, false, 1, mask, records), kOk);
  EXPECT_EQ(mask, 0b01u) << "node 1 has no axis 1";
  EXPECT_EQ(Written(3, 0x6081, 0), std::vector<std::uint64_t>{1111});
  for (std::uint8_t id : {1, 2, 4, 5}) EXPECT_TRUE(Written(id, 0x6081, 0).empty()) << int{id};

  mask = 0b11;
  EXPECT_EQ(SdoDownloadToMaskedAxis(gantryContext_, false, true, 0, mask, records), kOk);
  EXPECT_EQ(mask, 0b11u);
  EXPECT_EQ(Written(2, 0x6081, 0), std::vector<std::uint64_t>{1111});
  EXPECT_EQ(Written(5, 0x6081, 0), std::vector<std::uint64_t>{1111}) << "the same record";
  ExpectOwnAddressing();
}

TEST_F(Gantry, AFailingAxisLeavesTheMaskAndMarksItsNode) {
  Silence(2);
  gantry_[0].SetFlagInBothRows(kernel::StatusFlag::N, true);
  SdoRecords records{};
  records[0] = MakeSdoRecord(0x6081, 0, 4, 77);
  NodeMask mask = 0b11;
  EXPECT_EQ(SdoDownloadToMaskedAxis(gantryContext_, true, true, 0, mask, records), kFailed);
  EXPECT_EQ(mask, 0b10u);
  EXPECT_NE(gantry_[0].axes[0].axisResult, kOk);
  EXPECT_EQ(gantry_[1].axes[0].axisResult, kOk);
  EXPECT_FALSE(gantry_[0].current.Has(kernel::StatusFlag::N)) << "the mark flag clears N";
  EXPECT_EQ(Written(5, 0x6081, 0), std::vector<std::uint64_t>{77});
  ExpectOwnAddressing();
}

TEST_F(Gantry, MaskedUploadBringsEachAnswerIntoItsNodesRecord) {
  SdoRecords records{};
  records[0] = MakeSdoRecord(0x1018, 1, 4);  // vendor id, present everywhere
  NodeMask mask = 0b11;
  ASSERT_EQ(SdoUploadFromMaskedAxis(gantryContext_, true, 0, mask, records), kOk);
  EXPECT_EQ(mask, 0b11u);
  EXPECT_EQ(records[0].Get(sdo_request::kIndex), 0x1018);
  EXPECT_EQ(records[1].Get(sdo_request::kIndex), 0x1018);

  records[0] = MakeSdoRecord(0x2FFF, 3, 4);
  mask = 0b01;
  EXPECT_EQ(SdoUploadFromMaskedAxis(gantryContext_, true, -1, mask, records), kFailed);
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(records[0].Get(sdo_request::kValue), 1u) << "the object-missing mark";
  NodeMask none = 0;
  EXPECT_EQ(SdoUploadFromMaskedAxis(gantryContext_, true, 0, none, records), kOk);
  ExpectOwnAddressing();
}

// ---- Axis chain -------------------------------------------------------------------

TEST_F(Gantry, ConfiguredChainsLeadTheirOwnAxes) {
  ASSERT_EQ(ProbeAxisChain(gantryContext_, false), kOk);
  ASSERT_EQ(ConfigureAxisChain(gantryContext_), kOk);
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(Written(1, kChain, 1), (V{0, 2}));
  EXPECT_EQ(Written(1, kChain, 2), V{2});
  EXPECT_EQ(Written(1, kChain, 3), V{3});
  EXPECT_EQ(Written(4, kChain, 2), V{5});
  EXPECT_EQ(Written(4, kChain, 3), V{5});
  for (std::uint8_t id : {2, 3, 5}) {
    EXPECT_EQ(Written(id, kChain, 4), V{0}) << int{id};
    EXPECT_EQ(Written(id, kChain, 1), V{1}) << int{id};
  }
  ExpectOwnAddressing();
}

TEST_F(Gantry, ChainStateIsWrittenOnlyWhereTheProbeFoundTheObject) {
  // Never probed: nothing is known to carry the object.
  EXPECT_EQ(SetAxisChainState(gantryContext_, true, true, 0), kOk);
  EXPECT_EQ(ConfigureAxisChain(gantryContext_), kOk);
  for (std::uint8_t id : kAllDrives) EXPECT_TRUE(Written(id, kChain, 1).empty()) << int{id};
}

TEST_F(Gantry, AFailingAxisZeroDoesNotKeepAxisOneFromItsState) {
  ASSERT_EQ(ProbeAxisChain(gantryContext_, false), kOk);
  Silence(2);
  EXPECT_EQ(SetAxisChainState(gantryContext_, false, true, 0), kFailed);
  EXPECT_EQ(Written(3, kChain, 1), std::vector<std::uint64_t>{0});
  EXPECT_EQ(Written(5, kChain, 1), std::vector<std::uint64_t>{0});
  EXPECT_NE(gantry_[0].axes[0].axisResult, kOk);
  EXPECT_EQ(gantry_[0].axes[1].axisResult, kOk);
  ExpectOwnAddressing();
}

TEST_F(Gantry, ProbeTellsADriveWithoutTheChainFromAFailedRead) {
  // Drive 5 does not answer: a failed read, not a missing object.
  Silence(5);
  EXPECT_EQ(ProbeAxisChain(gantryContext_, true), kFailed);
  EXPECT_EQ(gantry_[0].axisChainFound, 1u);
  EXPECT_EQ(gantry_[1].axisChainFound, 1u);
  EXPECT_EQ(gantry_[0].axes[1].axisChainFound, 1u);
  EXPECT_EQ(gantry_[1].axes[0].axisChainFound, 0u);
  EXPECT_NE(gantry_[1].axes[0].axisResult, common::kKernelDriveFirmwareWrong);
  ExpectOwnAddressing();
}

TEST_F(Gantry, AnAxisThatDoesNotAnswerIsReportedAsAFailure) {
  ASSERT_EQ(ProbeAxisChain(gantryContext_, false), kOk);
  Silence(2);
  EXPECT_EQ(ReportAxisErrors(gantryContext_, 0), kFailed);
  EXPECT_NE(gantry_[0].axes[0].axisResult, kOk);
  EXPECT_EQ(Written(1, kChain, 4), std::vector<std::uint64_t>{1});
  EXPECT_TRUE(SdoAccessesOf(3).empty()) << "the reads end at the first failure";
  ExpectOwnAddressing();
}

TEST_F(Gantry, CouplingReportsTheFirstAxisWithAnError) {
  ASSERT_EQ(ProbeAxisChain(gantryContext_, false), kOk);
  Models([&](sim::Machine&) {
    Drive(3).InjectFault(0x5000);
    return 0;
  });
  gantry_[0].request.lastResult = common::kKernelNodeParameterInvalid;
  EXPECT_EQ(SetAxisChainState(gantryContext_, true, false, 0b01), kOk);
  EXPECT_EQ(Written(1, kChain, 1), std::vector<std::uint64_t>{2});
  EXPECT_EQ(Written(3, kChain, 1), std::vector<std::uint64_t>{1});
  EXPECT_EQ(Written(1, kChain, 4), std::vector<std::uint64_t>{1}) << "the error flag";
  EXPECT_TRUE(Written(4, kChain, 1).empty()) << "node 1 is not in the mask";
  EXPECT_TRUE(Written(4, kChain, 4).empty());
  ExpectOwnAddressing();
}

// ---- Profile move of nodes and axes ------------------------------------------

class GantryMove : public Gantry {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Gantry::SetUp());
    ASSERT_EQ(EnableAllDrives(gantryContext_, false), kOk);
    for (std::uint8_t id : kAllDrives) ClearDriveLog(id);
    for (std::size_t k = 0; k < 2; ++k) {
      gantry_[k].profileVelocity = 20000;
      gantry_[k].profileAcceleration = 100000;
      for (std::uint32_t a = 0; a < gantry_[k].axisCount; ++a) {
        gantry_[k].axes[a].profileVelocity = 20000;
        gantry_[k].axes[a].profileAcceleration = 100000;
      }
    }
  }
  std::int32_t Position(std::uint8_t id) {
    return Models([&](sim::Machine&) { return Drive(id).ReportedPosition(); });
  }
};

TEST_F(GantryMove, LeaderAndFollowersArriveAndReturnToTheirModes) {
  const std::array<std::int32_t, 2> targets{3000, -1500};
  gantry_[1].handlingAxis = 1;
  gantry_[1].handlingMode = 0;
  ASSERT_EQ(canopen::SetupAxesProfileMode(gantryContext_, true, 0b11, targets), kOk);
  for (std::uint8_t id : {1, 2, 3}) EXPECT_EQ(Position(id), 3000) << int{id};
  for (std::uint8_t id : {4, 5}) EXPECT_EQ(Position(id), -1500) << int{id};
  using V = std::vector<std::uint64_t>;
  for (std::uint8_t id : {1, 2, 3}) EXPECT_EQ(Written(id, 0x6060, 0), (V{1, 7})) << int{id};
  for (std::uint8_t id : {4, 5}) EXPECT_EQ(Written(id, 0x6060, 0), (V{1, 3})) << int{id};
  EXPECT_EQ(LoggedControlwords(2), (Words{0x000F, 0x001F, 0x080F, 0x010F}));
  ExpectOwnAddressing();
}

TEST_F(GantryMove, AStalledAxisIsHaltedAtTheLimit) {
  gantry_[0].axes[1].profileVelocity = 0;  // drive 3 never leaves its place
  const std::array<std::int32_t, 2> targets{2000, 2000};
  // The others' plan: 2000 increments at 20000/s after a 0.2 s ramp.
  const std::uint64_t limitMs = 2 * 300 + kProfileMoveSlackMs;
  const std::uint64_t started = MonotonicMilliseconds();
  EXPECT_EQ(canopen::SetupAxesProfileMode(gantryContext_, false, 0b11, targets),
            common::kKernelGantryCompensationFailed);
  const std::uint64_t took = MonotonicMilliseconds() - started;
  EXPECT_GE(took, limitMs);
  EXPECT_LT(took, limitMs + 500);
  EXPECT_EQ(gantry_[0].axes[1].axisResult, common::kKernelGantryCompensationFailed);
  EXPECT_EQ(gantry_[0].axes[0].axisResult, kOk);
  EXPECT_EQ(Position(2), 2000);
  EXPECT_EQ(Position(3), 0);
  EXPECT_EQ(LoggedControlwords(3).back(), 0x080F);
  const Words words = LoggedControlwords(3);
  EXPECT_NE(std::find(words.begin(), words.end(), 0x010F), words.end()) << "halted";
  EXPECT_EQ(Written(3, 0x6060, 0), std::vector<std::uint64_t>{1}) << "no working mode";
  EXPECT_EQ(Written(2, 0x6060, 0), (std::vector<std::uint64_t>{1, 7}));
  EXPECT_TRUE(LoggedControlwords(1).empty()) << "the nodes were not included";
  ExpectOwnAddressing();
}

TEST_F(GantryMove, AFaultedAxisEndsItsMoveAtOnce) {
  Models([&](sim::Machine&) {
    Drive(3).InjectFault(0x5000);
    return 0;
  });
  const std::array<std::int32_t, 2> targets{4000, 4000};
  const std::uint64_t started = MonotonicMilliseconds();
  EXPECT_EQ(canopen::SetupAxesProfileMode(gantryContext_, true, 0b11, targets),
            common::kKernelGantryCompensationFailed);
  EXPECT_LT(MonotonicMilliseconds() - started, kProfileMoveSlackMs) << "not the time limit";
  EXPECT_EQ(gantry_[0].axes[1].axisResult, common::kKernelGantryCompensationFailed);
  for (std::uint8_t id : {1, 2, 4, 5}) EXPECT_EQ(Position(id), 4000) << int{id};
  EXPECT_EQ(gantry_[0].request.lastResult, kOk);
  ExpectOwnAddressing();
}

TEST_F(GantryMove, HeldAxesKeepTheirPositionAsTarget) {
  const std::array<std::int32_t, 2> targets{3000, -1500};
  ASSERT_EQ(canopen::SetupAxesProfileMode(gantryContext_, true, 0b11, targets), kOk);
  for (std::uint8_t id : kAllDrives) ClearDriveLog(id);
  gantry_[0].request.lastResult = common::kKernelNodeParameterInvalid;
  ASSERT_EQ(HoldHandlingAxisPositionOnAxes(gantryContext_, 0), kOk);
  for (std::uint8_t id : {2, 3}) {
    EXPECT_EQ(LoggedControlwords(id), Words{0x010F}) << int{id};
    EXPECT_EQ(Written(id, 0x6060, 0), std::vector<std::uint64_t>{1}) << int{id};
    EXPECT_EQ(Written(id, 0x607A, 0), std::vector<std::uint64_t>{3000}) << int{id};
  }
  for (std::uint8_t id : {1, 4, 5}) EXPECT_TRUE(SdoAccessesOf(id).empty()) << int{id};
  EXPECT_EQ(gantry_[0].request.lastResult, common::kKernelNodeParameterInvalid)
      << "the node's own result stays";
  ExpectOwnAddressing();
}

TEST_F(Gantry, HaltedVelocityModeReachesTheNodesAxesOnly) {
  ASSERT_EQ(SetVelocityModeHaltedOnAxes(gantryContext_, 0), kOk);
  for (std::uint8_t id : {2, 3}) {
    EXPECT_EQ(LoggedControlwords(id), Words{0x010F}) << int{id};
    EXPECT_EQ(Written(id, 0x60FF, 0), std::vector<std::uint64_t>{0}) << int{id};
    EXPECT_EQ(Written(id, 0x6060, 0), std::vector<std::uint64_t>{3}) << int{id};
  }
  for (std::uint8_t id : {1, 4, 5}) EXPECT_TRUE(SdoAccessesOf(id).empty()) << int{id};
  Silence(2);
  EXPECT_EQ(SetVelocityModeHaltedOnAxes(gantryContext_, 0), kFailed);
  EXPECT_EQ(Written(3, 0x60FF, 0), std::vector<std::uint64_t>{0}) << "the failed halt ends it";
  ExpectOwnAddressing();
}

// ---- Position factor and gear ratios -----------------------------------------------

class GantryGear : public Gantry {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Gantry::SetUp());
    ASSERT_EQ(ProbeAxisChain(gantryContext_, false), kOk);
    for (std::uint8_t id : kAllDrives) ClearDriveLog(id);
    NodeObject& node = gantry_[0];
    node.scalingDivisor = 2.0;
    node.position = 100.0;
    node.profileVelocity = 1000.0;
    node.axes[1].profileAcceleration = 50.0;
    node.SetFlagInBothRows(kernel::StatusFlag::N, true);
  }
  const PositionFactor factors_[3] = {{8, 2}, {6, 1}, {5, 1}};
};

TEST_F(GantryGear, PositionFactorGoesToNodeAndAxesWithTheChainUncoupled) {
  ASSERT_EQ(WritePositionFactorOnAxes(gantryContext_, 0, factors_), kOk);
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(Written(1, 0x6093, 1), V{8});
  EXPECT_EQ(Written(1, 0x6093, 2), V{2});
  EXPECT_EQ(Written(2, 0x6093, 1), V{6});
  EXPECT_EQ(Written(3, 0x6093, 1), V{5});
  EXPECT_EQ(Written(1, kChain, 1), (V{0, 2}));
  EXPECT_EQ(Written(3, kChain, 1), (V{0, 1}));
  EXPECT_TRUE(SdoAccessesOf(4).empty());
  const NodeObject& node = gantry_[0];
  EXPECT_DOUBLE_EQ(node.scalingDivisor, 4.0);
  EXPECT_DOUBLE_EQ(node.position, 50.0);
  EXPECT_DOUBLE_EQ(node.profileVelocity, 500.0);
  EXPECT_DOUBLE_EQ(node.axes[1].profileAcceleration, 25.0);
  EXPECT_EQ(node.gear.changed, 1u);
  EXPECT_EQ(node.axes[0].gear.changed, 1u);
  EXPECT_EQ(node.axes[1].gear.changed, 1u);
  // The ratios the drives hold now are what is read back.
  EXPECT_EQ(node.gear.numerator, 8u);
  EXPECT_EQ(node.gear.denominator, 2u);
  EXPECT_EQ(node.axes[0].gear.numerator, 6u);
  EXPECT_EQ(node.axes[1].gear.numerator, 5u);
  EXPECT_EQ(node.axes[1].gear.denominator, 1u);
  ExpectOwnAddressing();
}

TEST_F(GantryGear, FailedOrRefusedFactorLeavesTheScalingAlone) {
  const PositionFactor zero[3] = {{8, 2}, {6, 0}, {5, 1}};
  EXPECT_EQ(WritePositionFactorOnAxes(gantryContext_, 0, zero), common::kKernelGearRatioInvalid);
  EXPECT_EQ(WritePositionFactorOnAxes(gantryContext_, 0, std::span(factors_).first(2)), kFailed);
  testing::TestNodes single{{4}};
  single[0].scalingDivisor = 2.0;
  ServiceContext axisFree{*this, single.table};
  EXPECT_EQ(WritePositionFactorOnAxes(axisFree, 0, factors_), kFailed) << "a node without axes";
  EXPECT_DOUBLE_EQ(single[0].scalingDivisor, 2.0);
  for (std::uint8_t id : kAllDrives) EXPECT_TRUE(SdoAccessesOf(id).empty()) << int{id};

  Silence(3);
  EXPECT_EQ(WritePositionFactorOnAxes(gantryContext_, 0, factors_), kFailed);
  EXPECT_EQ(Written(2, 0x6093, 2), std::vector<std::uint64_t>{1}) << "axis 0 is still written";
  EXPECT_DOUBLE_EQ(gantry_[0].scalingDivisor, 2.0);
  EXPECT_DOUBLE_EQ(gantry_[0].position, 100.0);
  EXPECT_FALSE(gantry_[0].latched.Has(kernel::StatusFlag::N));
  EXPECT_FALSE(gantry_[0].current.Has(kernel::StatusFlag::N));
  ExpectOwnAddressing();
}

TEST_F(GantryGear, RestoreGivesChangedAxesTheirKeptRatio) {
  gantry_[0].axes[1].gear = GearRatio{7, 3, 1};
  gantry_[1].axes[0].gear = GearRatio{9, 4, 1};
  gantry_[0].axes[0].gear = GearRatio{11, 5, 0};
  Silence(5);
  EXPECT_EQ(RestoreGearRatiosOnAxes(gantryContext_), kFailed);
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(Written(3, 0x6093, 1), V{7});
  EXPECT_EQ(Written(3, 0x6093, 2), V{3});
  EXPECT_TRUE(SdoAccessesOf(2).empty()) << "unchanged";
  EXPECT_EQ(gantry_[0].axes[1].gear.changed, 0u);
  EXPECT_EQ(gantry_[1].axes[0].gear.changed, 1u) << "still differs";
  ExpectOwnAddressing();
}

// ---- Motion by process data ---------------------------------------------------------

class GantryPdo : public GantryMove {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GantryMove::SetUp());
    ASSERT_EQ(SendNmtCommand(gantryContext_, false, 0x01), kOk);
    for (std::uint32_t k = 0; k < 2; ++k) {
      ASSERT_EQ(SdoDownloadToNode(gantryContext_, k, 0x6060, 0, 1, 1), kOk);
      ASSERT_EQ(SdoDownloadToNodeAxes(gantryContext_, false, k, 0x6060, 0, 1, 1), kOk);
    }
    for (std::uint8_t id : kAllDrives) ClearDriveLog(id);
  }
};

TEST_F(GantryPdo, OneFrameMovesTheNodeAndItsAxes) {
  ASSERT_EQ(ProfilePositionMoveByPdo(gantryContext_, true, true, 0, 100000, 20000, 2500), kOk);
  Sleep(500);
  for (std::uint8_t id : {1, 2, 3}) EXPECT_EQ(Position(id), 2500) << int{id};
  for (std::uint8_t id : {4, 5}) EXPECT_EQ(Position(id), 0) << int{id};
  // The last value mapped into the motion PDO was the target, on the
  // node's identifier for the axes too.
  using V = std::vector<std::uint64_t>;
  for (std::uint8_t id : {1, 2, 3}) {
    EXPECT_EQ(Written(id, 0x1601, 1).back(), 0x607A0020u) << int{id};
    EXPECT_EQ(Written(id, 0x1401, 1).back(), 0x301u) << int{id};
    EXPECT_EQ(Written(id, 0x1600, 1), V{0x60400010}) << int{id};
  }
  EXPECT_TRUE(SdoAccessesOf(4).empty());

  ASSERT_EQ(ProfilePositionMoveByPdo(gantryContext_, false, false, 0, 100000, 20000, 1000), kOk);
  Sleep(500);
  for (std::uint8_t id : {1, 2, 3}) EXPECT_EQ(Position(id), 3500) << int{id} << " relative";
  ExpectOwnAddressing();
}

TEST_F(GantryPdo, AFailedMappingEndsTheMoveBeforeAnyFrame) {
  Silence(3);
  EXPECT_EQ(ProfilePositionMoveByPdo(gantryContext_, true, true, 0, 100000, 20000, 2500), kFailed);
  Sleep(200);
  EXPECT_NE(gantry_[0].axes[1].axisResult, kOk);
  EXPECT_EQ(gantry_[0].axes[0].axisResult, kOk);
  EXPECT_EQ(Written(2, 0x1601, 1), std::vector<std::uint64_t>{0x60830020});
  for (std::uint8_t id : {1, 2}) EXPECT_EQ(Position(id), 0) << int{id};
  ExpectOwnAddressing();
}

// A node without axes is mapped too, or the values would land in whatever
// its PDO carried before.
TEST_F(Gantry, MappingReachesANodeWithoutAxes) {
  testing::TestNodes single{{1}};
  UseNodes(single.table);
  ServiceContext context{*this, single.table};
  ASSERT_EQ(MapObjectToRpdo(context, 0, 3, 0xFF, 32, 0x607A, 0), kOk);
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(Written(1, 0x1402, 1), V{0x401});
  EXPECT_EQ(Written(1, 0x1602, 0), (V{0, 1}));
  EXPECT_EQ(Written(1, 0x1602, 1), V{0x607A0020});
  EXPECT_EQ(Written(1, 0x1402, 2), V{0xFF});
  EXPECT_EQ(single[0].request.lastResult, kOk);
}

struct PdoSetUpCase {
  std::string name;
  std::uint32_t transmit;
  std::int32_t entry;
  // Index, subindex and value of each write, in order.
  std::vector<std::array<std::uint32_t, 3>> writes;
};

void PrintTo(const PdoSetUpCase& value, std::ostream* out) { *out << value.name; }

class PdoSetUp : public Gantry, public ::testing::WithParamInterface<PdoSetUpCase> {};

TEST_P(PdoSetUp, WritesThePdoInOrder) {
  testing::TestNodes single{{1}};
  UseNodes(single.table);
  ServiceContext context{*this, single.table};
  const PdoSetUpCase& c = GetParam();
  ASSERT_EQ(RunOnNodes(
                context, 1, PdoConfigStep,
                [&](NodeObject& node, auto) {
                  RequestRecord& r = *node.request.requestRecord;
                  r = RequestRecord{};
                  r.Set(pdo_mapping_request::kDirection, c.transmit);
                  r.Set(pdo_mapping_request::kPdoNumber, 2);
                  r.Set(pdo_mapping_request::kObjectCount, 2);
                  r.Set(pdo_mapping_request::kCobId, c.transmit ? 0x281 : 0x301);
                  r.Set(pdo_mapping_request::kTransmissionType, 1);
                  r.Set(pdo_mapping_request::kInhibitTime, 10);
                  r.Set(pdo_mapping_request::kEventTimer, 0);
                  r.Store<std::uint32_t>(pdo_mapping_request::kEntriesOffset, 0x607A0020);
                  r.Store<std::uint32_t>(pdo_mapping_request::kEntriesOffset + 4, 0x60400010);
                },
                c.entry),
            kOk);
  EXPECT_EQ(single[0].request.requestResult, kOk);
  std::vector<std::array<std::uint32_t, 3>> writes;
  for (const sim::canopen::SdoAccess& access : SdoAccessesOf(1)) {
    if (access.direction == sim::canopen::SdoDirection::kDownload) {
      writes.push_back({access.index, access.subindex, static_cast<std::uint32_t>(access.value)});
    }
  }
  EXPECT_EQ(writes, c.writes);
}

INSTANTIATE_TEST_SUITE_P(Pdos, PdoSetUp,
                         ::testing::Values(PdoSetUpCase{"receive",
                                                        0,
                                                        3,
                                                        {{0x1401, 1, 0x301},
                                                         {0x1601, 0, 0},
                                                         {0x1601, 1, 0x607A0020},
                                                         {0x1601, 2, 0x60400010},
                                                         {0x1601, 0, 2},
                                                         {0x1401, 2, 1}}},
                                           PdoSetUpCase{"transmit",
                                                        1,
                                                        3,
                                                        {{0x1801, 1, 0x281},
                                                         {0x1801, 3, 10},
                                                         {0x1801, 5, 0},
                                                         {0x1A01, 0, 0},
                                                         {0x1A01, 1, 0x607A0020},
                                                         {0x1A01, 2, 0x60400010},
                                                         {0x1A01, 0, 2},
                                                         {0x1801, 2, 1}}}),
                         [](const ::testing::TestParamInfo<PdoSetUpCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name;
                         });

// ---- Every member leaves the nodes' own identifiers behind ----------------------

struct MemberCase {
  std::string name;
  std::function<common::StatusCode(ServiceContext&)> run;
  int lastWait = 2;  // a wait in which an axis is addressed
};

void PrintTo(const MemberCase& value, std::ostream* out) { *out << value.name; }

const MemberCase kMembers[] = {
    {"masked download",
     [](ServiceContext& c) {
       SdoRecords r{};
       r[0] = MakeSdoRecord(0x6081, 0, 4, 5);
       NodeMask m = 0b11;
       return SdoDownloadToMaskedAxis(c, false, true, 0, m, r);
     },
     1},
    {"masked upload",
     [](ServiceContext& c) {
       SdoRecords r{};
       r[0] = MakeSdoRecord(0x6041, 0, 2);
       NodeMask m = 0b11;
       return SdoUploadFromMaskedAxis(c, true, 1, m, r);
     },
     1},
    {"probe chain", [](ServiceContext& c) { return ProbeAxisChain(c, true); }},
    {"chain state",
     [](ServiceContext& c) {
       const auto probe = ProbeAxisChain(c, false);
       return probe != kOk ? probe : SetAxisChainState(c, true, true, 0);
     },
     3},
    {"configure chain",
     [](ServiceContext& c) {
       const auto probe = ProbeAxisChain(c, false);
       return probe != kOk ? probe : ConfigureAxisChain(c);
     },
     7},
    {"report axis errors", [](ServiceContext& c) { return ReportAxisErrors(c, 0); }},
    {"hold position", [](ServiceContext& c) { return HoldHandlingAxisPositionOnAxes(c, 0); }},
    {"velocity mode halted", [](ServiceContext& c) { return SetVelocityModeHaltedOnAxes(c, 0); }},
    {"position factor",
     [](ServiceContext& c) {
       const PositionFactor f[] = {{2, 1}, {2, 1}, {2, 1}};
       return WritePositionFactorOnAxes(c, 0, f);
     }},
    {"restore gear ratios",
     [](ServiceContext& c) {
       c.nodes.nodes[0]->axes[1].gear.changed = 1;
       c.nodes.nodes[1]->axes[0].gear.changed = 1;
       return RestoreGearRatiosOnAxes(c);
     },
     3},
    {"profile move",
     [](ServiceContext& c) {
       const std::array<std::int32_t, 2> at{0, 0};
       return SetupAxesProfileMode(c, true, 0b11, at);
     },
     9},
    {"map object to receive PDO",
     [](ServiceContext& c) { return MapObjectToRpdo(c, 0, 2, 0xFF, 32, 0x607A, 0); }},
    {"profile move by PDO",
     [](ServiceContext& c) { return ProfilePositionMoveByPdo(c, true, true, 0, 1, 1, 0); }},
};

class MemberAddressing : public Gantry, public ::testing::WithParamInterface<MemberCase> {};

TEST_P(MemberAddressing, NodesKeepTheirIdentifiers) {
  EXPECT_NE(GetParam().run(gantryContext_), kernel::kCycleNotRunning);
  ExpectOwnAddressing();
}

TEST_P(MemberAddressing, NodesKeepTheirIdentifiersWhenTheCycleEnds) {
  std::uint16_t addressedAtEnd = 0;
  onCycleEnd_ = [&] { addressedAtEnd = gantry_[0].sdoRequestCobId; };
  endCycleInWait_ = GetParam().lastWait;
  EXPECT_EQ(GetParam().run(gantryContext_), kernel::kCycleNotRunning);
  EXPECT_NE(addressedAtEnd, 0x601) << "the cycle ended while an axis was addressed";
  ExpectOwnAddressing();
  for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(gantry_[k].request.stepFunction, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Members, MemberAddressing, ::testing::ValuesIn(kMembers));

}  // namespace
}  // namespace vantor::canopen

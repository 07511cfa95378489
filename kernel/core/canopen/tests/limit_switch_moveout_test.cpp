// Freeing drives from their limit switches over the real channel-1 driver
// and simulated drives with switches: plain drives with their own leave
// move, a gantry pair (drive 1 leading drive 2) with the kernel's phases.
// What reaches the drives is read from their own logs and models.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/leave_mode.h"
#include "kernel/core/canopen/limit_switch_moveout.h"
#include "kernel/core/canopen/moveout_limits.h"
#include "kernel/core/canopen/multi_axis_moveout.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using sim::drives::DriveSwitch;
using testing::RealBusFixture;
using Words = std::vector<std::uint16_t>;
using Values = std::vector<std::uint64_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr common::StatusCode kFailed = common::kKernelOperationFailed;
constexpr std::uint16_t kChain = 0x2043;
constexpr std::int32_t kSwitchDepth = 100;
// The larger home offset of the gantry pair: where it is set off its switch.
constexpr std::int32_t kSafeDistance = 3000;
// The mapping of the motion PDO (2) that carries the move's values.
constexpr std::uint16_t kMotionPdoMapping = 0x1601;

class MoveOutBus : public RealBusFixture {
 protected:
  // The drive stands at 0, a little beyond the switch.
  void PutOnSwitch(std::uint8_t id, DriveSwitch which) {
    const std::int32_t edge = which == DriveSwitch::kPositiveLimit ? -kSwitchDepth : kSwitchDepth;
    ASSERT_TRUE(Models([&](sim::Machine&) { return Drive(id).SetSwitchPosition(which, edge); }));
  }
  // A stalled drive does not fault for its growing following error.
  void Stall(std::uint8_t id) {
    Models([&](sim::Machine&) {
      DriveNode(id).Objects().SetUnsigned(0x6065, 0, 0xFFFFFFFFu);
      Drive(id).SetStalled(true);
      return 0;
    });
  }
  std::int32_t Position(std::uint8_t id) {
    return Models([&](sim::Machine&) { return Drive(id).ReportedPosition(); });
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
  // Downloads to the drive's chain object or its PDO parameters.
  int ChainOrPdoWrites(std::uint8_t id) {
    const auto accesses = SdoAccessesOf(id);
    return static_cast<int>(std::count_if(accesses.begin(), accesses.end(), [](const auto& a) {
      return a.direction == sim::canopen::SdoDirection::kDownload &&
             (a.index == kChain || (a.index >= 0x1400 && a.index < 0x1C00));
    }));
  }
  // Every access but the rebuilt layout of the receive PDOs.
  int AccessesOutsideLayout(std::uint8_t id) {
    const auto accesses = SdoAccessesOf(id);
    return static_cast<int>(std::count_if(accesses.begin(), accesses.end(), [](const auto& a) {
      return a.index < 0x1400 || a.index >= 0x1C00;
    }));
  }
  int Downloads(std::uint8_t id) {
    const auto accesses = SdoAccessesOf(id);
    return static_cast<int>(std::count_if(accesses.begin(), accesses.end(), [](const auto& a) {
      return a.direction == sim::canopen::SdoDirection::kDownload;
    }));
  }
};

// ---- Plain drives: the drive's own leave move ---------------------------------

class PlainMoveOut : public MoveOutBus {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_EQ(EnableAllDrives(context_, false), kOk);
    for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  }
};

struct LeaveCase {
  std::string name;
  DriveSwitch which;
  bool faultBeforeLeaving;
  common::StatusCode result;
  common::StatusCode lastResult;
  Words controlwords;  // over SDO, from entering the leave mode on
  int direction;       // where the drive ends: -1 below 0, +1 above, 0 on the switch
};

class PlainLeave : public PlainMoveOut, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(PlainLeave, LeavesOrEndsWithItsCause) {
  const LeaveCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(1, c.which));
  ASSERT_EQ(EnterLeaveMode(context_), kOk);
  for (std::uint8_t id : testing::kDriveIds) {
    EXPECT_EQ(Written(id, 0x6060, 0), Values{0xFD}) << "every plain node leaves its mode";
  }
  if (c.faultBeforeLeaving) {
    Models([&](sim::Machine&) {
      Drive(1).InjectFault(0x5000);
      return 0;
    });
  }
  EXPECT_EQ(MoveOutOfLimitSwitches(context_, 0b001), c.result);
  EXPECT_EQ(nodes_[0].request.lastResult, c.lastResult);
  EXPECT_EQ(LoggedControlwords(1), c.controlwords);
  const std::int32_t position = Position(1);
  if (c.direction == 0) {
    EXPECT_EQ(position, 0);
  } else {
    EXPECT_GE(c.direction * position, kSwitchDepth) << position;
  }
  if (c.result == kOk) {
    EXPECT_EQ(nodes_[0].position, position) << "read again";
  }
  for (std::uint8_t id : {2, 3}) EXPECT_EQ(Downloads(id), 2) << "only entering the leave mode";
  for (std::uint8_t id : testing::kDriveIds) EXPECT_EQ(ChainOrPdoWrites(id), 0) << int{id};
  EXPECT_EQ(clearedEnableWords_, std::vector<std::uint32_t>{1}) << "no multi-axis nodes";
}

INSTANTIATE_TEST_SUITE_P(MoveOut, PlainLeave,
                         ::testing::Values(LeaveCase{"OffThePositiveSwitch",
                                                     DriveSwitch::kPositiveLimit,
                                                     false,
                                                     kOk,
                                                     kOk,
                                                     {0x000F, 0x001F},
                                                     -1},
                                           LeaveCase{"OffTheNegativeSwitch",
                                                     DriveSwitch::kNegativeLimit,
                                                     false,
                                                     kOk,
                                                     kOk,
                                                     {0x000F, 0x001F},
                                                     +1},
                                           LeaveCase{"AFaultedDriveIsHaltedAndTellsItsState",
                                                     DriveSwitch::kPositiveLimit,
                                                     true,
                                                     kFailed,
                                                     common::kKernelNodeInErrorState,
                                                     {0x000F, 0x001F, kLeaveHalt},
                                                     0}),
                         [](const ::testing::TestParamInfo<LeaveCase>& info) {
                           return info.param.name;
                         });

TEST_F(PlainMoveOut, ADriveThatNeverLeavesIsHaltedAfterItsTime) {
  // 60 s on the bus, beyond the fixture's usual deadlines.
  maxWaitCycles_ = 40000;
  maxTestCycles_ = 60000;
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(2, DriveSwitch::kNegativeLimit));
  Stall(2);
  ASSERT_EQ(EnterLeaveMode(context_), kOk);
  const std::uint64_t started = MonotonicMilliseconds();
  EXPECT_EQ(MoveOutOfLimitSwitches(context_, 0b010), kFailed);
  const std::uint64_t took = MonotonicMilliseconds() - started;
  EXPECT_GE(took, kOffSwitchLimitMs);
  EXPECT_LT(took, kOffSwitchLimitMs + 1000);
  EXPECT_EQ(nodes_[1].request.lastResult, common::kKernelCanMessageTimeout);
  // The drive's log keeps only its latest transfers.
  const Words words = LoggedControlwords(2);
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(words.back(), kLeaveHalt);
}

TEST_F(PlainMoveOut, AStoppedCycleEndsAtOnceAndLeavesTheDrivesAlone) {
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(1, DriveSwitch::kPositiveLimit));
  ASSERT_EQ(EnterLeaveMode(context_), kOk);
  ClearDriveLog(1);
  cycleRunning_ = false;
  EXPECT_EQ(MoveOutOfLimitSwitches(context_, 0b111), kernel::kCycleNotRunning);
  EXPECT_EQ(EnterLeaveMode(context_), kernel::kCycleNotRunning);
  EXPECT_TRUE(SdoAccessesOf(1).empty());
  EXPECT_EQ(Position(1), 0);
}

TEST_F(PlainMoveOut, ACycleEndingDuringTheLeaveMoveEndsTheService) {
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(1, DriveSwitch::kPositiveLimit));
  Stall(1);
  ASSERT_EQ(EnterLeaveMode(context_), kOk);
  endCycleInWait_ = waits_ + 1;
  EXPECT_EQ(MoveOutOfLimitSwitches(context_, 0b001), kernel::kCycleNotRunning);
  EXPECT_FALSE(waitedWhileLocked_);
}

// ---- The safe distance: the home offset of larger magnitude ------------------

TEST(LargerMagnitude, TakesTheFartherValueAndTiesToTheSecond) {
  struct Case {
    double first, second, larger;
  };
  const Case cases[] = {{5, -2, 5}, {-7, 2, -7}, {2, -7, -7}, {3, -3, -3}, {-3, 3, 3}, {0, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(LargerMagnitude(c.first, c.second), c.larger) << c.first << " " << c.second;
  }
}

// ---- The gantry pair: the kernel's phases ---------------------------------------

class GantryMoveOut : public MoveOutBus {
 protected:
  GantryMoveOut() { UseNodes(pair_.table); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_EQ(ProbeAxisChain(pairContext_, false), kOk);
    ASSERT_EQ(ConfigureAxisChain(pairContext_), kOk);
    ASSERT_EQ(EnableAllDrives(pairContext_, false), kOk);
    ASSERT_EQ(SendNmtCommand(pairContext_, false, 0x01), kOk);  // process data
    NodeObject& leader = pair_[0];
    leader.profileVelocity = 20000;
    leader.profileAcceleration = 100000;
    leader.axes[0].profileVelocity = 20000;
    leader.axes[0].profileAcceleration = 100000;
    leader.drive.homing = HomingParameters{17, 300, 8000, 5000, 200000};
    leader.axes[0].drive.homing = HomingParameters{18, -kSafeDistance, 8000, 4000, 100000};
    for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  }
  void ExpectOwnAddressing() {
    EXPECT_EQ(pair_[0].sdoRequestCobId, 0x601);
    EXPECT_EQ(pair_[0].sdoResponseCobId, 0x581);
  }
  // Takes the chosen drive's profile velocity away once the last move's
  // velocity has gone out and its target is being mapped, before the
  // service's next transfer: the drive never gets there.
  void WaitForAll(std::span<CompletionSignal* const> signals) noexcept override {
    if (stopBeforeSafeDistance_) {
      const std::uint8_t id = *stopBeforeSafeDistance_;
      const Values mapped = Written(id, kMotionPdoMapping, 1);
      if (std::find(mapped.begin(), mapped.end(), 0x607A0020u) != mapped.end()) {
        Models([&](sim::Machine&) {
          DriveNode(id).Objects().SetUnsigned(0x6081, 0, 0);
          return 0;
        });
        stopBeforeSafeDistance_.reset();
      }
    }
    RealBusFixture::WaitForAll(signals);
  }
  void Home(NodeObject& node) { node.SetFlagInBothRows(kernel::StatusFlag::D, true); }

  // Node 0: drive 1 leading drive 2; node 1: drive 3 alone.
  testing::TestNodes pair_{{1, 3}, {{2}, {}}};
  std::optional<std::uint8_t> stopBeforeSafeDistance_;
  ServiceContext pairContext_{*this, pair_.table};
};

TEST_F(GantryMoveOut, APairOnItsPositiveSwitchIsHomedMovedOffAndSetAtItsDistance) {
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(1, DriveSwitch::kPositiveLimit));
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(2, DriveSwitch::kPositiveLimit));
  ASSERT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b01), kOk);

  // Off the switch, stopped, then the larger home offset further (the stop
  // takes a few hundred increments of reading and mapping).
  const std::int32_t leader = Position(1);
  EXPECT_EQ(Position(2), leader) << "the pair stands together";
  EXPECT_LT(leader, -kSwitchDepth - kSafeDistance);
  EXPECT_GT(leader, -kSwitchDepth - kSafeDistance - 1500);
  EXPECT_EQ(pair_[0].position, leader);
  // Homed where they stood, their own methods back afterwards.
  EXPECT_EQ(Written(1, 0x6098, 0), (Values{34, 17}));
  EXPECT_EQ(Written(2, 0x6098, 0), (Values{34, 18}));
  // Homing, the axis's profile preparation twice, velocity, position.
  EXPECT_EQ(Written(1, 0x6060, 0), (Values{6, 3, 1}));
  EXPECT_EQ(Written(2, 0x6060, 0), (Values{6, 1, 7, 3, 1, 7, 1}));
  // Uncoupled, coupled, twice, and uncoupled at the end.
  EXPECT_EQ(Written(1, kChain, 1), (Values{0, 2, 0, 2, 0}));
  EXPECT_EQ(Written(2, kChain, 1), (Values{0, 1, 0, 1, 0}));
  const Words words = LoggedControlwords(2);
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(words.back(), ds402::kEndProfileMove);
  EXPECT_NE(std::find(words.begin(), words.end(), ds402::kHalt), words.end());
  EXPECT_EQ(AccessesOutsideLayout(3), 0) << "the plain node only takes the layout again";
  EXPECT_GT(ChainOrPdoWrites(3), 0) << "the layout is rebuilt on every node";
  EXPECT_EQ(clearedEnableWords_, (std::vector<std::uint32_t>{1, 3}));
  ExpectOwnAddressing();
}

TEST_F(GantryMoveOut, AReferencedPairOnItsNegativeSwitchSkipsTheHoming) {
  Home(pair_[0]);
  Home(pair_[1]);
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(2, DriveSwitch::kNegativeLimit));
  ASSERT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b01), kOk);
  EXPECT_TRUE(Written(1, 0x6098, 0).empty());
  EXPECT_TRUE(Written(2, 0x6098, 0).empty());
  EXPECT_EQ(Written(2, 0x6060, 0), (Values{3, 1})) << "no homing, no profile preparation";
  EXPECT_GT(Position(2), kSwitchDepth + kSafeDistance);
  EXPECT_EQ(positionsTaken_, 1) << "every node homed: the axis records follow";
  ExpectOwnAddressing();
}

TEST_F(GantryMoveOut, APairOnNoSwitchIsLeftAlone) {
  Home(pair_[0]);
  ASSERT_EQ(EnterLeaveMode(pairContext_), kOk);
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  ASSERT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b11), kOk);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Written(id, kChain, 1), Values{}) << int{id};
    EXPECT_EQ(Downloads(id), ChainOrPdoWrites(id)) << "only the layout again: " << int{id};
  }
  EXPECT_EQ(Position(1), 0);
  EXPECT_EQ(Position(2), 0);
}

TEST_F(GantryMoveOut, AnAxisStalledOnItsWayToTheSafeDistanceIsHalted) {
  Home(pair_[0]);
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(1, DriveSwitch::kPositiveLimit));
  stopBeforeSafeDistance_ = 2;
  const std::uint64_t started = MonotonicMilliseconds();
  EXPECT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b01), kFailed);
  const std::uint64_t took = MonotonicMilliseconds() - started;
  EXPECT_GE(took, MoveTimeLimitMs(PlannedMoveSeconds(kSafeDistance, 4000, 100000)));
  EXPECT_LT(took, 2 * kProfileMoveSlackMs);
  EXPECT_EQ(pair_[0].axes[0].axisResult, common::kKernelGantryCompensationFailed);
  EXPECT_EQ(pair_[0].request.lastResult, kOk);
  const Words words = LoggedControlwords(2);
  ASSERT_GE(words.size(), 2u);
  EXPECT_EQ(words[words.size() - 2], ds402::kHalt) << "halted when the time was up";
  EXPECT_EQ(words.back(), ds402::kEndProfileMove);
  EXPECT_EQ(Written(1, kChain, 1).back(), 0u) << "the chain is left uncoupled";
  ExpectOwnAddressing();
}

TEST_F(GantryMoveOut, AnAxisStalledOnItsSwitchIsHaltedAfterItsTime) {
  // 60 s on the bus, beyond the fixture's usual deadlines.
  maxWaitCycles_ = 40000;
  maxTestCycles_ = 60000;
  Home(pair_[0]);
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(2, DriveSwitch::kPositiveLimit));
  Stall(2);
  const std::uint64_t started = MonotonicMilliseconds();
  EXPECT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b01), kFailed);
  const std::uint64_t took = MonotonicMilliseconds() - started;
  EXPECT_GE(took, kOffSwitchLimitMs);
  EXPECT_LT(took, kOffSwitchLimitMs + 2000);
  EXPECT_EQ(pair_[0].request.lastResult, common::kKernelGantryCompensationFailed);
  for (std::uint8_t id : {1, 2}) {
    const Words words = LoggedControlwords(id);
    ASSERT_FALSE(words.empty()) << int{id};
    EXPECT_EQ(words.back(), ds402::kHalt) << int{id};
  }
  EXPECT_EQ(Written(1, 0x6060, 0), Values{3}) << "no move to a safe distance";
  EXPECT_EQ(Written(2, kChain, 1).back(), 0u) << "the chain is left uncoupled";
  ExpectOwnAddressing();
}

TEST_F(GantryMoveOut, WithoutAGantryInTheRequestOnlyTheLayoutIsRebuilt) {
  ASSERT_NO_FATAL_FAILURE(PutOnSwitch(3, DriveSwitch::kPositiveLimit));
  ASSERT_EQ(EnterLeaveMode(pairContext_), kOk);
  EXPECT_TRUE(Written(1, 0x6060, 0).empty()) << "leave mode only for plain nodes";
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  ASSERT_EQ(MoveOutOfLimitSwitches(pairContext_, 0b10), kOk);
  EXPECT_LT(Position(3), 0);
  EXPECT_EQ(Written(1, kChain, 1), Values{});
  EXPECT_EQ(Downloads(1), ChainOrPdoWrites(1)) << "only the layout again";
  EXPECT_GT(Downloads(1), 0);
  EXPECT_EQ(clearedEnableWords_, (std::vector<std::uint32_t>{1, 3}));
}

}  // namespace
}  // namespace vantor::canopen

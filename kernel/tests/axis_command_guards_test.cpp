// The state tests of commands 17 to 35, one condition at a time: case i of
// a code sets its condition i and every later one, so each must be
// answered before all that follow it; with none set the command passes
// its tests.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/core/kernel_status.h"
#include "kernel/tests/axis_kernel_stand_in.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;
using testing::AxisKernel;
using testing::Condition;
using K = KernelData;

const Condition kNotInitialised{"not initialised", [](K& d) { d.state.SetCncInitialised(false); },
                                common::kKernelCncNotInitialized};
const Condition kReset{"reset pending", [](K& d) { d.state.resetPending = 1; },
                       common::kKernelResetNotDone};
const Condition kCycle{"cycle", [](K& d) { d.state.cycleRunning = 0; }, kCycleNotRunning};
const Condition kBus{"bus", [](K& d) { d.state.busOk = 0; }, common::kKernelCanBusDisturbed};
const Condition kSync{"SYNC", [](K& d) { d.state.syncRunning = 0; },
                      common::kKernelSyncObjectFailed};
const Condition kPeriphery{"peripheral PDOs", [](K& d) { d.state.peripheryPdoOk = 0; },
                           common::kKernelPeripheryPdoInvalid};
const Condition kBreak{"break", [](K& d) { d.state.motionBreak = 1; },
                       common::kKernelBreakModeActive};
const Condition kStopped{"drives stopped", [](K& d) { d.state.stopped = 1; },
                         common::kKernelQuickStopActive};
const Condition kBridge{"bridge", [](K& d) { d.state.limitSwitchBridge = 1; },
                        common::kKernelLimitSwitchBridgeActive};
const Condition kMoveOut{"move-out mode", [](K& d) { d.state.limitSwitchLeave = 1; },
                         common::kKernelLimitSwitchMoveOutActive};
// A current-limit warning: ready, but not for motion; homing is untouched.
const Condition kNodeNotReady{
    "node not ready",
    [](K& d) { d.nodeConfiguration.records[1].can->current.Set(StatusFlag::K, false); },
    common::kKernelNodeWasInErrorState};
const Condition kNodeNotHomed{
    "node not homed",
    [](K& d) { d.nodeConfiguration.records[1].can->current.Set(StatusFlag::D, false); },
    common::kKernelNodeWasInErrorState};
const Condition kMotion{"motion", [](K& d) { d.state.motionActive = 1; },
                        common::kKernelMovementSegmentActive};
const Condition kPath{"path started", [](K& d) { d.state.pathStarted = 1; },
                      common::kKernelPathModeError};
const Condition kStopOnInput{"stop on input running", [](K& d) { d.state.stopOnInputActive = 1; },
                             common::kKernelStopOnInputInAction};
const Condition kPowerOff{"power off", [](K& d) { d.state.powerOff = 1; },
                          common::kKernelManualModeActive};
const Condition kTeach{"teach mode", [](K& d) { d.state.teachMode = 1; },
                       common::kKernelTeachInModeActive};
const Condition kDistance{"distance control",
                          [](K& d) { d.nodeConfiguration.records[0].can->regulatorActive = 1; },
                          common::kKernelDistanceControlActive};
const Condition kHandwheelEvaluation{"handwheel evaluation",
                                     [](K& d) { d.state.handwheelInitialised = 1; },
                                     common::kKernelHandwheelAlreadyInitialized};
const Condition kHandwheel{"handwheel", [](K& d) { d.state.handwheelActive = 1; },
                           common::kKernelHandwheelAlreadyActive};
const Condition kVelocityOutput{"velocity output", [](K& d) { d.state.velocityOutputActive = 1; },
                                common::kKernelVelPropOutputAlreadyActive};
const Condition kMoveOutOff{"move-out mode off", [](K& d) { d.state.limitSwitchLeave = 0; },
                            common::kKernelLimitSwitchMoveOutActive};
const Condition kVelocityZero{"a velocity of 0", [](K&) {}, common::kKernelVelocityInvalid};

struct CodeChain {
  const char* name;
  std::uint32_t code;
  std::uint32_t firstWord;  // the payload's first word
  std::vector<Condition> conditions;
};

std::vector<CodeChain> Chains() {
  return {
      {"LastResultsNeedOnlyTheInitialisation", 17, 0, {kNotInitialised}},
      {"SetVelocity",
       18,
       0,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kBreak, kStopped, kNodeNotReady,
        kVelocityZero}},
      {"GetVelocity", 19, 0, {kNotInitialised, kReset, kCycle, kBus, kSync, kNodeNotReady}},
      {"GetPosition", 20, 0, {kNotInitialised, kReset, kCycle, kBus, kSync, kNodeNotReady}},
      {"GetDestinationIgnoresTheReset", 21, 0, {kNotInitialised, kNodeNotHomed}},
      {"GetDesiredPosIgnoresTheReset", 22, 0, {kNotInitialised, kNodeNotHomed}},
      {"GetAxisPosition", 23, 0, {kNotInitialised, kReset, kCycle, kBus, kSync, kNodeNotReady}},
      {"SetOverride",
       25,
       50,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kBreak, kStopped, kBridge,
        kMoveOut, kNodeNotReady}},
      {"GetOverride", 26, 0, {kNotInitialised, kNodeNotHomed}},
      {"Continue",
       27,
       0,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kStopped, kNodeNotReady}},
      {"StopDoesNotAskTheNodes",
       27,
       1,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kStopped}},
      {"PowerOff",
       28,
       1,
       {kNotInitialised, kCycle, kBus, kMotion, kPath, kTeach, kDistance, kHandwheelEvaluation}},
      {"TeachMode",
       29,
       1,
       {kNotInitialised, kReset, kCycle, kBus, kMotion, kPath, kPowerOff, kDistance,
        kVelocityOutput}},
      {"Bridge", 30, 1, {kNotInitialised, kCycle, kBus, kReset, kMotion, kPath, kMoveOut}},
      {"MoveOutMode",
       31,
       1,
       {kNotInitialised, kCycle, kBus, kReset, kMotion, kPath, kBridge, kDistance, kStopOnInput,
        kHandwheel}},
      {"MoveOut", 32, 1, {kNotInitialised, kCycle, kBus, kReset, kMoveOutOff}},
      {"ActualPositionAsZeroPoint",
       33,
       0,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kBreak, kStopped, kNodeNotReady,
        kMotion, kPath, kStopOnInput}},
      {"ZeroPoint",
       34,
       1,
       {kNotInitialised, kReset, kCycle, kBus, kSync, kPeriphery, kBreak, kStopped, kNodeNotReady,
        kMotion, kPath, kStopOnInput}},
      {"GetZeroPoint", 35, 0, {kNotInitialised, kNodeNotHomed}},
  };
}

class AxisCommandGuardTest : public ::testing::TestWithParam<CodeChain> {};

TEST_P(AxisCommandGuardTest, EachConditionIsAnsweredBeforeTheLaterOnes) {
  const CodeChain& chain = GetParam();
  for (std::size_t i = 0; i < chain.conditions.size(); ++i) {
    SCOPED_TRACE(chain.conditions[i].name);
    AxisKernel k;
    k.PutWord(0, chain.firstWord);
    if (chain.code == 18) {
      // The six velocities: all good but the last, which is 0.
      for (std::size_t v = 0; v < 6; ++v) k.PutValue(8 * v, v < 5 ? 1000 : 0);
    }
    for (std::size_t j = i; j < chain.conditions.size(); ++j) {
      chain.conditions[j].apply(k.data());
    }
    EXPECT_EQ(k.Run(chain.code), chain.conditions[i].answer);
  }
}

INSTANTIATE_TEST_SUITE_P(EachCode, AxisCommandGuardTest, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

// The commands that only read or set kernel values pass with every
// condition good.
TEST(AxisCommandGuards, ReadyKernelPassesEveryTest) {
  for (const std::uint32_t code : {17u, 19u, 20u, 21u, 22u, 23u, 25u, 26u, 33u, 34u, 35u}) {
    AxisKernel k;
    k.PutWord(0, 50);
    EXPECT_EQ(k.Run(code), common::kKernelSuccess) << code;
  }
}

}  // namespace
}  // namespace vantor::kernel

// The refusals of the path commands in their order: each condition alone
// gives its own answer, and together with the condition tested after it
// still its own, so a chain tested in another order fails.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/core/kernel_status.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel {
namespace {

using common::CommandCode;
using common::StatusCode;
using testing::PathKernel;
using Spoil = std::function<void(PathKernel&)>;

struct Condition {
  const char* name;
  Spoil spoil;
  StatusCode result;
};

const Condition kUninitialised{"uninitialised",
                               [](PathKernel& k) { k.state().SetCncInitialised(false); },
                               common::kKernelCncNotInitialized};
const Condition kResetBusy{"reset", [](PathKernel& k) { k.state().resetPending = 1; },
                           common::kKernelResetNotDone};
const Condition kCycle{"cycle", [](PathKernel& k) { k.state().cycleRunning = 0; },
                       kCycleNotRunning};
const Condition kBus{"bus", [](PathKernel& k) { k.state().busOk = 0; },
                     common::kKernelCanBusDisturbed};
const Condition kSync{"sync", [](PathKernel& k) { k.state().syncRunning = 0; },
                      common::kKernelSyncObjectFailed};
const Condition kPdo{"pdo", [](PathKernel& k) { k.state().peripheryPdoOk = 0; },
                     common::kKernelPeripheryPdoInvalid};
const Condition kBreak{"break", [](PathKernel& k) { k.state().motionBreak = 1; },
                       common::kKernelBreakModeActive};
const Condition kQuickStop{"quickStop", [](PathKernel& k) { k.state().quickStopping = 1; },
                           common::kKernelQuickStopActive};
const Condition kStopped{"stopped", [](PathKernel& k) { k.state().stopped = 1; },
                         common::kKernelQuickStopActive};
const Condition kBridge{"bridge", [](PathKernel& k) { k.state().limitSwitchBridge = 1; },
                        common::kKernelLimitSwitchBridgeActive};
const Condition kMoveOut{"moveOut", [](PathKernel& k) { k.state().limitSwitchLeave = 1; },
                         common::kKernelLimitSwitchMoveOutActive};
const Condition kPowerOff{"powerOff", [](PathKernel& k) { k.state().powerOff = 1; },
                          common::kKernelManualModeActive};
const Condition kTeach{"teach", [](PathKernel& k) { k.state().teachMode = 1; },
                       common::kKernelTeachInModeActive};
const Condition kNodes{"nodes",
                       [](PathKernel& k) {
                         k.data().nodeConfiguration.records[0].can->current.Set(StatusFlag::D,
                                                                                false);
                       },
                       common::kKernelNodeWasInErrorState};
const Condition kNoAxis{"noAxis",
                        [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 0; },
                        common::kKernelMovementDataInvalid};
const Condition kOneAxis{
    "oneAxis", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 1; },
    common::kKernelMovementDataInvalid};
const Condition kStopOnInput{"stopOnInput", [](PathKernel& k) { k.state().stopOnInputActive = 1; },
                             common::kKernelStopOnInputInAction};
const Condition kStopOnInputStop{"stopOnInputStop",
                                 [](PathKernel& k) { k.state().stopOnInputTriggered = 1; },
                                 common::kKernelStopOnInputStopActive};
const Condition kHandwheel{"handwheel", [](PathKernel& k) { k.state().handwheelActive = 1; },
                           common::kKernelHandwheelAlreadyActive};
const Condition kMotion{"motion", [](PathKernel& k) { k.state().motionActive = 1; },
                        common::kKernelMovementSegmentActive};
const Condition kSingleMove{"singleMove", [](PathKernel& k) { k.state().motionActive = 1; },
                            common::kKernelSegmentMotionAlreadyActive};
const Condition kTransferInSingleMove{"transferInSingleMove",
                                      [](PathKernel& k) {
                                        k.state().pathMode = 0;
                                        k.state().motionActive = 1;
                                      },
                                      common::kKernelSegmentMotionAlreadyActive};
const Condition kPathMode{"pathMode", [](PathKernel& k) { k.state().pathMode = 1; },
                          common::kKernelPathModeError};
const Condition kPathModeOff{"pathModeOff", [](PathKernel& k) { k.state().pathMode = 0; },
                             common::kKernelPathModeError};
const Condition kStarted{"started", [](PathKernel& k) { k.state().pathStarted = 1; },
                         common::kKernelPathModeError};
const Condition kQueueFull{"queueFull", [](PathKernel& k) { k.queue().capacity = 0; },
                           common::kKernelPathBufferError};

struct Chain {
  const char* name;
  CommandCode code;
  Spoil setUp;  // the payload and the state in which the command would act
  std::vector<Condition> conditions;
};

void RelativeLine(PathKernel& k) {
  k.Word(0, 0);
  k.Word(4, 0);
  k.Value(8, 1);
  k.Value(16, 0);
  k.Value(24, 0);
}

const std::vector<Chain>& Chains() {
  static const std::vector<Chain> chains = {
      {"MoveFeed",
       CommandCode::Move,
       RelativeLine,
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kPowerOff, kQuickStop,
        kBridge, kMoveOut, kNoAxis, kNodes, kStopOnInputStop, kHandwheel, kSingleMove, kStarted}},
      {"MoveRapid",
       CommandCode::Move,
       [](PathKernel& k) {
         RelativeLine(k);
         k.Word(4, 1);
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kPowerOff, kQuickStop,
        kBridge, kMoveOut, kNoAxis, kNodes, kTeach, kPathMode, kStopOnInputStop, kStopOnInput,
        kHandwheel, kSingleMove}},
      {"MoveInPathMode",
       CommandCode::Move,
       [](PathKernel& k) {
         RelativeLine(k);
         k.state().pathMode = 1;
       },
       {kCycle, kNodes, kStopOnInputStop, kHandwheel, kQueueFull}},
      {"Circle",
       CommandCode::Circle,
       [](PathKernel&) {},
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kTeach, kPowerOff,
        kQuickStop, kBridge, kMoveOut, kOneAxis, kNodes, kStopOnInput, kHandwheel, kSingleMove}},
      {"Helix",
       CommandCode::Helix,
       [](PathKernel&) {},
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kTeach, kPowerOff,
        kQuickStop, kBridge, kMoveOut, kNodes, kStopOnInput, kHandwheel, kSingleMove, kStarted}},
      {"PathVelocity",
       CommandCode::PathVelocity,
       [](PathKernel& k) {
         k.state().pathMode = 1;
         k.Value(0, 5);
         k.Value(8, 5);
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kPowerOff,
        kTeach, kBridge, kMoveOut, kNodes, kPathModeOff, kQueueFull}},
      {"EventToSet",
       CommandCode::EventToSet,
       [](PathKernel& k) { k.state().pathMode = 1; },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kStopped, kPowerOff, kTeach,
        kBridge, kMoveOut, kNodes, kPathModeOff, kQueueFull}},
      {"SetPathCoor",
       CommandCode::SetPathCoor,
       [](PathKernel& k) { k.Word(0, 1); },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kBridge,
        kMoveOut, kNodes, kMotion, kPathMode}},
      {"EnablePath",
       CommandCode::EnablePath,
       [](PathKernel& k) { k.Word(0, 1); },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kTeach, kPowerOff,
        kQuickStop, kBridge, kMoveOut, kStopOnInput, kHandwheel, kNodes, kMotion}},
      {"StartPath",
       CommandCode::StartPath,
       [](PathKernel& k) { k.Word(0, 1); },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kTeach, kPowerOff, kStopped,
        kBridge, kMoveOut, kStopOnInput, kHandwheel, kNodes, kMotion}},
      // While a path runs only the stop states refuse a new queue size.
      {"SetBufferSize",
       CommandCode::SetBufferSize,
       [](PathKernel& k) {
         k.Word(0, 5);
         k.state().pathMode = k.state().pathStarted = k.state().motionActive = 1;
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kBridge,
        kMoveOut, kNodes}},
      {"EnableDllPathBuffer",
       CommandCode::EnableDllPathBuffer,
       [](PathKernel& k) {
         k.Word(0, 1);
         k.state().pathMode = 1;
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kPathModeOff, kTeach,
        kPowerOff, kQuickStop, kBridge, kMoveOut, kNodes}},
      {"TransferDllPathBuffer",
       CommandCode::TransferDllPathBuffer,
       [](PathKernel& k) { k.state().pathMode = 1; },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kTeach, kPowerOff,
        kQuickStop, kBridge, kMoveOut, kNodes, kTransferInSingleMove, kPathModeOff}},
      {"SetPlaneRotPar",
       CommandCode::SetPlaneRotPar,
       [](PathKernel& k) {
         k.Word(0, 1);
         k.Word(4, 30);
       },
       {kUninitialised, kCycle, kBus, kResetBusy, kSync, kPdo, kPathMode, kStarted, kMotion, kBreak,
        kQuickStop, kNodes}},
      {"SetPathVelFac",
       CommandCode::SetPathVelFac,
       [](PathKernel& k) { k.Word(0, 50); },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kBridge,
        kMoveOut, kNodes, kMotion, kPathMode}},
  };
  return chains;
}

class PathCommandGuards : public ::testing::TestWithParam<Chain> {};

TEST_P(PathCommandGuards, EachConditionAnswersInItsOrder) {
  const Chain& chain = GetParam();
  const auto run = [&](std::initializer_list<const Condition*> spoiled) {
    PathKernel k(true);
    chain.setUp(k);
    for (const Condition* condition : spoiled) condition->spoil(k);
    const std::int32_t queued = k.queue().count;
    const StatusCode result = k.Run(chain.code);
    EXPECT_EQ(k.queue().count, queued) << "a refused command queued nothing";
    return result;
  };
  const std::vector<Condition>& c = chain.conditions;
  for (std::size_t i = 0; i < c.size(); ++i) {
    EXPECT_EQ(run({&c[i]}), c[i].result) << c[i].name << " alone";
    if (i + 1 < c.size()) {
      EXPECT_EQ(run({&c[i], &c[i + 1]}), c[i].result) << c[i].name << " before " << c[i + 1].name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EachCode, PathCommandGuards, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantor::kernel

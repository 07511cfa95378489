// The refusals of the path commands in their order: each condition alone
// gives its own answer, and together with the condition tested after it
// still its own, so a chain tested in another order fails.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/core/kernel_status.h"
#include "kernel/tests/command_guard_conditions.h"

namespace vantor::kernel {
namespace {

using common::CommandCode;
using common::StatusCode;
using namespace testing;  // NOLINT: the shared conditions

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

TEST_P(PathCommandGuards, EachConditionAnswersInItsOrder) { ExpectGuardChain(GetParam()); }

INSTANTIATE_TEST_SUITE_P(EachCode, PathCommandGuards, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantor::kernel

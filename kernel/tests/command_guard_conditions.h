// The conditions that refuse a command, each with the answer it gives, and
// the check that a command tests them in its order: each condition alone
// gives its own answer, and together with the condition tested after it
// still its own, so a chain tested in another order fails.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <vector>

#include "kernel/core/kernel_status.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel::testing {

using common::CommandCode;
using common::StatusCode;
using Spoil = std::function<void(PathKernel&)>;

struct Condition {
  const char* name;
  Spoil spoil;
  StatusCode result;
};

inline const Condition kUninitialised{"uninitialised",
                                      [](PathKernel& k) { k.state().SetCncInitialised(false); },
                                      common::kKernelCncNotInitialized};
inline const Condition kResetBusy{"reset", [](PathKernel& k) { k.state().resetPending = 1; },
                                  common::kKernelResetNotDone};
inline const Condition kCycle{"cycle", [](PathKernel& k) { k.state().cycleRunning = 0; },
                              kCycleNotRunning};
inline const Condition kBus{"bus", [](PathKernel& k) { k.state().busOk = 0; },
                            common::kKernelCanBusDisturbed};
inline const Condition kSync{"sync", [](PathKernel& k) { k.state().syncRunning = 0; },
                             common::kKernelSyncObjectFailed};
inline const Condition kPdo{"pdo", [](PathKernel& k) { k.state().peripheryPdoOk = 0; },
                            common::kKernelPeripheryPdoInvalid};
inline const Condition kBreak{"break", [](PathKernel& k) { k.state().motionBreak = 1; },
                              common::kKernelBreakModeActive};
inline const Condition kQuickStop{"quickStop", [](PathKernel& k) { k.state().quickStopping = 1; },
                                  common::kKernelQuickStopActive};
inline const Condition kStopped{"stopped", [](PathKernel& k) { k.state().stopped = 1; },
                                common::kKernelQuickStopActive};
inline const Condition kBridge{"bridge", [](PathKernel& k) { k.state().limitSwitchBridge = 1; },
                               common::kKernelLimitSwitchBridgeActive};
inline const Condition kMoveOut{"moveOut", [](PathKernel& k) { k.state().limitSwitchLeave = 1; },
                                common::kKernelLimitSwitchMoveOutActive};
inline const Condition kPowerOff{"powerOff", [](PathKernel& k) { k.state().powerOff = 1; },
                                 common::kKernelManualModeActive};
inline const Condition kTeach{"teach", [](PathKernel& k) { k.state().teachMode = 1; },
                              common::kKernelTeachInModeActive};
inline const Condition kNodes{"nodes",
                              [](PathKernel& k) {
                                k.data().nodeConfiguration.records[0].can->current.Set(
                                    StatusFlag::D, false);
                              },
                              common::kKernelNodeWasInErrorState};
inline const Condition kNoAxis{
    "noAxis", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 0; },
    common::kKernelMovementDataInvalid};
inline const Condition kOneAxis{
    "oneAxis", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 1; },
    common::kKernelMovementDataInvalid};
inline const Condition kStopOnInput{"stopOnInput",
                                    [](PathKernel& k) { k.state().stopOnInputActive = 1; },
                                    common::kKernelStopOnInputInAction};
inline const Condition kStopOnInputStop{"stopOnInputStop",
                                        [](PathKernel& k) { k.state().stopOnInputTriggered = 1; },
                                        common::kKernelStopOnInputStopActive};
inline const Condition kHandwheel{"handwheel", [](PathKernel& k) { k.state().handwheelActive = 1; },
                                  common::kKernelHandwheelAlreadyActive};
inline const Condition kMotion{"motion", [](PathKernel& k) { k.state().motionActive = 1; },
                               common::kKernelMovementSegmentActive};
inline const Condition kSingleMove{"singleMove", [](PathKernel& k) { k.state().motionActive = 1; },
                                   common::kKernelSegmentMotionAlreadyActive};
inline const Condition kTransferInSingleMove{"transferInSingleMove",
                                             [](PathKernel& k) {
                                               k.state().pathMode = 0;
                                               k.state().motionActive = 1;
                                             },
                                             common::kKernelSegmentMotionAlreadyActive};
inline const Condition kPathMode{"pathMode", [](PathKernel& k) { k.state().pathMode = 1; },
                                 common::kKernelPathModeError};
inline const Condition kPathModeOff{"pathModeOff", [](PathKernel& k) { k.state().pathMode = 0; },
                                    common::kKernelPathModeError};
inline const Condition kStarted{"started", [](PathKernel& k) { k.state().pathStarted = 1; },
                                common::kKernelPathModeError};
inline const Condition kQueueFull{"queueFull", [](PathKernel& k) { k.queue().capacity = 0; },
                                  common::kKernelPathBufferError};

struct Chain {
  const char* name;
  CommandCode code;
  Spoil setUp;  // the payload and the state in which the command would act
  std::vector<Condition> conditions;
};

// Runs the chain's command once per condition alone and once per pair of
// neighbours; a refused command queues nothing.
inline void ExpectGuardChain(const Chain& chain) {
  const auto run = [&](std::initializer_list<const Condition*> spoiled) {
    PathKernel k(true);
    chain.setUp(k);
    for (const Condition* condition : spoiled) condition->spoil(k);
    const std::int32_t queued = k.queue().count;
    const common::StatusCode result = k.Run(chain.code);
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

}  // namespace vantor::kernel::testing

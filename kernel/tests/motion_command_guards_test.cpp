#include "kernel/services/motion_command_guards.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "kernel/core/kernel_status.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;

// A kernel whose state passes every guard: link up, one node ready and
// homed, no mode that holds motion.
struct ReadyKernel {
  std::unique_ptr<KernelData> data = std::make_unique<KernelData>();
  canopen::NodeObject& node = *data->nodeConfiguration.Place(0, canopen::NodeSetup{.nodeId = 1});

  ReadyKernel() {
    KernelStateFlags& s = data->state;
    s.cycleRunning = s.busOk = s.syncRunning = s.peripheryPdoOk = 1;
    s.driveEnable = s.haltOk = 1;
    node.latched.SetAll(true);
    node.current.SetAll(true);
    data->nodeConfiguration.table.nodeCount = 1;
  }
};

struct GuardCase {
  const char* name;
  MotionGuard guard;
  std::function<void(KernelData&)> spoil;
  StatusCode refusal;
  std::function<void(KernelData&)> allow = nullptr;  // applied after `spoil`: passes again
  // The ready kernel already passes the guard.
  bool readyPasses = true;
};

void FillQueue(KernelData& d) {
  d.motionRuntime.path.queue.capacity = 2;
  d.motionRuntime.path.queue.count = 2;
}
void MakeRoom(KernelData& d) { d.motionRuntime.path.queue.count = 1; }

const GuardCase kGuardCases[] = {
    {"Cycle", MotionGuard::CycleRunning, [](KernelData& d) { d.state.cycleRunning = 0; },
     kCycleNotRunning},
    {"Bus", MotionGuard::BusInOrder, [](KernelData& d) { d.state.busOk = 0; },
     common::kKernelCanBusDisturbed},
    {"Sync", MotionGuard::SyncInOrder, [](KernelData& d) { d.state.syncRunning = 0; },
     common::kKernelSyncObjectFailed},
    {"PeripheryPdo", MotionGuard::PeripheryPdoInOrder,
     [](KernelData& d) { d.state.peripheryPdoOk = 0; }, common::kKernelPeripheryPdoInvalid},
    {"Break", MotionGuard::NoBreak, [](KernelData& d) { d.state.motionBreak = 1; },
     common::kKernelBreakModeActive},
    {"QuickStopping", MotionGuard::NoQuickStop, [](KernelData& d) { d.state.quickStopping = 1; },
     common::kKernelQuickStopActive},
    {"Stopped", MotionGuard::NoQuickStop, [](KernelData& d) { d.state.stopped = 1; },
     common::kKernelQuickStopActive},
    {"BridgeOutsideTest", MotionGuard::NoBridgeOutsideTest,
     [](KernelData& d) { d.state.limitSwitchBridge = 1; }, common::kKernelLimitSwitchBridgeActive,
     [](KernelData& d) { d.state.testMode = 1; }},
    {"BridgeInTeachIsNoTest", MotionGuard::NoBridgeOutsideTest,
     [](KernelData& d) { d.state.limitSwitchBridge = d.state.teachMode = 1; },
     common::kKernelLimitSwitchBridgeActive, [](KernelData& d) { d.state.testMode = 1; }},
    {"BridgeOutsideTeachOrTest", MotionGuard::NoBridgeOutsideTeachOrTest,
     [](KernelData& d) { d.state.limitSwitchBridge = 1; }, common::kKernelLimitSwitchBridgeActive,
     [](KernelData& d) { d.state.teachMode = 1; }},
    {"BridgeEvenInTest", MotionGuard::NoBridge,
     [](KernelData& d) { d.state.limitSwitchBridge = d.state.testMode = 1; },
     common::kKernelLimitSwitchBridgeActive},
    {"MoveOut", MotionGuard::NoMoveOut, [](KernelData& d) { d.state.limitSwitchLeave = 1; },
     common::kKernelLimitSwitchMoveOutActive},
    {"PowerOff", MotionGuard::NoPowerOff, [](KernelData& d) { d.state.powerOff = 1; },
     common::kKernelManualModeActive},
    {"Teach", MotionGuard::NoTeachMode, [](KernelData& d) { d.state.teachMode = 1; },
     common::kKernelTeachInModeActive},
    {"NodeNotHomed", MotionGuard::NodesReady,
     [](KernelData& d) { d.nodeConfiguration.Node(0)->can->current.Set(StatusFlag::D, false); },
     common::kKernelNodeWasInErrorState},
    {"NodeNotHomedForReads", MotionGuard::NodesHomed,
     [](KernelData& d) { d.nodeConfiguration.Node(0)->can->latched.Set(StatusFlag::D, false); },
     common::kKernelNodeWasInErrorState,
     [](KernelData& d) {
       // Homed is all it asks: a drive that is not ready for motion passes.
       d.nodeConfiguration.Node(0)->can->latched.Set(StatusFlag::D, true);
       d.nodeConfiguration.Node(0)->can->current.Set(StatusFlag::K, false);
     }},
    {"MoveOutOff", MotionGuard::MoveOutOn, [](KernelData& d) { d.state.limitSwitchLeave = 0; },
     common::kKernelLimitSwitchMoveOutActive, [](KernelData& d) { d.state.limitSwitchLeave = 1; }},
    {"HandwheelEvaluation", MotionGuard::NoHandwheelEvaluation,
     [](KernelData& d) { d.state.handwheelInitialised = 1; },
     common::kKernelHandwheelAlreadyInitialized},
    {"DistanceControl", MotionGuard::NoDistanceControl,
     [](KernelData& d) { d.nodeConfiguration.Node(0)->can->regulatorActive = 1; },
     common::kKernelDistanceControlActive},
    {"Motion", MotionGuard::NoMotion, [](KernelData& d) { d.state.motionActive = 1; },
     common::kKernelMovementSegmentActive},
    {"SingleMove", MotionGuard::NoSingleMove, [](KernelData& d) { d.state.motionActive = 1; },
     common::kKernelSegmentMotionAlreadyActive},
    {"PathModeOff", MotionGuard::PathModeOn, [](KernelData& d) { d.state.pathMode = 0; },
     common::kKernelPathModeError, [](KernelData& d) { d.state.pathMode = 1; }},
    {"PathStarted", MotionGuard::NoPathStarted, [](KernelData& d) { d.state.pathStarted = 1; },
     common::kKernelPathModeError},
    {"PathMode", MotionGuard::NoPathModeOrStart, [](KernelData& d) { d.state.pathMode = 1; },
     common::kKernelPathModeError},
    {"StopOnInputRunning", MotionGuard::NoStopOnInputRunning,
     [](KernelData& d) { d.state.stopOnInputActive = 1; }, common::kKernelStopOnInputInAction},
    {"StopOnInputStop", MotionGuard::NoStopOnInputStop,
     [](KernelData& d) { d.state.stopOnInputTriggered = 1; }, common::kKernelStopOnInputStopActive},
    {"Handwheel", MotionGuard::NoHandwheel, [](KernelData& d) { d.state.handwheelActive = 1; },
     common::kKernelHandwheelAlreadyActive},
    {"VelocityOutput", MotionGuard::NoVelocityOutput,
     [](KernelData& d) { d.state.velocityOutputActive = 1; },
     common::kKernelVelPropOutputAlreadyActive},
    {"NoInterpolatedAxis", MotionGuard::HasInterpolatedAxis,
     [](KernelData& d) { d.coordinateCount = 2; }, common::kKernelMovementDataInvalid,
     [](KernelData& d) { d.nodeConfiguration.interpolatedNodeCount = 1; }, false},
    {"OneInterpolatedAxisIsNoPair", MotionGuard::HasInterpolatedPair,
     [](KernelData& d) {
       d.coordinateCount = 1;
       d.nodeConfiguration.interpolatedNodeCount = 2;
     },
     common::kKernelMovementDataInvalid, [](KernelData& d) { d.coordinateCount = 2; }, false},
    {"FullQueueInPathMode", MotionGuard::QueueOpenForMove,
     [](KernelData& d) {
       d.state.pathMode = 1;
       FillQueue(d);
     },
     common::kKernelPathBufferError, MakeRoom},
    {"SingleMoveRunning", MotionGuard::QueueOpenForMove,
     [](KernelData& d) { d.state.motionActive = 1; }, common::kKernelSegmentMotionAlreadyActive,
     [](KernelData& d) {
       d.state.pathMode = 1;
       d.motionRuntime.path.queue.capacity = 1;
     }},
    {"StartedWithoutPathMode", MotionGuard::QueueOpenForMove,
     [](KernelData& d) { d.state.pathStarted = 1; }, common::kKernelPathModeError},
    {"QueueFull", MotionGuard::QueueHasRoom, FillQueue, common::kKernelPathBufferError, MakeRoom,
     false},
    {"TransferWhileSingleMove", MotionGuard::PathModeForTransfer,
     [](KernelData& d) { d.state.motionActive = 1; }, common::kKernelSegmentMotionAlreadyActive,
     [](KernelData& d) { d.state.pathMode = 1; }, false},
    {"TransferWithoutPathMode", MotionGuard::PathModeForTransfer, [](KernelData&) {},
     common::kKernelPathModeError, [](KernelData& d) { d.state.pathMode = 1; }, false},
};

class MotionGuardTest : public testing::TestWithParam<GuardCase> {};

TEST_P(MotionGuardTest, RefusesItsOwnConditionOnly) {
  const GuardCase& c = GetParam();
  ReadyKernel kernel;
  if (c.guard != MotionGuard::PathModeOn && c.guard != MotionGuard::MoveOutOn && c.readyPasses) {
    ASSERT_EQ(CheckMotionGuard(*kernel.data, c.guard), common::kKernelSuccess);
  }
  c.spoil(*kernel.data);
  EXPECT_EQ(CheckMotionGuard(*kernel.data, c.guard), c.refusal);
  if (c.allow) {
    c.allow(*kernel.data);
    EXPECT_EQ(CheckMotionGuard(*kernel.data, c.guard), common::kKernelSuccess);
  }
}

INSTANTIATE_TEST_SUITE_P(EachGuard, MotionGuardTest, testing::ValuesIn(kGuardCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MotionGuardsTest, TheFirstFailingGuardInTheListAnswers) {
  ReadyKernel kernel;
  EXPECT_EQ(CheckMotionGuards(*kernel.data, kCommonMotionGuards), common::kKernelSuccess);
  kernel.data->state.motionBreak = 1;
  kernel.data->state.limitSwitchLeave = 1;
  EXPECT_EQ(CheckMotionGuards(*kernel.data, kCommonMotionGuards), common::kKernelBreakModeActive);
  kernel.data->state.syncRunning = 0;
  EXPECT_EQ(CheckMotionGuards(*kernel.data, kCommonMotionGuards), common::kKernelSyncObjectFailed);
}

TEST(MotionGuardsTest, TheNodeCheckWritesEachFailingNodesResult) {
  ReadyKernel kernel;
  kernel.node.current.Set(StatusFlag::D, false);
  EXPECT_EQ(CheckMotionGuards(*kernel.data, kCommonMotionGuards),
            common::kKernelNodeWasInErrorState);
  EXPECT_EQ(kernel.node.request.lastResult, common::kKernelNodeInErrorState);
}

TEST(MotionGuardsTest, PreconditionsAskForTheInitialisationThenTheReset) {
  ReadyKernel kernel;
  kernel.data->state.resetPending = 1;
  EXPECT_EQ(CheckCommandPreconditions(*kernel.data), common::kKernelCncNotInitialized);
  kernel.data->state.SetCncInitialised(true);
  EXPECT_EQ(CheckCommandPreconditions(*kernel.data), common::kKernelResetNotDone);
  kernel.data->state.resetPending = 0;
  EXPECT_EQ(CheckCommandPreconditions(*kernel.data), common::kKernelSuccess);
}

}  // namespace
}  // namespace vantor::kernel

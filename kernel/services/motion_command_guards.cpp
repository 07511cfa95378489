#include "kernel/services/motion_command_guards.h"

#include <algorithm>

#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {

using common::StatusCode;

namespace {

StatusCode RefusedWhen(bool condition, StatusCode refusal) {
  return condition ? refusal : common::kKernelSuccess;
}

bool AnyDistanceControl(const NodeConfiguration& nodes) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node != nullptr && node->can->regulatorActive != 0) return true;
  }
  return false;
}

// Coordinates that move interpolated drives: coordinate i moves node i.
std::int32_t InterpolatedCoordinates(const KernelData& data) {
  return std::min(data.coordinateCount,
                  static_cast<std::int32_t>(data.nodeConfiguration.interpolatedNodeCount));
}

bool QueueFull(const KernelData& data) {
  const motion::SegmentQueue& queue = data.motionRuntime.path.queue;
  return queue.capacity <= queue.count;
}

}  // namespace

StatusCode CheckMotionGuard(KernelData& data, MotionGuard guard) {
  const KernelStateFlags& s = data.state;
  switch (guard) {
    case MotionGuard::CycleRunning:
      return RefusedWhen(s.cycleRunning == 0, kCycleNotRunning);
    case MotionGuard::BusInOrder:
      return RefusedWhen(s.busOk == 0, common::kKernelCanBusDisturbed);
    case MotionGuard::SyncInOrder:
      return RefusedWhen(s.syncRunning == 0, common::kKernelSyncObjectFailed);
    case MotionGuard::PeripheryPdoInOrder:
      return RefusedWhen(s.peripheryPdoOk == 0, common::kKernelPeripheryPdoInvalid);
    case MotionGuard::NoBreak:
      return RefusedWhen(s.motionBreak != 0, common::kKernelBreakModeActive);
    case MotionGuard::NoMotionStop:
      return RefusedWhen(s.motionStop != 0, common::kKernelStopModeActive);
    case MotionGuard::NoQuickStop:
      return RefusedWhen(s.quickStopping != 0 || s.stopped != 0, common::kKernelQuickStopActive);
    case MotionGuard::NoBridgeOutsideTest:
      return RefusedWhen(s.limitSwitchBridge != 0 && s.testMode == 0,
                         common::kKernelLimitSwitchBridgeActive);
    case MotionGuard::NoBridgeOutsideTeachOrTest:
      return RefusedWhen(s.limitSwitchBridge != 0 && s.teachMode == 0 && s.testMode == 0,
                         common::kKernelLimitSwitchBridgeActive);
    case MotionGuard::NoBridge:
      return RefusedWhen(s.limitSwitchBridge != 0, common::kKernelLimitSwitchBridgeActive);
    case MotionGuard::NoMoveOut:
      return RefusedWhen(s.limitSwitchLeave != 0, common::kKernelLimitSwitchMoveOutActive);
    case MotionGuard::MoveOutOn:
      return RefusedWhen(s.limitSwitchLeave == 0, common::kKernelLimitSwitchMoveOutActive);
    case MotionGuard::NoPowerOff:
      return RefusedWhen(s.powerOff != 0, common::kKernelManualModeActive);
    case MotionGuard::NoTeachMode:
      return RefusedWhen(s.teachMode != 0, common::kKernelTeachInModeActive);
    case MotionGuard::NodesReady:
      return RefusedWhen(
          CheckNodeStates(data.nodeConfiguration, s, NodeResults::Set) != common::kKernelSuccess,
          common::kKernelNodeWasInErrorState);
    case MotionGuard::NodesHomed:
      return RefusedWhen(!AllNodesHomed(data.nodeConfiguration).allHomed,
                         common::kKernelNodeWasInErrorState);
    case MotionGuard::NoMotion:
      return RefusedWhen(s.motionActive != 0, common::kKernelMovementSegmentActive);
    case MotionGuard::NoMotionOrHandlingMove:
      return RefusedWhen(s.motionActive != 0 || AnyHandlingAxisMoving(data),
                         common::kKernelMovementSegmentActive);
    case MotionGuard::NoHandlingMove:
      return RefusedWhen(AnyHandlingAxisMoving(data), common::kKernelMovementSegmentActive);
    case MotionGuard::NoSingleMove:
      return RefusedWhen(s.motionActive != 0, common::kKernelSegmentMotionAlreadyActive);
    case MotionGuard::PathModeOn:
      return RefusedWhen(s.pathMode == 0, common::kKernelPathModeError);
    case MotionGuard::NoPathStarted:
      return RefusedWhen(s.pathStarted != 0, common::kKernelPathModeError);
    case MotionGuard::NoPathModeOrStart:
      return RefusedWhen(s.pathMode != 0 || s.pathStarted != 0, common::kKernelPathModeError);
    case MotionGuard::NoStopOnInputRunning:
      return RefusedWhen(s.stopOnInputActive != 0, common::kKernelStopOnInputInAction);
    case MotionGuard::NoStopOnInputStop:
      return RefusedWhen(s.stopOnInputTriggered != 0, common::kKernelStopOnInputStopActive);
    case MotionGuard::NoHandwheel:
      return RefusedWhen(s.handwheelActive != 0, common::kKernelHandwheelAlreadyActive);
    case MotionGuard::NoHandwheelEvaluation:
      return RefusedWhen(s.handwheelInitialised != 0, common::kKernelHandwheelAlreadyInitialized);
    case MotionGuard::NoDistanceControl:
      return RefusedWhen(AnyDistanceControl(data.nodeConfiguration),
                         common::kKernelDistanceControlActive);
    case MotionGuard::NoVelocityOutput:
      return RefusedWhen(s.velocityOutputActive != 0, common::kKernelVelPropOutputAlreadyActive);
    case MotionGuard::HasInterpolatedAxis:
      return RefusedWhen(InterpolatedCoordinates(data) < 1, common::kKernelMovementDataInvalid);
    case MotionGuard::HasInterpolatedPair:
      return RefusedWhen(InterpolatedCoordinates(data) < 2, common::kKernelMovementDataInvalid);
    case MotionGuard::QueueOpenForMove:
      if (s.pathMode != 0) return RefusedWhen(QueueFull(data), common::kKernelPathBufferError);
      if (s.motionActive != 0) return common::kKernelSegmentMotionAlreadyActive;
      return RefusedWhen(s.pathStarted != 0, common::kKernelPathModeError);
    case MotionGuard::QueueHasRoom:
      return RefusedWhen(QueueFull(data), common::kKernelPathBufferError);
    case MotionGuard::PathModeForTransfer:
      if (s.pathMode != 0) return common::kKernelSuccess;
      return s.motionActive != 0 ? common::kKernelSegmentMotionAlreadyActive
                                 : common::kKernelPathModeError;
  }
  return common::kKernelSuccess;
}

StatusCode CheckMotionGuards(KernelData& data, std::span<const MotionGuard> guards) {
  for (const MotionGuard guard : guards) {
    if (const StatusCode result = CheckMotionGuard(data, guard); result != common::kKernelSuccess) {
      return result;
    }
  }
  return common::kKernelSuccess;
}

StatusCode CheckCommandPreconditions(const KernelData& data) {
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  return common::kKernelSuccess;
}

}  // namespace vantor::kernel

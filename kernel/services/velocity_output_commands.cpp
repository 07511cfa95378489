#include "kernel/services/velocity_output_commands.h"

#include <algorithm>
#include <utility>

#include "common/velocity_output_records.h"
#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "kernel/core/velocity_output_check.h"
#include "kernel/core/velocity_output_control.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
namespace vs = common::velocity_output_start;
namespace vp = common::velocity_output_parameters;
namespace vr = common::velocity_output_state;
using common::StatusCode;

// The CNC initialisation, then the locks; `work` runs with both held and
// gives the result.
template <typename Work>
StatusCode UnderKernelLocks(Kernel& kernel, Work work) {
  if (!kernel.data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataAndObjectListLock lock(kernel.data);
  // The CNC exit closed the locks between the test and the wait.
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (kernel.data.state.resetPending != 0) return common::kKernelResetNotDone;
  return work(kernel.data, kernel.canObjects);
}

void Answer(Kernel& kernel, StatusCode result) { kernel.Block().Set(cb::kResult, result); }

VelocityOutputStart ReadStart(common::CommunicationBlockView block) {
  VelocityOutputStart start;
  start.mode = block.Get(vs::kMode);
  start.delayMicroseconds = block.Get(vs::kDelayMicroseconds);
  start.direction = block.Get(vs::kDirection);
  start.guarding = block.Get(vs::kGuarding);
  start.nodeId = block.Get(vs::kNodeId);
  start.cobId = block.Get(vs::kCobId);
  start.dataLength = block.Get(vs::kDataLength);
  start.compare = block.Get(vs::kCompare);
  const auto mask = block.GetBytes(vs::kMask);
  std::copy(mask.begin(), mask.end(), start.mask.begin());
  const auto expected = block.GetBytes(vs::kExpected);
  std::copy(expected.begin(), expected.end(), start.expected.begin());
  start.answerTimeout = block.Get(vs::kAnswerTimeout);
  start.period = block.Get(vs::kPeriod);
  return start;
}

// The machine state that keeps the output from starting, in the order the
// start tests it.
StatusCode StartRefusal(KernelData& data) {
  const KernelStateFlags& s = data.state;
  if (s.velocityOutputActive != 0) return common::kKernelVelPropOutputAlreadyActive;
  if (s.syncRunning == 0) return common::kKernelSyncObjectFailed;
  if (s.peripheryPdoOk == 0) return common::kKernelPeripheryPdoInvalid;
  if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
  if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
  if (s.motionBreak != 0) return common::kKernelBreakModeActive;
  if (s.quickStopping != 0 || s.stopped != 0) return common::kKernelQuickStopActive;
  if (CheckNodeStatesNoHoming(data.nodeConfiguration, s, NodeResults::Set) !=
      common::kKernelSuccess) {
    return common::kKernelNodeWasInErrorState;
  }
  if (s.powerOff != 0) return common::kKernelManualModeActive;
  if (s.teachMode != 0) return common::kKernelTeachInModeActive;
  if (s.stopOnInputActive != 0) return common::kKernelStopOnInputAlreadyInitialized;
  if (s.handwheelActive != 0) return common::kKernelHandwheelAlreadyInitialized;
  return common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleActivateVelPropOutput(Kernel& kernel) {
  const VelocityOutputStart start = ReadStart(kernel.Block());
  const StatusCode result =
      UnderKernelLocks(kernel, [&](KernelData& data, canopen::CanObjectList& list) {
        const StatusCode refusal = StartRefusal(data);
        if (refusal != common::kKernelSuccess) return refusal;
        const VelocityOutputContext context{data.motion.path.cycleTime, data.motion.fill.fillLevel,
                                            &ConfiguredCanNodes(data), &list, &data.handwheel};
        if (CheckVelPropOutputParams(start, context) == 0) {
          return common::kKernelVelPropOutputParameterInvalid;
        }
        return StartVelocityOutput(start, data, list);
      });
  Answer(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleDeactivateVelPropOutput(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLocks(kernel, [](KernelData& data, canopen::CanObjectList& list) {
        const KernelStateFlags& s = data.state;
        if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
        if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
        StopVelocityOutput(data, list);
        return common::kKernelSuccess;
      });
  Answer(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleSetVelPropOutputParameters(Kernel& kernel) {
  const auto block = kernel.Block();
  const VelocityOutputParameters parameters{block.Get(vp::kEnable), block.Get(vp::kGain),
                                            block.Get(vp::kDivisor), block.Get(vp::kOffset),
                                            block.Get(vp::kDelayMicroseconds)};
  const StatusCode result =
      UnderKernelLocks(kernel, [&](KernelData& data, canopen::CanObjectList& list) {
        const KernelStateFlags& s = data.state;
        if (s.velocityOutputActive == 0) return common::kKernelVelPropOutputInactive;
        if (s.cycleRunning == 0) return kCycleNotRunning;
        if (s.busOk == 0) return common::kKernelCanBusDisturbed;
        if (parameters.divisor == 0) return common::kKernelVelPropOutputParameterInvalid;
        SetVelocityOutputParameters(parameters, data, list);
        return common::kKernelSuccess;
      });
  Answer(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetVelPropOutputParameters(Kernel& kernel) {
  VelocityOutputState state;
  const StatusCode result =
      UnderKernelLocks(kernel, [&](KernelData& data, canopen::CanObjectList& list) {
        state = ReadVelocityOutput(data, list);
        return common::kKernelSuccess;
      });
  if (result == common::kKernelSuccess) {
    auto block = kernel.Block();
    block.Set(vr::kActive, state.active);
    block.Set(vr::kMode, state.mode);
    block.Set(vr::kLargestDelayMicroseconds, state.largestDelayMicroseconds);
    block.Set(vr::kSmallestDelayMicroseconds, state.smallestDelayMicroseconds);
    block.Set(vr::kDelayMicroseconds, state.delayMicroseconds);
    block.Set(vr::kEnable, state.enable);
    block.Set(vr::kGain, state.gain);
    block.Set(vr::kDivisor, state.divisor);
    block.Set(vr::kOffset, state.offset);
    block.Set(vr::kEffectiveDelayMicroseconds, state.effectiveDelay);
  }
  Answer(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

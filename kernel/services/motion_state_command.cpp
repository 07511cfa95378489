#include "kernel/services/motion_state_command.h"

#include "kernel/services/axis_command_support.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

using common::StatusCode;

enum MotionStateRequest : std::uint32_t { kContinue = 0, kStop = 1, kBreak = 2 };

constexpr MotionGuard kStateGuards[] = {MotionGuard::CycleRunning, MotionGuard::BusInOrder,
                                        MotionGuard::SyncInOrder, MotionGuard::PeripheryPdoInOrder,
                                        MotionGuard::NoQuickStop};
constexpr MotionGuard kContinueGuards[] = {
    MotionGuard::CycleRunning,        MotionGuard::BusInOrder,  MotionGuard::SyncInOrder,
    MotionGuard::PeripheryPdoInOrder, MotionGuard::NoQuickStop, MotionGuard::NodesReady};

enum class After { Answer, Wait };

// Sets the flags the request asks for; the caller holds the kernel data
// lock. Wait: the cycle has a running motion to bring to the state.
After RequestMotionState(KernelData& data, std::uint32_t request) {
  KernelStateFlags& s = data.state;
  motion::PathMotion& path = data.motionRuntime.path;
  const bool moving = s.motionActive != 0;
  switch (request) {
    case kContinue:
      if (s.motionStop != 0) {
        s.motionStop = 0;
        if (moving) path.newTarget = true;
      }
      return After::Answer;
    case kStop:
      if (s.motionStop != 0) return After::Answer;
      s.motionStop = 1;
      if (!moving) return After::Answer;
      path.newTarget = true;
      return After::Wait;
    case kBreak:
      if (s.motionBreak != 0) return After::Answer;
      s.motionBreak = 1;
      return moving ? After::Wait : After::Answer;
    default:
      if (s.motionAbort != 0) return After::Answer;
      if (!moving) {
        s.motionAbort = 0;
        s.motionStop = 0;
        return After::Answer;
      }
      path.newTarget = true;
      s.motionAbort = 1;
      return After::Wait;
  }
}

enum class Look { Reached, CycleGone, Waiting };

Look LookAtMotion(KernelData& data) {
  KernelDataLock lock(data);
  if (!lock.held()) return Look::CycleGone;
  const KernelStateFlags& s = data.state;
  if (s.cycleRunning == 0) return Look::CycleGone;
  // Nothing left that the cycle could still bring to a stand.
  if (s.motionActive == 0 && s.quickStopping == 0) return Look::Reached;
  return Look::Waiting;
}

// Until the cycle signals the motion state, the motion and the drive stop
// are over, the cycle is gone or the kernel ends: whichever comes first.
StatusCode AwaitMotionState(Kernel& kernel) {
  const os::Event& reached = kernel.data.nodeConfiguration.stopDoneEvent;
  const os::Event& kernelStop = kernel.link.stopEvent;
  for (;;) {
    switch (LookAtMotion(kernel.data)) {
      case Look::Reached:
        return common::kKernelSuccess;
      case Look::CycleGone:
        return kCycleNotRunning;
      case Look::Waiting:
        break;
    }
    if (!reached.valid()) {
      os::Sleep(kMotionStateLookMs);
      continue;
    }
    const os::WaitResult woken = kernelStop.valid()
                                     ? os::WaitForAny({&reached, &kernelStop}, kMotionStateLookMs)
                                     : os::WaitForOne(reached, kMotionStateLookMs);
    if (woken.kind == os::WaitKind::Signalled) {
      return woken.index == 0 ? common::kKernelSuccess : kCycleNotRunning;
    }
    if (woken.kind == os::WaitKind::Failed) os::Sleep(kMotionStateLookMs);
  }
}

StatusCode SetMotionState(Kernel& kernel) {
  const std::uint32_t request = PayloadWord(kernel, 0);
  const std::span<const MotionGuard> guards =
      request == kContinue ? std::span<const MotionGuard>(kContinueGuards) : kStateGuards;
  After after = After::Answer;
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, guards, [&](KernelData& data) {
        after = RequestMotionState(data, request);
        // Whatever the event showed before belongs to an earlier request.
        if (after == After::Wait && data.nodeConfiguration.stopDoneEvent.valid()) {
          static_cast<void>(data.nodeConfiguration.stopDoneEvent.Reset());
        }
        return common::kKernelSuccess;
      });
  if (result != common::kKernelSuccess || after == After::Answer) return result;
  return AwaitMotionState(kernel);
}

}  // namespace

AfterCommand HandleSetMotionState(Kernel& kernel) {
  AnswerCommand(kernel, SetMotionState(kernel));
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

#include "kernel/core/motion_end_wait.h"

#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

enum class MotionEndLook { Return, DrainNodeRequests, Wait };

bool AnyHandlingNodeStillMoving(const NodeConfiguration& nodes) {
  for (std::uint32_t i = nodes.interpolatedNodeCount; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node != nullptr && HandlingNodeStillMoving(*node)) return true;
  }
  return false;
}

MotionEndLook LookAtMotion(KernelData& data) {
  KernelDataLock lock(data);
  // Without the lock nothing can be looked at safely, nor waited for.
  if (!lock.held()) return MotionEndLook::Return;
  const KernelStateFlags& s = data.state;
  if (s.motionEndNoWait != 0) return MotionEndLook::Return;
  if (s.motionEndDrainOnly != 0) return MotionEndLook::DrainNodeRequests;
  if (s.cycleRunning == 0) return MotionEndLook::Return;
  const bool pathRuns = s.motionActive != 0;
  if (!pathRuns && !AnyHandlingNodeStillMoving(data.nodeConfiguration)) {
    return MotionEndLook::Return;
  }
  return MotionEndLook::Wait;
}

void DrainNodeRequests(const NodeConfiguration& nodes) {
  const bool requestsHeld = LockNodeRequestMutexes(nodes).acquired();
  const bool accessHeld = LockNodeAccessMutexes(nodes).acquired();
  if (accessHeld) UnlockNodeAccessMutexes(nodes);
  if (requestsHeld) UnlockNodeRequestMutexes(nodes);
}

// The motion-end event wakes the wait early; while it stays signalled (it is
// set whenever nothing waits on it) the wait sleeps its look period instead,
// so that it never spins.
void WaitForNextLook(const NodeConfiguration& nodes, std::uint32_t lookMs) {
  const os::Event& motionDone = nodes.motionDoneEvent;
  if (motionDone.valid() && os::WaitForOne(motionDone, 0).kind == os::WaitKind::Timeout) {
    static_cast<void>(os::WaitForOne(motionDone, lookMs));
    return;
  }
  os::Sleep(lookMs);
}

}  // namespace

void AwaitMotionEnd(KernelData& data, std::uint32_t lookMs) {
  for (;;) {
    switch (LookAtMotion(data)) {
      case MotionEndLook::Return:
        return;
      case MotionEndLook::DrainNodeRequests:
        DrainNodeRequests(data.nodeConfiguration);
        return;
      case MotionEndLook::Wait:
        WaitForNextLook(data.nodeConfiguration, lookMs);
        break;
    }
  }
}

}  // namespace vantor::kernel

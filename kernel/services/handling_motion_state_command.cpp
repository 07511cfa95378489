// Code 69: the motion state of a set of handling axes. Running again needs
// no wait; a halt or the end of a move waits, with the nodes free for
// others meanwhile, until every selected axis stands; the end then holds
// each axis where it stopped.
#include "kernel/core/canopen/axis_drive_settings.h"
#include "kernel/core/canopen/handling_axis_moves.h"
#include "kernel/core/canopen/handling_axis_services.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/handling_axis_commands.h"
#include "kernel/services/handling_axis_support.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

using canopen::HandlingMotionState;
using canopen::NodeMask;
using canopen::ServiceContext;
using common::StatusCode;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// How often the wait looks at the axes, at the longest.
constexpr std::uint32_t kStandLookMs = 100;

HandlingMotionState StateOf(std::uint32_t word) {
  switch (word) {
    case 0:
      return HandlingMotionState::Run;
    case 1:
      return HandlingMotionState::Halt;
    default:
      return HandlingMotionState::End;
  }
}

enum class StandLook { Standing, Moving, CycleGone };

StandLook LookAtAxes(KernelData& data, NodeMask mask) {
  KernelDataLock lock(data);
  if (!lock.held() || data.state.cycleRunning == 0) return StandLook::CycleGone;
  const NodeConfiguration& nodes = data.nodeConfiguration;
  for (std::uint32_t k = 0; k < nodes.BoundedNodeCount(); ++k) {
    const NodeObject* node = nodes.Node(k);
    if ((mask >> k & 1u) != 0 && node != nullptr && node->motion.inMotion != 0) {
      return StandLook::Moving;
    }
  }
  return StandLook::Standing;
}

// Nothing sets the stop event of the node configuration for this wait, so
// the axes themselves are looked at, at least every `kStandLookMs`; a
// cycle that ends ends the wait.
StatusCode AwaitAxesStanding(KernelData& data, NodeMask mask) {
  os::Event& stopDone = data.nodeConfiguration.stopDoneEvent;
  if (stopDone.valid() && os::WaitForOne(stopDone, 0).kind == os::WaitKind::Signalled) {
    static_cast<void>(stopDone.Reset());
  }
  for (;;) {
    switch (LookAtAxes(data, mask)) {
      case StandLook::Standing:
        return common::kKernelSuccess;
      case StandLook::CycleGone:
        return kCycleNotRunning;
      case StandLook::Moving:
        break;
    }
    if (stopDone.valid()) {
      static_cast<void>(os::WaitForOne(stopDone, kStandLookMs));
    } else {
      os::Sleep(kStandLookMs);
    }
  }
}

// Each axis of the mask held where it stopped: a position axis at its
// position demand, a velocity axis halted with target velocity 0.
StatusCode HoldWhereStopped(Kernel& kernel, ServiceContext& context, NodeMask mask) {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if ((mask >> k & 1u) == 0) continue;
    bool inPosition = false;
    bool slaves = false;
    {
      canopen::HostLock lock(context.host);
      const canopen::NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      inPosition = node->handlingMode > 0;
      slaves = node->axisCount > 0;
    }
    StatusCode held = inPosition ? canopen::HoldHandlingAxisPosition(context, k)
                                 : canopen::SetVelocityModeHalted(context, k);
    if (!Failed(held) && slaves) {
      held = inPosition ? canopen::HoldHandlingAxisPositionOnAxes(context, k)
                        : canopen::SetVelocityModeHaltedOnAxes(context, k);
    }
    if (held == kCycleNotRunning) return held;
    if (Failed(held)) {
      result = common::kKernelOperationFailed;
      continue;
    }
    if (!inPosition) {
      canopen::HostLock lock(context.host);
      if (NodeObject* node = kernel.data.nodeConfiguration.Node(k)) {
        node->motion.commandedVelocity = 0.0;
      }
    }
  }
  return result;
}

StatusCode SetMotionState(Kernel& kernel) {
  const NodeMask mask = PayloadWord(kernel, 0);
  const HandlingMotionState state = StateOf(PayloadWord(kernel, 4));
  KernelData& data = kernel.data;
  return OnLockedNodes(
      kernel, kHandlingDriveGuards,
      [&](KernelData& locked) {
        return AreHandlingAxes(locked, mask) ? common::kKernelSuccess
                                             : common::kKernelAxisNumberInvalid;
      },
      [&](ServiceContext& context) {
        StatusCode result = canopen::WriteMotionStateControlword(context, mask, state);
        if (result == kCycleNotRunning) return result;
        if (Failed(canopen::ArmNodeRecordsMasked(context, false, mask))) return kCycleNotRunning;
        if (state == HandlingMotionState::Run) return result;
        {
          const NodeLocksReleased released(data);
          if (const StatusCode waited = AwaitAxesStanding(data, mask); Failed(waited)) {
            return waited;
          }
        }
        if (state == HandlingMotionState::End) {
          const StatusCode held = HoldWhereStopped(kernel, context, mask);
          if (held == kCycleNotRunning) return held;
          if (Failed(held)) result = held;
        }
        if (Failed(canopen::ArmNodeRecordsMasked(context, false, mask))) return kCycleNotRunning;
        return result;
      },
      [](KernelData&, StatusCode result) { return result; });
}

}  // namespace

AfterCommand HandleSetHandlingAxisMotionState(Kernel& kernel) {
  AnswerCommand(kernel, SetMotionState(kernel));
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

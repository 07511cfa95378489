#include "kernel/services/drive_mode_commands.h"

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/leave_mode.h"
#include "kernel/core/canopen/limit_switch_moveout.h"
#include "kernel/core/canopen/modes_of_operation.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"

namespace vantor::kernel {

namespace {

using canopen::ServiceContext;
using common::StatusCode;
using G = MotionGuard;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// What a command tests before it takes the nodes' mutexes.
struct DriveCommandGates {
  bool canState = false;      // initialised, cycle running, bus in order
  bool resetPending = false;  // no reset pending
};

StatusCode CheckGates(KernelData& data, DriveCommandGates gates) {
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  if (gates.canState) {
    if (const StatusCode state = CheckCanState(data); Failed(state)) return state;
  }
  if (gates.resetPending) {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  }
  return common::kKernelSuccess;
}

// The frame of every drive command: its gates; every node's mutexes; under
// the kernel data lock the node results reset, the guards and `wanted`
// (false: the state asked for is in force, nothing to do); then without
// the lock `switchDrives`; the nodes' records re-armed, collecting their
// results only after a success; and on success `apply` under the lock.
template <typename Wanted, typename Switch, typename Apply>
StatusCode SwitchDrives(Kernel& kernel, DriveCommandGates gates, std::span<const G> guards,
                        Wanted wanted, Switch switchDrives, Apply apply) {
  KernelData& data = kernel.data;
  if (const StatusCode gate = CheckGates(data, gates); Failed(gate)) return gate;
  const AllNodeLocks nodeLocks(data);
  KernelServiceHost host(data, kernel.canObjects);
  ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    ResetNodeResults(data, context);
    if (const StatusCode refused = CheckMotionGuards(data, guards); Failed(refused)) {
      return refused;
    }
    if (!wanted(data)) return common::kKernelSuccess;
  }
  StatusCode result = switchDrives(context);
  // A cycle that is gone has no records left to arm.
  if (result == kCycleNotRunning) return result;
  if (Failed(result)) {
    static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
    return result;
  }
  result = canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, true);
  if (Failed(result)) return result;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  apply(data);
  return common::kKernelSuccess;
}

bool On(std::uint32_t value) { return value != 0; }

constexpr G kPowerGuards[] = {G::NoMotionOrHandlingMove, G::NoPathModeOrStart, G::NoTeachMode,
                              G::NoDistanceControl, G::NoHandwheelEvaluation};
constexpr G kTeachGuards[] = {G::CycleRunning,      G::BusInOrder, G::NoMotion,
                              G::NoPathModeOrStart, G::NoPowerOff, G::NoDistanceControl,
                              G::NoVelocityOutput};
constexpr G kBridgeGuards[] = {G::NoMotionOrHandlingMove, G::NoPathModeOrStart, G::NoMoveOut};
constexpr G kMoveOutModeGuards[] = {
    G::NoMotionOrHandlingMove, G::NoPathModeOrStart,    G::NoBridge,
    G::NoDistanceControl,      G::NoStopOnInputRunning, G::NoHandwheel};
constexpr G kMoveOutGuards[] = {G::MoveOutOn};

// After the drives are on again they stand where they were moved while
// off: every set position takes the actual one, and the drives count as
// enabled again.
void TakeOverActualPositions(KernelData& data) {
  NodeConfiguration& nodes = data.nodeConfiguration;
  MotionRuntime& runtime = data.motionRuntime;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    node->can->SetFlagInBothRows(StatusFlag::G, true);
    node->can->SetFlagInBothRows(StatusFlag::H, true);
    node->can->position = runtime.nodes[i].actual;
  }
  for (std::uint32_t i = 0; i < ConfiguredCoordinateCount(data); ++i) {
    runtime.path.axes[i].setPosition = runtime.axes[i].actual;
  }
}

// Into the move-out mode: the drives' leave mode, the bridging of the
// axes' switches and the chains uncoupled, so that each drive leaves its
// switch by itself.
StatusCode EnterMoveOutMode(ServiceContext& context) {
  const StatusCode leave = canopen::EnterLeaveMode(context);
  if (leave == kCycleNotRunning) return leave;
  const StatusCode bridged = canopen::SetLimitSwitchBridgingOnAxes(context, true);
  if (bridged == kCycleNotRunning) return bridged;
  if (Failed(leave) || Failed(bridged)) return common::kKernelOperationFailed;
  return canopen::SetAxisChainState(context, false, true, context.nodes.AllNodes());
}

StatusCode LeaveMoveOutMode(ServiceContext& context) {
  if (const StatusCode r = canopen::SetLimitSwitchBridgingOnAxes(context, false); Failed(r)) {
    return r;
  }
  if (const StatusCode r = canopen::SetAllModesOfOperation(context); Failed(r)) return r;
  return canopen::SetAxisChainState(context, true, true, context.nodes.AllNodes());
}

}  // namespace

AfterCommand HandleSetPowerState(Kernel& kernel) {
  const bool off = On(PayloadWord(kernel, 0));
  const StatusCode result = SwitchDrives(
      kernel, {.canState = true}, kPowerGuards,
      [&](KernelData& data) { return off != (data.state.powerOff != 0); },
      [&](ServiceContext& context) {
        return off ? canopen::DisableAllDrives(context) : canopen::EnableAllDrives(context, false);
      },
      [&](KernelData& data) {
        if (!off) TakeOverActualPositions(data);
        data.state.powerOff = off ? 1 : 0;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleSetTeachMode(Kernel& kernel) {
  const bool on = On(PayloadWord(kernel, 0));
  const StatusCode result = SwitchDrives(
      kernel, {.resetPending = true}, kTeachGuards,
      [&](KernelData& data) { return on != (data.state.teachMode != 0); },
      [&](ServiceContext& context) { return canopen::WriteBufferDepth(context, on ? 1 : 0); },
      [&](KernelData& data) { data.state.teachMode = on ? 1 : 0; });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleHwlsBridge(Kernel& kernel) {
  const bool on = On(PayloadWord(kernel, 0));
  const StatusCode result = SwitchDrives(
      kernel, {.canState = true, .resetPending = true}, kBridgeGuards,
      [&](KernelData& data) { return on != (data.state.limitSwitchBridge != 0); },
      [&](ServiceContext& context) { return canopen::SetLimitSwitchBridging(context, on, true); },
      [&](KernelData& data) { data.state.limitSwitchBridge = on ? 1 : 0; });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleSetHwlsMoveOutMode(Kernel& kernel) {
  const bool on = On(PayloadWord(kernel, 0));
  const StatusCode result = SwitchDrives(
      kernel, {.canState = true, .resetPending = true}, kMoveOutModeGuards,
      [&](KernelData& data) { return on != (data.state.limitSwitchLeave != 0); },
      [&](ServiceContext& context) {
        return on ? EnterMoveOutMode(context) : LeaveMoveOutMode(context);
      },
      [&](KernelData& data) { data.state.limitSwitchLeave = on ? 1 : 0; });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleHwlsMoveOut(Kernel& kernel) {
  const canopen::NodeMask requested = PayloadWord(kernel, 0);
  const StatusCode result = SwitchDrives(
      kernel, {.canState = true, .resetPending = true}, kMoveOutGuards,
      [](KernelData&) { return true; },
      [&](ServiceContext& context) {
        const StatusCode enabled = canopen::EnableAllDrives(context, false);
        if (Failed(enabled)) return enabled;
        return canopen::MoveOutOfLimitSwitches(context, requested & context.nodes.AllNodes());
      },
      [](KernelData&) {});
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

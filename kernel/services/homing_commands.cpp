#include "kernel/services/homing_commands.h"

#include <cstring>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/home_axes.h"
#include "kernel/core/canopen/home_shift.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/homing_checks.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// The selected nodes' access mutexes, held from the checks to the reply.
class SelectedNodeLocks {
 public:
  SelectedNodeLocks(KernelData& data, canopen::NodeMask mask)
      : data_(data),
        mask_(mask),
        held_(LockSelectedNodeAccessMutexes(data.nodeConfiguration, mask).acquired()) {}
  SelectedNodeLocks(const SelectedNodeLocks&) = delete;
  SelectedNodeLocks& operator=(const SelectedNodeLocks&) = delete;
  ~SelectedNodeLocks() {
    if (held_) UnlockSelectedNodeAccessMutexes(data_.nodeConfiguration, mask_);
  }

 private:
  KernelData& data_;
  canopen::NodeMask mask_;
  bool held_;
};

StatusCode Answer(Kernel& kernel, StatusCode result) {
  kernel.Block().Set(cb::kResult, result);
  return result;
}

// After a successful run the drives' references are the zero of every
// coordinate and node: the homed positions become the set positions and
// no workpiece zero point is left from before.
void TakeHomedPositions(KernelData& data, canopen::ServiceContext& context) {
  context.host.TakeNodePositionsIntoAxisRecords();
  for (CoordinateRecord& coordinate : data.coordinates) coordinate.zeroOffset = 0.0;
  for (NodeObject& node : data.nodeConfiguration.records) node.zeroPoint = 0.0;
}

StatusCode Home(Kernel& kernel, canopen::ServiceContext& context, canopen::NodeMask mask) {
  KernelData& data = kernel.data;
  HomingBreakEvent breakEvent(data.nodeConfiguration);
  canopen::HomingRun run{&breakEvent, 0};
  {
    KernelDataLock lock(data);
    run.testMode = data.state.testMode;
  }
  StatusCode result = canopen::HomeAxes(context, mask, run);
  if (result == common::kKernelSuccess) {
    {
      KernelDataLock lock(data);
      TakeHomedPositions(data, context);
    }
    return canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, true);
  }
  if (result != kCycleNotRunning) {
    static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  }
  return result;
}

StatusCode Reference(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (const StatusCode gate = CheckCanState(data); Failed(gate)) return gate;
  {
    KernelDataLock lock(data);
    if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  }
  const canopen::NodeMask mask = *kernel.Block().Load<std::uint32_t>(cb::PayloadAt(0)) &
                                 data.nodeConfiguration.table.AllNodes();
  const SelectedNodeLocks selected(data, mask);
  KernelServiceHost host(data, kernel.canObjects);
  // A run lasts as long as the drives search: applications' SDO exchanges
  // go on meanwhile.
  host.ServeWhileWaiting(kernel.sdoAreaServer);
  canopen::ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    ResetNodeResults(data, context);
    if (const StatusCode checked = CheckReferenceRequest(data, mask); Failed(checked)) {
      return checked;
    }
  }
  const AllNodeLocks all(data);
  return Home(kernel, context, mask);
}

// The node's pair coupled again (after the shift) or uncoupled (before it);
// a node without a slave has nothing to do.
StatusCode WriteCoupling(canopen::ServiceContext& context, std::uint32_t index, bool coupled) {
  namespace chain = canopen::axis_chain;
  if (!coupled) {
    return canopen::SdoDownloadToNodeAxes(context, true, index, canopen::object::kAxisChain,
                                          chain::kState, 1, chain::kUncoupled);
  }
  const StatusCode leader = canopen::SdoDownloadToNode(context, index, canopen::object::kAxisChain,
                                                       chain::kState, 1, chain::kLeader);
  if (Failed(leader)) return leader;
  return canopen::SdoDownloadToNodeAxes(context, false, index, canopen::object::kAxisChain,
                                        chain::kState, 1, chain::kFollower);
}

struct ShiftWrite {
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint8_t size;
  std::uint32_t value;
};

// The shift given to one drive (-1 the node, 0 its slave): the increments,
// enable operation for an interpolated axis, then the trigger 0 and 1.
// `triggerFailed` tells whether the last trigger was the write that failed.
StatusCode GiveShift(canopen::ServiceContext& context, std::uint32_t index, std::int32_t drive,
                     std::int32_t increments, bool interpolated, bool& triggerFailed) {
  namespace object = canopen::object;
  const ShiftWrite writes[] = {
      {object::kHomeShift, object::kHomeShiftValue, 4, static_cast<std::uint32_t>(increments)},
      {object::kControlword, 0, 2, canopen::ds402::kEnableOperation},
      {object::kHomeShift, object::kHomeShiftTrigger, 1, 0},
      {object::kHomeShift, object::kHomeShiftTrigger, 1, 1},
  };
  for (std::size_t w = 0; w < std::size(writes); ++w) {
    const ShiftWrite& write = writes[w];
    if (write.index == object::kControlword && !interpolated) continue;
    const StatusCode result =
        drive < 0 ? canopen::SdoDownloadToNode(context, index, write.index, write.subindex,
                                               write.size, write.value)
                  : canopen::SdoDownloadToNodeAxes(context, false, index, write.index,
                                                   write.subindex, write.size, write.value);
    if (Failed(result)) {
      triggerFailed = w + 1 == std::size(writes);
      return result;
    }
  }
  return common::kKernelSuccess;
}

StatusCode ChangeHomePosition(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (const StatusCode gate = CheckCanState(data); Failed(gate)) return gate;
  const auto nodeIndex =
      static_cast<std::int32_t>(*kernel.Block().Load<std::uint32_t>(cb::PayloadAt(0)));
  const auto shift = static_cast<double>(
      static_cast<std::int32_t>(*kernel.Block().Load<std::uint32_t>(cb::PayloadAt(4))));
  const AllNodeLocks all(data);
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  canopen::NodeObject* node = nullptr;
  bool gantry = false;
  bool interpolated = false;
  {
    KernelDataLock lock(data);
    ResetNodeResults(data, context);
    if (const StatusCode checked = CheckHomeShiftRequest(data, nodeIndex, shift); Failed(checked)) {
      return checked;
    }
    node = &*data.nodeConfiguration.Node(static_cast<std::uint32_t>(nodeIndex))->can;
    gantry = node->axisCount > 0;
    interpolated = node->handlingAxis == 0;
  }
  const auto index = static_cast<std::uint32_t>(nodeIndex);
  const auto rearm = [&] {
    static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  };
  const auto clearFlags = [&](bool homed, bool runEnable) {
    KernelDataLock lock(data);
    if (homed) node->SetFlagInBothRows(StatusFlag::D, false);
    if (runEnable) node->SetFlagInBothRows(StatusFlag::N, false);
  };
  if (gantry) {
    if (const StatusCode uncoupled = WriteCoupling(context, index, false); Failed(uncoupled)) {
      clearFlags(false, true);
      rearm();
      return uncoupled;
    }
  }
  double applied = 0.0;
  for (std::int32_t drive = -1; drive < (gantry ? 0 : -1) + 1; ++drive) {
    std::int32_t increments = 0;
    {
      KernelDataLock lock(data);
      const canopen::GearRatio& gear = drive < 0 ? node->gear : node->axes[0].gear;
      std::int32_t& remainder =
          drive < 0 ? node->homeShiftRemainder : node->axes[0].homeShiftRemainder;
      const canopen::HomeShiftSplit split =
          canopen::SplitHomeShift(shift, gear.numerator, gear.denominator, remainder);
      remainder = split.remainder;
      increments = split.increments;
      if (drive < 0) applied = split.applied;
    }
    bool triggerFailed = false;
    const StatusCode given =
        GiveShift(context, index, drive, increments, interpolated, triggerFailed);
    if (given == kCycleNotRunning) return given;
    if (Failed(given)) {
      if (drive >= 0) {
        KernelDataLock lock(data);
        node->axes[0].axisResult = node->request.lastResult;
        node->request.lastResult = common::kKernelSuccess;
      }
      clearFlags(triggerFailed || drive >= 0, gantry);
      rearm();
      return given;
    }
  }
  {
    KernelDataLock lock(data);
    node->position -= applied;
    MoveSetPositionWithHome(data, index, applied);
  }
  if (gantry) {
    if (const StatusCode coupled = WriteCoupling(context, index, true); Failed(coupled)) {
      clearFlags(true, true);
      rearm();
      return coupled;
    }
  }
  return canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false) == kCycleNotRunning
             ? kCycleNotRunning
             : common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleChangeHomePosition(Kernel& kernel) {
  Answer(kernel, ChangeHomePosition(kernel));
  return AfterCommand::KeepServing;
}

AfterCommand HandleReference(Kernel& kernel) {
  Answer(kernel, Reference(kernel));
  // A caller that died mid-run must not keep the channel marked as homing.
  if (kernel.data.state.IsCncInitialised()) {
    static_cast<void>(kernel.data.nodeConfiguration.homingActiveEvent.Reset());
  }
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

#include "kernel/services/complete_status.h"

#include <algorithm>
#include <string_view>

#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/link_commands.h"
#include "kernel/services/slave_axis_reads.h"

namespace vantor::kernel {

namespace {

namespace cs = common::complete_status;
namespace cb = common::communication_block;
using Record = common::CompleteStatusRecord;

void PutStateWords(const KernelStateFlags& s, Record& record) {
  const std::uint32_t words[cs::kStateWordCount] = {
      s.cycleRunning,
      s.busOk,
      s.drivesOk,
      s.limitsOk,
      s.syncRunning,
      s.peripheryPdoOk,
      s.cncInitialised.load(std::memory_order_relaxed),
      s.motionActive,
      s.pathMode,
      s.pathStarted,
      s.moving,
      s.pathActive,
      s.motionStop,
      s.motionAbort,
      s.motionBreak,
      s.quickStopping,
      s.stopped,
      s.reservedStateWords[0],
      s.reservedStateWords[1],
      s.reservedStateWords[2],
      s.resuming,
      s.axisLimitError,
      s.teachMode,
      s.powerOff,
      s.testMode,
      s.limitSwitchBridge,
      s.limitSwitchLeave,
      s.stopOnInputInitialised,
      s.stopOnInputActive,
      s.stopOnInputTriggered,
      s.handwheelInitialised,
      s.handwheelActive,
      s.handwheelOk,
      s.handwheelLatched,
      s.handwheelF1,
      s.handwheelF2,
      s.velocityOutputActive};
  for (std::size_t i = 0; i < cs::kStateWordCount; ++i) {
    record.Store<std::uint32_t>(cs::StateWordOffset(static_cast<cs::StateWord>(i)), words[i]);
  }
}

// A receive object in order whose monitored bits differ from what it
// expects.
bool MonitoredBitsDiffer(const canopen::CanObjectEntry& entry) {
  if (entry.IsTransmit() || entry.IsGuarding() || entry.compare == 0) return false;
  const std::size_t length = std::min<std::size_t>(entry.length, entry.data.size());
  for (std::size_t k = 0; k < length; ++k) {
    if ((entry.data[k] & entry.mask[k]) != (entry.expected[k] & entry.mask[k])) return true;
  }
  return false;
}

void PutCanObjectErrors(const canopen::CanObjectList& list, Record& record) {
  namespace ce = cs::can_object_error;
  if (list.allInOrderNow != 0) return;
  std::size_t reported = 0;
  std::size_t walked = 0;
  for (const canopen::CanObjectEntry* entry = list.head;
       entry != nullptr && reported < cs::kCanObjectErrorEntryCount &&
       walked < canopen::kCanObjectPoolSize;
       entry = entry->next, ++walked) {
    if (entry->active == 0) continue;
    std::uint32_t direction = 0;
    if (!entry->IsInOrder()) {
      direction = entry->IsTransmit() ? 1 : 0;
    } else if (!MonitoredBitsDiffer(*entry)) {
      continue;
    }
    const std::size_t at = cs::CanObjectErrorOffset(reported++);
    record.Store<std::uint32_t>(at + ce::kDirection.kOffset, direction);
    record.Store<std::uint8_t>(at + ce::kNodeId.kOffset, static_cast<std::uint8_t>(entry->nodeId));
    record.Store<std::uint16_t>(at + ce::kCobId.kOffset, entry->cobId);
    record.Store<std::uint32_t>(at + ce::kResult.kOffset, entry->result);
  }
}

void PutCoordinates(const KernelData& data, Record& record) {
  const auto count = static_cast<std::size_t>(std::clamp(data.coordinateCount, 0, 8));
  for (std::size_t i = 0; i < count; ++i) {
    const CoordinateRecord& c = data.coordinates[i];
    record.Store<std::uint32_t>(cs::LatchedNegSweWarningOffset(i), c.negativeLimitOkLatched);
    record.Store<std::uint32_t>(cs::LatchedPosSweWarningOffset(i), c.positiveLimitOkLatched);
    record.Store<std::uint32_t>(cs::CurrentNegSweWarningOffset(i), c.negativeLimitOkCurrent);
    record.Store<std::uint32_t>(cs::CurrentPosSweWarningOffset(i), c.positiveLimitOkCurrent);
  }
}

void PutRow(const NodeStatusRow& row, cs::AxisSection section, std::size_t axis, Record& record) {
  for (std::size_t w = 0; w < cs::kDriveStateWordCount; ++w) {
    record.Store<std::uint32_t>(cs::AxisOffset(section, axis, 4 * w), row.flags[w]);
  }
  record.Store<std::int16_t>(cs::AxisOffset(section, axis, cs::kDriveErrorNumber),
                             row.driveErrorNumber);
  record.Store<std::uint32_t>(cs::AxisOffset(section, axis, cs::kDriveStateTrailerWord),
                              row.startWord);
}

void PutSlave(std::uint32_t negativeOk, std::uint32_t positiveOk, std::int16_t error,
              cs::AxisSection section, std::size_t axis, Record& record) {
  record.Store<std::uint32_t>(cs::AxisOffset(section, axis, cs::kSlaveNegativeLimitOKWord),
                              negativeOk);
  record.Store<std::uint32_t>(cs::AxisOffset(section, axis, cs::kSlavePositiveLimitOKWord),
                              positiveOk);
  record.Store<std::int16_t>(cs::AxisOffset(section, axis, cs::kSlaveDriveErrorNumber), error);
}

void PutAxes(const NodeConfiguration& nodes, Record& record) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    const canopen::NodeObject& can = *node->can;
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisModes, i, cs::kSingleAxisWord),
                                node->settings.singleAxis);
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisModes, i, cs::kPositionModeWord),
                                can.handlingMode > 0 ? 1u : 0u);
    PutRow(can.latched, cs::kLatchedDriveState, i, record);
    PutRow(can.current, cs::kCurrentDriveState, i, record);
    const bool hasSlave = can.axisCount > 0;
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, i, cs::kNodeIdWord), can.nodeId);
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, i, cs::kSlaveCountWord),
                                hasSlave ? 1u : 0u);
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, i, cs::kSlaveNodeIdWord),
                                hasSlave ? can.axes[0].nodeId : 0u);
    const SlaveAxisState& slave = node->slave;
    PutSlave(slave.negativeLimitOkCurrent, slave.positiveLimitOkCurrent, slave.driveErrorCurrent,
             cs::kCurrentSlaveState, i, record);
    PutSlave(slave.negativeLimitOkLatched, slave.positiveLimitOkLatched, slave.driveErrorLatched,
             cs::kLatchedSlaveState, i, record);
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kOperationResults, i, cs::kMasterResultWord),
                                can.request.lastResult);
    record.Store<std::uint32_t>(cs::AxisOffset(cs::kOperationResults, i, cs::kSlaveResultWord),
                                hasSlave ? can.axes[0].axisResult : common::kKernelSuccess);
  }
}

// Texts are cut to their field, terminator included.
template <std::size_t Offset, std::size_t Capacity>
void PutText(common::TextField<Offset, Capacity> field, std::string_view text, Record& record) {
  static_cast<void>(record.SetText(field, text.substr(0, std::min(text.size(), Capacity - 1))));
}

// Whether quick stop asks for drive reads now, and which.
struct Refresh {
  bool due = false;
  bool slaves = false;
  bool slaveInputsDue = false;
};

Refresh RefreshDue(const KernelData& data, std::uint32_t elapsedMs) {
  const NodeConfiguration& nodes = data.nodeConfiguration;
  Refresh refresh;
  refresh.slaves = nodes.table.largestAxisCount > 0;
  refresh.slaveInputsDue =
      refresh.slaves && (nodes.slaveInputsRead == 0 || elapsedMs >= kSlaveRefreshPeriodMs);
  refresh.due = data.state.stopped != 0 &&
                (nodes.driveErrorsRead == 0 ||
                 (refresh.slaves && (nodes.slaveDriveErrorsRead == 0 || refresh.slaveInputsDue)));
  return refresh;
}

void RefreshFromDrives(Kernel& kernel, const Refresh& refresh, std::uint32_t now) {
  KernelData& data = kernel.data;
  NodeConfiguration& nodes = data.nodeConfiguration;
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  static_cast<void>(LockNodeRequestMutexes(nodes));
  static_cast<void>(LockNodeAccessMutexes(nodes));
  {
    KernelDataLock lock(data);
    data.state.statusRefresh = 1;
  }
  if (nodes.driveErrorsRead == 0 && canopen::ReadDriveErrors(context) == common::kKernelSuccess) {
    KernelDataLock lock(data);
    nodes.driveErrorsRead = 1;
  }
  if (refresh.slaves) {
    if (nodes.slaveDriveErrorsRead == 0) static_cast<void>(ReadSlaveDriveErrors(data, host));
    if (refresh.slaveInputsDue) static_cast<void>(ReadSlaveLimitInputs(data, host));
    KernelDataLock lock(data);
    nodes.lastSlaveRefreshMs = now;
  }
  static_cast<void>(canopen::ArmAllNodeRecords(context, canopen::RecordArming::Arm, false));
  {
    KernelDataLock lock(data);
    data.state.statusRefresh = 0;
  }
  UnlockNodeAccessMutexes(nodes);
  UnlockNodeRequestMutexes(nodes);
}

}  // namespace

void FillCompleteStatus(const Kernel& kernel, Record& record) noexcept {
  const KernelData& data = kernel.data;
  record.Fill(0, common::kCompleteStatusRecordSize, 0);
  PutStateWords(data.state, record);
  record.Set(cs::kLatchedSynObjOK, data.globalSlot.messageOk[0]);
  record.Set(cs::kLatchedTimeStampObjOK, data.globalSlot.messageOk[1]);
  record.Set(cs::kCurrentSynObjOK, data.globalSlot.messageOk[2]);
  record.Set(cs::kCurrentTimeStampObjOK, data.globalSlot.messageOk[3]);
  record.Set(cs::kLatchedCanObjectOK, kernel.canObjects.allInOrderLatched);
  record.Set(cs::kCurrentCanObjectOK, kernel.canObjects.allInOrderNow);
  PutCanObjectErrors(kernel.canObjects, record);
  PutCoordinates(data, record);
  PutAxes(data.nodeConfiguration, record);
  record.Set(cs::kHandwheelConfigured, data.handwheel.linked);
  record.Set(cs::kHandwheelNodeId, data.handwheel.nodeId);
  PutText(cs::kHandwheelModel, data.handwheel.model.data(), record);
  PutText(cs::kDeviceName, kernel.settings.deviceName.data(), record);
  PutText(cs::kDriverVersion,
          kernel.driverLink != nullptr ? kernel.driverLink->DriverVersionText() : "", record);
  PutText(cs::kKernelVersion, kKernelVersionText, record);
}

AfterCommand HandleGetStatus(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (!data.state.IsCncInitialised()) {
    kernel.Block().Set(cb::kResult, common::kKernelCncNotInitialized);
    return AfterCommand::KeepServing;
  }
  // The tick is read only when there are slaves to refresh; the first
  // request, and a tick that wrapped, count as a full period.
  std::uint32_t now = 0;
  std::uint32_t elapsedMs = kSlaveRefreshPeriodMs;
  Refresh refresh;
  {
    KernelDataLock lock(data);
    const NodeConfiguration& nodes = data.nodeConfiguration;
    if (nodes.table.largestAxisCount > 0) {
      now = kernel.millisecondTick();
      if (nodes.lastSlaveRefreshMs && *nodes.lastSlaveRefreshMs <= now) {
        elapsedMs = now - *nodes.lastSlaveRefreshMs;
      }
    }
    refresh = RefreshDue(data, elapsedMs);
  }
  if (refresh.due) RefreshFromDrives(kernel, refresh, now);

  // The copy runs under the cycle's set, so the cycle cannot change a
  // source halfway.
  if (!LockStatusData(data)) {
    kernel.Block().Set(cb::kResult, common::kKernelCncNotInitialized);
    return AfterCommand::KeepServing;
  }
  Record copy;
  FillCompleteStatus(kernel, copy);
  UnlockStatusData(data);
  auto record = kernel.Block().MutableWindow<common::kCompleteStatusRecordSize>(cb::kPayloadOffset);
  std::copy(copy.Bytes().begin(), copy.Bytes().end(), record->MutableBytes().begin());
  kernel.Block().Set(cb::kResult, common::kKernelSuccess);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

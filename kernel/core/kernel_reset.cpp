#include "kernel/core/kernel_reset.h"

#include <cstddef>
#include <initializer_list>

#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/external_axes.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion_runtime.h"

namespace vantor::kernel {

namespace {

// The node's addressing and handling role as its configuration gives them.
// Services switch a slot to an axis and back, and handling commands move a
// node between the path and the handling axes; the reset starts from the
// configured ones again.
void RestoreNodeSetup(canopen::NodeObject& node, const canopen::NodeSetup& setup) {
  node.handlingAxis = setup.handlingAxis;
  node.handlingMode = setup.handlingMode;
  node.nodeId = setup.nodeId;
  node.sendRecord = setup.sendRecord;
  node.answerRecord = setup.answerRecord;
  node.controlRpdo = setup.controlRpdo;
  node.motionRpdo = setup.motionRpdo;
  node.sdoRequestCobId = canopen::MakeSdoRequestCobId(setup.nodeId);
  node.sdoResponseCobId = canopen::MakeSdoResponseCobId(setup.nodeId);
  for (std::uint32_t k = 0; k < node.axisCount; ++k) {
    canopen::NodeAxis& axis = node.axes[k];
    axis.nodeId = setup.axisNodeIds[k];
    axis.sdoRequestCobId = canopen::MakeSdoRequestCobId(axis.nodeId);
    axis.sdoResponseCobId = canopen::MakeSdoResponseCobId(axis.nodeId);
  }
}

void WriteConfiguration(KernelData& data) {
  const CncConfiguration& saved = data.savedConfiguration;
  data.motion = saved.motion;
  data.coordinateCount = saved.coordinateCount;
  for (std::size_t i = 0; i < data.coordinates.size(); ++i) {
    data.coordinates[i].settings = saved.coordinates[i];
  }
  NodeConfiguration& nodes = data.nodeConfiguration;
  nodes.interpolatedNodeCount = static_cast<std::uint32_t>(saved.interpolatedNodeCount);
  // The node objects were built for the configured count, which nothing
  // changes; only the records that exist take their settings back.
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    NodeObject& node = nodes.records[i];
    node.settings = saved.nodes[i];
    if (node.can) RestoreNodeSetup(*node.can, node.settings.setup);
  }
  data.handlingAxisCount = saved.handlingAxisCount;
  data.handlingAxes = saved.handlingAxes;
  ConfigureExternalAxes(saved.handlingAxes, saved.handlingAxisCount, data.externalAxes);
  data.globalSlot.settings = saved.globalSlot;
  data.globalSlot.request.cobId = saved.globalSlot.cobId;
  data.globalSlot.request.record = saved.globalSlot.record;
  data.handwheel = saved.handwheel;
}

void SetGoodRowKeepingHomed(NodeStatusRow& row) {
  const bool homed = row.Has(StatusFlag::D);
  row.SetAll(true);
  row.Set(StatusFlag::D, homed);
  row.driveErrorNumber = 0;
}

void ResetStateWords(KernelData& data) {
  KernelStateFlags& s = data.state;
  s.busOk = 1;
  s.syncRunning = 1;
  s.peripheryPdoOk = 1;
  for (std::uint32_t* word : {&s.motionActive,
                              &s.pathActive,
                              &s.moving,
                              &s.motionStop,
                              &s.motionBreak,
                              &s.motionAbort,
                              &s.quickStopping,
                              &s.stopped,
                              &s.resuming,
                              &s.pathMode,
                              &s.pathStarted,
                              &s.teachMode,
                              &s.powerOff,
                              &s.testMode,
                              &s.axisLimitError,
                              &s.stopOnInputInitialised,
                              &s.stopOnInputActive,
                              &s.stopOnInputTriggered,
                              &s.handwheelInitialised,
                              &s.handwheelActive,
                              &s.handwheelLatched,
                              &s.handwheelF1,
                              &s.handwheelF2,
                              &s.velocityOutputActive,
                              &s.limitSwitchLeave}) {
    *word = 0;
  }
  s.handwheelOk = data.handwheel.linked != 0 ? 1 : 0;
  s.driveEnable = 1;
  s.haltOk = 1;
}

void ResetNodeStates(NodeConfiguration& nodes) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    node->motion.inMotion = 0;
    node->motion.standing = 1;
    SetGoodRowKeepingHomed(node->can->latched);
    SetGoodRowKeepingHomed(node->can->current);
    node->slave = {};
  }
}

}  // namespace

void RestoreConfiguredRecords(KernelData& data) {
  NodeConfiguration& nodes = data.nodeConfiguration;
  // With no nodes the waits fail at once and there is nothing to hold.
  const bool requestsHeld = LockNodeRequestMutexes(nodes).acquired();
  const bool accessHeld = LockNodeAccessMutexes(nodes).acquired();
  {
    KernelDataLock lock(data);
    WriteConfiguration(data);
  }
  if (accessHeld) UnlockNodeAccessMutexes(nodes);
  if (requestsHeld) UnlockNodeRequestMutexes(nodes);
}

void ClearMotionModeFlags(KernelData& data) {
  KernelDataLock lock(data);
  KernelStateFlags& s = data.state;
  for (std::uint32_t* word :
       {&s.pathMode, &s.pathStarted, &s.pathActive, &s.motionStop, &s.motionAbort, &s.motionBreak,
        &s.teachMode, &s.powerOff, &s.testMode, &s.limitSwitchLeave, &s.handwheelActive,
        &s.driveEnable, &s.haltOk}) {
    *word = 0;
  }
  data.nodeConfiguration.enableWords = {};
}

void ClearResetPending(KernelData& data) {
  KernelDataLock lock(data);
  data.state.resetPending = 0;
}

void ResetKernelState(KernelData& data, canopen::CanObjectList& canObjects) {
  if (!LockStatusData(data)) return;
  ResetStateWords(data);
  data.state.SetCncInitialised(true);
  data.globalSlot.messageOk = {1, 1, 1, 1};
  canObjects.allInOrderLatched = 1;
  canObjects.allInOrderNow = 1;
  canObjects.firstFaultyCobId = 0;
  canObjects.faultCount = 0;
  ResetNodeStates(data.nodeConfiguration);
  SetUpMotionRuntime(data);
  for (CoordinateRecord& coordinate : data.coordinates) {
    coordinate.negativeLimitOkLatched = 1;
    coordinate.positiveLimitOkLatched = 1;
    coordinate.negativeLimitOkCurrent = 1;
    coordinate.positiveLimitOkCurrent = 1;
  }
  UnlockStatusData(data);
}

bool AnyHandlingAxisMoving(const KernelData& data) {
  const KernelStateFlags& s = data.state;
  if (s.quickStopping != 0 || s.stopped != 0) return false;
  const NodeConfiguration& nodes = data.nodeConfiguration;
  for (std::uint32_t i = nodes.interpolatedNodeCount; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    const bool standing = node->motion.standing != 0;
    const bool moving = node->can->handlingMode != 0
                            ? !standing
                            : !standing || node->motion.measuredVelocity != 0.0;
    if (moving) return true;
  }
  return false;
}

bool HandlingNodeStillMoving(const NodeObject& node) {
  if (node.motion.standing == 0) return true;
  const bool profileMode = node.can && node.can->handlingMode > 0;
  return !profileMode && node.motion.commandedVelocity != 0.0;
}

}  // namespace vantor::kernel

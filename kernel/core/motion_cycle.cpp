#include "kernel/core/motion_cycle.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kernel/core/canopen/drive_stop_steps.h"
#include "kernel/core/canopen/message_slots.h"
#include "kernel/core/canopen/node_steps.h"
#include "kernel/core/canopen/received_data_condition.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/drive_answer_watches.h"
#include "kernel/core/drive_status.h"
#include "kernel/core/handling_axes_cycle.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/tolerances.h"
#include "kernel/core/velocity_output_cycle.h"

namespace vantor::kernel {

namespace {

namespace xb = common::exchange_buffer;
namespace mr = common::message_record;
using F = StatusFlag;

// A jump of more than this many increments in one cycle is no movement.
constexpr double kLargestPositionJump = 536870911.0;
constexpr std::uint16_t kSetpointReachedBit = 1u << 15;
constexpr std::uint32_t kNodeMutexTryMs = 1;
constexpr std::uint8_t kSynchronisationAnswerCode = 23;
constexpr std::uint16_t kEnableOperationWithNewSetpoint = 0x001F;
constexpr std::uint16_t kHaltInProfileMode = 0x010F;
constexpr std::uint16_t kHaltInOtherModes = 0x080F;

double ElapsedSeconds(const common::ExchangeBuffer& exchange) noexcept {
  return exchange.Get(xb::kCycleMicroseconds) * 1e-6;
}

std::uint32_t NodeCount(const KernelData& data) noexcept {
  return data.nodeConfiguration.BoundedNodeCount();
}

std::uint32_t InterpolatedCount(const KernelData& data) noexcept {
  return std::min(data.nodeConfiguration.interpolatedNodeCount, NodeCount(data));
}

bool FirstReplyFlag(const KernelData& data) noexcept {
  return data.globalSlot.request.replied[0] != 0;
}

double ScaleOf(const canopen::NodeObject& node) noexcept {
  return node.scalingOn != 0 ? node.scalingDivisor : 1.0;
}

bool AllPositionsValid(const KernelData& data) noexcept {
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr || !node->can->current.Has(F::D)) return false;
  }
  return true;
}

// Both mutex sets, tried for 1 ms each; never while an application's raw
// request is on the bus.
bool NodeMutexesTaken(const KernelData& data) noexcept {
  if (data.motionRuntime.applicationRequestPending != 0) return false;
  const NodeConfiguration& nodes = data.nodeConfiguration;
  if (!LockNodeRequestMutexes(nodes, kNodeMutexTryMs).acquired()) return false;
  if (!LockNodeAccessMutexes(nodes, kNodeMutexTryMs).acquired()) {
    UnlockNodeRequestMutexes(nodes);
    return false;
  }
  return true;
}

void ReleaseNodeMutexes(NodeConfiguration& nodes) noexcept {
  nodes.stoppingWord = 0;
  UnlockNodeAccessMutexes(nodes);
  UnlockNodeRequestMutexes(nodes);
}

void InstallStep(canopen::NodeObject& node, canopen::NodeStepFunction step) noexcept {
  node.request.retryCount = 0;
  canopen::ArmNodeRequest(node, step, 1);
}

bool AnyStepInstalled(const KernelData& data, std::uint32_t from, std::uint32_t to,
                      bool handlingOnly) noexcept {
  for (std::uint32_t i = from; i < to; ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr) continue;
    if (handlingOnly && node->can->handlingAxis == 0) continue;
    if (node->can->request.stepFunction != nullptr) return true;
  }
  return false;
}

void ArmAnswerRecord(common::ExchangeBuffer& exchange, const canopen::NodeObject& node,
                     common::MessageCode code) noexcept {
  if (const auto answer = canopen::RecordOf(exchange, node.answerRecord)) {
    canopen::WriteRecord(*answer, code, 0, canopen::CanFrame{node.feedbackTpdoCobId, 0, {}});
  }
}

void ArmCyclicSendRecord(common::ExchangeBuffer& exchange,
                         const canopen::NodeObject& node) noexcept {
  canopen::ClearRecord(exchange, node.sendRecord);
  auto send = canopen::RecordOf(exchange, node.sendRecord);
  if (!send) return;
  send->Set(mr::kCode, static_cast<std::uint8_t>(common::MessageCode::StartSetpointObject));
  send->Set(mr::kResult, 0);
  send->Set(mr::kCobId, node.setpointRpdoCobId);
  send->Set(mr::kSecondCobId, node.controlRpdoCobId);
  send->Set(mr::kSecondLength, 2);
  static_cast<void>(
      send->Store<std::uint16_t>(mr::kSecondData.kOffset, kEnableOperationWithNewSetpoint));
  send->Set(mr::kPositionCobId, node.setpointRpdoCobId);
}

void EndMotionAtStop(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  data.state.motionActive = 0;
  data.state.moving = 0;
  exchange.Set(xb::kRingControl, xb::kRingNotInUse);
}

motion::PathFlags PathFlagsOf(const KernelData& data) noexcept {
  const KernelStateFlags& s = data.state;
  motion::PathFlags flags;
  flags.motionActive = s.motionActive;
  flags.pathActive = s.pathActive;
  flags.moving = s.moving;
  flags.motionStop = s.motionStop;
  flags.motionAbort = s.motionAbort;
  flags.holdWord = data.motionRuntime.holdWord;
  flags.teachMode = s.teachMode;
  flags.pathMode = s.pathMode;
  flags.pathStarted = s.pathStarted;
  flags.stopOnInputActive = s.stopOnInputActive;
  flags.stopOnInputTriggered = s.stopOnInputTriggered;
  flags.resuming = s.resuming;
  return flags;
}

void StorePathFlags(KernelData& data, const motion::PathFlags& flags) noexcept {
  KernelStateFlags& s = data.state;
  s.motionActive = flags.motionActive;
  s.pathActive = flags.pathActive;
  s.moving = flags.moving;
  s.motionStop = flags.motionStop;
  s.motionAbort = flags.motionAbort;
}

bool AllNodesReady(const KernelData& data) noexcept { return data.state.drivesOk != 0; }

}  // namespace

void KernelPathSignals::SetPathEvent(motion::PathEventHandle handle) noexcept {
  if (setPathEvent != nullptr) setPathEvent(handle);
}

void KernelPathSignals::SignalMotionState() noexcept {
  // Set only once: the event stays signalled until a waiter resets it.
  if (nodes_.stopDoneEvent.valid()) static_cast<void>(nodes_.stopDoneEvent.Set());
}

void FollowCyclicAnswers(KernelData& data) noexcept {
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr) continue;
    const canopen::NodeObject& can = *node->can;
    const bool cyclic =
        can.cyclicExchange != 0 && can.request.stepFunction == nullptr && can.stopFlag == 0;
    data.motionRuntime.nodes[i].answerValid = cyclic ? 1 : 0;
  }
}

void TrackGlobalSlotReply(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  canopen::GlobalRequest& slot = data.globalSlot.request;
  if (const auto record = canopen::RecordOf(exchange, slot.record)) {
    if (record->Get(mr::kCode) == kSynchronisationAnswerCode) {
      slot.replied = {1, 1};
      const std::uint8_t result = record->Get(mr::kResult);
      if (result == 1) slot.armed[0] = slot.replied[0] = 0;
      if (result == 2) slot.armed[1] = slot.replied[1] = 0;
    }
  }
  data.state.syncRunning =
      slot.armed[0] != 0 && slot.armed[1] != 0 && slot.replied[0] != 0 && slot.replied[1] != 0;
}

void UpdateAxesFromDrives(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  NodeConfiguration& nodes = data.nodeConfiguration;
  const double elapsed = ElapsedSeconds(exchange);
  for (auto& node : runtime.nodes) node.measure.clock_s += elapsed;
  for (auto& axis : runtime.axes) axis.measure.clock_s += elapsed;
  runtime.pathMeasure.clock_s += elapsed;

  const bool replied = FirstReplyFlag(data);
  bool drivesOk = true;
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    canopen::NodeObject& can = *node->can;
    NodeAxisRuntime& axis = runtime.nodes[i];
    const auto answer = canopen::RecordOf(exchange, can.answerRecord);
    const auto send = canopen::RecordOf(exchange, can.sendRecord);
    axis.answered = 0;
    if (axis.answerValid == 0 || !replied || !answer || !send) {
      axis.change = 0.0;
    } else {
      axis.answered = 1;
      axis.answerLength = answer->Get(mr::kLength);
      const auto bytes = answer->GetBytes(mr::kData);
      std::int32_t raw = 0;
      std::memcpy(&raw, bytes.data(), sizeof raw);
      const double scale = ScaleOf(can);
      const double previous = axis.actual * scale;
      const bool guarded = can.handlingAxis != 0 && can.handlingMode == 0;
      if (!guarded || std::fabs(raw - previous) <= kLargestPositionJump) {
        axis.change = (raw - previous) / scale;
      }
      axis.actual = raw / scale;
      axis.statusword = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
      axis.inputByte = bytes[6];
      axis.flagByte = bytes[7];
      const DriveAnswer drive{axis.inputByte,           axis.statusword, send->Get(mr::kResult),
                              answer->Get(mr::kResult), false,           false,
                              can.handlingAxis != 0};
      const DriveStatusOutcome outcome = EvaluateDriveStatus(drive, can.latched, can.current);
      if (outcome.faultReactionEntered) nodes.enableWords = {};
      axis.targetReached = outcome.targetReached ? 1 : 0;
    }
    drivesOk = drivesOk && AllDriveFlagsOk(can.latched, can.current, data.state.powerOff != 0);
  }
  data.state.drivesOk = drivesOk ? 1 : 0;
  WatchStopOnInput(data);
  ReadHandwheelFlagBytes(data);

  if (AllPositionsValid(data) && replied) {
    for (std::uint32_t i = 0; i < runtime.path.axisCount && i < NodeCount(data); ++i) {
      runtime.axes[i].change = runtime.nodes[i].actual - runtime.axes[i].actual;
      runtime.axes[i].actual = runtime.nodes[i].actual;
    }
  }

  for (std::uint32_t i = 0; i < runtime.path.axisCount; ++i) {
    CoordinateRecord& coordinate = data.coordinates[i];
    const double actual = runtime.axes[i].actual;
    if (coordinate.settings.limitsEnabled != 0) {
      const bool below = actual < coordinate.settings.negativeLimit;
      const bool above = actual > coordinate.settings.positiveLimit;
      if (below) coordinate.negativeLimitOkLatched = 0;
      coordinate.negativeLimitOkCurrent = below ? 0 : 1;
      if (above) coordinate.positiveLimitOkLatched = 0;
      coordinate.positiveLimitOkCurrent = above ? 0 : 1;
    } else {
      coordinate.negativeLimitOkCurrent = 1;
      coordinate.positiveLimitOkCurrent = 1;
    }
  }
  WatchDriveLimitStops(data);
  data.state.limitsOk = AllSoftwareLimitsOk(data) ? 1 : 0;
}

void MeasureVelocities(KernelData& data) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  double pathStep = 0.0;
  for (std::uint32_t i = 0; i < runtime.path.axisCount; ++i) {
    MeasureDistance(runtime.axes[i].measure, runtime.axes[i].change);
    if (runtime.path.axes[i].onPath) pathStep += runtime.axes[i].change * runtime.axes[i].change;
  }
  MeasureDistance(runtime.pathMeasure, std::sqrt(pathStep));
  const double cycleTime = data.motion.path.cycleTime;
  const bool valid = AllPositionsValid(data);
  double drivesStep = 0.0;
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr) continue;
    NodeAxisRuntime& axis = runtime.nodes[i];
    const bool interpolated = i < InterpolatedCount(data);
    // The handling nodes are measured with their own step.
    if (interpolated) MeasureDistance(axis.measure, axis.change);
    const double scaledChange = axis.change * ScaleOf(*node->can);
    if (interpolated) drivesStep += scaledChange * scaledChange;
    const double speed =
        cycleTime >= motion::kNegligibleMagnitude ? std::fabs(scaledChange) / cycleTime : 0.0;
    bool inMotion = speed > data.motion.noMoveVelocity;
    if (HandlingAxisWithoutPosition(data, i)) {
      inMotion = axis.targetReached == 0 || node->motion.commandedVelocity != 0.0;
    }
    axis.inMotion = valid && inMotion ? 1 : 0;
  }
  double speed = std::sqrt(drivesStep);
  if (cycleTime >= motion::kNegligibleMagnitude) speed /= cycleTime;
  data.state.moving =
      valid && data.state.motionActive != 0 && speed > data.motion.noMoveVelocity ? 1 : 0;
}

bool MotionAllowed(const KernelData& data) noexcept {
  const KernelStateFlags& s = data.state;
  if (s.syncRunning == 0 || s.motionBreak != 0 || s.driveEnable == 0 || s.haltOk == 0) {
    return false;
  }
  const StopAllowance allowance{s.powerOff != 0, s.testMode != 0, s.limitSwitchBridge != 0};
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr) continue;
    const bool inMotion = data.motionRuntime.nodes[i].inMotion != 0;
    if (!NodeAllowsMotion(node->can->latched, node->can->current, inMotion, allowance)) {
      return false;
    }
  }
  return true;
}

void SuperviseMotionStop(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  KernelStateFlags& s = data.state;
  MotionRuntime& runtime = data.motionRuntime;
  NodeConfiguration& nodes = data.nodeConfiguration;
  const bool allowed = MotionAllowed(data);

  if (s.quickStopping != 0) {
    if (AnyStepInstalled(data, 0, NodeCount(data), false)) return;
    for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
      NodeObject* node = nodes.Node(i);
      if (node == nullptr) continue;
      canopen::ClearRecord(exchange, node->can->sendRecord);
      ArmAnswerRecord(exchange, *node->can, common::MessageCode::StartAnswerObject);
      runtime.nodes[i].answerValid = 1;
      node->can->stopFlag = 0;
    }
    ReleaseNodeMutexes(nodes);
    s.quickStopping = 0;
    s.stopped = 1;
    if (s.motionBreak != 0 || s.motionAbort != 0 || s.motionStop != 0) {
      s.motionAbort = 0;
      s.motionStop = 0;
      KernelPathSignals(nodes).SignalMotionState();
    }
    return;
  }
  if (runtime.halting != 0) {
    if (AnyStepInstalled(data, 0, NodeCount(data), true)) return;
    for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
      NodeObject* node = nodes.Node(i);
      if (node == nullptr || node->can->handlingAxis == 0) continue;
      canopen::ClearRecord(exchange, node->can->sendRecord);
      if (node->can->request.requestResult != common::kKernelSuccess) s.haltOk = 0;
    }
    ReleaseNodeMutexes(nodes);
    runtime.halting = 0;
    runtime.halted = 1;
    return;
  }
  if (!allowed) {
    if (s.stopped != 0) return;
    motion::DropPendingEvents(runtime.path);
    if (!NodeMutexesTaken(data)) {
      // Retried next cycle; meanwhile nothing runs.
      EndMotionAtStop(data, exchange);
      return;
    }
    nodes.stoppingWord = 1;
    // The handling-axes waiters are released: their axes stop too.
    if (nodes.motionDoneEvent.valid()) static_cast<void>(nodes.motionDoneEvent.Set());
    for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
      NodeObject* node = nodes.Node(i);
      if (node == nullptr) continue;
      InstallStep(*node->can, canopen::QuickStopStep);
      node->can->stopFlag = 1;
      runtime.nodes[i].answerValid = 0;
    }
    s.quickStopping = 1;
    EndMotionAtStop(data, exchange);
    motion::PathFlags flags = PathFlagsOf(data);
    motion::StopPathAtOnce(runtime.path, flags);
    StorePathFlags(data, flags);
    if (s.velocityOutputActive != 0) StopVelocityOutputAtDriveStop(data);
    return;
  }
  if (s.stopped != 0 || runtime.halted != 0) return;
  bool handlingReady = true;
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr || node->can->handlingAxis == 0) continue;
    handlingReady =
        handlingReady && AllDriveFlagsOk(node->can->latched, node->can->current, s.powerOff != 0);
  }
  if (handlingReady) return;
  if (!NodeMutexesTaken(data)) return;
  nodes.stoppingWord = 1;
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    NodeObject* node = nodes.Node(i);
    if (node == nullptr || node->can->handlingAxis == 0) continue;
    canopen::NodeObject& can = *node->can;
    namespace rf = canopen::raw_frame_request;
    can.requestRecord = canopen::RequestRecord{};
    can.requestRecord.Set(rf::kCobId, can.controlRpdoCobId);
    can.requestRecord.Set(rf::kLength, 2);
    const std::uint16_t halt = can.handlingMode > 0 ? kHaltInOtherModes : kHaltInProfileMode;
    static_cast<void>(can.requestRecord.Store<std::uint16_t>(rf::kData.kOffset, halt));
    can.request.requestRecord = &can.requestRecord;
    InstallStep(can, canopen::RawFrameStep);
    can.stopFlag = 1;
    runtime.nodes[i].answerValid = 0;
  }
  runtime.halting = 1;
  s.haltOk = 1;
}

void ResumeAfterStop(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  KernelStateFlags& s = data.state;
  MotionRuntime& runtime = data.motionRuntime;
  NodeConfiguration& nodes = data.nodeConfiguration;
  const std::uint32_t interpolated = InterpolatedCount(data);
  if (s.resuming == 0) {
    if (!NodeMutexesTaken(data)) return;
    nodes.stoppingWord = 1;
    for (std::uint32_t i = 0; i < interpolated; ++i) {
      NodeObject* node = nodes.Node(i);
      if (node == nullptr) continue;
      // A node with further axes enables their drives too.
      InstallStep(*node->can, node->can->axisCount > 0 ? canopen::MultiAxisEnableOperationStep
                                                       : canopen::EnableOperationStep);
      node->can->stopFlag = 1;
      runtime.nodes[i].answerValid = 0;
    }
    s.resuming = 1;
    return;
  }
  if (AnyStepInstalled(data, 0, interpolated, false)) return;
  s.resuming = 0;
  bool ok = true;
  for (std::uint32_t i = 0; i < interpolated; ++i) {
    const NodeObject* node = nodes.Node(i);
    ok = ok && node != nullptr && node->can->request.requestResult == common::kKernelSuccess;
  }
  for (std::uint32_t i = 0; i < NodeCount(data); ++i) {
    NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    canopen::NodeObject& can = *node->can;
    can.stopFlag = 0;
    if (i < interpolated) {
      if (ok) {
        ArmCyclicSendRecord(exchange, can);
      } else {
        canopen::ClearRecord(exchange, can.sendRecord);
      }
      ArmAnswerRecord(exchange, can, common::MessageCode::StartAnswerObject);
    } else {
      canopen::ClearRecord(exchange, can.sendRecord);
      ArmAnswerRecord(exchange, can, common::MessageCode::StartAnswerObjectLate);
    }
    runtime.nodes[i].answerValid = 1;
  }
  ReleaseNodeMutexes(nodes);
  if (!ok) return;
  exchange.Set(xb::kRingControl, xb::kRingStart);
  exchange.Set(xb::kSetpointCount, 0);
  if (const NodeObject* first = nodes.Node(0)) {
    const NodeRequestTemplate& source = first->settings.requestTemplate;
    canopen::ConditionSource condition;
    namespace cs = canopen::condition_source;
    condition.Set(cs::kMaskWord, source.words[0]);
    condition.Set(cs::kPatternWord, source.words[1]);
    condition.Set(cs::kConditionWord, source.words[2]);
    condition.Set(cs::kFirstMaskOption, source.bytes[0]);
    condition.Set(cs::kFirstPatternOption, source.bytes[1]);
    condition.Set(cs::kSecondMaskOption, source.bytes[2]);
    condition.Set(cs::kSecondPatternOption, source.bytes[3]);
    const std::uint32_t selector = s.limitSwitchBridge != 0 ? 2 : canopen::kFirstOptionPair;
    canopen::WriteReceivedDataCondition(selector, condition, exchange);
  }
}

bool AllDrivesReportBit15(const KernelData& data) noexcept {
  for (std::uint32_t i = 0; i < InterpolatedCount(data); ++i) {
    if ((data.motionRuntime.nodes[i].statusword & kSetpointReachedBit) == 0) return false;
  }
  return true;
}

void DropPathEvents(KernelData& data) noexcept {
  motion::DropPendingEvents(data.motionRuntime.path);
}

void ProcessPathCycle(KernelData& data, common::ExchangeBuffer& exchange) noexcept {
  UpdateAxesFromDrives(data, exchange);
  MeasureVelocities(data);
  MeasureHandlingAxisVelocities(data);
  SignalHandlingAxesStopped(data);
  if (data.state.resuming == 0) SuperviseMotionStop(data, exchange);
  MotionRuntime& runtime = data.motionRuntime;
  KernelPathSignals signals(data.nodeConfiguration);
  signals.setPathEvent = runtime.setPathEvent;
  motion::CountDownPendingEvents(runtime.path, signals, exchange.Get(xb::kCycleMicroseconds));
  if (data.state.motionActive == 0) return;

  motion::PathFlags flags = PathFlagsOf(data);
  const bool teach = data.state.teachMode != 0;
  const double wait = MoveEndMaxWaitMs(data);
  const bool output = data.state.velocityOutputActive != 0;
  VelocityOutputEntries outputEntries(data);
  motion::PathCycle cycle{flags,
                          signals,
                          exchange,
                          data.motion.path.cycleTime,
                          wait,
                          data.motion.fill.FillLevelInForce(teach),
                          data.motion.fill.DriveBufferDepthInForce(teach),
                          AllNodesReady(data),
                          AllDrivesReportBit15(data),
                          output ? &outputEntries : nullptr};
  const std::int16_t reportedQueued = exchange.Get(xb::kSetpointCount);
  if (output) BeginVelocityOutputCycle(data, reportedQueued, exchange);
  const motion::TailAction action = motion::RunMotionTail(runtime.path, cycle);
  if (output) FollowMotionTail(data, action, reportedQueued);
  bool interpolated = false;
  if (action == motion::TailAction::kInterpolate) {
    if (exchange.Get(xb::kRingControl) == xb::kRingNotInUse) {
      StorePathFlags(data, flags);
      ResumeAfterStop(data, exchange);
      flags = PathFlagsOf(data);
    }
    if (exchange.Get(xb::kRingControl) != xb::kRingNotInUse) {
      if (output) BeforeInterpolation(data, reportedQueued, exchange);
      motion::InterpolationStep(runtime.path, cycle);
      interpolated = true;
    }
  }
  StorePathFlags(data, flags);
  if (output) {
    const std::int16_t written = interpolated ? exchange.Get(xb::kSetpointCount) : 0;
    EndVelocityOutputCycle(data, data.state.motionActive == 0,
                           static_cast<std::uint32_t>(std::max<std::int16_t>(written, 0)));
  }
}

}  // namespace vantor::kernel

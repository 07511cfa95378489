#include "kernel/services/homing_checks.h"

#include <cmath>

#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {

using common::StatusCode;

namespace {

constexpr double kLargestIncrements = 2147483647.0;

bool AnyNode(NodeConfiguration& nodes, canopen::NodeMask mask,
             bool (*matches)(const canopen::NodeObject&)) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr || (mask & (canopen::NodeMask{1} << i)) == 0) continue;
    if (matches(*node->can)) return true;
  }
  return false;
}

// The shift in increments of one drive stays inside the drive's range; a
// drive without a usable gear cannot take it.
bool ShiftFits(const canopen::GearRatio& gear, double shift) {
  if (gear.numerator == 0 || gear.denominator == 0 || !std::isfinite(shift)) return false;
  const double increments = shift * gear.numerator / gear.denominator;
  return std::fabs(increments) <= kLargestIncrements;
}

}  // namespace

StatusCode CheckHomingPreconditions(KernelData& data) {
  const KernelStateFlags& s = data.state;
  if (s.cycleRunning == 0) return kCycleNotRunning;
  if (s.busOk == 0) return common::kKernelCanBusDisturbed;
  if (s.syncRunning == 0) return common::kKernelSyncObjectFailed;
  if (s.peripheryPdoOk == 0) return common::kKernelPeripheryPdoInvalid;
  if (s.motionActive != 0 || AnyHandlingAxisMoving(data)) {
    return common::kKernelMovementSegmentActive;
  }
  if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
  if (s.motionStop != 0) return common::kKernelStopModeActive;
  if (s.motionBreak != 0) return common::kKernelBreakModeActive;
  if (s.teachMode != 0) return common::kKernelManualModeActive;
  return common::kKernelSuccess;
}

StatusCode CheckReferenceRequest(KernelData& data, canopen::NodeMask mask) {
  const KernelStateFlags& s = data.state;
  NodeConfiguration& nodes = data.nodeConfiguration;
  if (s.testMode != 0 && data.motion.cartesianCoordinates == 0) {
    return common::kKernelTestModeActive;
  }
  if (const StatusCode ready = CheckHomingPreconditions(data); ready != common::kKernelSuccess) {
    return ready;
  }
  if (CheckSelectedNodeStates(nodes, s, NodeResults::Keep, mask) != common::kKernelSuccess) {
    return common::kKernelNodeWasInErrorState;
  }
  if (s.limitSwitchLeave != 0) return common::kKernelLimitSwitchMoveOutActive;
  if (AnyNode(nodes, mask, [](const canopen::NodeObject& n) {
        return n.handlingAxis != 0 && n.handlingMode == 0;
      })) {
    return common::kKernelAxisNumberInvalid;
  }
  if (AnyNode(nodes, ~canopen::NodeMask{0},
              [](const canopen::NodeObject& n) { return n.regulatorActive != 0; })) {
    return common::kKernelDistanceControlActive;
  }
  if (s.stopOnInputInitialised != 0) return common::kKernelStopOnInputAlreadyInitialized;
  if (s.handwheelActive != 0) return common::kKernelHandwheelAlreadyActive;
  return common::kKernelSuccess;
}

StatusCode CheckHomeShiftRequest(KernelData& data, std::int32_t nodeIndex, double shift) {
  const KernelStateFlags& s = data.state;
  NodeConfiguration& nodes = data.nodeConfiguration;
  if (s.resetPending != 0) return common::kKernelResetNotDone;
  if (s.cycleRunning == 0) return kCycleNotRunning;
  if (s.busOk == 0) return common::kKernelCanBusDisturbed;
  const NodeObject* record =
      nodeIndex >= 0 ? nodes.Node(static_cast<std::uint32_t>(nodeIndex)) : nullptr;
  if (record == nullptr) return common::kKernelAxisNumberInvalid;
  const canopen::NodeObject& node = *record->can;
  if (node.homeShiftCapable == 0) return common::kKernelDriveFirmwareWrong;
  for (const NodeStatusRow* row : {&node.latched, &node.current}) {
    for (StatusFlag flag : {StatusFlag::A, StatusFlag::B, StatusFlag::C, StatusFlag::D}) {
      if (!row->Has(flag)) return common::kKernelNodeWasInErrorState;
    }
  }
  if (s.stopOnInputTriggered != 0) return common::kKernelStopOnInputStopActive;
  if (s.handwheelActive != 0) return common::kKernelHandwheelAlreadyActive;
  if (node.handlingAxis == 0) {
    if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
    if (s.pathMode != 0 || s.pathStarted != 0) return common::kKernelPathModeError;
  } else if (node.handlingMode > 0 && record->motion.standing == 0) {
    return common::kKernelSegmentMotionAlreadyActive;
  }
  if (!ShiftFits(node.gear, shift)) return common::kKernelMovementDataInvalid;
  if (node.axisCount > 0 && !ShiftFits(node.axes[0].gear, shift)) {
    return common::kKernelMovementDataInvalid;
  }
  return common::kKernelSuccess;
}

}  // namespace vantor::kernel

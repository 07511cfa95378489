#include "kernel/core/canopen/leave_mode.h"

#include <array>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/moveout_limits.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::uint8_t kWordSize = 2;
constexpr std::uint8_t kByteSize = 1;
constexpr std::uint16_t kNewSetPoint = 0x0010;
// Leave mode: the drive is still moving off its switch.
constexpr std::uint16_t kLeaving = 0x4000;
// A halt's answer may take this many times the usual countdown.
constexpr std::int32_t kHaltCountdownFactor = 4;

namespace enter_step {
constexpr std::int32_t kReadControlword = 1;
constexpr std::int32_t kClearNewSetPoint = 2;
constexpr std::int32_t kSelectMode = 3;
constexpr std::int32_t kCheckMode = 4;
}  // namespace enter_step

namespace leave_step {
constexpr std::int32_t kReadControlword = 1;
constexpr std::int32_t kStart = 2;
constexpr std::int32_t kReadState = 3;
constexpr std::int32_t kCheckState = 4;
constexpr std::int32_t kCheckHalt = 5;
}  // namespace leave_step

// The controlword's answer; false while pending or after a failure, which
// has ended the request.
bool UploadedWord(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                  std::uint16_t& value) noexcept {
  std::array<std::uint8_t, kWordSize> bytes{};
  if (AwaitSlotUpload(cycle, node, index, 0, kWordSize, bytes) == CheckState::Pending) return false;
  if (node.request.requestResult != common::kKernelSuccess) {
    FinishNodeRequest(node);
    return false;
  }
  value = static_cast<std::uint16_t>(ValueOf(bytes));
  return true;
}

bool Downloaded(CycleContext& cycle, NodeObject& node, std::uint16_t index) noexcept {
  if (AwaitSlotDownload(cycle, node, index, 0) == CheckState::Pending) return false;
  if (node.request.requestResult != common::kKernelSuccess) {
    FinishNodeRequest(node);
    return false;
  }
  return true;
}

// Halts the leave move; the request then ends with `cause`.
void Halt(CycleContext& cycle, NodeObject& node, StatusCode cause) noexcept {
  node.request.requestRecord->Set(leave_request::kHaltCause, cause);
  FrameOrFinish(node,
                FrameSlotDownload(cycle, node, object::kControlword, 0, kWordSize, kLeaveHalt),
                leave_step::kCheckHalt);
  node.request.countdown = kHaltCountdownFactor * node.countdownReload;
}

// Counts the driver's time into the record; true once the leave move has
// had its time.
bool LeaveTimeUp(CycleContext& cycle, RequestRecord& record) noexcept {
  const std::uint64_t elapsed =
      static_cast<std::uint64_t>(record.Get(leave_request::kElapsedMicroseconds)) +
      cycle.elapsedMicroseconds;
  const std::uint32_t kept = elapsed >= kOffSwitchLimitMicroseconds
                                 ? kOffSwitchLimitMicroseconds
                                 : static_cast<std::uint32_t>(elapsed);
  record.Set(leave_request::kElapsedMicroseconds, kept);
  return kept >= kOffSwitchLimitMicroseconds;
}

void CheckLeaveState(CycleContext& cycle, NodeObject& node) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  const bool timeUp = LeaveTimeUp(cycle, record);
  std::array<std::uint8_t, kWordSize> bytes{};
  if (AwaitSlotUpload(cycle, node, object::kStatusword, 0, kWordSize, bytes) ==
      CheckState::Pending) {
    return;
  }
  if (node.request.requestResult != common::kKernelSuccess) {
    Halt(cycle, node, node.request.requestResult);
    return;
  }
  const auto statusword = static_cast<std::uint16_t>(ValueOf(bytes));
  if ((statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
    Halt(cycle, node, common::kKernelNodeInErrorState);
    return;
  }
  if ((statusword & ds402::kTargetReached) != 0 && (statusword & kLeaving) == 0) {
    FinishNodeRequestWith(node, common::kKernelSuccess);
    return;
  }
  if (timeUp) {
    Halt(cycle, node, common::kKernelCanMessageTimeout);
    return;
  }
  FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kStatusword, 0),
                leave_step::kCheckState);
}

// Every masked node without axes: last result := request result.
StatusCode CollectPlainResults(ServiceContext& context, NodeMask armed) noexcept {
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (armed & (NodeMask{1} << k)) == 0) continue;
    node->request.lastResult = node->request.requestResult;
    if (node->request.requestResult != common::kKernelSuccess) {
      result = common::kKernelOperationFailed;
    }
  }
  return result;
}

NodeMask PlainNodes(const NodeTable& nodes, NodeMask mask) noexcept {
  NodeMask plain = 0;
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    const NodeObject* node = nodes.nodes[k];
    if (node != nullptr && node->axisCount == 0) plain |= NodeMask{1} << k;
  }
  return plain & mask;
}

StatusCode RunOnPlainNodes(ServiceContext& context, NodeMask mask, NodeStepFunction step) noexcept {
  NodeMask plain = 0;
  {
    HostLock lock(context.host);
    plain = PlainNodes(context.nodes, mask);
  }
  const StatusCode run = RunOnNodes(context, plain, step, [](NodeObject& node, auto) {
    *node.request.requestRecord = RequestRecord{};
  });
  if (run != common::kKernelSuccess) return run;
  return CollectPlainResults(context, plain);
}

}  // namespace

void EnterLeaveModeStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  switch (node.request.step) {
    case enter_step::kReadControlword:
      FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kControlword, 0),
                    enter_step::kClearNewSetPoint);
      return;
    case enter_step::kClearNewSetPoint: {
      std::uint16_t controlword = 0;
      if (!UploadedWord(cycle, node, object::kControlword, controlword)) return;
      FrameOrFinish(node,
                    FrameSlotDownload(cycle, node, object::kControlword, 0, kWordSize,
                                      static_cast<std::uint16_t>(controlword & ~kNewSetPoint)),
                    enter_step::kSelectMode);
      return;
    }
    case enter_step::kSelectMode:
      if (!Downloaded(cycle, node, object::kControlword)) return;
      FrameOrFinish(node,
                    FrameSlotDownload(cycle, node, object::kModesOfOperation, 0, kByteSize,
                                      kLeaveLimitSwitchMode),
                    enter_step::kCheckMode);
      return;
    case enter_step::kCheckMode:
      if (Downloaded(cycle, node, object::kModesOfOperation)) {
        FinishNodeRequestWith(node, common::kKernelSuccess);
      }
      return;
    default:
      FinishNodeRequestWith(node, common::kKernelOperationFailedSeriously);
      return;
  }
}

void LeaveSwitchStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  RequestRecord& record = *node.request.requestRecord;
  switch (node.request.step) {
    case leave_step::kReadControlword:
      record.Set(leave_request::kElapsedMicroseconds, 0);
      record.Set(leave_request::kHaltCause, common::kKernelSuccess);
      FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kControlword, 0),
                    leave_step::kStart);
      return;
    case leave_step::kStart: {
      std::uint16_t controlword = 0;
      if (!UploadedWord(cycle, node, object::kControlword, controlword)) return;
      FrameOrFinish(node,
                    FrameSlotDownload(cycle, node, object::kControlword, 0, kWordSize,
                                      static_cast<std::uint16_t>(controlword | kNewSetPoint)),
                    leave_step::kReadState);
      return;
    }
    case leave_step::kReadState:
      if (!Downloaded(cycle, node, object::kControlword)) return;
      FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kStatusword, 0),
                    leave_step::kCheckState);
      return;
    case leave_step::kCheckState:
      CheckLeaveState(cycle, node);
      return;
    case leave_step::kCheckHalt:
      if (AwaitSlotDownload(cycle, node, object::kControlword, 0) == CheckState::Done) {
        FinishNodeRequestWith(node, record.Get(leave_request::kHaltCause));
      }
      return;
    default:
      FinishNodeRequestWith(node, common::kKernelOperationFailedSeriously);
      return;
  }
}

StatusCode EnterLeaveMode(ServiceContext& context) noexcept {
  return RunOnPlainNodes(context, context.nodes.AllNodes(), EnterLeaveModeStep);
}

StatusCode LeaveLimitSwitches(ServiceContext& context, NodeMask mask) noexcept {
  return RunOnPlainNodes(context, mask, LeaveSwitchStep);
}

}  // namespace vantor::canopen

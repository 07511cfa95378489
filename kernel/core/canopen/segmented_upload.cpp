#include "kernel/core/canopen/segmented_upload.h"

#include <algorithm>
#include <array>

#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

bool SegmentedUpload::Start(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                            std::uint8_t subindex, std::span<std::uint8_t> buffer) noexcept {
  index_ = index;
  subindex_ = subindex;
  toggle_ = false;
  remaining_ = 0;
  offset_ = 0;
  buffer_ = buffer;
  phase_ = Phase::Initiate;
  if (FrameSlotUpload(cycle, node, index, subindex)) return true;
  phase_ = Phase::Idle;
  node.request.requestResult = common::kKernelCanMessageInvalid;
  return false;
}

CheckState SegmentedUpload::Step(CycleContext& cycle, NodeObject& node) noexcept {
  switch (phase_) {
    case Phase::Initiate:
      return Initiate(cycle, node);
    case Phase::Segment:
      return Segment(cycle, node);
    case Phase::Aborting: {
      common::StatusCode sendResult = common::kKernelSuccess;
      if (CheckFrameSent(cycle.exchange, node.sendRecord, node.request.countdown, sendResult) ==
          CheckState::Pending) {
        return CheckState::Pending;
      }
      // Whether the abort went out or not, the transfer failed.
      phase_ = Phase::Idle;
      node.request.requestResult = common::kKernelCanMessageInvalid;
      return CheckState::Done;
    }
    case Phase::Idle:
      break;
  }
  node.request.requestResult = common::kKernelCanMessageInvalid;
  return CheckState::Done;
}

CheckState SegmentedUpload::Initiate(CycleContext& cycle, NodeObject& node) noexcept {
  std::array<std::uint8_t, 4> first{};
  InitiateAnswer answer;
  const SdoExpectation expected{false, index_, subindex_, node.answerRecord, 0};
  if (CheckSdoInitiateResponse(cycle.exchange, expected, answer, node.request.countdown,
                               node.request.requestResult, first) == CheckState::Pending) {
    return CheckState::Pending;
  }
  if (node.request.requestResult != common::kKernelSuccess) {
    phase_ = Phase::Idle;
    return CheckState::Done;
  }
  if (answer.expedited) {
    if (answer.byteCount > buffer_.size()) return Abort(cycle, node, sdo_abort::kOutOfMemory);
    std::copy_n(first.begin(), answer.byteCount, buffer_.begin());
    offset_ = answer.byteCount;
    phase_ = Phase::Idle;
    return CheckState::Done;
  }
  remaining_ = ValueOf(first);
  if (remaining_ > buffer_.size()) return Abort(cycle, node, sdo_abort::kOutOfMemory);
  if (remaining_ == 0) {
    phase_ = Phase::Idle;
    return CheckState::Done;
  }
  return RequestSegment(cycle, node);
}

CheckState SegmentedUpload::Segment(CycleContext& cycle, NodeObject& node) noexcept {
  SegmentAnswer answer;
  const SegmentState state = CheckSdoSegmentResponse(
      cycle.exchange, toggle_, remaining_, node.answerRecord, node.request.countdown,
      node.request.requestResult, answer, buffer_, offset_);
  switch (state) {
    case SegmentState::Pending:
      return CheckState::Pending;
    case SegmentState::WouldOverflow:
      return Abort(cycle, node, sdo_abort::kOutOfMemory);
    case SegmentState::Done:
      break;
  }
  if (node.request.requestResult == common::kKernelCanMessageInvalid) {
    const bool toggleWrong = answer.toggleMismatch;
    return Abort(cycle, node,
                 toggleWrong ? sdo_abort::kToggleNotAlternated : sdo_abort::kCommandInvalid);
  }
  if (node.request.requestResult != common::kKernelSuccess) {
    phase_ = Phase::Idle;
    return CheckState::Done;
  }
  offset_ += answer.count;
  remaining_ -= std::min<std::uint32_t>(answer.count, remaining_);
  if (answer.last || remaining_ == 0) {
    phase_ = Phase::Idle;
    return CheckState::Done;
  }
  toggle_ = !toggle_;
  return RequestSegment(cycle, node);
}

CheckState SegmentedUpload::RequestSegment(CycleContext& cycle, NodeObject& node) noexcept {
  node.request.countdown = node.countdownReload;
  if (!BuildSdoSegmentRequest(cycle.exchange, toggle_, RouteOf(node))) {
    phase_ = Phase::Idle;
    node.request.requestResult = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  phase_ = Phase::Segment;
  return CheckState::Pending;
}

CheckState SegmentedUpload::Abort(CycleContext& cycle, NodeObject& node,
                                  std::uint32_t abortCode) noexcept {
  ReleaseRecord(cycle.exchange, node.answerRecord);
  node.request.countdown = node.countdownReload;
  if (!SendSdoAbort(cycle.exchange, index_, subindex_, node.sdoRequestCobId, node.sendRecord,
                    abortCode)) {
    phase_ = Phase::Idle;
    node.request.requestResult = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  phase_ = Phase::Aborting;
  return CheckState::Pending;
}

}  // namespace vantor::canopen

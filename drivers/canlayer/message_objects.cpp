#include "drivers/canlayer/message_objects.h"

#include <algorithm>

#include "drivers/canlayer/record_results.h"

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace res = common::message_result;

constexpr std::int8_t kNoAxis = -1;
constexpr int kHighestSlot = kAxisSlots - 1;

bool HoldsAnswerSlot(NodeState state) noexcept {
  switch (state) {
    case NodeState::kAnswerStarted:
    case NodeState::kAnswerAwaitingFirst:
    case NodeState::kAnswerInOrder:
    case NodeState::kAnswerMissing:
    // A failed answer object keeps its slot, so that the objects after it
    // do not move to another slot while the failure is being reported.
    case NodeState::kAnswerFailed:
    case NodeState::kAnswerFailureReported:
    case NodeState::kFormerAnswer:
    case NodeState::kAnswerStartedLate:
      return true;
    default:
      return false;
  }
}

}  // namespace

void MessageObjectMachines::ResetForRun(const RunSettings& run) noexcept {
  fillLimit_ = run.fillLimit;
  pollInterval_ = run.pollInterval;
  pollBudget_ = run.pollBudget;
  nodeStates_.fill(NodeState::kNone);
  setpointAxes_.fill(kNoAxis);
  synchronisationArmed_ = false;
  synchronisationObject_ = 0;
  synchronisationCobId_ = 0;
  pollCobId_ = 0;
  phase_ = 0;
  phaseCounter_ = 0;
  repeatCounter_ = 0;
  retryCounter_ = 0;
  ring_.Clear();
  setpointCobIds_.fill(0);
  positionCobIds_.fill(0);
  transmitResults_.fill(0);
  answerSlots_.fill(AnswerSlot{});
  condition_ = {};
}

bool MessageObjectMachines::SynchronisationFailed() const noexcept {
  return synchronisationObject_ != 0 &&
         nodeStates_[static_cast<std::size_t>(synchronisationObject_)] == NodeState::kSyncLost;
}

void MessageObjectMachines::RequestSynchronisationTransmission() noexcept {
  if (synchronisationArmed_ && synchronisationObject_ != 0)
    controller_.RequestTransmission(synchronisationObject_);
}

// ---- queries ---------------------------------------------------------------------

NodeState MessageObjectMachines::StateOf(int object) const noexcept {
  if (object < kFirstRecordObject || object > kLastRecordObject) return NodeState::kNone;
  return nodeStates_[static_cast<std::size_t>(object)];
}

int MessageObjectMachines::SetpointAxisOf(int object) const noexcept {
  if (!IsSetpointObject(StateOf(object))) return -1;
  return setpointAxes_[static_cast<std::size_t>(object)];
}

int MessageObjectMachines::AnswerSlotOf(int object) const noexcept {
  if (!HoldsAnswerSlot(StateOf(object))) return -1;
  int slot = 0;
  for (int before = kFirstRecordObject; before < object; ++before)
    if (HoldsAnswerSlot(StateOf(before))) ++slot;
  return std::min(slot, kHighestSlot);
}

AnswerSlot* MessageObjectMachines::SlotOf(int object) noexcept {
  const int slot = AnswerSlotOf(object);
  return slot < 0 ? nullptr : &answerSlots_[static_cast<std::size_t>(slot)];
}

bool MessageObjectMachines::AnyInState(std::initializer_list<NodeState> states) const noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object)
    if (std::find(states.begin(), states.end(), StateOf(object)) != states.end()) return true;
  return false;
}

// ---- record steps shared by the take-over and the reply -----------------------------

void MessageObjectMachines::StartReceiving(int object, common::MessageRecordView record,
                                           common::MessageCode receiving) noexcept {
  controller_.ConfigureReceiveObject(object, record.Get(mr::kCobId));
  record.Set(mr::kCode, Code(receiving));
}

void MessageObjectMachines::ReleaseObject(int object, common::MessageRecordView record) noexcept {
  controller_.InvalidateMessageObject(object);
  record.Set(mr::kCode, Code(common::MessageCode::Release));
}

void MessageObjectMachines::ReleaseWhenSent(int object, common::MessageRecordView record) noexcept {
  const std::uint8_t result = TransmitResult(object);
  record.Set(mr::kResult, result);
  if (result != res::kPending) ReleaseObject(object, record);
}

// ---- sending -----------------------------------------------------------------------

std::uint8_t MessageObjectMachines::TransmitResult(int object) noexcept {
  switch (controller_.GetTransmitState(object)) {
    case TransmitState::kSent:
      return res::kDone;
    case TransmitState::kPending:
      return res::kPending;
    case TransmitState::kControlInvalid:
      break;
  }
  return res::kControllerError;
}

void MessageObjectMachines::LoadAndSend(
    int object, std::uint16_t cobId, std::uint8_t length,
    std::span<const std::uint8_t, kFrameDataSize> data) noexcept {
  // An empty frame needs no data loaded: set up and ask for it.
  if (length == 0) {
    controller_.ConfigureTransmitObject(object, cobId);
    controller_.RequestTransmission(object);
    return;
  }
  controller_.LoadAndSend(object, cobId, length, data);
}

void MessageObjectMachines::UpdateAndSend(
    int object, std::uint8_t length, std::span<const std::uint8_t, kFrameDataSize> data) noexcept {
  if (length == 0) {
    controller_.RequestTransmission(object);
    return;
  }
  controller_.UpdateAndSend(object, length, data);
}

void MessageObjectMachines::SendRecord(int object, common::ConstMessageRecordView record) noexcept {
  LoadAndSend(object, record.Get(mr::kCobId), record.Get(mr::kLength), record.GetBytes(mr::kData));
}

void MessageObjectMachines::UpdateRecord(int object,
                                         common::ConstMessageRecordView record) noexcept {
  UpdateAndSend(object, record.Get(mr::kLength), record.GetBytes(mr::kData));
}

// ---- the buffered cycle's exchange point --------------------------------------------

void MessageObjectMachines::CopyAtBufferedExchangePoint(
    common::ExchangeBufferView exchange) noexcept {
  if (synchronisationArmed_ && synchronisationObject_ != 0) {
    auto record =
        *common::MessageRecordIn(exchange, static_cast<std::size_t>(synchronisationObject_));
    if (State(synchronisationObject_) == NodeState::kSyncLost) record.Set(mr::kResult, 1);
    if (State(synchronisationObject_) == NodeState::kSyncRequestedUnpolled)
      record.Set(mr::kResult, 2);
  }
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    NodeState& state = State(object);
    if (IsSetpointObject(state)) {
      const int axis = setpointAxes_[static_cast<std::size_t>(object)];
      if (axis >= 0) record.Set(mr::kResult, transmitResults_[static_cast<std::size_t>(axis)]);
      continue;
    }
    if (state == NodeState::kAnswerMissing || state == NodeState::kAnswerFailed)
      state = NodeState::kAnswerFailureReported;
    if (state == NodeState::kFormerAnswer || !HoldsAnswerSlot(state)) continue;
    const AnswerSlot* slot = SlotOf(object);
    record.Set(mr::kResult, slot->status);
    record.Set(mr::kLength, slot->length);
    auto data = record.MutableBytes(mr::kData);
    std::copy(slot->data.begin(), slot->data.end(), data.begin());
  }
}

}  // namespace vantor::canlayer

// Taking an exchange request over: the acceptance masks, the node states,
// the set-point ring and each record's code, in this order.
#include "common/byte_order.h"
#include "drivers/canlayer/message_objects.h"
#include "drivers/canlayer/record_results.h"

namespace vantor::canlayer {
namespace {

namespace eb = common::exchange_buffer;
namespace mr = common::message_record;
namespace rdc = common::received_data_condition;
namespace res = common::message_result;
namespace r15 = common::receive_object_result;
using common::MessageCode;

constexpr std::uint8_t kMaskRequested = 1;
constexpr std::uint8_t kPadRequested = 1;
constexpr int kReceiveObject = static_cast<int>(common::kReceiveObjectNumber);

common::MessageRecordView RecordOf(common::ExchangeBufferView exchange, int object) noexcept {
  return *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
}

bool ReceivesContinuously(common::ConstMessageRecordView record) noexcept {
  const std::uint8_t code = record.Get(mr::kCode);
  return code == Code(MessageCode::StartContinuousReceive) ||
         code == Code(MessageCode::ContinuousReceive);
}

}  // namespace

void MessageObjectMachines::TakeExchangeRequest(common::ExchangeBufferView exchange,
                                                std::int32_t& pollCountdown) noexcept {
  if (exchange.Get(eb::kGlobalMaskRequest) == kMaskRequested) {
    controller_.SetGlobalStandardMask(exchange.Get(eb::kGlobalStandardMask));
    exchange.Set(eb::kGlobalMaskRequest, 0);
  }
  if (exchange.Get(eb::kReceiveObjectMaskRequest) == kMaskRequested) {
    controller_.SetMessage15Mask(exchange.Get(eb::kReceiveObjectMask));
    exchange.Set(eb::kReceiveObjectMaskRequest, 0);
  }
  const auto raised = controller_.Card().Raise();
  // Each take-over disarms the synchronisation; only codes 22 and 23 arm it.
  synchronisationArmed_ = false;
  ApplyNodeStates(exchange);
  FillSetpointRing(exchange);
  ReceiveStep(exchange);
  Object15Step(exchange);
  CommandStep(exchange, pollCountdown);
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = RecordOf(exchange, object);
    if (ReceivesContinuously(record)) record.Set(mr::kResult, res::kNothingReceived);
  }
  auto record15 = RecordOf(exchange, kReceiveObject);
  if (ReceivesContinuously(record15)) record15.Set(mr::kResult, r15::kNone);
}

void MessageObjectMachines::ApplyNodeStates(common::ConstExchangeBufferView exchange) noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    NodeState& state = State(object);
    switch (static_cast<MessageCode>(record.Get(mr::kCode))) {
      case MessageCode::SetpointObjectActive:
      case MessageCode::AnswerObjectActive:
      case MessageCode::SynchronisationActive:
        break;
      case MessageCode::StartSingleReceive:
      case MessageCode::SingleReceive:
        // A former answer object keeps its slot while it receives singly.
        state =
            (state >= NodeState::kAnswerInOrder && state <= NodeState::kAnswerFailureReported) ||
                    state == NodeState::kFormerAnswer
                ? NodeState::kFormerAnswer
                : NodeState::kNone;
        break;
      default:
        state = NodeState::kNone;
        break;
    }
  }
}

void MessageObjectMachines::FillSetpointRing(common::ExchangeBufferView exchange) noexcept {
  const std::uint8_t control = exchange.Get(eb::kRingControl);
  if (control == eb::kRingNotInUse) return;
  const auto condition =
      *exchange.Window<common::kReceivedDataConditionSize>(eb::kReceivedDataConditionOffset);
  condition_.mask = condition.Get(rdc::kMask);
  condition_.pattern = condition.Get(rdc::kPattern);
  condition_.conditionMask = condition.Get(rdc::kConditionMask);
  if (control == eb::kRingStart) {
    exchange.Set(eb::kRingControl, eb::kRingRunning);
    ring_.Clear();
  }
  ring_.Append(exchange, exchange.Get(eb::kSetpointCount));
  if (exchange.Get(eb::kPadRequest) == kPadRequested && ring_.PadToWholeFrames(fillLimit_))
    exchange.Set(eb::kPadRequest, 0);
}

void MessageObjectMachines::ReceiveStep(common::ExchangeBufferView exchange) noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = RecordOf(exchange, object);
    const std::uint8_t code = record.Get(mr::kCode);
    switch (static_cast<MessageCode>(code)) {
      case MessageCode::StartAnswerObject:
        State(object) = NodeState::kAnswerStarted;
        phaseCounter_ = 0;
        repeatCounter_ = 0;
        StartReceiving(object, record, MessageCode::AnswerObjectActive);
        break;
      case MessageCode::StartContinuousReceive:
        StartReceiving(object, record, MessageCode::ContinuousReceive);
        break;
      case MessageCode::StartSingleReceive:
        StartReceiving(object, record, MessageCode::SingleReceive);
        break;
      case MessageCode::StartAnswerObjectLate:
        State(object) = NodeState::kAnswerStartedLate;
        SlotOf(object)->status = res::kNothingReceived;
        StartReceiving(object, record, MessageCode::AnswerObjectActive);
        break;
      default:
        break;
    }
  }
}

void MessageObjectMachines::Object15Step(common::ExchangeBufferView exchange) noexcept {
  auto record = RecordOf(exchange, kReceiveObject);
  switch (static_cast<MessageCode>(record.Get(mr::kCode))) {
    case MessageCode::Release:
      controller_.InvalidateMessageObject(kReceiveObject);
      record.Set(mr::kResult, r15::kNone);
      break;
    case MessageCode::StartContinuousReceive:
      StartReceiving(kReceiveObject, record, MessageCode::ContinuousReceive);
      break;
    case MessageCode::StartSingleReceive:
      StartReceiving(kReceiveObject, record, MessageCode::SingleReceive);
      break;
    case MessageCode::ContinuousReceive:
    case MessageCode::SingleReceive:
      break;
    default:
      record.Set(mr::kResult, r15::kInvalidCode);
      break;
  }
}

void MessageObjectMachines::CommandStep(common::ExchangeBufferView exchange,
                                        std::int32_t& pollCountdown) noexcept {
  int nextAxis = 0;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = RecordOf(exchange, object);
    const std::uint8_t code = record.Get(mr::kCode);
    if (!common::IsValidMessageCode(code)) {
      record.Set(mr::kResult, res::kInvalidCode);
      continue;
    }
    switch (static_cast<MessageCode>(code)) {
      case MessageCode::Release:
        controller_.InvalidateMessageObject(object);
        record.Set(mr::kResult, res::kDone);
        break;
      case MessageCode::ConfigureTransmitter:
        controller_.ConfigureTransmitObject(object, record.Get(mr::kCobId));
        record.Set(mr::kResult, res::kDone);
        break;
      case MessageCode::SendOnce:
        SendRecord(object, record);
        record.Set(mr::kCode, Code(MessageCode::SentOnce));
        break;
      case MessageCode::SendFullSetup:
        record.Set(mr::kResult, TransmitResult(object));
        SendRecord(object, record);
        record.Set(mr::kCode, Code(MessageCode::SendAgain));
        break;
      case MessageCode::SendAgain:
        record.Set(mr::kResult, TransmitResult(object));
        UpdateRecord(object, record);
        break;
      case MessageCode::SendWhenFreeFullSetup:
        record.Set(mr::kResult, TransmitResult(object));
        if (record.Get(mr::kResult) == res::kDone) {
          SendRecord(object, record);
          record.Set(mr::kCode, Code(MessageCode::SendAgainWhenFree));
        }
        break;
      case MessageCode::SendAgainWhenFree:
        record.Set(mr::kResult, TransmitResult(object));
        if (record.Get(mr::kResult) == res::kDone) UpdateRecord(object, record);
        break;
      case MessageCode::StartSetpointObject:
        StartSetpointObject(object, record, nextAxis++);
        break;
      case MessageCode::SendOnceAndRelease:
        SendRecord(object, record);
        record.Set(mr::kCode, Code(MessageCode::SentReleaseWhenDone));
        break;
      case MessageCode::SentReleaseWhenDone:
        ReleaseWhenSent(object, record);
        break;
      case MessageCode::RemoteRequest:
        controller_.RemoteRequest(object, record.Get(mr::kCobId));
        record.Set(mr::kCode, Code(MessageCode::RemoteAnswer));
        break;
      case MessageCode::SynchronisedBufferedStart:
        StartSynchronisation(object, record, pollCountdown);
        break;
      case MessageCode::SynchronisationActive:
        // Only a synchronisation started by code 22 can be kept armed.
        synchronisationArmed_ = synchronisationObject_ == object;
        record.Set(mr::kResult, res::kDone);
        break;
      default:
        break;
    }
  }
}

void MessageObjectMachines::StartSetpointObject(int object, common::MessageRecordView record,
                                                int axis) noexcept {
  // The record checks admit at most six set-point objects per request.
  if (axis >= kAxisSlots) return;
  const auto slot = static_cast<std::size_t>(axis);
  controller_.ConfigureTransmitObject(object, record.Get(mr::kCobId));
  State(object) = NodeState::kSetpointAwaitingStart;
  setpointAxes_[static_cast<std::size_t>(object)] = static_cast<std::int8_t>(axis);
  setpointCobIds_[slot] = record.Get(mr::kCobId);
  positionCobIds_[slot] = record.Get(mr::kPositionCobId);
  transmitResults_[slot] = res::kDone;
  phaseCounter_ = 0;
  record.Set(mr::kCode, Code(MessageCode::SetpointObjectActive));
}

void MessageObjectMachines::StartSynchronisation(int object, common::MessageRecordView record,
                                                 std::int32_t& pollCountdown) noexcept {
  controller_.ConfigureTransmitObject(object, record.Get(mr::kCobId));
  synchronisationArmed_ = true;
  synchronisationObject_ = object;
  synchronisationCobId_ = record.Get(mr::kCobId);
  pollCobId_ = static_cast<std::uint16_t>(record.Get(mr::kSyncAnswerCobId) & 0xFFFF);
  phase_ = 0;
  retryCounter_ = 0;
  State(object) = NodeState::kSyncSent;
  // The first poll after a synchronised start comes at once.
  pollCountdown = pollInterval_;
  record.Set(mr::kResult, res::kDone);
  record.Set(mr::kCode, Code(MessageCode::SynchronisationActive));
}

}  // namespace vantor::canlayer

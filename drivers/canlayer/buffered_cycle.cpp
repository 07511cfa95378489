// The buffered cycle of run mode 1, once per cycle while the
// synchronisation is armed: synchronised single sends, the synchronisation
// frame and the poll of its answer, the answers and set-point frames, and
// the decision whether the parked request may be answered.
#include <algorithm>

#include "drivers/canlayer/message_objects.h"
#include "drivers/canlayer/record_results.h"

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace res = common::message_result;
using common::MessageCode;

// Phases of the buffered cycle.
constexpr std::uint8_t kPhaseStarted = 0;  // right after a synchronised start
constexpr std::uint8_t kPhaseSynchronisedSends = 1;
constexpr std::uint8_t kPhaseSynchronisation = 2;
constexpr std::uint8_t kPhaseAnswers = 3;

// Unanswered polls before polling is given up.
constexpr std::int16_t kPollRetries = 3;
// One tick lasts d x 128 microseconds; the poll never waits longer.
constexpr std::int32_t kTickMicrosecondsPerDivider = 128;

}  // namespace

BufferedCycleOutcome MessageObjectMachines::BufferedCycleStep(BufferedCycle cycle) noexcept {
  if (synchronisationObject_ == 0) return {};
  if (phase_ == kPhaseSynchronisedSends) {
    if (cycle.parkedRequest != nullptr &&
        CheckSynchronisedSends(*cycle.parkedRequest) == Progress::kWait) {
      return {};
    }
    phaseCounter_ = 0;
    phase_ = kPhaseSynchronisation;
  }
  if (phase_ == kPhaseSynchronisation) {
    ++phaseCounter_;
    const NodeState before = State(synchronisationObject_);
    if (SynchronisationObjectStep(cycle) == Progress::kWait) return {};
    const NodeState after = State(synchronisationObject_);
    // The time up to the synchronisation belongs to the answer that follows.
    if (after == NodeState::kSyncSent ||
        (before == NodeState::kSyncRequestedUnpolled && after == NodeState::kSyncPollingGaveUp)) {
      cycle.elapsedMicroseconds += cycle.pendingMicroseconds;
      cycle.pendingMicroseconds = 0;
    }
    phaseCounter_ = 0;
    phase_ = kPhaseAnswers;
  }
  if (phase_ == kPhaseAnswers) {
    if (phaseCounter_ == 0 && !AnyInState({NodeState::kAnswerFailed})) {
      for (AnswerSlot& slot : answerSlots_) slot.status = res::kNothingReceived;
      if (!AnyInState({NodeState::kSetpointFailed})) transmitResults_.fill(res::kPending);
    }
    ++phaseCounter_;
    const NodeState synchronisation = State(synchronisationObject_);
    const bool synchronised =
        synchronisation == NodeState::kSyncSent || synchronisation == NodeState::kSyncAnswered;
    const bool answered = AnswerStep();
    const bool framesSent = SetpointTransmitCheck();
    if (!AllSettled()) return {};
    if (synchronised && answered && ConditionTest() && SecondMaskTest() && framesSent)
      SendSetpointFrames();
  }
  CycleTail(cycle);
  return {cycle.parkedRequest != nullptr && !cycle.completionQueued &&
          ReadyToAnswer(*cycle.parkedRequest)};
}

void MessageObjectMachines::CycleTail(const BufferedCycle& cycle) noexcept {
  phase_ = kPhaseSynchronisation;
  phaseCounter_ = 0;
  if (cycle.parkedRequest != nullptr) {
    CollectAtExchangePoint(*cycle.parkedRequest);
    StartSetpointObjects(*cycle.parkedRequest);
    StartSynchronisedSends(*cycle.parkedRequest);
  }
  RequestSynchronisationFrame(cycle);
  PollSynchronisationAnswer(cycle);
}

MessageObjectMachines::Progress MessageObjectMachines::CheckSynchronisedSends(
    common::ExchangeBufferView exchange) noexcept {
  ++phaseCounter_;
  bool underWay = false;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    // Every code-9 record is tested, whatever result it came with, so that
    // none can hold the cycle in this phase for ever.
    if (record.Get(mr::kCode) != Code(MessageCode::SynchronisedSendUnderWay)) continue;
    const std::uint8_t state = TransmitResult(object);
    if (state == res::kDone || phaseCounter_ >= kCyclesToWait) {
      record.Set(mr::kResult, state);
      record.Set(mr::kCode, Code(MessageCode::Release));
      controller_.InvalidateMessageObject(object);
    } else {
      underWay = true;
    }
  }
  return underWay ? Progress::kWait : Progress::kGoOn;
}

MessageObjectMachines::Progress MessageObjectMachines::SynchronisationObjectStep(
    const BufferedCycle& cycle) noexcept {
  const int object = synchronisationObject_;
  NodeState& state = State(object);
  switch (state) {
    case NodeState::kSyncRequested:
    case NodeState::kSyncRequestedUnpolled:
      if (controller_.GetTransmitState(object) == TransmitState::kSent) {
        state = state == NodeState::kSyncRequested ? NodeState::kSyncSent
                                                   : NodeState::kSyncPollingGaveUp;
        return Progress::kGoOn;
      }
      if (phaseCounter_ >= kCyclesToWait) {
        state = NodeState::kSyncLost;
        controller_.InvalidateMessageObject(object);
      }
      return Progress::kWait;
    case NodeState::kSyncPolled: {
      const ObjectRead read = controller_.ReadObject(object);
      if (read.result == ObjectReadResult::kFrame) {
        state = NodeState::kSyncAnswered;
        retryCounter_ = 0;
      } else if (phaseCounter_ < kCyclesToWait) {
        return Progress::kWait;
      } else if (retryCounter_ < kPollRetries) {
        state = NodeState::kSyncSent;
        ++retryCounter_;
        cycle.pollCountdown = pollInterval_;
      } else {
        state = NodeState::kSyncPollingGaveUp;
        retryCounter_ = 0;
      }
      // The poll turned the object into a receiver; it sends the
      // synchronisation frame again.
      controller_.ConfigureTransmitObject(object, synchronisationCobId_);
      return Progress::kGoOn;
    }
    default:
      return Progress::kGoOn;
  }
}

void MessageObjectMachines::StartSynchronisedSends(common::ExchangeBufferView exchange) noexcept {
  bool started = false;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    const std::uint8_t code = record.Get(mr::kCode);
    if (code == Code(MessageCode::SynchronisedSingleSend)) {
      SendRecord(object, record);
      record.Set(mr::kResult, res::kPending);
      record.Set(mr::kCode, Code(MessageCode::SynchronisedSendUnderWay));
      started = true;
    } else if (code == Code(MessageCode::SynchronisedSendUnderWay)) {
      // Handed in under way, not started here: the next cycle sees it out
      // like its own, or the answer would wait for it for ever.
      started = true;
    } else if (code == Code(MessageCode::Release)) {
      controller_.InvalidateMessageObject(object);
      record.Set(mr::kResult, res::kDone);
    } else if (!common::IsValidMessageCode(code)) {
      record.Set(mr::kResult, res::kInvalidCode);
    }
  }
  if (started) phase_ = kPhaseSynchronisedSends;
}

void MessageObjectMachines::RequestSynchronisationFrame(const BufferedCycle& cycle) noexcept {
  const int object = synchronisationObject_;
  controller_.RequestTransmission(object);
  NodeState& state = State(object);
  if (state == NodeState::kSyncSent || state == NodeState::kSyncAnswered) {
    state = NodeState::kSyncRequested;
  } else if (state == NodeState::kSyncPollingGaveUp) {
    state = NodeState::kSyncRequestedUnpolled;
  }
  if (state == NodeState::kSyncRequestedUnpolled) cycle.pollCountdown = 0;
}

void MessageObjectMachines::PollSynchronisationAnswer(const BufferedCycle& cycle) noexcept {
  if (cycle.pollCountdown < pollInterval_) return;
  const int object = synchronisationObject_;
  const std::int32_t readMicroseconds = std::max<std::int32_t>(cycle.measuredReadMicroseconds, 1);
  // A budget beyond one tick would hold the interrupt into the next one.
  const std::int32_t budget =
      std::min<std::int32_t>(pollBudget_, cycle.run.tickClockDivider * kTickMicrosecondsPerDivider);
  bool sent = false;
  for (std::int32_t spent = 0; !sent && spent < budget; spent += readMicroseconds)
    sent = controller_.GetTransmitState(object) == TransmitState::kSent;
  if (!sent) return;
  cycle.pollCountdown = 0;
  controller_.RemoteRequest(object, pollCobId_);
  State(object) = NodeState::kSyncPolled;
  cycle.elapsedMicroseconds += cycle.pendingMicroseconds;
  cycle.pendingMicroseconds = 0;
}

bool MessageObjectMachines::ReadyToAnswer(common::ConstExchangeBufferView exchange) const noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    if (record.Get(mr::kCode) == Code(MessageCode::SynchronisedSendUnderWay)) return false;
  }
  if (AnyInState({NodeState::kSetpointFailed, NodeState::kAnswerFailed,
                  NodeState::kAnswerFailureReported})) {
    return true;
  }
  return !AnyInState({NodeState::kSetpointAwaitingStart, NodeState::kSetpointStartSent,
                      NodeState::kAnswerAwaitingFirst, NodeState::kAnswerMissing});
}

}  // namespace vantor::canlayer

// The answer objects of the buffered cycle: reading the drives' answers
// into their slots, noticing missing answers, and testing the answers
// against the request's condition pattern.
#include <algorithm>

#include "common/byte_order.h"
#include "drivers/canlayer/message_objects.h"
#include "drivers/canlayer/record_results.h"

namespace vantor::canlayer {
namespace {

namespace res = common::message_result;

// Missed cycles that are repeated before an answer object fails.
constexpr std::int16_t kRepeatsBeforeFailure = 2;

std::uint64_t SlotData(const AnswerSlot& slot) noexcept {
  return common::LoadLittleEndian<std::uint64_t>(slot.data.data());
}

}  // namespace

bool MessageObjectMachines::AnswerStep() noexcept {
  if (AnyInState({NodeState::kAnswerFailed})) {
    repeatCounter_ = 0;
    return false;
  }
  bool answered = true;
  bool repeatMark = false;
  bool failedMark = false;
  const auto missing = [&](NodeState& state, AnswerSlot& slot, std::uint8_t outcome,
                           bool staysMissing) {
    answered = false;
    if (phaseCounter_ < kCyclesToWait) return;
    if (repeatCounter_ >= kRepeatsBeforeFailure) {
      slot.status = outcome;
      state = NodeState::kAnswerFailed;
      failedMark = true;
    } else {
      if (!staysMissing) state = NodeState::kAnswerMissing;
      repeatMark = true;
    }
  };
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    NodeState& state = State(object);
    switch (state) {
      case NodeState::kAnswerStarted:
      case NodeState::kAnswerStartedLate:
      case NodeState::kAnswerAwaitingFirst:
      case NodeState::kAnswerInOrder:
      case NodeState::kAnswerMissing:
      case NodeState::kAnswerFailureReported:
        break;
      default:
        continue;
    }
    AnswerSlot& slot = *SlotOf(object);
    if (slot.status != res::kNothingReceived) continue;
    const ObjectRead read = controller_.ReadObject(object);
    const std::uint8_t outcome = RecordResultOf(read.result);
    const bool frame = outcome == res::kDone;
    const auto take = [&] {
      slot.status = res::kDone;
      slot.length = read.length;
      slot.data = read.data;
    };
    switch (state) {
      case NodeState::kAnswerStarted:
      case NodeState::kAnswerStartedLate:
        // Whatever the object held belongs to the time before it was
        // started: the slot begins with the pattern the answers must match.
        if (state == NodeState::kAnswerStarted) answered = false;
        slot.status = res::kDone;
        slot.length = static_cast<std::uint8_t>(kFrameDataSize);
        common::StoreLittleEndian<std::uint64_t>(slot.data.data(), condition_.pattern);
        state = NodeState::kAnswerAwaitingFirst;
        break;
      case NodeState::kAnswerAwaitingFirst:
      case NodeState::kAnswerMissing:
        if (frame) {
          take();
          state = NodeState::kAnswerInOrder;
        } else {
          missing(state, slot, outcome, state == NodeState::kAnswerMissing);
        }
        break;
      case NodeState::kAnswerInOrder:
        if (frame) {
          take();
        } else {
          missing(state, slot, outcome, false);
        }
        break;
      case NodeState::kAnswerFailureReported:
        answered = false;
        failedMark = true;
        if (frame) {
          take();
        } else if (phaseCounter_ >= kCyclesToWait) {
          slot.status = outcome;
        }
        break;
      default:
        break;
    }
  }
  if (repeatMark) {
    ++repeatCounter_;
  } else if (answered || failedMark) {
    repeatCounter_ = 0;
  }
  return answered;
}

bool MessageObjectMachines::AllSettled() const noexcept {
  if (phaseCounter_ >= kCyclesToWait) return true;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const NodeState state = StateOf(object);
    if (state == NodeState::kAnswerMissing) return false;
    const bool waitsForAnswer =
        state == NodeState::kAnswerStarted || state == NodeState::kAnswerStartedLate ||
        state == NodeState::kAnswerAwaitingFirst || state == NodeState::kAnswerInOrder ||
        state == NodeState::kAnswerFailureReported;
    if (waitsForAnswer) {
      const int slot = AnswerSlotOf(object);
      if (answerSlots_[static_cast<std::size_t>(slot)].status != res::kDone) return false;
    }
  }
  if (AnyInState({NodeState::kAnswerFailed})) return true;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const NodeState state = StateOf(object);
    if (!IsLiveSetpointObject(state)) continue;
    const int axis = setpointAxes_[static_cast<std::size_t>(object)];
    if (axis >= 0 && transmitResults_[static_cast<std::size_t>(axis)] != res::kDone) return false;
  }
  return true;
}

bool MessageObjectMachines::AnswersMatchPattern() const noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    if (StateOf(object) != NodeState::kAnswerInOrder) continue;
    const AnswerSlot& slot = answerSlots_[static_cast<std::size_t>(AnswerSlotOf(object))];
    if ((SlotData(slot) & condition_.mask) != condition_.pattern) return false;
  }
  return true;
}

bool MessageObjectMachines::ConditionTest() noexcept {
  if (AnswersMatchPattern()) return true;
  // A drive that is not in order must not get the set-points queued for it.
  ring_.Clear();
  return false;
}

bool MessageObjectMachines::SecondMaskTest() const noexcept {
  for (int object = kFirstRecordObject + 1; object <= kLastRecordObject; ++object) {
    if (StateOf(object) != NodeState::kAnswerInOrder || !IsSetpointObject(StateOf(object - 1)))
      continue;
    const AnswerSlot& slot = answerSlots_[static_cast<std::size_t>(AnswerSlotOf(object))];
    if ((SlotData(slot) & condition_.conditionMask) != 0) return false;
  }
  return true;
}

}  // namespace vantor::canlayer

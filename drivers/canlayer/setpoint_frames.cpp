// The set-point objects of the buffered cycle: their start frames, the
// check that last cycle's frames left, and the frames themselves: three
// ring entries per 8-byte frame (a value and two 16-bit steps), or a
// 4-byte absolute position after a marker entry.
#include <algorithm>

#include "common/byte_order.h"
#include "drivers/canlayer/message_objects.h"

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace res = common::message_result;

constexpr std::size_t kEntriesPerFrame = 3;
constexpr std::uint8_t kSetpointFrameLength = 8;
constexpr std::uint8_t kPositionFrameLength = 4;
constexpr int kHighestAnswerIndex = kAxisSlots - 1;

bool Streams(NodeState state) noexcept {
  return state == NodeState::kSetpointAwaitingStart || state == NodeState::kSetpointStreaming;
}

bool IsMarker(const SetpointValues& entry) noexcept {
  return entry[0] == common::kAbsolutePositionMarker;
}

// The step between two set-points as the drive adds it: the low 16 bits of
// the difference, taken without signed overflow.
std::uint16_t Step(std::int32_t from, std::int32_t to) noexcept {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(to) -
                                    static_cast<std::uint32_t>(from));
}

}  // namespace

bool MessageObjectMachines::SetpointTransmitCheck() noexcept {
  if (AnyInState({NodeState::kSetpointFailed})) return false;
  bool allSent = true;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    NodeState& state = State(object);
    if (!IsLiveSetpointObject(state)) continue;
    const int axis = setpointAxes_[static_cast<std::size_t>(object)];
    if (axis < 0) continue;
    std::uint8_t& result = transmitResults_[static_cast<std::size_t>(axis)];
    if (result != res::kPending) continue;
    const std::uint8_t transmitted = TransmitResult(object);
    if (transmitted == res::kDone) {
      result = res::kDone;
      continue;
    }
    allSent = false;
    if (phaseCounter_ >= kCyclesToWait) {
      result = transmitted;
      state = NodeState::kSetpointFailed;
    }
  }
  return allSent;
}

void MessageObjectMachines::SendSetpointFrames() noexcept {
  if (!AnyInState({NodeState::kSetpointAwaitingStart, NodeState::kSetpointStreaming})) return;
  const int remembered = ring_.ReadIndex();
  std::array<const SetpointValues*, kEntriesPerFrame> collected{};
  std::size_t count = 0;
  bool markerSeen = false;
  bool reconfigure = false;
  SetpointValues* positions = nullptr;
  // Every take consumes an entry, so the ring's fill bounds the walk.
  while (count < kEntriesPerFrame) {
    SetpointValues* entry = ring_.Take();
    if (entry == nullptr) break;
    if (markerSeen) {
      if (!IsMarker(*entry)) {
        positions = entry;
        break;
      }
      // The positions went out last cycle: back to set-point frames.
      reconfigure = true;
      markerSeen = false;
    } else if (IsMarker(*entry)) {
      markerSeen = true;
    } else {
      collected[count++] = entry;
    }
  }
  if (positions != nullptr) {
    // Marker and marked entry stay queued; the next cycle streams on from
    // behind them with the objects set back to their set-point identifiers.
    ring_.RewindTo(remembered);
    SendPositionFrames(*positions);
    return;
  }
  if (count < kEntriesPerFrame) {
    ring_.RewindTo(remembered);
    return;
  }
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const int axis = StreamingAxisOf(object);
    if (axis < 0) continue;
    const auto j = static_cast<std::size_t>(axis);
    FrameData frame{};
    common::StoreLittleEndian<std::int32_t>(frame.data(), (*collected[0])[j]);
    common::StoreLittleEndian<std::uint16_t>(frame.data() + 4,
                                             Step((*collected[0])[j], (*collected[1])[j]));
    common::StoreLittleEndian<std::uint16_t>(frame.data() + 6,
                                             Step((*collected[1])[j], (*collected[2])[j]));
    if (reconfigure) {
      LoadAndSend(object, setpointCobIds_[j], kSetpointFrameLength, frame);
    } else {
      UpdateAndSend(object, kSetpointFrameLength, frame);
    }
  }
}

int MessageObjectMachines::StreamingAxisOf(int object) const noexcept {
  if (!Streams(StateOf(object))) return -1;
  return setpointAxes_[static_cast<std::size_t>(object)];
}

void MessageObjectMachines::SendPositionFrames(SetpointValues& positions) noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    const int axis = StreamingAxisOf(object);
    if (axis < 0) continue;
    const auto j = static_cast<std::size_t>(axis);
    FrameData frame{};
    common::StoreLittleEndian<std::int32_t>(frame.data(), positions[j]);
    LoadAndSend(object, positionCobIds_[j], kPositionFrameLength, frame);
    // Marked as sent, so the next cycle knows to go on behind it.
    positions[j] = common::kAbsolutePositionMarker;
  }
}

void MessageObjectMachines::StartSetpointObjects(
    common::ConstExchangeBufferView exchange) noexcept {
  if (AnyInState({NodeState::kSetpointFailed, NodeState::kAnswerMissing, NodeState::kAnswerFailed,
                  NodeState::kAnswerFailureReported}) ||
      !AnswersMatchPattern()) {
    return;
  }
  bool ready = true;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    if (StateOf(object) == NodeState::kSetpointAwaitingStart &&
        controller_.GetTransmitState(object) == TransmitState::kPending) {
      ready = false;
    }
  }
  // The running answer index pairs each set-point object with the answer
  // slot of its drive. It starts at slot 0 for the first set-point object;
  // each later one moves on by half its distance in objects from the
  // previous one, so that set-point and answer objects laid out in pairs
  // (set-point, answer, set-point, answer, ...) meet their own slot.
  int answerIndex = 0;
  int previous = 0;
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    NodeState& state = State(object);
    if (!IsSetpointObject(state)) continue;
    if (previous != 0)
      answerIndex = std::min(answerIndex + (object - previous) / 2, kHighestAnswerIndex);
    previous = object;
    const auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    if (state == NodeState::kSetpointStartSent) {
      state = NodeState::kSetpointStreaming;
      controller_.ConfigureTransmitObject(object, record.Get(mr::kCobId));
    } else if (state == NodeState::kSetpointAwaitingStart && ready) {
      const std::uint64_t answer = common::LoadLittleEndian<std::uint64_t>(
          answerSlots_[static_cast<std::size_t>(answerIndex)].data.data());
      if ((answer & condition_.conditionMask) != 0 || ring_.Empty()) {
        LoadAndSend(object, record.Get(mr::kSecondCobId),
                    std::min<std::uint8_t>(record.Get(mr::kSecondLength), kFrameDataSize),
                    record.GetBytes(mr::kSecondData));
        state = NodeState::kSetpointStartSent;
      }
    }
  }
}

}  // namespace vantor::canlayer

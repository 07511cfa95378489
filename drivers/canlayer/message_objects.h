// The message objects' side of the exchange: what the driver does with the
// fifteen records when it takes a request over, what it collects at the
// exchange point and what it writes back at completion, the set-point ring
// and the buffered cycle of run mode 1.
//
// The scheduler calls these steps at fixed points of a run; all of them run
// under the device's interrupt lock or inside the tick, so nothing here
// locks, allocates or waits (beyond the bounded poll of the
// synchronisation frame).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "common/exchange_buffer.h"
#include "drivers/canlayer/controller_82527.h"
#include "drivers/canlayer/run_settings.h"
#include "drivers/canlayer/setpoint_ring.h"

namespace vantor::canlayer {

// The role and progress of message objects 1 to 14 in the buffered cycle.
enum class NodeState : std::uint8_t {
  kNone = 0,
  kSetpointAwaitingStart = 1,  // waits to send its start frame
  kSetpointStartSent = 2,
  kSetpointStreaming = 3,
  kSetpointFailed = 4,  // a frame was not sent within three cycles
  kAnswerStarted = 5,   // first read pending
  kAnswerAwaitingFirst = 6,
  kAnswerInOrder = 7,
  kAnswerMissing = 8,  // being repeated
  kAnswerFailed = 9,   // missing after the repeats
  kAnswerFailureReported = 10,
  kSyncRequested = 11,
  kSyncSent = 12,
  kSyncPolled = 13,  // remote frame for the answer sent
  kSyncAnswered = 14,
  kSyncRequestedUnpolled = 15,  // polling gave up, frame requested
  kSyncPollingGaveUp = 16,
  kSyncLost = 17,      // not sent within three cycles: the buffered cycle stops
  kFormerAnswer = 18,  // in single receive, keeps its answer slot
  kAnswerStartedLate = 19,
};

constexpr bool IsSetpointObject(NodeState state) noexcept {
  return state >= NodeState::kSetpointAwaitingStart && state <= NodeState::kSetpointFailed;
}

// Set-point objects that still stream (not failed).
constexpr bool IsLiveSetpointObject(NodeState state) noexcept {
  return state >= NodeState::kSetpointAwaitingStart && state <= NodeState::kSetpointStreaming;
}

// Cycles a frame or an answer may take before it counts as missing.
inline constexpr std::int16_t kCyclesToWait = 3;

// What the buffered cycle's step tells the tick.
struct BufferedCycleOutcome {
  bool exchangePoint = false;  // ready to answer the parked request now
};

// What one buffered cycle works with; the counters belong to the run and
// the step advances them.
struct BufferedCycle {
  common::ExchangeBufferView* parkedRequest;  // null while no request waits
  bool completionQueued;                      // the last answer is not out yet
  const RunSettings& run;
  std::int32_t measuredReadMicroseconds;
  std::uint32_t& pendingMicroseconds;
  std::uint32_t& elapsedMicroseconds;
  std::int32_t& pollCountdown;
};

// One answer object's frame of the current exchange.
struct AnswerSlot {
  std::uint8_t status = 2;  // 0 read, 2 nothing yet, 4 and 5 read errors
  std::uint8_t length = 0;
  FrameData data{};
};

// The test the answer frames must pass (copied from the request).
struct ReceivedDataTest {
  std::uint64_t mask = 0;
  std::uint64_t pattern = 0;
  std::uint64_t conditionMask = 0;
};

inline constexpr int kFirstRecordObject = 1;
inline constexpr int kLastRecordObject = 14;
inline constexpr int kAxisSlots = static_cast<int>(common::kSetpointAxisCount);

class MessageObjectMachines {
 public:
  // `reportOverwrittenFrames`: receive records report a frame that
  // overwrote an unread one as result 3 instead of 0.
  MessageObjectMachines(Controller82527& controller, bool reportOverwrittenFrames)
      : controller_(controller), reportOverwrittenFrames_(reportOverwrittenFrames) {}
  MessageObjectMachines(const MessageObjectMachines&) = delete;
  MessageObjectMachines& operator=(const MessageObjectMachines&) = delete;

  // Everything of the previous run forgotten: node states, ring, slots.
  void ResetForRun(const RunSettings& run) noexcept;

  bool SynchronisationArmed() const noexcept { return synchronisationArmed_; }
  // The synchronisation frame was lost: the buffered cycle stands until a
  // request starts it again.
  bool SynchronisationFailed() const noexcept;
  void DisarmSynchronisation() noexcept { synchronisationArmed_ = false; }
  // Fixed cycle: the synchronisation frame goes out at the send tick.
  void RequestSynchronisationTransmission() noexcept;

  // Set-point ring bookkeeping.
  int QueuedSetpointCount() const noexcept { return ring_.QueuedCount(); }
  void EmptyRing() noexcept { ring_.Clear(); }

  // The request's records applied (its buffer is changed in place). A
  // synchronised start rewinds the run's poll countdown.
  void TakeExchangeRequest(common::ExchangeBufferView exchange,
                           std::int32_t& pollCountdown) noexcept;
  // Receive frames collected into the request at the exchange point.
  void CollectAtExchangePoint(common::ExchangeBufferView exchange) noexcept;
  // Results of the records written back when the request completes.
  void CopyReplyResults(common::ExchangeBufferView exchange) noexcept;
  // One cycle of the buffered run while the synchronisation is armed.
  BufferedCycleOutcome BufferedCycleStep(BufferedCycle cycle) noexcept;
  // Set-point axes' results and answer frames copied into the request at
  // the buffered cycle's exchange point.
  void CopyAtBufferedExchangePoint(common::ExchangeBufferView exchange) noexcept;

  // ---- observation (diagnostics and tests) ---------------------------------
  NodeState StateOf(int object) const noexcept;
  int SetpointAxisOf(int object) const noexcept;
  int AnswerSlotOf(int object) const noexcept;

 private:
  enum class Progress : std::uint8_t { kGoOn, kWait };

  // Take-over (message_take_over.cpp).
  void ApplyNodeStates(common::ConstExchangeBufferView exchange) noexcept;
  void FillSetpointRing(common::ExchangeBufferView exchange) noexcept;
  void ReceiveStep(common::ExchangeBufferView exchange) noexcept;
  void Object15Step(common::ExchangeBufferView exchange) noexcept;
  void CommandStep(common::ExchangeBufferView exchange, std::int32_t& pollCountdown) noexcept;
  void StartSetpointObject(int object, common::MessageRecordView record, int axis) noexcept;
  void StartSynchronisation(int object, common::MessageRecordView record,
                            std::int32_t& pollCountdown) noexcept;

  // Record steps shared by the take-over and the reply (message_objects.cpp).
  // The object's receive set up and its record moved on to `receiving`.
  void StartReceiving(int object, common::MessageRecordView record,
                      common::MessageCode receiving) noexcept;
  // The object given up and its record released (code 0).
  void ReleaseObject(int object, common::MessageRecordView record) noexcept;
  // Code 18: the send's result reported; once it is no longer pending the
  // object is released.
  void ReleaseWhenSent(int object, common::MessageRecordView record) noexcept;

  // Sending (message_objects.cpp).
  std::uint8_t TransmitResult(int object) noexcept;
  void LoadAndSend(int object, std::uint16_t cobId, std::uint8_t length,
                   std::span<const std::uint8_t, kFrameDataSize> data) noexcept;
  void UpdateAndSend(int object, std::uint8_t length,
                     std::span<const std::uint8_t, kFrameDataSize> data) noexcept;
  void SendRecord(int object, common::ConstMessageRecordView record) noexcept;
  void UpdateRecord(int object, common::ConstMessageRecordView record) noexcept;

  // Buffered cycle (buffered_cycle.cpp, answer_objects.cpp, setpoint_frames.cpp).
  Progress CheckSynchronisedSends(common::ExchangeBufferView exchange) noexcept;
  Progress SynchronisationObjectStep(const BufferedCycle& cycle) noexcept;
  void CycleTail(const BufferedCycle& cycle) noexcept;
  void StartSynchronisedSends(common::ExchangeBufferView exchange) noexcept;
  void RequestSynchronisationFrame(const BufferedCycle& cycle) noexcept;
  void PollSynchronisationAnswer(const BufferedCycle& cycle) noexcept;
  bool ReadyToAnswer(common::ConstExchangeBufferView exchange) const noexcept;
  bool AnswerStep() noexcept;
  bool SetpointTransmitCheck() noexcept;
  bool AllSettled() const noexcept;
  bool ConditionTest() noexcept;
  bool AnswersMatchPattern() const noexcept;
  bool SecondMaskTest() const noexcept;
  void SendSetpointFrames() noexcept;
  void SendPositionFrames(SetpointValues& positions) noexcept;
  // The axis whose frames `object` sends this cycle, or -1.
  int StreamingAxisOf(int object) const noexcept;
  void StartSetpointObjects(common::ConstExchangeBufferView exchange) noexcept;

  // Queries over the node states.
  bool AnyInState(std::initializer_list<NodeState> states) const noexcept;
  NodeState& State(int object) noexcept { return nodeStates_[static_cast<std::size_t>(object)]; }
  AnswerSlot* SlotOf(int object) noexcept;

  Controller82527& controller_;
  const bool reportOverwrittenFrames_;
  std::int16_t fillLimit_ = 0;
  std::int32_t pollInterval_ = 1;
  std::int32_t pollBudget_ = 1;

  std::array<NodeState, kLastRecordObject + 1> nodeStates_{};  // index 0 unused
  // Each set-point object's axis, fixed when its record was taken over.
  std::array<std::int8_t, kLastRecordObject + 1> setpointAxes_{};

  bool synchronisationArmed_ = false;
  int synchronisationObject_ = 0;
  std::uint16_t synchronisationCobId_ = 0;
  std::uint16_t pollCobId_ = 0;
  std::uint8_t phase_ = 0;
  std::int16_t phaseCounter_ = 0;
  std::int16_t repeatCounter_ = 0;
  std::int16_t retryCounter_ = 0;

  SetpointRing ring_;
  std::array<std::uint16_t, kAxisSlots> setpointCobIds_{};
  std::array<std::uint16_t, kAxisSlots> positionCobIds_{};
  std::array<std::uint8_t, kAxisSlots> transmitResults_{};
  std::array<AnswerSlot, kAxisSlots> answerSlots_{};
  ReceivedDataTest condition_{};
};

}  // namespace vantor::canlayer

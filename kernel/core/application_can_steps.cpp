#include "kernel/core/application_can_steps.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "kernel/core/kernel_locks.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

namespace mr = common::message_record;
namespace eb = common::exchange_buffer;
using common::MessageCode;

constexpr std::uint32_t kRecordFree = 1;
constexpr std::uint32_t kRecordInUse = 0;
constexpr std::uint8_t kLowestTableRecord = 1;
constexpr std::uint8_t kHighestTableRecord = 14;

// A frame with data that expects an answer frame; the other kinds (remote
// request, NMT command) use one record only.
bool IsDataFrame(const ApplicationCanRequest& request) noexcept {
  return request.cobId != 0 && request.length != 0;
}

bool IsNmtCommand(const ApplicationCanRequest& request) noexcept { return request.cobId == 0; }

std::optional<std::uint8_t> TakeLowestFreeRecord(FreeRecordTable& table) noexcept {
  for (std::uint8_t record = kLowestTableRecord; record <= kHighestTableRecord; ++record) {
    if (table[record] != kRecordInUse) {
      table[record] = kRecordInUse;
      return record;
    }
  }
  return std::nullopt;
}

void WriteFrame(common::ExchangeBuffer& exchange, std::uint8_t record, MessageCode code,
                std::uint8_t result, std::uint16_t cobId, std::uint8_t length,
                const std::array<std::uint8_t, 8>& data) noexcept {
  auto view = common::MessageRecordIn(exchange, record);
  if (!view) return;
  // Only code to data: record 15's last bytes belong to the mask request.
  view->Set(mr::kCode, static_cast<std::uint8_t>(code));
  view->Set(mr::kResult, result);
  view->Set(mr::kCobId, cobId);
  view->Set(mr::kLength, length);
  auto bytes = view->MutableBytes(mr::kData);
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  std::copy_n(data.begin(), std::min<std::size_t>(length, bytes.size()), bytes.begin());
}

void ReleaseRecord(common::ExchangeBuffer& exchange, std::uint8_t record) noexcept {
  if (record == 0) return;
  if (auto view = common::MessageRecordIn(exchange, record)) {
    view->Set(mr::kCode, static_cast<std::uint8_t>(MessageCode::Release));
  }
}

std::uint8_t ResultOf(common::ExchangeBuffer& exchange, std::uint8_t record) noexcept {
  auto view = common::MessageRecordIn(exchange, record);
  return view ? view->Get(mr::kResult) : common::message_result::kInvalidCode;
}

// Copies the received frame into the request; false for a length that no
// CAN frame has.
bool TakeAnswer(ApplicationCanRequest& request, common::ExchangeBuffer& exchange,
                std::uint8_t record) noexcept {
  auto view = common::MessageRecordIn(exchange, record);
  if (!view) return false;
  const std::uint8_t length = view->Get(mr::kLength);
  if (length > common::kCanDataSize) return false;
  const auto data = view->GetBytes(mr::kData);
  request.answerData.fill(0);
  std::copy_n(data.begin(), length, request.answerData.begin());
  request.answerLength = length;
  return true;
}

void ReleaseNodeAccess(ApplicationCanRequest& request, const NodeConfiguration& nodes) noexcept {
  if (request.nodeAccessHeld == 0) return;
  request.kernelNodeRequest = 0;
  request.nodeAccessHeld = 0;
  UnlockNodeAccessMutexes(nodes);
}

// The one way a framed request ends: the records go back, the node access
// is given up, and the completion event hands the request to the server
// thread.
void EndRequest(RawRequestCycle& cycle, common::StatusCode result) noexcept {
  ApplicationCanRequest& request = cycle.request;
  request.result = result;
  request.controllerWarning = cycle.exchange.Get(eb::kErrorWarning) != 0 ? 1 : 0;
  if (request.recordsFromTable != 0 && cycle.freeRecords != nullptr) {
    FreeRecordTable& table = *cycle.freeRecords;
    if (request.sendRecord != 0) table[request.sendRecord] = kRecordFree;
    if (IsDataFrame(request) && request.answerRecord != 0) {
      table[request.answerRecord] = kRecordFree;
    }
  }
  request.sendRecord = 0;
  request.answerRecord = 0;
  request.recordsFromTable = 0;
  ReleaseNodeAccess(request, cycle.nodes);
  request.busy = 0;
  request.completion.Set();
}

enum class Outcome { Waiting, Answered, TimedOut, Faulty };

Outcome WaitOrTimeOut(const ApplicationCanRequest& request) noexcept {
  return request.microsecondsLeft > 0 ? Outcome::Waiting : Outcome::TimedOut;
}

}  // namespace

void StartApplicationCanRequest(RawRequestCycle& cycle) noexcept {
  ApplicationCanRequest& request = cycle.request;
  if (request.busy != 0) return;
  // Set: no request handed over. A failed test takes nothing either.
  if (os::WaitForOne(request.completion, 0).kind != os::WaitKind::Timeout) return;

  // A frame to a node waits while a drive stop owns the nodes. Without any
  // node there is nothing to hold, and waiting would keep the request from
  // ever being framed.
  if (request.kernelNodeRequest != 0 && cycle.nodes.BoundedNodeCount() != 0) {
    if (cycle.nodesStopping) return;
    if (!LockNodeAccessMutexes(cycle.nodes, kNodeAccessTryMs).acquired()) return;
    request.nodeAccessHeld = 1;
  }

  const bool dataFrame = IsDataFrame(request);
  std::uint8_t frameRecord = kRawFrameRecord;
  std::uint8_t answerRecord = dataFrame ? kRawAnswerRecord : 0;
  if (cycle.freeRecords != nullptr) {
    FreeRecordTable& table = *cycle.freeRecords;
    const auto frame = TakeLowestFreeRecord(table);
    if (!frame) {
      ReleaseNodeAccess(request, cycle.nodes);
      return;
    }
    frameRecord = *frame;
    if (dataFrame) {
      if (table[kRawAnswerRecord] != kRecordInUse) {
        table[kRawAnswerRecord] = kRecordInUse;
        answerRecord = kRawAnswerRecord;
      } else if (const auto answer = TakeLowestFreeRecord(table)) {
        answerRecord = *answer;
      } else {
        table[frameRecord] = kRecordFree;
        ReleaseNodeAccess(request, cycle.nodes);
        return;
      }
    }
    request.recordsFromTable = 1;
  }
  request.sendRecord = frameRecord;
  request.answerRecord = answerRecord;

  const std::array<std::uint8_t, 8> noData{};
  if (dataFrame) {
    WriteFrame(cycle.exchange, frameRecord, MessageCode::SendOnceAndRelease,
               common::message_result::kPending, request.cobId, request.length, request.data);
    const std::uint8_t waiting = answerRecord == kRawAnswerRecord
                                     ? common::receive_object_result::kNone
                                     : common::message_result::kNothingReceived;
    WriteFrame(cycle.exchange, answerRecord, MessageCode::StartSingleReceive, waiting,
               request.answerCobId, 0, noData);
  } else if (!IsNmtCommand(request)) {
    WriteFrame(cycle.exchange, frameRecord, MessageCode::RemoteRequest,
               common::message_result::kNothingReceived, request.cobId, 0, noData);
  } else {
    WriteFrame(cycle.exchange, frameRecord, MessageCode::SendOnce, common::message_result::kPending,
               0, request.length, request.data);
  }
  request.busy = 1;
}

void CompleteApplicationCanRequest(RawRequestCycle& cycle) noexcept {
  ApplicationCanRequest& request = cycle.request;
  if (request.busy == 0) return;

  const std::int64_t left = static_cast<std::int64_t>(request.microsecondsLeft) -
                            static_cast<std::int64_t>(cycle.exchange.Get(eb::kCycleMicroseconds));
  request.microsecondsLeft = static_cast<std::int32_t>(
      std::max<std::int64_t>(left, std::numeric_limits<std::int32_t>::min()));

  common::ExchangeBuffer& exchange = cycle.exchange;
  const bool dataFrame = IsDataFrame(request);
  const common::StatusCode driverStatus = exchange.Get(eb::kStatus);
  if (driverStatus != common::kDriverSuccess) {
    ReleaseRecord(exchange, request.sendRecord);
    if (dataFrame) ReleaseRecord(exchange, request.answerRecord);
    EndRequest(cycle, driverStatus);
    return;
  }

  const std::uint8_t watched = dataFrame ? request.answerRecord : request.sendRecord;
  const std::uint8_t result = ResultOf(exchange, watched);
  Outcome outcome = Outcome::Faulty;
  if (IsNmtCommand(request)) {
    if (result == common::message_result::kPending) {
      outcome = WaitOrTimeOut(request);
    } else if (result == common::message_result::kDone) {
      outcome = Outcome::Answered;
    }
    if (outcome == Outcome::Waiting) return;
    ReleaseRecord(exchange, request.sendRecord);
  } else {
    const bool receiveStore = watched == kRawAnswerRecord;
    const std::uint8_t nothingYet = receiveStore ? common::receive_object_result::kNone
                                                 : common::message_result::kNothingReceived;
    const std::uint8_t oneFrame =
        receiveStore ? common::receive_object_result::kOneFrame : common::message_result::kDone;
    if (result == nothingYet) {
      outcome = WaitOrTimeOut(request);
    } else if (result == oneFrame) {
      outcome = TakeAnswer(request, exchange, watched) ? Outcome::Answered : Outcome::Faulty;
    }
    if (outcome == Outcome::Waiting) return;
    if (outcome == Outcome::TimedOut) {
      ReleaseRecord(exchange, request.sendRecord);
      if (dataFrame) ReleaseRecord(exchange, request.answerRecord);
    } else if (dataFrame) {
      ReleaseRecord(exchange, request.sendRecord);
    }
  }

  switch (outcome) {
    case Outcome::Answered:
      EndRequest(cycle, common::kKernelSuccess);
      return;
    case Outcome::TimedOut:
      EndRequest(cycle, common::kKernelCanMessageTimeout);
      return;
    case Outcome::Faulty:
    case Outcome::Waiting:
      EndRequest(cycle, common::kKernelCanMessageInvalid);
      return;
  }
}

void ReleaseApplicationCanRequestMutexes(ApplicationCanRequest& request,
                                         const NodeConfiguration& nodes) noexcept {
  ReleaseNodeAccess(request, nodes);
}

}  // namespace vantor::kernel

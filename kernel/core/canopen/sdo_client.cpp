#include "kernel/core/canopen/sdo_client.h"

#include <algorithm>

#include "kernel/core/canopen/canopen_constants.h"

namespace vantor::canopen {

namespace mr = common::message_record;
using common::MessageCode;
using common::StatusCode;

namespace {

constexpr std::int32_t kMaxSends = 3;

void PutIndex(CanFrame& frame, std::uint16_t index, std::uint8_t subindex) noexcept {
  frame.data[1] = static_cast<std::uint8_t>(index & 0xFFu);
  frame.data[2] = static_cast<std::uint8_t>(index >> 8);
  frame.data[3] = subindex;
}

std::uint16_t IndexOf(const CanFrame& frame) noexcept {
  return static_cast<std::uint16_t>(frame.data[1] | (frame.data[2] << 8));
}

std::uint32_t Word4(const CanFrame& frame) noexcept {
  return static_cast<std::uint32_t>(frame.data[4]) |
         (static_cast<std::uint32_t>(frame.data[5]) << 8) |
         (static_cast<std::uint32_t>(frame.data[6]) << 16) |
         (static_cast<std::uint32_t>(frame.data[7]) << 24);
}

std::uint8_t DownloadSpecifier(std::uint8_t size) noexcept {
  switch (size) {
    case 1:
      return sdo::kDownloadExpedited1;
    case 2:
      return sdo::kDownloadExpedited2;
    case 3:
      return sdo::kDownloadExpedited3;
    default:
      return sdo::kDownloadExpedited4;
  }
}

bool WriteRequest(common::ExchangeBuffer& exchange, const CanFrame& frame,
                  const SdoRoute& route) noexcept {
  auto send = RecordOf(exchange, route.sendRecord);
  if (!send || !RecordOf(exchange, route.answerRecord)) return false;
  WriteRecord(*send, MessageCode::SendOnceAndRelease, 0, frame);
  return ArmAnswerRecord(exchange, route.answerRecord, route.answerCobId);
}

void ClearRetriesOf(NodeTable* nodes, std::uint32_t answerRecord) noexcept {
  if (nodes == nullptr) return;
  if (NodeObject* node = nodes->ByAnswerRecord(answerRecord)) node->request.retryCount = 0;
}

// The echo matches the request, or is the wildcard 0/0 that some servers
// answer with.
bool EchoMatches(const CanFrame& frame, const SdoExpectation& expected) noexcept {
  const std::uint16_t index = IndexOf(frame);
  const std::uint8_t subindex = frame.data[3];
  return (index == expected.index && subindex == expected.subindex) ||
         (index == 0 && subindex == 0);
}

bool IsAbort(const CanFrame& frame) noexcept {
  return (frame.data[0] & sdo::kSpecifierMask) == sdo::kAbort;
}

bool IsMissingObjectAbort(const CanFrame& frame) noexcept {
  const std::uint32_t code = Word4(frame);
  return code == sdo_abort::kObjectMissing || code == sdo_abort::kSubindexMissing;
}

std::uint8_t InitiateUnused(std::uint8_t specifier) noexcept {
  return static_cast<std::uint8_t>((specifier >> sdo::kInitiateUnusedShift) &
                                   sdo::kInitiateUnusedMask);
}

// The part every answer check shares: counts the cycle, passes a driver
// fault on, waits for the frame and times out. Returns the received frame
// when the check may go on with it.
enum class Arrival : std::uint8_t { Pending, Failed, Received };

Arrival AwaitAnswer(common::ExchangeBuffer& exchange, std::uint32_t answerRecord,
                    std::int32_t& countdown, StatusCode& result, CanFrame& frame) noexcept {
  --countdown;
  auto view = RecordOf(exchange, answerRecord);
  if (!view) {
    result = common::kKernelCanMessageInvalid;
    return Arrival::Failed;
  }
  const StatusCode status = ExchangeStatus(exchange);
  if (status != common::kDriverSuccess) {
    ReleaseRecord(exchange, answerRecord);
    result = status;
    return Arrival::Failed;
  }
  const std::uint8_t state = view->Get(mr::kResult);
  if (state == AnswerWaitingResult(answerRecord)) {
    if (countdown >= 1) return Arrival::Pending;
    ReleaseRecord(exchange, answerRecord);
    result = common::kKernelCanMessageTimeout;
    return Arrival::Failed;
  }
  if (state != AnswerReceivedResult(answerRecord)) {
    result = common::kKernelCanMessageInvalid;
    return Arrival::Failed;
  }
  const auto received = ReceivedFrame(exchange, answerRecord);
  if (!received) {
    result = common::kKernelCanMessageInvalid;
    return Arrival::Failed;
  }
  frame = *received;
  return Arrival::Received;
}

// An aborted request: 0xC9130007, with the object-missing mark when the
// server says the object or subindex does not exist.
void RefuseAbort(const CanFrame& frame, StatusCode& result, std::span<std::uint8_t> data) noexcept {
  result = common::kKernelCanMessageInvalid;
  if (IsMissingObjectAbort(frame) && !data.empty()) data[0] = 1;
}

bool IsUploadAnswer(std::uint8_t specifier) noexcept {
  return (specifier & sdo::kSpecifierMask) == sdo::kUploadInitiateAnswer &&
         (specifier & sdo::kToggleBit) == 0;
}

// An expedited upload answer with its size given: 4 - n data bytes, all of
// them inside the frame's length. Servers send either the full eight bytes
// or just the ones that carry data.
bool ExpeditedSizeFits(const CanFrame& frame, std::uint8_t size) noexcept {
  const std::uint8_t specifier = frame.data[0];
  const std::uint8_t both = sdo::kExpeditedBit | sdo::kSizeBit;
  if ((specifier & both) != both) return false;
  const std::uint8_t carried = static_cast<std::uint8_t>(4 - InitiateUnused(specifier));
  return carried == size && frame.length >= sdo::kHeaderLength + size;
}

}  // namespace

SdoRoute RouteOf(const NodeObject& node) noexcept {
  return SdoRoute{node.sdoRequestCobId, node.sendRecord, node.sdoResponseCobId, node.answerRecord};
}

CanFrame MakeSdoDownloadFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                              std::uint8_t size, std::span<const std::uint8_t> data) noexcept {
  CanFrame frame;
  frame.cobId = cobId;
  frame.data[0] = DownloadSpecifier(size);
  PutIndex(frame, index, subindex);
  const std::size_t copied = std::min<std::size_t>({size, sdo::kExpeditedCapacity, data.size()});
  std::copy_n(data.begin(), copied, frame.data.begin() + sdo::kHeaderLength);
  frame.length = static_cast<std::uint8_t>(sdo::kHeaderLength + copied);
  return frame;
}

CanFrame MakeSdoUploadFrame(std::uint16_t cobId, std::uint16_t index,
                            std::uint8_t subindex) noexcept {
  CanFrame frame;
  frame.cobId = cobId;
  frame.data[0] = sdo::kUploadInitiate;
  PutIndex(frame, index, subindex);
  frame.length = sdo::kUploadRequestLength;
  return frame;
}

CanFrame MakeSdoSegmentRequestFrame(std::uint16_t cobId, bool toggle) noexcept {
  CanFrame frame;
  frame.cobId = cobId;
  frame.data[0] = static_cast<std::uint8_t>(sdo::kUploadSegment | (toggle ? sdo::kToggleBit : 0));
  frame.length = sdo::kSegmentRequestLength;
  return frame;
}

CanFrame MakeSdoAbortFrame(std::uint16_t cobId, std::uint16_t index, std::uint8_t subindex,
                           std::uint32_t abortCode) noexcept {
  CanFrame frame;
  frame.cobId = cobId;
  frame.data[0] = sdo::kAbort;
  PutIndex(frame, index, subindex);
  for (std::size_t i = 0; i < 4; ++i) {
    frame.data[4 + i] = static_cast<std::uint8_t>(abortCode >> (8 * i));
  }
  frame.length = sdo::kAbortLength;
  return frame;
}

bool BuildSdoDownload(common::ExchangeBuffer& exchange, NodeTable* nodes, std::uint16_t index,
                      std::uint8_t subindex, const SdoRoute& route, std::uint8_t size,
                      std::span<const std::uint8_t> data) noexcept {
  if (!WriteRequest(exchange, MakeSdoDownloadFrame(route.requestCobId, index, subindex, size, data),
                    route)) {
    return false;
  }
  ClearRetriesOf(nodes, route.answerRecord);
  return true;
}

bool BuildSdoUpload(common::ExchangeBuffer& exchange, NodeTable* nodes, std::uint16_t index,
                    std::uint8_t subindex, const SdoRoute& route) noexcept {
  if (!WriteRequest(exchange, MakeSdoUploadFrame(route.requestCobId, index, subindex), route)) {
    return false;
  }
  ClearRetriesOf(nodes, route.answerRecord);
  return true;
}

bool BuildSdoSegmentRequest(common::ExchangeBuffer& exchange, bool toggle,
                            const SdoRoute& route) noexcept {
  return WriteRequest(exchange, MakeSdoSegmentRequestFrame(route.requestCobId, toggle), route);
}

bool SendSdoAbort(common::ExchangeBuffer& exchange, std::uint16_t index, std::uint8_t subindex,
                  std::uint16_t requestCobId, std::uint32_t sendRecord,
                  std::uint32_t abortCode) noexcept {
  return WriteSendOnceRecord(exchange, MakeSdoAbortFrame(requestCobId, index, subindex, abortCode),
                             sendRecord);
}

bool WriteSendOnceRecord(common::ExchangeBuffer& exchange, const CanFrame& frame,
                         std::uint32_t record) noexcept {
  auto view = RecordOf(exchange, record);
  if (!view) return false;
  WriteRecord(*view, MessageCode::SendOnce, common::message_result::kPending, frame);
  return true;
}

bool ArmFrameReception(common::ExchangeBuffer& exchange, std::uint16_t cobId,
                       std::uint32_t record) noexcept {
  auto view = RecordOf(exchange, record);
  if (!view) return false;
  CanFrame frame;
  frame.cobId = cobId;
  WriteRecord(*view, MessageCode::RemoteRequest, common::message_result::kNothingReceived, frame);
  return true;
}

namespace {

// Where an initiate answer stands after the checks every answer goes
// through: still awaited, finished (time-out, driver fault, wrong echo,
// abort, download acknowledgement), or an upload answer to look at further.
enum class InitiateStep { kPending, kDone, kUploadAnswer };

InitiateStep ReceiveInitiateAnswer(common::ExchangeBuffer& exchange, const SdoExpectation& expected,
                                   std::int32_t& countdown, StatusCode& result,
                                   std::span<std::uint8_t> data, CanFrame& frame) noexcept {
  switch (AwaitAnswer(exchange, expected.answerRecord, countdown, result, frame)) {
    case Arrival::Pending:
      return InitiateStep::kPending;
    case Arrival::Failed:
      return InitiateStep::kDone;
    case Arrival::Received:
      break;
  }
  if (!EchoMatches(frame, expected)) {
    result = common::kKernelCanMessageInvalid;
    return InitiateStep::kDone;
  }
  if (IsAbort(frame)) {
    RefuseAbort(frame, result, data);
    return InitiateStep::kDone;
  }
  if (expected.isDownload) {
    result = frame.data[0] == sdo::kDownloadInitiateAnswer ? common::kKernelSuccess
                                                           : common::kKernelCanMessageInvalid;
    return InitiateStep::kDone;
  }
  return InitiateStep::kUploadAnswer;
}

}  // namespace

CheckState CheckSdoResponse(common::ExchangeBuffer& exchange, const SdoExpectation& expected,
                            std::int32_t& countdown, StatusCode& result,
                            std::span<std::uint8_t> data) noexcept {
  const std::size_t zeroed = std::min<std::size_t>(expected.expectedSize, data.size());
  std::fill_n(data.begin(), zeroed, std::uint8_t{0});

  CanFrame frame;
  if (const auto step = ReceiveInitiateAnswer(exchange, expected, countdown, result, data, frame);
      step != InitiateStep::kUploadAnswer) {
    return step == InitiateStep::kPending ? CheckState::Pending : CheckState::Done;
  }
  const std::uint8_t specifier = frame.data[0];
  if (!IsUploadAnswer(specifier) || !ExpeditedSizeFits(frame, expected.expectedSize)) {
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  const std::size_t copied = std::min<std::size_t>(expected.expectedSize, data.size());
  std::copy_n(frame.data.begin() + sdo::kHeaderLength, copied, data.begin());
  result = common::kKernelSuccess;
  return CheckState::Done;
}

CheckState CheckSdoResponseWithRetry(common::ExchangeBuffer& exchange, NodeTable& nodes,
                                     const SdoExpectation& expected, std::int32_t& countdown,
                                     StatusCode& result, std::span<std::uint8_t> data) noexcept {
  if (CheckSdoResponse(exchange, expected, countdown, result, data) == CheckState::Pending) {
    return CheckState::Pending;
  }
  const bool objectMissing =
      result == common::kKernelCanMessageInvalid && !data.empty() && data[0] == 1;
  const bool retryable =
      result == common::kKernelCanMessageTimeout || result == common::kKernelCanMessageInvalid;
  if (result == common::kKernelSuccess || objectMissing || !retryable) return CheckState::Done;

  NodeObject* node = nodes.ByAnswerRecord(expected.answerRecord);
  if (node == nullptr) return CheckState::Done;
  ++node->request.retryCount;
  if (node->request.retryCount >= kMaxSends) {
    node->request.retryCount = 0;
    return CheckState::Done;
  }
  // The request's frame still stands in the send record: send it again.
  auto send = RecordOf(exchange, node->sendRecord);
  auto answer = RecordOf(exchange, expected.answerRecord);
  if (!send || !answer) return CheckState::Done;
  send->Set(mr::kCode, static_cast<std::uint8_t>(MessageCode::SendOnceAndRelease));
  send->Set(mr::kResult, 0);
  answer->Set(mr::kCode, static_cast<std::uint8_t>(MessageCode::StartSingleReceive));
  answer->Set(mr::kResult, AnswerWaitingResult(expected.answerRecord));
  countdown = node->countdownReload;
  return CheckState::Pending;
}

CheckState CheckSdoInitiateResponse(common::ExchangeBuffer& exchange,
                                    const SdoExpectation& expected, InitiateAnswer& answer,
                                    std::int32_t& countdown, StatusCode& result,
                                    std::span<std::uint8_t> data) noexcept {
  CanFrame frame;
  if (const auto step = ReceiveInitiateAnswer(exchange, expected, countdown, result, data, frame);
      step != InitiateStep::kUploadAnswer) {
    return step == InitiateStep::kPending ? CheckState::Pending : CheckState::Done;
  }
  const std::uint8_t specifier = frame.data[0];
  if (!IsUploadAnswer(specifier)) {
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  const bool expedited = (specifier & sdo::kExpeditedBit) != 0;
  const bool sized = (specifier & sdo::kSizeBit) != 0;
  std::uint8_t count = sdo::kExpeditedCapacity;
  if (expedited && sized) {
    count = static_cast<std::uint8_t>(4 - InitiateUnused(specifier));
    if (!ExpeditedSizeFits(frame, count)) {
      result = common::kKernelCanMessageInvalid;
      return CheckState::Done;
    }
  } else if (frame.length != sdo::kFrameLength) {
    // A segmented initiate carries its total size in all four data bytes; an
    // expedited one without size fills them too.
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  const std::size_t copied = std::min<std::size_t>(count, data.size());
  std::copy_n(frame.data.begin() + sdo::kHeaderLength, copied, data.begin());
  answer.expedited = expedited;
  answer.byteCount = count;
  result = common::kKernelSuccess;
  return CheckState::Done;
}

SegmentState CheckSdoSegmentResponse(common::ExchangeBuffer& exchange, bool toggle,
                                     std::uint32_t remainingBytes, std::uint32_t answerRecord,
                                     std::int32_t& countdown, StatusCode& result,
                                     SegmentAnswer& answer, std::span<std::uint8_t> buffer,
                                     std::size_t offset) noexcept {
  CanFrame frame;
  switch (AwaitAnswer(exchange, answerRecord, countdown, result, frame)) {
    case Arrival::Pending:
      return SegmentState::Pending;
    case Arrival::Failed:
      return SegmentState::Done;
    case Arrival::Received:
      break;
  }
  const std::uint8_t specifier = frame.data[0];
  const std::uint8_t unused =
      static_cast<std::uint8_t>((specifier >> sdo::kSegmentUnusedShift) & sdo::kSegmentUnusedMask);
  const bool last = (specifier & sdo::kLastSegmentBit) != 0;
  const bool toggleSeen = (specifier & sdo::kToggleBit) != 0;
  const std::uint8_t count = static_cast<std::uint8_t>(sdo::kSegmentCapacity - unused);
  // A segment must carry the bytes it claims inside its own length.
  const bool malformed =
      (!IsReceiveObject(answerRecord) && unused == sdo::kSegmentCapacity) || frame.length < 1 ||
      count > frame.length - 1 ||
      (!last && static_cast<std::uint32_t>(frame.length - 1) >= remainingBytes) ||
      toggleSeen != toggle || (specifier & sdo::kSpecifierMask) != 0;
  if (malformed) {
    answer.toggleMismatch = toggleSeen != toggle;
    result = common::kKernelCanMessageInvalid;
    return SegmentState::Done;
  }
  if (offset > buffer.size() || count > buffer.size() - offset) {
    result = common::kKernelCanMessageInvalid;
    return SegmentState::WouldOverflow;
  }
  std::copy_n(frame.data.begin() + 1, count, buffer.begin() + static_cast<std::ptrdiff_t>(offset));
  answer.count = count;
  answer.last = last;
  result = common::kKernelSuccess;
  return SegmentState::Done;
}

CheckState CheckFrameSent(common::ExchangeBuffer& exchange, std::uint32_t sendRecord,
                          std::int32_t& countdown, StatusCode& result) noexcept {
  --countdown;
  auto view = RecordOf(exchange, sendRecord);
  if (!view) {
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  const StatusCode status = ExchangeStatus(exchange);
  if (status != common::kDriverSuccess) {
    ReleaseRecord(exchange, sendRecord);
    result = status;
    return CheckState::Done;
  }
  const std::uint8_t state = view->Get(mr::kResult);
  // A frame reported sent in the cycle in which the countdown runs out was
  // sent: the report is looked at before the time.
  if (state == common::message_result::kDone) {
    result = common::kKernelSuccess;
  } else if (state == common::message_result::kPending) {
    if (countdown > 0) return CheckState::Pending;
    result = common::kKernelCanMessageTimeout;
  } else {
    result = common::kKernelCanMessageInvalid;
  }
  ReleaseRecord(exchange, sendRecord);
  return CheckState::Done;
}

CheckState CheckFrameReceived(common::ExchangeBuffer& exchange, std::uint32_t record,
                              std::uint8_t expectedLength, std::int32_t& countdown,
                              StatusCode& result, std::span<std::uint8_t> data) noexcept {
  --countdown;
  auto view = RecordOf(exchange, record);
  if (!view) {
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  const StatusCode status = ExchangeStatus(exchange);
  if (status != common::kDriverSuccess) {
    ReleaseRecord(exchange, record);
    result = status;
    return CheckState::Done;
  }
  const std::uint8_t state = view->Get(mr::kResult);
  if (state == common::message_result::kNothingReceived) {
    if (countdown > 0) return CheckState::Pending;
    ReleaseRecord(exchange, record);
    result = common::kKernelCanMessageTimeout;
    return CheckState::Done;
  }
  const auto frame = ReceivedFrame(exchange, record);
  ReleaseRecord(exchange, record);
  if (state != common::message_result::kDone || !frame || frame->length != expectedLength) {
    result = common::kKernelCanMessageInvalid;
    return CheckState::Done;
  }
  std::copy_n(frame->data.begin(), std::min<std::size_t>(frame->length, data.size()), data.begin());
  result = common::kKernelSuccess;
  return CheckState::Done;
}

}  // namespace vantor::canopen

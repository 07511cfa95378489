// The kernel's side of the driver's message records: what a request writes
// into a record and how a record reports back.
//
// Records 1 to 14 wait with result 2 and report a received frame with 0;
// record 15, the driver's two-frame receive store, waits with 0 and reports
// one frame with 1.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/exchange_buffer.h"
#include "common/status_code.h"

namespace vantor::canopen {

using MessageRecordView = common::MessageRecordView;

// The view of record `record` (1..15) of the exchange, or nothing.
inline std::optional<MessageRecordView> RecordOf(common::ExchangeBuffer& exchange,
                                                 std::uint32_t record) noexcept {
  return common::MessageRecordIn(exchange, record);
}

constexpr bool IsReceiveObject(std::uint32_t record) noexcept {
  return record == common::kReceiveObjectNumber;
}
constexpr std::uint8_t AnswerWaitingResult(std::uint32_t record) noexcept {
  return IsReceiveObject(record) ? common::receive_object_result::kNone
                                 : common::message_result::kNothingReceived;
}
constexpr std::uint8_t AnswerReceivedResult(std::uint32_t record) noexcept {
  return IsReceiveObject(record) ? common::receive_object_result::kOneFrame
                                 : common::message_result::kDone;
}

// A frame as the kernel writes it or reads it back.
struct CanFrame {
  std::uint16_t cobId = 0;
  std::uint8_t length = 0;
  std::array<std::uint8_t, common::kCanDataSize> data{};
};

// Code, result, identifier, length and the eight data bytes (zero beyond
// the length).
void WriteRecord(MessageRecordView record, common::MessageCode code, std::uint8_t result,
                 const CanFrame& frame) noexcept;

// Code 0: the driver drops whatever the record was doing.
void ReleaseRecord(common::ExchangeBuffer& exchange, std::uint32_t record) noexcept;

// Every byte 0 (code 0, so released too).
void ClearRecord(common::ExchangeBuffer& exchange, std::uint32_t record) noexcept;

// Arms the single reception of an answer on `cobId`.
bool ArmAnswerRecord(common::ExchangeBuffer& exchange, std::uint32_t record,
                     std::uint16_t cobId) noexcept;

// The frame received in a record: its length (refused above 8) and its
// data, zero beyond the length.
std::optional<CanFrame> ReceivedFrame(common::ExchangeBuffer& exchange,
                                      std::uint32_t record) noexcept;

// The driver's status of the last exchange.
inline common::StatusCode ExchangeStatus(const common::ExchangeBuffer& exchange) noexcept {
  return exchange.Get(common::exchange_buffer::kStatus);
}

}  // namespace vantor::canopen

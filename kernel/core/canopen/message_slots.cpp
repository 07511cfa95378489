#include "kernel/core/canopen/message_slots.h"

#include <algorithm>

namespace vantor::canopen {

namespace mr = common::message_record;

void WriteRecord(MessageRecordView record, common::MessageCode code, std::uint8_t result,
                 const CanFrame& frame) noexcept {
  record.Set(mr::kCode, static_cast<std::uint8_t>(code));
  record.Set(mr::kResult, result);
  record.Set(mr::kCobId, frame.cobId);
  const std::uint8_t length = std::min<std::uint8_t>(frame.length, common::kCanDataSize);
  record.Set(mr::kLength, length);
  auto data = record.MutableBytes(mr::kData);
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  std::copy_n(frame.data.begin(), length, data.begin());
}

void ReleaseRecord(common::ExchangeBuffer& exchange, std::uint32_t record) noexcept {
  if (auto view = RecordOf(exchange, record)) {
    view->Set(mr::kCode, static_cast<std::uint8_t>(common::MessageCode::Release));
  }
}

void ClearRecord(common::ExchangeBuffer& exchange, std::uint32_t record) noexcept {
  if (auto view = RecordOf(exchange, record)) {
    view->Fill(0, common::kMessageRecordSize, 0);
  }
}

bool ArmAnswerRecord(common::ExchangeBuffer& exchange, std::uint32_t record,
                     std::uint16_t cobId) noexcept {
  auto view = RecordOf(exchange, record);
  if (!view) return false;
  view->Set(mr::kCode, static_cast<std::uint8_t>(common::MessageCode::StartSingleReceive));
  view->Set(mr::kResult, AnswerWaitingResult(record));
  view->Set(mr::kCobId, cobId);
  return true;
}

std::optional<CanFrame> ReceivedFrame(common::ExchangeBuffer& exchange,
                                      std::uint32_t record) noexcept {
  auto view = RecordOf(exchange, record);
  if (!view) return std::nullopt;
  CanFrame frame;
  frame.cobId = view->Get(mr::kCobId);
  frame.length = view->Get(mr::kLength);
  if (frame.length > common::kCanDataSize) return std::nullopt;
  const auto data = view->GetBytes(mr::kData);
  std::copy_n(data.begin(), frame.length, frame.data.begin());
  return frame;
}

}  // namespace vantor::canopen

#include "drivers/canlayer/exchange_checks.h"

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace eb = common::exchange_buffer;
using common::MessageCode;

constexpr std::size_t kLastTransmitRecord = 14;

bool SendsItsData(std::uint8_t code) noexcept {
  switch (static_cast<MessageCode>(code)) {
    case MessageCode::SendOnce:
    case MessageCode::SendFullSetup:
    case MessageCode::SendAgain:
    case MessageCode::SendWhenFreeFullSetup:
    case MessageCode::SendAgainWhenFree:
    case MessageCode::SynchronisedSingleSend:
    case MessageCode::SendOnceAndRelease:
      return true;
    default:
      return false;
  }
}

bool Is(std::uint8_t code, MessageCode expected) noexcept {
  return code == static_cast<std::uint8_t>(expected);
}

}  // namespace

common::DriverStatus CheckExchangeRecords(common::ConstExchangeBufferView exchange,
                                          RunMode mode) noexcept {
  int setpointObjects = 0;
  bool startCodes = false;
  bool activeCodes = false;
  for (std::size_t k = 1; k <= kLastTransmitRecord; ++k) {
    const auto record = *common::MessageRecordIn(exchange, k);
    const std::uint8_t code = record.Get(mr::kCode);
    if (SendsItsData(code) && record.Get(mr::kLength) > common::kCanDataSize)
      return common::kDriverBufferedRunRefused;
    if (Is(code, MessageCode::StartSetpointObject) &&
        record.Get(mr::kSecondLength) > common::kCanDataSize) {
      return common::kDriverBufferedRunRefused;
    }
    if (Is(code, MessageCode::StartSetpointObject) || Is(code, MessageCode::SetpointObjectActive))
      ++setpointObjects;
    startCodes = startCodes || Is(code, MessageCode::StartSetpointObject) ||
                 Is(code, MessageCode::StartAnswerObject);
    activeCodes = activeCodes || Is(code, MessageCode::SetpointObjectActive) ||
                  Is(code, MessageCode::AnswerObjectActive);
  }
  if (setpointObjects > kMaxSetpointObjects) return common::kDriverBufferedRunRefused;
  if (mode == RunMode::kBuffered) {
    if (startCodes && activeCodes) return common::kDriverBufferedRunRefused;
    const std::uint8_t record15 =
        (*common::MessageRecordIn(exchange, common::kReceiveObjectNumber)).Get(mr::kCode);
    if (Is(record15, MessageCode::StartAnswerObject) ||
        Is(record15, MessageCode::AnswerObjectActive))
      return common::kDriverBufferedRunRefused;
  }
  return common::kDriverSuccess;
}

common::DriverStatus CheckSetpointCount(common::ConstExchangeBufferView exchange, int queuedEntries,
                                        std::int16_t fillLimit) noexcept {
  const int entries = exchange.Get(eb::kSetpointCount);
  if (entries < 0 || entries > static_cast<int>(common::kSetpointEntryCount))
    return common::kDriverBufferedRunRefused;
  if (queuedEntries + entries > fillLimit) return common::kDriverBufferedRunRefused;
  return common::kDriverSuccess;
}

}  // namespace vantor::canlayer

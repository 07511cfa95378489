// What the records report: receive frames collected at the exchange point
// and the transmit states and reads written back at completion.
#include <algorithm>

#include "drivers/canlayer/message_objects.h"
#include "drivers/canlayer/object15_store.h"
#include "drivers/canlayer/record_results.h"

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace res = common::message_result;
namespace r15 = common::receive_object_result;
using common::MessageCode;

constexpr int kReceiveObject = static_cast<int>(common::kReceiveObjectNumber);

void StoreFrame(common::MessageRecordView record, const ObjectRead& read) noexcept {
  record.Set(mr::kLength, read.length);
  auto data = record.MutableBytes(mr::kData);
  std::copy(read.data.begin(), read.data.end(), data.begin());
}

}  // namespace

void MessageObjectMachines::CollectAtExchangePoint(common::ExchangeBufferView exchange) noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    if (record.Get(mr::kCode) != Code(MessageCode::ContinuousReceive)) continue;
    const ObjectRead read = controller_.ReadObject(object);
    const std::uint8_t outcome = ReceiveRecordResultOf(read.result, reportOverwrittenFrames_);
    const std::uint8_t stored = record.Get(mr::kResult);
    if (ResultHasFrame(outcome)) {
      if (stored == res::kNothingReceived) {
        record.Set(mr::kResult, outcome);
        StoreFrame(record, read);
      } else if (stored == res::kDone || stored == res::kFrameReplaced) {
        record.Set(mr::kResult, res::kFrameReplaced);
        StoreFrame(record, read);
      }
    } else if (outcome != res::kNothingReceived &&
               (stored == res::kDone || stored == res::kNothingReceived ||
                stored == res::kFrameReplaced)) {
      record.Set(mr::kResult, outcome);
    }
  }
  auto record15 = *common::MessageRecordIn(exchange, common::kReceiveObjectNumber);
  if (record15.Get(mr::kCode) == Code(MessageCode::ContinuousReceive))
    MergeIntoObject15Store(record15, controller_.ReadObject15());
}

void MessageObjectMachines::CopyReplyResults(common::ExchangeBufferView exchange) noexcept {
  for (int object = kFirstRecordObject; object <= kLastRecordObject; ++object) {
    auto record = *common::MessageRecordIn(exchange, static_cast<std::size_t>(object));
    const std::uint8_t code = record.Get(mr::kCode);
    if (!common::IsValidMessageCode(code)) {
      record.Set(mr::kResult, res::kInvalidCode);
      continue;
    }
    switch (static_cast<MessageCode>(code)) {
      case MessageCode::SentOnce:
        record.Set(mr::kResult, TransmitResult(object));
        break;
      case MessageCode::SentReleaseWhenDone:
        ReleaseWhenSent(object, record);
        break;
      case MessageCode::SingleReceive:
      case MessageCode::RemoteAnswer: {
        const ObjectRead read = controller_.ReadObject(object);
        const std::uint8_t outcome = ReceiveRecordResultOf(read.result, reportOverwrittenFrames_);
        record.Set(mr::kResult, outcome);
        if (ResultHasFrame(outcome)) StoreFrame(record, read);
        if (code == Code(MessageCode::SingleReceive) && outcome != res::kNothingReceived)
          ReleaseObject(object, record);
        break;
      }
      default:
        break;
    }
  }

  auto record15 = *common::MessageRecordIn(exchange, common::kReceiveObjectNumber);
  switch (static_cast<MessageCode>(record15.Get(mr::kCode))) {
    case MessageCode::ContinuousReceive:
      // Frames that came after the exchange point join those collected
      // there; a read that brings nothing keeps them.
      MergeIntoObject15Store(record15, controller_.ReadObject15());
      break;
    case MessageCode::SingleReceive: {
      const Object15Read read = controller_.ReadObject15();
      WriteObject15Read(record15, read);
      if (read.result != Object15ReadResult::kNothing) ReleaseObject(kReceiveObject, record15);
      break;
    }
    case MessageCode::Release:
    case MessageCode::StartContinuousReceive:
    case MessageCode::StartSingleReceive:
      break;
    default:
      record15.Set(mr::kResult, r15::kInvalidCode);
      break;
  }
}

}  // namespace vantor::canlayer

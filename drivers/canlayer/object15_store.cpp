#include "drivers/canlayer/object15_store.h"

#include <algorithm>

namespace vantor::canlayer {
namespace {

namespace mr = common::message_record;
namespace r15 = common::receive_object_result;

void StoreFirst(common::MessageRecordView record, const ReceivedFrame& frame) noexcept {
  record.Set(mr::kCobId, frame.cobId);
  record.Set(mr::kLength, frame.length);
  auto data = record.MutableBytes(mr::kData);
  std::copy(frame.data.begin(), frame.data.end(), data.begin());
}

void StoreSecond(common::MessageRecordView record, const ReceivedFrame& frame) noexcept {
  record.Set(mr::kSecondCobId, frame.cobId);
  record.Set(mr::kSecondLength, frame.length);
  auto data = record.MutableBytes(mr::kSecondData);
  std::copy(frame.data.begin(), frame.data.end(), data.begin());
}

ReceivedFrame StoredSecond(common::MessageRecordView record) noexcept {
  ReceivedFrame frame;
  frame.cobId = record.Get(mr::kSecondCobId);
  frame.length = record.Get(mr::kSecondLength);
  const auto data = record.GetBytes(mr::kSecondData);
  std::copy(data.begin(), data.end(), frame.data.begin());
  return frame;
}

}  // namespace

void MergeIntoObject15Store(common::MessageRecordView record, const Object15Read& read) noexcept {
  const std::uint8_t stored = record.Get(mr::kResult);
  if (stored >= r15::kControllerError) return;
  switch (read.result) {
    case Object15ReadResult::kNothing:
      return;
    case Object15ReadResult::kControllerError:
      record.Set(mr::kResult, r15::kControllerError);
      return;
    case Object15ReadResult::kOneFrame:
      if (stored == r15::kNone) {
        StoreFirst(record, read.frames[0]);
        record.Set(mr::kResult, r15::kOneFrame);
      } else if (stored == r15::kOneFrame) {
        StoreSecond(record, read.frames[0]);
        record.Set(mr::kResult, r15::kTwoFrames);
      } else {
        // The oldest of three frames makes room.
        StoreFirst(record, StoredSecond(record));
        StoreSecond(record, read.frames[0]);
        record.Set(mr::kResult, r15::kFramesLost);
      }
      return;
    case Object15ReadResult::kTwoFrames:
    case Object15ReadResult::kTwoFramesWithLoss:
      StoreFirst(record, read.frames[0]);
      StoreSecond(record, read.frames[1]);
      record.Set(mr::kResult,
                 stored == r15::kNone ? static_cast<std::uint8_t>(read.result) : r15::kFramesLost);
      return;
  }
}

void WriteObject15Read(common::MessageRecordView record, const Object15Read& read) noexcept {
  record.Set(mr::kResult, static_cast<std::uint8_t>(read.result));
  if (read.result == Object15ReadResult::kOneFrame ||
      read.result == Object15ReadResult::kTwoFrames ||
      read.result == Object15ReadResult::kTwoFramesWithLoss) {
    StoreFirst(record, read.frames[0]);
  }
  if (read.result == Object15ReadResult::kTwoFrames ||
      read.result == Object15ReadResult::kTwoFramesWithLoss) {
    StoreSecond(record, read.frames[1]);
  }
}

}  // namespace vantor::canlayer

// How the message layer reports reads and codes in the records.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "drivers/canlayer/controller_82527.h"

namespace vantor::canlayer {

constexpr std::uint8_t Code(common::MessageCode code) noexcept {
  return static_cast<std::uint8_t>(code);
}

// A read of objects 1 to 14 as records report it: 0 frame (also one that
// overwrote an unread frame), 2 nothing, 4 unstable read, 5 controller error.
constexpr std::uint8_t RecordResultOf(ObjectReadResult read) noexcept {
  namespace res = common::message_result;
  switch (read) {
    case ObjectReadResult::kFrame:
    case ObjectReadResult::kFrameAfterLoss:
      return res::kDone;
    case ObjectReadResult::kNothingNew:
      return res::kNothingReceived;
    case ObjectReadResult::kNoStableFrame:
      return res::kUnstableRead;
    case ObjectReadResult::kControllerError:
      break;
  }
  return res::kControllerError;
}

// A read of a receive record (codes 15, 19 and 21); with
// `reportOverwrittenFrames` a frame that overwrote an unread one is result 3.
constexpr std::uint8_t ReceiveRecordResultOf(ObjectReadResult read,
                                             bool reportOverwrittenFrames) noexcept {
  if (reportOverwrittenFrames && read == ObjectReadResult::kFrameAfterLoss)
    return common::message_result::kFrameReplaced;
  return RecordResultOf(read);
}

// Whether a record result carries a frame.
constexpr bool ResultHasFrame(std::uint8_t result) noexcept {
  return result == common::message_result::kDone ||
         result == common::message_result::kFrameReplaced;
}

}  // namespace vantor::canlayer

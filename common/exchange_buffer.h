// The exchange record of IOCTL_CAN_CYCLIC_EXCHANGE (12468 bytes) that the
// kernel's cycle hands to its driver once per cycle, with its parts: the 15
// message records, the set-point entries and the received-data condition,
// and the message codes that tell the driver what to do with each object.
//
// Record 15's last two bytes are also the global mask request and its
// reserved byte; the record is therefore a byte array with accessors, never
// an array of structs followed by fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/wire_record.h"

namespace vantor::common {

// ---- MessageRecord (28 bytes) ------------------------------------------------------
inline constexpr std::size_t kMessageRecordSize = 28;
inline constexpr std::size_t kMessageRecordCount = 15;
inline constexpr std::size_t kReceiveObjectNumber = 15;  // receive-only, own mask
inline constexpr std::size_t kCanDataSize = 8;

using MessageRecord = ByteRecord<kMessageRecordSize>;
using MessageRecordView = ByteView<kMessageRecordSize>;
using ConstMessageRecordView = ConstByteView<kMessageRecordSize>;
static_assert(sizeof(MessageRecord) == 28);

namespace message_record {
inline constexpr Field<std::uint8_t, 0> kCode{};    // MessageCode; the driver advances it
inline constexpr Field<std::uint8_t, 1> kResult{};  // what the driver reports
inline constexpr Field<std::uint16_t, 2> kCobId{};  // 11-bit identifier
inline constexpr Field<std::uint8_t, 4> kLength{};  // data length code 0..8
inline constexpr BytesField<5, kCanDataSize> kData{};
// Code 22: the COB-ID polled by remote frame for the synchronisation answer
// (low 16 bits used).
inline constexpr Field<std::uint32_t, 14> kSyncAnswerCobId{};
// Codes 10 and 11: the set-point object's start frame. Record 15: the
// second received frame, in the same places.
inline constexpr Field<std::uint16_t, 14> kSecondCobId{};
inline constexpr Field<std::uint8_t, 16> kSecondLength{};
inline constexpr BytesField<17, kCanDataSize> kSecondData{};
// Code 10: the set-point object's second COB-ID (4-byte position frames).
// Not part of record 15, whose bytes 26 and 27 belong to the mask request.
inline constexpr Field<std::uint16_t, 26> kPositionCobId{};
static_assert(kSecondData.kEnd + 1 == kPositionCobId.kOffset);  // byte 25 reserved
static_assert(kPositionCobId.kEnd == kMessageRecordSize);
}  // namespace message_record

// What the driver is to do with message objects 1 to 14.
enum class MessageCode : std::uint8_t {
  Release = 0,
  ConfigureTransmitter = 1,
  SendOnce = 2,
  SentOnce = 3,
  SendFullSetup = 4,
  SendAgain = 5,
  SendWhenFreeFullSetup = 6,
  SendAgainWhenFree = 7,
  SynchronisedSingleSend = 8,
  SynchronisedSendUnderWay = 9,
  StartSetpointObject = 10,
  SetpointObjectActive = 11,
  StartAnswerObject = 12,
  AnswerObjectActive = 13,
  StartContinuousReceive = 14,
  ContinuousReceive = 15,
  SendOnceAndRelease = 16,
  SentReleaseWhenDone = 17,
  StartSingleReceive = 18,
  SingleReceive = 19,
  RemoteRequest = 20,
  RemoteAnswer = 21,
  SynchronisedBufferedStart = 22,
  SynchronisationActive = 23,
  StartAnswerObjectLate = 24,
};
inline constexpr std::uint8_t kHighestMessageCode = 24;

constexpr bool IsValidMessageCode(std::uint8_t code) noexcept {
  return code <= kHighestMessageCode;
}

// Results the driver reports in records 1 to 14.
namespace message_result {
inline constexpr std::uint8_t kDone = 0;     // sent, or a frame/answer received
inline constexpr std::uint8_t kPending = 1;  // transmission still pending
inline constexpr std::uint8_t kNothingReceived = 2;
inline constexpr std::uint8_t kFrameReplaced = 3;  // replaced an uncollected frame
inline constexpr std::uint8_t kUnstableRead = 4;
inline constexpr std::uint8_t kControllerError = 5;
inline constexpr std::uint8_t kInvalidCode = 6;
}  // namespace message_result

// Results the driver reports in record 15 (the two-frame receive store).
namespace receive_object_result {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kOneFrame = 1;
inline constexpr std::uint8_t kTwoFrames = 2;
inline constexpr std::uint8_t kFramesLost = 3;  // the two newest kept
inline constexpr std::uint8_t kControllerError = 4;
inline constexpr std::uint8_t kInvalidCode = 5;
}  // namespace receive_object_result

// ---- SetpointEntry (24 bytes) --------------------------------------------------------
inline constexpr std::size_t kSetpointEntrySize = 24;
inline constexpr std::size_t kSetpointAxisCount = 6;
inline constexpr std::size_t kSetpointEntryCount = 500;
// An entry whose first value is this marker announces that the next entry
// carries absolute positions.
inline constexpr std::int32_t kAbsolutePositionMarker = 0x3FFFFFFF;

using SetpointEntry = ByteRecord<kSetpointEntrySize>;
using SetpointEntryView = ByteView<kSetpointEntrySize>;
static_assert(sizeof(SetpointEntry) == 24);

// Offset of axis `axis` (0 to 5) inside an entry, or kNoOffset.
constexpr std::size_t SetpointValueOffset(std::size_t axis) noexcept {
  return axis < kSetpointAxisCount ? 4 * axis : kNoOffset;
}
static_assert(4 * kSetpointAxisCount == kSetpointEntrySize);

// ---- ReceivedDataCondition (24 bytes) ---------------------------------------------------
inline constexpr std::size_t kReceivedDataConditionSize = 24;
using ReceivedDataCondition = ByteRecord<kReceivedDataConditionSize>;
static_assert(sizeof(ReceivedDataCondition) == 24);
namespace received_data_condition {
// The answer frame is in order while (data AND mask) equals pattern, and
// reports a condition while (data AND second mask) is not 0.
inline constexpr Field<std::uint64_t, 0> kMask{};
inline constexpr Field<std::uint64_t, 8> kPattern{};
inline constexpr Field<std::uint64_t, 16> kConditionMask{};
static_assert(kConditionMask.kEnd == kReceivedDataConditionSize);
}  // namespace received_data_condition

// ---- ExchangeBuffer (12468 bytes) ---------------------------------------------------------
inline constexpr std::size_t kExchangeBufferSize = 12468;
using ExchangeBuffer = ByteRecord<kExchangeBufferSize>;
using ExchangeBufferView = ByteView<kExchangeBufferSize>;
using ConstExchangeBufferView = ConstByteView<kExchangeBufferSize>;
static_assert(sizeof(ExchangeBuffer) == 12468);

namespace exchange_buffer {
// 1 = write the global standard mask from 420; the driver sets it back to 0.
inline constexpr Field<std::uint8_t, 418> kGlobalMaskRequest{};
inline constexpr Field<std::uint16_t, 420> kGlobalStandardMask{};
// 1 = write the mask of message object 15 from 424; set back to 0.
inline constexpr Field<std::uint8_t, 422> kReceiveObjectMaskRequest{};
inline constexpr Field<std::uint16_t, 424> kReceiveObjectMask{};
// Run mode 0: the cycle time; run mode 1: microseconds of the cycles counted
// since the previous answer.
inline constexpr Field<std::uint32_t, 428> kCycleMicroseconds{};
inline constexpr std::size_t kSetpointEntriesOffset = 432;
// In: number of new entries at 432. Out: entries still queued in the ring.
inline constexpr Field<std::int16_t, 12432> kSetpointCount{};
// Run mode 1: 0 ring not in use, 1 start, 2 running.
inline constexpr Field<std::uint8_t, 12434> kRingControl{};
// 1 = pad the ring to a multiple of three entries; set back to 0 when done.
inline constexpr Field<std::uint8_t, 12435> kPadRequest{};
inline constexpr std::size_t kReceivedDataConditionOffset = 12436;
inline constexpr Field<std::uint8_t, 12460> kErrorWarning{};   // controller status bit 6
inline constexpr Field<std::uint8_t, 12461> kLastErrorCode{};  // controller status bits 0..2
inline constexpr Field<std::uint32_t, 12464> kStatus{};        // DriverStatus

inline constexpr std::uint8_t kRingNotInUse = 0;
inline constexpr std::uint8_t kRingStart = 1;
inline constexpr std::uint8_t kRingRunning = 2;
// The most entries the driver's ring may hold (the run record's fill limit
// may lower it); the ring itself has room for 500.
inline constexpr std::size_t kRingCapacity = 500;
inline constexpr std::size_t kMaxRingFill = 498;

// Offset of message record k (1 to 15), or kNoOffset.
constexpr std::size_t MessageRecordOffset(std::size_t k) noexcept {
  return k >= 1 && k <= kMessageRecordCount ? kMessageRecordSize * (k - 1) : kNoOffset;
}

// Offset of set-point entry i (0 to 499), or kNoOffset.
constexpr std::size_t SetpointEntryOffset(std::size_t i) noexcept {
  return i < kSetpointEntryCount ? kSetpointEntriesOffset + kSetpointEntrySize * i : kNoOffset;
}

// Offset of axis `axis` of set-point entry i, or kNoOffset.
constexpr std::size_t SetpointValueOffset(std::size_t i, std::size_t axis) noexcept {
  const std::size_t entry = SetpointEntryOffset(i);
  const std::size_t value = common::SetpointValueOffset(axis);
  return entry == kNoOffset || value == kNoOffset ? kNoOffset : entry + value;
}

// Record 15 ends in the mask-request bytes.
static_assert(MessageRecordOffset(15) == 392);
static_assert(MessageRecordOffset(15) + message_record::kPositionCobId.kOffset ==
              kGlobalMaskRequest.kOffset);
static_assert(MessageRecordOffset(15) + kMessageRecordSize == kGlobalStandardMask.kOffset);
static_assert(SetpointEntryOffset(0) == 432);
static_assert(kSetpointEntriesOffset + kSetpointEntrySize * kSetpointEntryCount ==
              kSetpointCount.kOffset);
static_assert(kReceivedDataConditionOffset + kReceivedDataConditionSize == kErrorWarning.kOffset);
static_assert(kStatus.kEnd == kExchangeBufferSize);
}  // namespace exchange_buffer

// The view of message record k (1 to 15) inside an exchange record, or
// nothing for a number outside 1..15.
template <typename Buffer>
auto MessageRecordIn(Buffer& buffer, std::size_t k) noexcept {
  if constexpr (requires { buffer.template MutableWindow<kMessageRecordSize>(0); }) {
    return buffer.template MutableWindow<kMessageRecordSize>(
        exchange_buffer::MessageRecordOffset(k));
  } else {
    return buffer.template Window<kMessageRecordSize>(exchange_buffer::MessageRecordOffset(k));
  }
}

}  // namespace vantor::common

#include "common/exchange_buffer.h"

#include <gtest/gtest.h>

#include "common/driver_requests.h"
#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

using testing::GoldenField;
using testing::RawLittleEndian;
namespace xb = exchange_buffer;

TEST(ExchangeBufferTest, GoldenLayout) {
  ExchangeBuffer buffer;
  buffer.Set(xb::kGlobalMaskRequest, 1);
  buffer.Set(xb::kGlobalStandardMask, 0x07FF);
  buffer.Set(xb::kReceiveObjectMaskRequest, 1);
  buffer.Set(xb::kReceiveObjectMask, 0x0580);
  buffer.Set(xb::kCycleMicroseconds, 0x01020304);
  ASSERT_TRUE(buffer.Store<std::int32_t>(xb::SetpointValueOffset(0, 0), -1));
  ASSERT_TRUE(buffer.Store<std::int32_t>(xb::SetpointValueOffset(499, 5), 0x11223344));
  buffer.Set(xb::kSetpointCount, 500);
  buffer.Set(xb::kRingControl, xb::kRingStart);
  buffer.Set(xb::kPadRequest, 1);
  ASSERT_TRUE(buffer.Store<std::uint64_t>(
      xb::kReceivedDataConditionOffset + received_data_condition::kMask.kOffset,
      0x00000000000000FF));
  ASSERT_TRUE(buffer.Store<std::uint64_t>(
      xb::kReceivedDataConditionOffset + received_data_condition::kConditionMask.kOffset,
      0x8000000000000000));
  buffer.Set(xb::kErrorWarning, 1);
  buffer.Set(xb::kLastErrorCode, 5);
  buffer.Set(xb::kStatus, kDriverBusOff);

  const GoldenField golden[] = {
      {"global mask request", 418, 1, 1},
      {"reserved 419", 419, 1, 0},
      {"global mask", 420, 2, 0x07FF},
      {"object-15 mask request", 422, 1, 1},
      {"reserved 423", 423, 1, 0},
      {"object-15 mask", 424, 2, 0x0580},
      {"reserved 426", 426, 2, 0},
      {"cycle time", 428, 4, 0x01020304},
      {"first set-point", 432, 4, 0xFFFFFFFF},
      {"last set-point", 432 + 499 * 24 + 20, 4, 0x11223344},
      {"entry count", 12432, 2, 500},
      {"ring control", 12434, 1, 1},
      {"pad request", 12435, 1, 1},
      {"condition mask", 12436, 8, 0xFF},
      {"condition pattern", 12444, 8, 0},
      {"condition second mask", 12452, 8, 0x8000000000000000},
      {"error warning", 12460, 1, 1},
      {"last error code", 12461, 1, 5},
      {"reserved 12462", 12462, 2, 0},
      {"status", 12464, 4, kDriverBusOff},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(buffer.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
  EXPECT_EQ(FindDriverRequest(IOCTL_CAN_CYCLIC_EXCHANGE)->statusOffset, xb::kStatus.kOffset);
  EXPECT_EQ(FindDriverRequest(IOCTL_CAN_CYCLIC_EXCHANGE)->inputLength, kExchangeBufferSize);
}

TEST(ExchangeBufferTest, MessageRecordsLieAt28PerRecord) {
  ExchangeBuffer buffer;
  for (std::size_t k = 1; k <= kMessageRecordCount; ++k) {
    auto record = MessageRecordIn(buffer, k);
    ASSERT_TRUE(record.has_value()) << k;
    record->Set(message_record::kCode, static_cast<std::uint8_t>(k));
    record->Set(message_record::kResult, static_cast<std::uint8_t>(0x80 + k));
    record->Set(message_record::kCobId, static_cast<std::uint16_t>(0x700 + k));
    record->Set(message_record::kLength, 8);
    record->MutableBytes(message_record::kData)[7] = static_cast<std::uint8_t>(0x40 + k);
  }
  const auto bytes = buffer.Bytes();
  for (std::size_t k = 1; k <= kMessageRecordCount; ++k) {
    const std::size_t base = 28 * (k - 1);
    EXPECT_EQ(bytes[base + 0], k);
    EXPECT_EQ(bytes[base + 1], 0x80 + k);
    EXPECT_EQ(RawLittleEndian(bytes, base + 2, 2), 0x700 + k);
    EXPECT_EQ(bytes[base + 4], 8);
    EXPECT_EQ(bytes[base + 12], 0x40 + k);
  }
  EXPECT_FALSE(MessageRecordIn(buffer, 0).has_value());
  EXPECT_FALSE(MessageRecordIn(buffer, 16).has_value());
  const ExchangeBuffer& readOnly = buffer;
  EXPECT_EQ(MessageRecordIn(readOnly, 15)->Get(message_record::kCobId), 0x70F);
}

TEST(ExchangeBufferTest, RecordFifteenSharesItsLastBytesWithTheMaskRequest) {
  ExchangeBuffer buffer;
  buffer.Set(xb::kGlobalMaskRequest, 1);
  auto record15 = MessageRecordIn(buffer, 15);
  ASSERT_TRUE(record15.has_value());
  EXPECT_EQ(record15->Get(message_record::kPositionCobId), 0x0001);
  // The second-frame fields of record 15 end just before the mask request.
  record15->Set(message_record::kSecondCobId, 0x0123);
  record15->MutableBytes(message_record::kSecondData)[7] = 0xEE;
  EXPECT_EQ(RawLittleEndian(buffer.Bytes(), 392 + 14, 2), 0x0123u);
  EXPECT_EQ(buffer.Bytes()[416], 0xEE);
  EXPECT_EQ(buffer.Bytes()[417], 0);
  EXPECT_EQ(buffer.Get(xb::kGlobalMaskRequest), 1);
}

TEST(ExchangeBufferTest, SetpointIndicesOutsideTheRingReachNothing) {
  EXPECT_EQ(xb::SetpointEntryOffset(500), kNoOffset);
  EXPECT_EQ(xb::SetpointValueOffset(0, 6), kNoOffset);
  EXPECT_EQ(xb::SetpointValueOffset(499, 5), 12428u);
  ExchangeBuffer buffer;
  const ExchangeBuffer before = buffer;
  EXPECT_FALSE(buffer.Store<std::int32_t>(xb::SetpointValueOffset(500, 0), 1));
  EXPECT_EQ(buffer, before);
}

TEST(ExchangeBufferTest, MessageCodes) {
  EXPECT_EQ(static_cast<int>(MessageCode::StartAnswerObjectLate), 24);
  EXPECT_EQ(static_cast<int>(MessageCode::ContinuousReceive), 15);
  EXPECT_TRUE(IsValidMessageCode(24));
  EXPECT_FALSE(IsValidMessageCode(25));
  EXPECT_FALSE(IsValidMessageCode(255));
}

}  // namespace
}  // namespace vantor::common

#include "common/communication_block.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

using testing::GoldenField;
using testing::RawLittleEndian;
namespace cb = communication_block;

TEST(CommunicationBlockTest, GoldenLayout) {
  CommunicationBlockRecord block;
  block.Set(cb::kHeartbeat, 0xFF);
  block.Set(cb::kConfiguredCoordinateCount, 0x01020304);
  block.Set(cb::kCurrentCoordinateCount, 0x05060708);
  block.Set(cb::kAxisCount, 0x090A0B0C);
  block.Set(cb::kCoor32BitFormat, 0x0D0E0F10);
  block.Set(cb::kHandlingAxisCount, 0x11121314);
  block.Set(cb::kSdoRequestCobId, 0x0601);
  const std::array<std::uint8_t, 8> request = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47};
  std::copy(request.begin(), request.end(), block.MutableBytes(cb::kSdoRequestData).begin());
  block.Set(cb::kSdoRequestLength, 8);
  block.Set(cb::kSdoAnswerCobId, 0x0581);
  const std::array<std::uint8_t, 8> answer = {0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57};
  std::copy(answer.begin(), answer.end(), block.MutableBytes(cb::kSdoAnswerData).begin());
  block.Set(cb::kSdoAnswerLength, 7);
  block.Set(cb::kSdoTimeoutMicroseconds, 0x21222324);
  block.Set(cb::kSdoElapsedMicroseconds, 0x25262728);
  block.Set(cb::kSdoResult, 0xC9130006);
  block.Set(cb::kCommandCode, 36);
  block.Set(cb::kResult, 0x09130000);
  ASSERT_TRUE(block.Store<std::uint32_t>(cb::PayloadAt(0), 1));
  ASSERT_TRUE(block.Store<std::uint32_t>(cb::PayloadAt(4), 0));
  ASSERT_TRUE(block.Store<std::int64_t>(cb::PayloadAt(8), -2));
  ASSERT_TRUE(block.Store<double>(cb::PayloadAt(16), 0.5));

  const GoldenField golden[] = {
      {"heartbeat", 0x00, 1, 0xFF},
      {"configured coordinates", 0x04, 4, 0x01020304},
      {"current coordinates", 0x08, 4, 0x05060708},
      {"axis count", 0x0C, 4, 0x090A0B0C},
      {"32-bit format", 0x10, 4, 0x0D0E0F10},
      {"handling axes", 0x14, 4, 0x11121314},
      {"sdo cob-id", 0x18, 2, 0x0601},
      {"sdo data", 0x1A, 8, 0x4746454443424140},
      {"sdo length", 0x22, 1, 8},
      {"sdo answer cob-id", 0x24, 2, 0x0581},
      {"sdo answer data", 0x26, 8, 0x5756555453525150},
      {"sdo answer length", 0x2E, 1, 7},
      {"sdo time-out", 0x30, 4, 0x21222324},
      {"sdo elapsed", 0x34, 4, 0x25262728},
      {"sdo result", 0x38, 4, 0xC9130006},
      {"command code", 0x3C, 4, 36},
      {"result", 0x40, 4, 0x09130000},
      {"absolute flag", 0x44, 4, 1},
      {"rapid flag", 0x48, 4, 0},
      {"first coordinate", 0x4C, 8, 0xFFFFFFFFFFFFFFFE},
      {"double payload", 0x54, 8, 0x3FE0000000000000},
  };
  const auto bytes = block.Bytes();
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(bytes, field.offset, field.width), field.raw) << field.name;
  }
  // Gaps of the header stay untouched.
  EXPECT_EQ(RawLittleEndian(bytes, 0x01, 3), 0u);
  EXPECT_EQ(bytes[0x23], 0);
  EXPECT_EQ(bytes[0x2F], 0);
}

TEST(CommunicationBlockTest, PayloadAccessStopsAtTheEndOfTheBlock) {
  CommunicationBlockRecord block;
  EXPECT_TRUE(block.Store<std::int64_t>(cb::PayloadAt(cb::kPayloadCapacity - 8), 1));
  EXPECT_FALSE(block.Store<std::int64_t>(cb::PayloadAt(cb::kPayloadCapacity - 7), 1));
  EXPECT_FALSE(block.Load<std::uint32_t>(kCommunicationBlockSize).has_value());
}

struct WireCase {
  std::int32_t value32;
  std::int64_t wire;
};

TEST(CommunicationBlockTest, Int32ToWireMarksOnlyTheNoMoveValue) {
  const WireCase cases[] = {
      {0, 0},
      {1, 1},
      {-1, -1},
      {0x3FFFFFFF, 0x3FFFFFFFFFFFFFFF},
      {0x3FFFFFFE, 0x3FFFFFFE},
      {0x40000000, 0x40000000},
      {std::numeric_limits<std::int32_t>::max(), 2147483647},
      {std::numeric_limits<std::int32_t>::min(), -2147483648LL},
  };
  for (const auto& c : cases) EXPECT_EQ(Int32ToWire(c.value32), c.wire) << c.value32;
  // The marker is 0x3FFFFFFF in the upper and 0xFFFFFFFF in the lower word.
  const auto marker = static_cast<std::uint64_t>(Int32ToWire(kNoMoveValue32));
  EXPECT_EQ(marker >> 32, 0x3FFFFFFFu);
  EXPECT_EQ(marker & 0xFFFFFFFFu, 0xFFFFFFFFu);
}

TEST(CommunicationBlockTest, WireToInt32SaturatesSymmetrically) {
  const WireCase cases[] = {
      {0, 0},
      {-1, -1},
      {2147483647, 2147483647},
      {2147483647, 2147483648LL},
      {2147483647, std::numeric_limits<std::int64_t>::max()},
      {2147483647, kNoMoveWireValue},
      {-2147483647, -2147483647},
      {-2147483647, -2147483648LL},
      {-2147483647, -2147483649LL},
      {-2147483647, std::numeric_limits<std::int64_t>::min()},
  };
  for (const auto& c : cases) EXPECT_EQ(WireToInt32(c.wire), c.value32) << c.wire;
  EXPECT_EQ(static_cast<std::uint32_t>(WireToInt32(-5000000000LL)), 0x80000001u);
}

}  // namespace
}  // namespace vantor::common

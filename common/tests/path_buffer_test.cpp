#include "common/path_buffer.h"

#include <gtest/gtest.h>

#include <string>

#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

TEST(PathBufferTest, MappingIsWholePages) {
  struct Case {
    std::uint32_t capacity;
    std::uint32_t size;
  };
  const Case cases[] = {
      {0, 4096}, {1, 4096}, {15, 4096}, {16, 8192}, {240, 65536}, {241, 69632},
  };
  for (const auto& c : cases) EXPECT_EQ(path_buffer::MappingSize(c.capacity), c.size) << c.capacity;
  // A capacity whose mapping would not fit 32 bits has no size.
  EXPECT_FALSE(path_buffer::MappingSize(0xFFFFFFFFu).has_value());
  // Every mapping holds at least the capacity it was made for.
  for (std::uint32_t capacity : {1u, 15u, 16u, 240u, 241u, 1000u}) {
    EXPECT_GE(path_buffer::RecordsThatFit(*path_buffer::MappingSize(capacity)), capacity);
  }
  EXPECT_EQ(path_buffer::RecordsThatFit(4096), 15u);
  EXPECT_EQ(path_buffer::RecordsThatFit(15), 0u);
}

TEST(PathBufferTest, HeaderAndRecordGoldenLayout) {
  ByteRecord<4096> mapping;
  auto header = mapping.MutableWindow<kPathBufferHeaderSize>(0);
  ASSERT_TRUE(header.has_value());
  header->Set(path_buffer::kEnabled, 1);
  header->Set(path_buffer::kCapacity, 15);
  header->Set(path_buffer::kCount, 2);
  auto record = mapping.MutableWindow<kPathBufferRecordSize>(path_buffer::RecordOffset(1));
  ASSERT_TRUE(record.has_value());
  record->Set(path_buffer_record::kCommandCode, 37);
  record->Set(path_buffer_record::kAbsoluteFlag, 1);
  ASSERT_TRUE(record->Store<std::int64_t>(path_buffer_record::kArcByEndPointCoordinatesOffset, -7));

  using testing::RawLittleEndian;
  const auto bytes = mapping.Bytes();
  EXPECT_EQ(RawLittleEndian(bytes, 4, 4), 1u);
  EXPECT_EQ(RawLittleEndian(bytes, 8, 4), 15u);
  EXPECT_EQ(RawLittleEndian(bytes, 12, 4), 2u);
  EXPECT_EQ(RawLittleEndian(bytes, 16 + 272, 4), 37u);
  EXPECT_EQ(RawLittleEndian(bytes, 16 + 272 + 8, 4), 1u);
  EXPECT_EQ(RawLittleEndian(bytes, 16 + 272 + 56, 8), 0xFFFFFFFFFFFFFFF9u);
  // The last record that fits one page ends at its last byte.
  EXPECT_TRUE(mapping.MutableWindow<kPathBufferRecordSize>(path_buffer::RecordOffset(14)));
  EXPECT_FALSE(mapping.MutableWindow<kPathBufferRecordSize>(path_buffer::RecordOffset(15)));
}

TEST(PathBufferTest, EventNameFitsTheRecord) {
  PathBufferRecord record;
  EXPECT_TRUE(record.SetText(path_buffer_record::kEventName, std::string(260, 'e')));
  EXPECT_FALSE(record.SetText(path_buffer_record::kEventName, std::string(261, 'e')));
  EXPECT_EQ(record.GetText(path_buffer_record::kEventName).size(), 260u);
}

}  // namespace
}  // namespace vantor::common

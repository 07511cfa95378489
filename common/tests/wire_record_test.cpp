#include "common/wire_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace vantor::common {
namespace {

using Record = ByteRecord<16>;

TEST(WireRecordTest, ScalarsAreLittleEndianAtUnalignedOffsets) {
  Record record;
  record.Set(Field<std::uint32_t, 1>{}, 0x11223344u);
  record.Set(Field<std::int16_t, 5>{}, -2);
  record.Set(Field<double, 7>{}, 1.0);
  const auto bytes = record.Bytes();
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x44);
  EXPECT_EQ(bytes[4], 0x11);
  EXPECT_EQ(bytes[5], 0xFE);
  EXPECT_EQ(bytes[6], 0xFF);
  // 1.0 is 0x3FF0000000000000.
  EXPECT_EQ(bytes[13], 0xF0);
  EXPECT_EQ(bytes[14], 0x3F);
  EXPECT_EQ(bytes[15], 0x00);
  EXPECT_EQ(record.Get(Field<double, 7>{}), 1.0);
  EXPECT_EQ(record.Get(Field<std::int16_t, 5>{}), -2);
}

TEST(WireRecordTest, RunTimeOffsetsAreBoundsChecked) {
  Record record;
  EXPECT_TRUE(record.Store<std::uint64_t>(8, 0x0102030405060708u));
  EXPECT_EQ(record.Load<std::uint64_t>(8), 0x0102030405060708u);
  // One byte too far: refused, nothing written.
  const Record before = record;
  EXPECT_FALSE(record.Store<std::uint64_t>(9, 1));
  EXPECT_FALSE(record.Load<std::uint64_t>(9).has_value());
  EXPECT_FALSE(record.Store<std::uint8_t>(16, 1));
  // Offsets near the top of size_t must not wrap around into the record.
  EXPECT_FALSE(record.Store<std::uint32_t>(std::numeric_limits<std::size_t>::max() - 1, 7));
  EXPECT_FALSE(record.Load<std::uint32_t>(std::numeric_limits<std::size_t>::max() - 1));
  EXPECT_FALSE(record.Window<4>(std::numeric_limits<std::size_t>::max()).has_value());
  EXPECT_EQ(before, record);
  EXPECT_TRUE(record.Store<std::uint8_t>(15, 1));
}

TEST(WireRecordTest, CopiesAndWindowsStayInside) {
  Record record;
  const std::array<std::uint8_t, 4> data = {1, 2, 3, 4};
  EXPECT_TRUE(record.CopyIn(12, data));
  EXPECT_FALSE(record.CopyIn(13, data));
  std::array<std::uint8_t, 4> out{};
  EXPECT_TRUE(record.CopyOut(12, out));
  EXPECT_EQ(out, data);
  EXPECT_FALSE(record.CopyOut(13, out));

  auto window = record.MutableWindow<4>(12);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->Get(Field<std::uint32_t, 0>{}), 0x04030201u);
  window->Set(Field<std::uint8_t, 3>{}, 9);
  EXPECT_EQ(record.Bytes()[15], 9);
  EXPECT_FALSE(record.MutableWindow<4>(13).has_value());
}

TEST(WireRecordTest, TextsAreTerminatedAndNeverOverrun) {
  Record record;
  constexpr TextField<2, 6> kName{};
  EXPECT_TRUE(record.SetText(kName, "abcde"));
  EXPECT_EQ(record.GetText(kName), "abcde");
  EXPECT_EQ(record.Bytes()[7], 0);
  // Too long with its terminator: refused, field unchanged.
  EXPECT_FALSE(record.SetText(kName, "abcdef"));
  EXPECT_EQ(record.GetText(kName), "abcde");
  // A shorter text clears the rest of the field.
  EXPECT_TRUE(record.SetText(kName, "x"));
  EXPECT_EQ(record.Bytes()[4], 0);
  // A field whose terminator was overwritten yields at most its capacity.
  record.Fill(2, 6, 'z');
  record.Store<std::uint8_t>(8, 'q');
  EXPECT_EQ(record.GetText(kName), "zzzzzz");
}

TEST(WireRecordTest, ViewsOverForeignMemory) {
  std::array<std::uint8_t, 10> memory{};
  EXPECT_FALSE(ByteView<16>::Over(memory).has_value());
  auto view = ByteView<8>::Over(memory);
  ASSERT_TRUE(view.has_value());
  view->Set(Field<std::uint16_t, 6>{}, 0xBEEF);
  EXPECT_EQ(memory[6], 0xEF);
  EXPECT_EQ(memory[7], 0xBE);
  ConstByteView<8> reader = *view;
  EXPECT_EQ(reader.Get(Field<std::uint16_t, 6>{}), 0xBEEF);
}

}  // namespace
}  // namespace vantor::common

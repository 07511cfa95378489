// The set-point ring's wrap and padding, and record 15's two-frame store,
// on their own.
#include <gtest/gtest.h>

#include "drivers/canlayer/object15_store.h"
#include "drivers/canlayer/setpoint_ring.h"

namespace vantor::canlayer {
namespace {

namespace c = common;
namespace eb = common::exchange_buffer;
namespace mr = common::message_record;

c::ExchangeBuffer Entries(std::initializer_list<std::int32_t> firstColumn) {
  c::ExchangeBuffer buffer;
  std::size_t i = 0;
  for (std::int32_t value : firstColumn) {
    buffer.Store<std::int32_t>(eb::SetpointValueOffset(i, 0), value);
    buffer.Store<std::int32_t>(eb::SetpointValueOffset(i, 5), -value);
    ++i;
  }
  return buffer;
}

TEST(SetpointRingTest, WrapsAtFiveHundredAndPadsWithTheNewestEntry) {
  SetpointRing ring;
  const c::ExchangeBuffer one = Entries({7});
  // Walk both indices up to the last slot.
  for (int i = 0; i < SetpointRing::kCapacity - 1; ++i) {
    ring.Append(one.View(), 1);
    ASSERT_NE(ring.Take(), nullptr);
  }
  EXPECT_TRUE(ring.Empty());
  ring.Append(Entries({1, 2}).View(), 2);  // slot 499, then slot 0
  EXPECT_EQ(ring.QueuedCount(), 2);
  EXPECT_FALSE(ring.PadToWholeFrames(2)) << "the fill limit leaves no room";
  EXPECT_EQ(ring.QueuedCount(), 2);
  EXPECT_TRUE(ring.PadToWholeFrames(3));
  EXPECT_EQ(ring.QueuedCount(), 3);
  const std::int32_t expected[] = {1, 2, 2};
  for (std::int32_t value : expected) {
    const SetpointValues* entry = ring.Take();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ((*entry)[0], value);
    EXPECT_EQ((*entry)[5], -value);
  }
  EXPECT_EQ(ring.Take(), nullptr);
  EXPECT_TRUE(ring.PadToWholeFrames(0)) << "an empty ring is whole frames";
}

TEST(SetpointRingTest, PaddingRepeatsSlot499WhenTheWriteIndexWrappedToZero) {
  SetpointRing ring;
  const c::ExchangeBuffer one = Entries({3});
  for (int i = 0; i < SetpointRing::kCapacity - 1; ++i) {
    ring.Append(one.View(), 1);
    ASSERT_NE(ring.Take(), nullptr);
  }
  ring.Append(Entries({9}).View(), 1);  // the write index wraps to 0
  ASSERT_TRUE(ring.PadToWholeFrames(498));
  EXPECT_EQ(ring.QueuedCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ((*ring.Take())[0], 9);
}

Object15Read Arrived(std::initializer_list<std::uint16_t> ids, bool lost = false) {
  Object15Read read;
  std::size_t i = 0;
  for (std::uint16_t id : ids) {
    read.frames[i].cobId = id;
    read.frames[i].length = 1;
    read.frames[i].data[0] = static_cast<std::uint8_t>(id);
    ++i;
  }
  read.result = i == 0   ? Object15ReadResult::kNothing
                : i == 1 ? Object15ReadResult::kOneFrame
                : lost   ? Object15ReadResult::kTwoFramesWithLoss
                         : Object15ReadResult::kTwoFrames;
  return read;
}

TEST(Object15StoreTest, ReadsMergeIntoTheTwoNewestFrames) {
  struct Case {
    const char* name;
    std::vector<Object15Read> reads;
    std::uint8_t result;
    std::uint16_t first;
    std::uint16_t second;
  };
  Object15Read error;
  error.result = Object15ReadResult::kControllerError;
  const Case cases[] = {
      {"nothing", {Arrived({})}, 0, 0, 0},
      {"one", {Arrived({0x301}), Arrived({})}, 1, 0x301, 0},
      {"one then one", {Arrived({0x301}), Arrived({0x302})}, 2, 0x301, 0x302},
      {"two at once", {Arrived({0x301, 0x302})}, 2, 0x301, 0x302},
      {"two with loss", {Arrived({0x301, 0x303}, true)}, 3, 0x301, 0x303},
      {"one then two", {Arrived({0x301}), Arrived({0x302, 0x303})}, 3, 0x302, 0x303},
      {"two then one", {Arrived({0x301, 0x302}), Arrived({0x303})}, 3, 0x302, 0x303},
      {"error", {Arrived({0x301}), error}, 4, 0x301, 0},
      {"error stays", {error, Arrived({0x301})}, 4, 0, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    c::MessageRecord record;
    for (const Object15Read& read : test.reads) MergeIntoObject15Store(record.View(), read);
    EXPECT_EQ(record.Get(mr::kResult), test.result);
    EXPECT_EQ(record.Get(mr::kCobId), test.first);
    EXPECT_EQ(record.Get(mr::kSecondCobId), test.second);
    if (test.second != 0) {
      EXPECT_EQ(record.GetBytes(mr::kSecondData)[0], test.second & 0xFF);
    }
  }
}

}  // namespace
}  // namespace vantor::canlayer

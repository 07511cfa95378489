// Both channels of the card on one interrupt line and one clock: channel 2
// is clocked through channel 1, every handler on the line ticks, and the
// card's interrupt stays on while either channel needs it.
#include <gtest/gtest.h>

#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

namespace c = common;

constexpr sim::SimTime kTick = 4 * 128 * kMicrosecond;

class SharedLineTest : public CardFixture {
 protected:
  bool PciInterruptOn() { return (channelOne_->BridgeInterruptControl() & 0x40) != 0; }
  std::uint8_t ClockOut() {
    const ModelAccess models(pump_);
    return Controller(1).Read(0x1F);
  }
};

TEST_F(SharedLineTest, ChannelTwoRunsOnChannelOnesClockAndBothHandlersTick) {
  AddChannelTwo();
  const auto two = Open("tarnis2");
  const auto one = Open("tarnis1");
  EXPECT_EQ(StartRun(two, {}), c::kDriverInvalidRunRecord) << "channel 1's record on channel 2";

  RunRecordFields channelTwo;
  channelTwo.channel = 2;
  ASSERT_EQ(StartRun(two, channelTwo), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 1);
  EXPECT_EQ(ClockOut(), 0x33) << "channel 1 clocked the card for channel 2";
  EXPECT_TRUE(PciInterruptOn());
  const sim::SimTime started = Now();
  const auto alone = Exchange(two);
  AdvanceTo(started + 5 * kTick);
  ASSERT_TRUE(alone->Done());
  EXPECT_EQ(alone->Word(428), 2560u);

  RunRecordFields otherDivider;
  otherDivider.tickDivider = 3;
  EXPECT_EQ(StartRun(one, otherDivider), c::kDriverInvalidRunRecord);
  ASSERT_EQ(StartRun(one, {}), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 2);
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 2u);
  const auto fromOne = Exchange(one);
  const auto fromTwo = Exchange(two);
  AdvanceBy(6 * kTick);
  ASSERT_TRUE(fromOne->Done());
  ASSERT_TRUE(fromTwo->Done());
  EXPECT_EQ(fromOne->Status(), os::kStatusSuccess);
  EXPECT_EQ(fromTwo->Status(), os::kStatusSuccess);

  EXPECT_EQ(Status(one, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_TRUE(PciInterruptOn()) << "channel 2 still runs";
  EXPECT_EQ(channelOne_->Channel().UseCount(), 1);
  const auto afterStop = Exchange(two);
  AdvanceBy(6 * kTick);
  EXPECT_EQ(afterStop->Status(), os::kStatusSuccess);

  EXPECT_EQ(Status(two, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 0);
  EXPECT_FALSE(PciInterruptOn());
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
}

}  // namespace
}  // namespace vantor::canlayer::testing

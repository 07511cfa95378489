// The hand-off of the acceptance masks from the server thread to the cycle.
#include <gtest/gtest.h>

#include "kernel/core/filter_hand_off.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace eb = common::exchange_buffer;

TEST(FilterHandOffTest, TheCycleTakesAQueuedSettingOnce) {
  FilterHandOff handOff;
  ASSERT_TRUE(handOff.Create());
  common::ExchangeBuffer exchange;
  auto cycle = os::Thread::Start([&] {
    // Polls as the cycle does, once per cycle, until the setting came.
    for (int cycles = 0; cycles < 10000 && exchange.Get(eb::kGlobalMaskRequest) == 0; ++cycles) {
      handOff.TakeInto(exchange);
      os::Sleep(1);
    }
    return 0u;
  });
  ASSERT_TRUE(cycle.ok());

  EXPECT_TRUE(handOff.Queue({1, 0x7FF, 1, 0x123}, *cycle));
  ASSERT_TRUE(os::WaitForOne(*cycle, 10000).acquired());
  EXPECT_EQ(exchange.Get(eb::kGlobalMaskRequest), 1);
  EXPECT_EQ(exchange.Get(eb::kGlobalStandardMask), 0x7FF);
  EXPECT_EQ(exchange.Get(eb::kReceiveObjectMaskRequest), 1);
  EXPECT_EQ(exchange.Get(eb::kReceiveObjectMask), 0x123);

  // Nothing is pending any more: a later cycle writes nothing.
  exchange = common::ExchangeBuffer{};
  handOff.TakeInto(exchange);
  EXPECT_EQ(exchange.Get(eb::kGlobalMaskRequest), 0);
}

TEST(FilterHandOffTest, AnEndedCycleLeavesNothingPending) {
  FilterHandOff handOff;
  ASSERT_TRUE(handOff.Create());
  auto cycle = os::Thread::Start([] { return 0u; });
  ASSERT_TRUE(cycle.ok());
  ASSERT_TRUE(os::WaitForOne(*cycle, 10000).acquired());

  EXPECT_FALSE(handOff.Queue({1, 0x7FF, 1, 0x7FF}, *cycle));
  common::ExchangeBuffer exchange;
  handOff.TakeInto(exchange);
  EXPECT_EQ(exchange.Get(eb::kGlobalMaskRequest), 0);
}

}  // namespace
}  // namespace vantor::kernel

// The run's tick and the parked exchange: pacing in both run modes, the
// ways a held request ends, latency statistics and refused exchanges.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <utility>

#include "common/byte_order.h"
#include "drivers/canlayer/controller_registers.h"
#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

namespace c = common;
namespace eb = common::exchange_buffer;

constexpr sim::SimTime kTick = 4 * 128 * kMicrosecond;  // d = 4
constexpr std::uint32_t kCycleMicroseconds = 2560;      // N = 5, d = 4

devhost::Ticks CounterAt(sim::SimTime time) { return static_cast<devhost::Ticks>(time / 100); }

class CyclicExchangeTest : public CardFixture {
 protected:
  // Starts the run and remembers when the card's tick began counting.
  void Start(const RunRecordFields& fields = {}) {
    owner_ = Open();
    ASSERT_EQ(StartRun(owner_, fields), c::kDriverSuccess);
    started_ = Now();
  }
  sim::SimTime AtTick(int tick) const { return started_ + tick * kTick; }

  std::shared_ptr<devhost::FileObject> owner_;
  sim::SimTime started_ = 0;
};

TEST_F(CyclicExchangeTest, FixedCycleCompletesAtTheNextWrapNeverMidCycle) {
  Start();
  AdvanceTo(AtTick(2) + kTick / 2);
  const auto first = Exchange(owner_);
  AdvanceTo(AtTick(5) - 1);
  EXPECT_FALSE(first->Done()) << "held until the cycle ends";
  AdvanceTo(AtTick(5));
  ASSERT_TRUE(first->Done());
  EXPECT_EQ(first->Status(), os::kStatusSuccess);
  EXPECT_EQ(first->Information(), c::kExchangeBufferSize);
  EXPECT_EQ(first->CompletedAt(), CounterAt(AtTick(5)));
  EXPECT_EQ(first->Word(428), kCycleMicroseconds);
  EXPECT_EQ(first->Word(12464), c::kDriverSuccess);

  // Handed in right at the wrap: a whole cycle later.
  const auto second = Exchange(owner_);
  AdvanceTo(AtTick(10) - 1);
  EXPECT_FALSE(second->Done());
  AdvanceTo(AtTick(10));
  EXPECT_TRUE(second->Done());
  EXPECT_EQ(second->CompletedAt(), CounterAt(AtTick(10)));

  // With nothing outstanding the cycles go on; the next request waits for
  // the next wrap.
  AdvanceTo(AtTick(23));
  const auto third = Exchange(owner_);
  AdvanceTo(AtTick(25));
  EXPECT_EQ(third->CompletedAt(), CounterAt(AtTick(25)));
}

TEST_F(CyclicExchangeTest, OneTickCycleCompletesEveryTick) {
  RunRecordFields fields;
  fields.cycleDivider = 1;
  Start(fields);
  for (int tick = 1; tick <= 3; ++tick) {
    const auto reply = Exchange(owner_);
    AdvanceTo(AtTick(tick));
    ASSERT_TRUE(reply->Done());
    EXPECT_EQ(reply->CompletedAt(), CounterAt(AtTick(tick)));
    EXPECT_EQ(reply->Word(428), 512u);
  }
}

TEST_F(CyclicExchangeTest, BufferedCycleAnswersAtCycleStartWithTheTimeSinceTheLastAnswer) {
  RunRecordFields fields;
  fields.mode = 1;
  Start(fields);
  AdvanceTo(AtTick(2) + kTick / 2);
  const auto first = Exchange(owner_);
  AdvanceTo(AtTick(5) - 1);
  EXPECT_FALSE(first->Done());
  AdvanceTo(AtTick(5));
  ASSERT_TRUE(first->Done());
  EXPECT_EQ(first->Word(428), kCycleMicroseconds);
  EXPECT_EQ(first->Word(12464), c::kDriverSuccess);

  // Three cycles pass unanswered; the next answer counts all four.
  AdvanceTo(AtTick(20) + kTick / 2);
  const auto second = Exchange(owner_);
  AdvanceTo(AtTick(25));
  ASSERT_TRUE(second->Done());
  EXPECT_EQ(second->CompletedAt(), CounterAt(AtTick(25)));
  EXPECT_EQ(second->Word(428), 4 * kCycleMicroseconds);
}

// A handler held up for more than a cycle: the performance counter jumps
// six ticks ahead of the card's ticks. Unless cycles are exactly N ticks,
// the next tick starts the cycle at once.
struct EarlyCycleCase {
  const char* name;
  bool exactTickBufferedCycle;
  int answeredAtTick;
};

class BufferedCycleLengthTest : public CyclicExchangeTest,
                                public ::testing::WithParamInterface<EarlyCycleCase> {};

TEST_P(BufferedCycleLengthTest, CycleStartAfterTheCounterRanAhead) {
  const EarlyCycleCase& test = GetParam();
  CanChannelSettings settings;
  settings.exactTickBufferedCycle = test.exactTickBufferedCycle;
  RebuildChannelOne(settings);
  RunRecordFields fields;
  fields.mode = 1;
  Start(fields);
  const auto first = Exchange(owner_);
  AdvanceTo(AtTick(5));
  ASSERT_TRUE(first->Done());

  clock_.Advance(CounterAt(6 * kTick));
  const auto second = Exchange(owner_);
  AdvanceTo(AtTick(test.answeredAtTick) - 1);
  EXPECT_FALSE(second->Done());
  AdvanceTo(AtTick(test.answeredAtTick));
  ASSERT_TRUE(second->Done());
  EXPECT_EQ(second->Word(428), kCycleMicroseconds);
}

INSTANTIATE_TEST_SUITE_P(EarlyStart, BufferedCycleLengthTest,
                         ::testing::Values(EarlyCycleCase{"CardStartsEarly", false, 6},
                                           EarlyCycleCase{"ExactNTicks", true, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CyclicExchangeTest, StopAndOwnersCloseCancelTheParkedRequest) {
  Start();
  const auto parked = Exchange(owner_);
  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  ASSERT_TRUE(parked->Done());
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  EXPECT_EQ(parked->Information(), 0u);

  ASSERT_EQ(StartRun(owner_, {}), c::kDriverSuccess);
  const auto again = Exchange(owner_);
  Close(owner_);
  ASSERT_TRUE(again->Done());
  EXPECT_EQ(again->Status(), os::kStatusCancelled);
  EXPECT_FALSE(channelOne_->Channel().RunActive());
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
  AdvanceBy(10 * kTick);
  EXPECT_EQ(again->Deliveries(), 1);
}

TEST_F(CyclicExchangeTest, AnotherHandlesCloseCancelsOnlyItsOwnRequest) {
  Start();
  const auto other = Open();
  const auto foreign = Exchange(other);
  Close(other);
  ASSERT_TRUE(foreign->Done());
  EXPECT_EQ(foreign->Status(), os::kStatusCancelled);
  EXPECT_TRUE(channelOne_->Channel().RunActive());
  const auto own = Exchange(owner_);
  AdvanceTo(AtTick(5));
  EXPECT_EQ(own->Status(), os::kStatusSuccess);
}

TEST_F(CyclicExchangeTest, AnotherHandlesCloseLeavesTheOwnersParkedRequestAlone) {
  Start();
  const auto own = Exchange(owner_);
  const auto other = Open();
  Close(other);
  EXPECT_FALSE(own->Done()) << "still parked";
  AdvanceTo(AtTick(5));
  ASSERT_TRUE(own->Done());
  EXPECT_EQ(own->Status(), os::kStatusSuccess);
  EXPECT_EQ(own->Word(12464), c::kDriverSuccess);
  EXPECT_TRUE(channelOne_->Channel().RunActive());
}

TEST_F(CyclicExchangeTest, StopBetweenExchangePointAndDeferredCallCancelsOnce) {
  Start();
  std::promise<void> entered;
  std::promise<void> release;
  auto released = release.get_future().share();
  devhost::DeferredCall blocker(channelOne_->Device().DeferredCalls(), [&](void*, void*) {
    entered.set_value();
    released.wait();
  });
  // Lets the worker go however the test ends, so a failure cannot hang it.
  struct ReleaseOnExit {
    std::promise<void>& release;
    bool done = false;
    void Now() {
      if (!std::exchange(done, true)) release.set_value();
    }
    ~ReleaseOnExit() { Now(); }
  } releaseOnExit{release};

  const auto parked = Exchange(owner_);
  ASSERT_TRUE(blocker.Queue(nullptr, nullptr));
  ASSERT_EQ(entered.get_future().wait_for(kTestDeadline), std::future_status::ready);
  waitForDeferredCalls_ = false;
  AdvanceTo(AtTick(5));
  EXPECT_FALSE(parked->Done()) << "the exchange point passed; the deferred call waits";

  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_TRUE(parked->Done());
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  releaseOnExit.Now();
  waitForDeferredCalls_ = true;
  ASSERT_TRUE(WaitDeferredCalls());
  EXPECT_EQ(parked->Deliveries(), 1);
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
}

TEST_F(CyclicExchangeTest, AbortWithAndWithoutAParkedRequest) {
  Start();
  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_ABORT_EXCHANGE), c::kDriverSuccess);
  const auto parked = Exchange(owner_);
  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_ABORT_EXCHANGE), c::kDriverSuccess);
  ASSERT_TRUE(parked->Done());
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  EXPECT_TRUE(channelOne_->Channel().RunActive()) << "an abort leaves the run";

  const auto next = Exchange(owner_);
  AdvanceTo(AtTick(5));
  EXPECT_EQ(next->Status(), os::kStatusSuccess);
  EXPECT_EQ(parked->Deliveries(), 1);
}

TEST_F(CyclicExchangeTest, ASecondRequestOnTheSameHandleIsRefusedAndTheParkedOneKept) {
  Start();
  const auto parked = Exchange(owner_);
  const auto second = Exchange(owner_);
  ASSERT_TRUE(second->Done());
  EXPECT_EQ(second->Status(), os::kStatusSuccess);
  EXPECT_EQ(second->Word(12464), c::kDriverBufferedRunRefused);
  EXPECT_FALSE(parked->Done());
  AdvanceTo(AtTick(5));
  EXPECT_EQ(parked->Status(), os::kStatusSuccess);
  EXPECT_EQ(parked->Word(12464), c::kDriverSuccess);
  EXPECT_EQ(parked->Deliveries(), 1);
}

TEST_F(CyclicExchangeTest, RefusedExchangesCompleteAtOnceAndChangeNothing) {
  const auto noRun = Exchange(Open());
  ASSERT_TRUE(noRun->Done());
  EXPECT_EQ(noRun->Word(12464), c::kDriverNoRun);

  Start();
  struct Case {
    const char* name;
    std::function<void(c::ExchangeBuffer&)> fill;
  };
  const Case cases[] = {
      {"data length 9 on a send",
       [](c::ExchangeBuffer& b) {
         b.Store<std::uint8_t>(0, 2);
         b.Store<std::uint8_t>(4, 9);
       }},
      {"start frame of length 9",
       [](c::ExchangeBuffer& b) {
         b.Store<std::uint8_t>(28, 10);
         b.Store<std::uint8_t>(28 + 16, 9);
       }},
      {"seven set-point objects",
       [](c::ExchangeBuffer& b) {
         for (std::size_t k = 0; k < 7; ++k) b.Store<std::uint8_t>(28 * k, 11);
       }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    c::ExchangeBuffer buffer;
    test.fill(buffer);
    buffer.Set(eb::kGlobalMaskRequest, 1);
    buffer.Set(eb::kGlobalStandardMask, 0x123);
    const auto reply = Exchange(owner_, buffer);
    ASSERT_TRUE(reply->Done());
    EXPECT_EQ(reply->Word(12464), c::kDriverBufferedRunRefused);
    const auto data = reply->Data();
    EXPECT_EQ(data[418], 1) << "mask request not consumed";
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 12464, buffer.Bytes().begin()));
  }

  // A valid request takes its mask request over.
  c::ExchangeBuffer buffer;
  buffer.Set(eb::kGlobalMaskRequest, 1);
  buffer.Set(eb::kGlobalStandardMask, 0x123);
  const auto reply = Exchange(owner_, buffer);
  {
    const ModelAccess models(pump_);
    EXPECT_EQ(Controller(1).Read(0x06), 0x24);
  }
  AdvanceTo(AtTick(5));
  ASSERT_EQ(reply->Status(), os::kStatusSuccess);
  EXPECT_EQ(reply->Data()[418], 0);
}

TEST_F(CyclicExchangeTest, BusOffAtTheExchangeAfterFourRestarts) {
  Start();
  {
    const ModelAccess models(pump_);
    machine_.FindBus("can0")->InjectBusOff(&Controller(1));
  }
  const FrameData data{};
  channelOne_->Channel().Controller().LoadAndSend(1, 0x123, 0, data);
  AdvanceBy(200 * kMicrosecond);
  ASSERT_TRUE(Controller(1).IsBusOff());

  host_->Hardware().Log().Enable(true);
  (void)host_->Hardware().Log().Take();
  const auto refused = Exchange(owner_);
  const auto accesses = host_->Hardware().Log().Take();
  host_->Hardware().Log().Enable(false);
  ASSERT_TRUE(refused->Done());
  EXPECT_EQ(refused->Word(12464), c::kDriverBusOff);
  const std::uint64_t control = card_->BarInfo(2).address;
  const auto controlWrites =
      std::count_if(accesses.begin(), accesses.end(), [control](const devhost::AccessRecord& a) {
        return a.kind == devhost::AccessKind::kWrite8 && a.address == control;
      });
  EXPECT_EQ(controlWrites, 8) << "four restarts of two writes each";
  EXPECT_TRUE(channelOne_->Channel().RunActive());

  // The last restart lets the controller recover on its own; then the
  // exchange goes through.
  AdvanceBy(2 * sim::kNanosecondsPerMillisecond);
  const auto later = Exchange(owner_);
  EXPECT_FALSE(later->Done());
  AdvanceBy(5 * kTick);
  EXPECT_EQ(later->Status(), os::kStatusSuccess);
}

TEST_F(CyclicExchangeTest, LatencyStatisticsStayZeroUntilTwoSamples) {
  RunRecordFields fields;
  fields.latency = 1;
  Start(fields);
  const auto latency = [&] { return Send(owner_, c::IOCTL_CAN_GET_LATENCY_TIME)->Data(); };
  const auto word = [](const std::vector<std::uint8_t>& d, std::size_t offset) {
    return c::LoadLittleEndian<std::uint32_t>(d.data() + offset);
  };
  auto record = latency();
  EXPECT_EQ(word(record, 0), kCycleMicroseconds);
  for (std::size_t offset : {4u, 8u, 12u, 16u}) EXPECT_EQ(word(record, offset), 0u);
  EXPECT_EQ(c::LoadLittleEndian<std::uint64_t>(record.data() + 24), 10'000'000u);
  EXPECT_EQ(word(record, 32), c::kDriverSuccess);

  const auto first = Exchange(owner_);
  AdvanceTo(AtTick(5));
  ASSERT_TRUE(first->Done());
  record = latency();
  for (std::size_t offset : {4u, 8u, 12u, 16u}) EXPECT_EQ(word(record, offset), 0u);

  const auto second = Exchange(owner_);
  AdvanceTo(AtTick(10));
  ASSERT_TRUE(second->Done());
  record = latency();
  const std::uint32_t cycleTicks = kCycleMicroseconds * 10;
  for (std::size_t offset : {4u, 8u, 12u, 16u}) EXPECT_EQ(word(record, offset), cycleTicks);
}

TEST_F(CyclicExchangeTest, LedsToggleAtEachCompletionOrOncePerCycle) {
  Start();
  const auto leds = [&] { return Controller(1).Port2Output() & reg::kPort2Leds; };
  EXPECT_EQ(leds(), 0);
  Exchange(owner_);
  AdvanceTo(AtTick(5));
  EXPECT_EQ(leds(), reg::kPort2Leds);
  AdvanceTo(AtTick(15));
  EXPECT_EQ(leds(), reg::kPort2Leds) << "no completion, no toggle";

  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_LED_PER_CYCLE), c::kDriverSuccess);
  AdvanceTo(AtTick(20));
  EXPECT_EQ(leds(), 0);
  AdvanceTo(AtTick(25));
  EXPECT_EQ(leds(), reg::kPort2Leds);
}

}  // namespace
}  // namespace vantor::canlayer::testing

namespace vantor::canlayer::testing {
namespace {

TEST_F(CyclicExchangeTest, TestPortMarksCyclesCompletionsAndClientMarks) {
  constexpr std::uint16_t kTestPort = 0x300;
  sim::TestPort* port = machine_.AddTestPort("marks", kTestPort);
  ASSERT_NE(port, nullptr);
  host::SimulatedPorts ports(pump_, machine_.Ports(), kTestPort);
  ASSERT_TRUE(host_->Hardware().AddPortRange(kTestPort, 1, ports));
  CanChannelSettings settings;
  settings.testPort = kTestPort;
  RebuildChannelOne(settings);

  Start();
  Exchange(owner_);
  AdvanceTo(AtTick(5));
  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_TESTPORT_CLEAR), c::kDriverSuccess);
  EXPECT_EQ(Status(owner_, c::IOCTL_CAN_TESTPORT_TOGGLE), c::kDriverSuccess);
  AdvanceTo(AtTick(10));
  std::vector<std::uint8_t> written;
  {
    const ModelAccess models(pump_);
    for (const auto& write : port->Writes()) written.push_back(write.value);
  }
  // Cycle mark (bit 0), completion toggle (bit 1) and mark (bit 3), the
  // client's clear of bit 3 and toggle of bit 4, the next cycle mark.
  EXPECT_EQ(written, (std::vector<std::uint8_t>{0xFE, 0xFC, 0xFC, 0xF4, 0xE4, 0xE5}));
  Close(owner_);
}

}  // namespace
}  // namespace vantor::canlayer::testing

namespace vantor::canlayer::testing {
namespace {

TEST_F(CyclicExchangeTest, BufferedRunRefusesMixedCodesAndOverfullRings) {
  RunRecordFields fields;
  fields.mode = 1;
  fields.fillLimit = 5;
  Start(fields);
  struct Case {
    const char* name;
    std::function<void(c::ExchangeBuffer&)> fill;
    std::uint32_t status;
  };
  const auto code = [](c::ExchangeBuffer& b, std::size_t record, std::uint8_t value) {
    b.Store<std::uint8_t>(28 * (record - 1), value);
  };
  const auto ring = [](c::ExchangeBuffer& b, std::uint8_t control, std::int16_t entries) {
    b.Set(eb::kRingControl, control);
    b.Set(eb::kSetpointCount, entries);
  };
  const Case cases[] = {
      {"start and active codes together",
       [&](c::ExchangeBuffer& b) {
         code(b, 1, 10);
         code(b, 2, 13);
       },
       c::kDriverBufferedRunRefused},
      {"record 15 as answer object", [&](c::ExchangeBuffer& b) { code(b, 15, 12); },
       c::kDriverBufferedRunRefused},
      {"more entries than the record holds", [&](c::ExchangeBuffer& b) { ring(b, 1, 501); },
       c::kDriverBufferedRunRefused},
      {"negative entry count", [&](c::ExchangeBuffer& b) { ring(b, 2, -1); },
       c::kDriverBufferedRunRefused},
      {"above the fill limit", [&](c::ExchangeBuffer& b) { ring(b, 1, 6); },
       c::kDriverBufferedRunRefused},
      {"up to the fill limit", [&](c::ExchangeBuffer& b) { ring(b, 1, 5); }, c::kDriverSuccess},
      {"ring not in use ignores the count", [&](c::ExchangeBuffer& b) { ring(b, 0, 600); },
       c::kDriverSuccess},
      {"start codes alone", [&](c::ExchangeBuffer& b) { code(b, 1, 10); }, c::kDriverSuccess},
  };
  int tick = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    c::ExchangeBuffer buffer;
    test.fill(buffer);
    const auto reply = Exchange(owner_, buffer);
    if (test.status != c::kDriverSuccess) {
      ASSERT_TRUE(reply->Done());
      EXPECT_EQ(reply->Word(12464), test.status);
      continue;
    }
    EXPECT_FALSE(reply->Done());
    tick += 5;
    AdvanceTo(AtTick(tick));
    ASSERT_TRUE(reply->Done());
    EXPECT_EQ(reply->Word(12464), c::kDriverSuccess);
  }
}

}  // namespace
}  // namespace vantor::canlayer::testing

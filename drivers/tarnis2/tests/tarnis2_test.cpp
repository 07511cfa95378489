// The channel-2 driver beside the channel-1 driver on the simulated card:
// loading from channel 1's resources, a run of channel 2 alone and of both
// channels on the shared line, the stop order, and a channel 1 that does
// not answer.
#include <gtest/gtest.h>

#include "drivers/tarnis1/pci_bridge_registers.h"
#include "drivers/tarnis1/tarnis1_entry.h"
#include "drivers/tarnis1/tests/driver_host_fixture.h"
#include "drivers/tarnis2/tarnis2_entry.h"

namespace vantor::tarnis2 {
namespace {

namespace c = common;
using frontends::testing::DriverHostFixture;
using frontends::testing::ReplySink;
using frontends::testing::RunRecordFields;

constexpr std::uint32_t kCardVector = 11;
constexpr devhost::Ticks kTickPeriod = devhost::MicrosecondsToTicks(4 * 128);

class Tarnis2Test : public DriverHostFixture {
 protected:
  void UnloadDrivers() override {
    tarnis2_.reset();
    tarnis1_.reset();
  }
  void LoadBoth() {
    ASSERT_EQ(tarnis1::Tarnis1DriverEntry(*host_, machine_->Resources(), tarnis1_),
              os::kStatusSuccess);
    ASSERT_EQ(Tarnis2DriverEntry(*host_, machine_->Resources(), tarnis2_), os::kStatusSuccess);
  }
  tarnis1::Tarnis1Driver& ChannelOne() {
    return static_cast<tarnis1::LoadedTarnis1&>(*tarnis1_).Driver();
  }
  bool PciInterruptOn() {
    return Models([](sim::Machine& m) {
             return m.FindPciCard("pci0")->Bridge().ReadLocal(tarnis1::kBridgeInterruptControl, 4);
           }) &
           tarnis1::kPciInterruptEnable;
  }
  std::uint8_t ChannelOneClockOut() {
    return Models([](sim::Machine& m) { return m.FindPciCard("pci0")->Controller(0).Read(0x1F); });
  }
  static RunRecordFields ChannelTwoRecord() {
    RunRecordFields fields;
    fields.channel = 2;
    return fields;
  }
  // Interrupt-interval minimum and maximum of a run with latency measurement.
  std::pair<std::uint32_t, std::uint32_t> InterruptIntervals(
      const std::shared_ptr<devhost::FileObject>& file) {
    const auto reply = Send(file, c::IOCTL_CAN_GET_LATENCY_TIME);
    EXPECT_EQ(reply->Word(32), c::kDriverSuccess);
    return {reply->Word(4), reply->Word(8)};
  }

  std::unique_ptr<host::LoadedDriver> tarnis1_;
  std::unique_ptr<host::LoadedDriver> tarnis2_;
};

TEST_F(Tarnis2Test, LoadFailsWithoutChannelOneAndLeavesNoDevice) {
  EXPECT_EQ(Tarnis2DriverEntry(*host_, machine_->Resources(), tarnis2_),
            kStatusChannelOneUnavailable);
  EXPECT_EQ(tarnis2_, nullptr);
  EXPECT_EQ(host_->FindDevice(kDeviceName), nullptr);
  std::shared_ptr<devhost::FileObject> file;
  EXPECT_EQ(TryOpen(file, "tarnis2"), os::kStatusObjectNameNotFound);
}

TEST_F(Tarnis2Test, AnswersTheCardsVersionAndRefusesWhatItDoesNotServe) {
  LoadBoth();
  const auto file = Open("tarnis2");
  const std::vector<std::uint8_t> expected = {2, 0, 1, 0, 70, 0, 0, 0, 10, 0};
  EXPECT_EQ(Send(file, c::IOCTL_CAN_GET_VERSION)->Data(), expected);
  EXPECT_EQ(Send(file, c::IOCTL_CAN_STA_PORT_GET_CON)->Status(), os::kStatusNotImplemented);
  EXPECT_EQ(Send(file, c::IOCTL_CAN_CH2_GET_RESOURCES)->Status(), os::kStatusInvalidParameter);
  EXPECT_EQ(StartRun(file, {}), c::kDriverInvalidRunRecord) << "channel 1's record";
}

TEST_F(Tarnis2Test, ChannelTwoRunsAloneOnTheClockChannelOneSetsUp) {
  LoadBoth();
  const auto two = Open("tarnis2");
  ASSERT_EQ(StartRun(two, ChannelTwoRecord()), c::kDriverSuccess);
  EXPECT_EQ(ChannelOne().Channel()->UseCount(), 1);
  EXPECT_EQ(ChannelOneClockOut(), 0x33) << "channel 1 clocked the card with d = 4";
  EXPECT_TRUE(PciInterruptOn());
  for (int cycle = 0; cycle < 5; ++cycle) {
    const auto reply = Exchange(two);
    ASSERT_TRUE(AdvanceUntil([&] { return reply->Done(); }, 20 * kTickPeriod)) << cycle;
    EXPECT_EQ(reply->Status(), os::kStatusSuccess);
    EXPECT_EQ(reply->Word(c::exchange_buffer::kCycleMicroseconds.kOffset), 2560u);
  }
  const auto parked = Exchange(two);
  EXPECT_EQ(Status(two, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  EXPECT_EQ(ChannelOne().Channel()->UseCount(), 0);
  EXPECT_FALSE(PciInterruptOn());
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
}

TEST_F(Tarnis2Test, BothHandlersSeeEveryTickOfTheSharedLine) {
  LoadBoth();
  const auto one = Open("tarnis1");
  const auto two = Open("tarnis2");
  // One tick per cycle: the interrupt interval is sampled at every tick.
  RunRecordFields fields;
  fields.latency = 1;
  fields.cycleDivider = 1;
  RunRecordFields channelTwo = fields;
  channelTwo.channel = 2;
  ASSERT_EQ(StartRun(two, channelTwo), c::kDriverSuccess);
  ASSERT_EQ(StartRun(one, fields), c::kDriverSuccess);
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 2u);
  Advance(40 * kTickPeriod);
  for (const auto& file : {one, two}) {
    const auto [minimum, maximum] = InterruptIntervals(file);
    EXPECT_GE(minimum, static_cast<std::uint32_t>(kTickPeriod) - 10);
    EXPECT_LE(maximum, static_cast<std::uint32_t>(kTickPeriod) + 10) << "a tick was missed";
  }
  const auto fromOne = Exchange(one);
  const auto fromTwo = Exchange(two);
  ASSERT_TRUE(AdvanceUntil([&] { return fromOne->Done() && fromTwo->Done(); }, 4 * kTickPeriod));

  // Channel 1 stops first: the card's interrupt stays on for channel 2.
  EXPECT_EQ(Status(one, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_TRUE(PciInterruptOn());
  const auto afterStop = Exchange(two);
  ASSERT_TRUE(AdvanceUntil([&] { return afterStop->Done(); }, 4 * kTickPeriod));
  EXPECT_EQ(afterStop->Status(), os::kStatusSuccess);
  EXPECT_EQ(Status(two, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_FALSE(PciInterruptOn());
}

TEST_F(Tarnis2Test, ClosingTheOwnersHandleEndsTheRunAndDetaches) {
  LoadBoth();
  const auto two = Open("tarnis2");
  ASSERT_EQ(StartRun(two, ChannelTwoRecord()), c::kDriverSuccess);
  const auto parked = Exchange(two);
  Close(two);
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  EXPECT_EQ(ChannelOne().Channel()->UseCount(), 0);
  EXPECT_FALSE(PciInterruptOn());
}

TEST_F(Tarnis2Test, ARunningChannelTwoCannotStopWithoutChannelOne) {
  LoadBoth();
  const auto two = Open("tarnis2");
  ASSERT_EQ(StartRun(two, ChannelTwoRecord()), c::kDriverSuccess);
  tarnis1_.reset();  // channel 1 goes while channel 2 runs
  EXPECT_EQ(Status(two, c::IOCTL_CAN_STOP_RUN), c::kDriverRunNotStopped)
      << "nobody could switch the channel-2 line off";
  EXPECT_TRUE(static_cast<LoadedTarnis2&>(*tarnis2_).Driver().Channel()->RunActive());
  Close(two);  // handles go before their driver
}

TEST_F(Tarnis2Test, NoRunStartsWithoutChannelOne) {
  LoadBoth();
  const auto two = Open("tarnis2");
  tarnis1_.reset();
  EXPECT_EQ(StartRun(two, ChannelTwoRecord()), c::kDriverBaseDeviceMissing);
  EXPECT_FALSE(static_cast<LoadedTarnis2&>(*tarnis2_).Driver().Channel()->RunActive());
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
}

// Five seconds of a machine with nothing in it pass quickly.
class SilentChannelOneTest : public DriverHostFixture {
 protected:
  SilentChannelOneTest() : DriverHostFixture(R"({ "buses": [ { "name": "can0" } ] })") {}
};

TEST_F(SilentChannelOneTest, GivesUpAfterFiveSeconds) {
  frontends::testing::SilentDriver silent;
  std::shared_ptr<devhost::DeviceObject> device;
  ASSERT_EQ(host_->CreateDevice({tarnis1::kDeviceName, &silent,
                                 canlayer::CanRequestTable(canlayer::CanDriverRole::kChannelOne)},
                                device),
            os::kStatusSuccess);
  devhost::IoStatus status = os::kStatusSuccess;
  Tarnis2Driver driver(*host_);
  const auto took = TimeUntilGivingUp(
      silent, [&] { status = driver.Load(); }, devhost::MillisecondsToTicks(5000));
  ASSERT_TRUE(took.has_value()) << "still waiting at five seconds";
  EXPECT_EQ(*took, devhost::MillisecondsToTicks(5000)) << "gave up early";
  EXPECT_EQ(status, kStatusChannelOneUnavailable);
  EXPECT_EQ(host_->FindDevice(kDeviceName), nullptr);
  host_->DeleteDevice(*device);
}

}  // namespace
}  // namespace vantor::tarnis2

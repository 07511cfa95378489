// The channel-1 driver on the simulated card: device start from the card's
// resources, the bridge programmed in its order, the request set with the
// card's version, a run through the runtime, and channel 2's share of the
// card as the channel-2 driver asks for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "drivers/tarnis1/pci_bridge_registers.h"
#include "drivers/tarnis1/tarnis1_entry.h"
#include "drivers/tarnis1/tests/driver_host_fixture.h"

namespace vantor::tarnis1 {
namespace {

namespace c = common;
using frontends::testing::DriverHostFixture;
using frontends::testing::RunRecordFields;

constexpr std::uint64_t kBridgeWindow = 0xFEB00000;
constexpr std::uint64_t kControllerWindow = 0xFEB01000;
constexpr std::uint32_t kCardVector = 11;
// d = 4, N = 5: 5 x 4 x 128 microseconds.
constexpr devhost::Ticks kCycle = devhost::MicrosecondsToTicks(2560);

class Tarnis1Test : public DriverHostFixture {
 protected:
  void UnloadDrivers() override { driver_.reset(); }

  devhost::IoStatus Load() { return Tarnis1DriverEntry(*host_, machine_->Resources(), driver_); }
  Tarnis1Driver& Driver() { return static_cast<LoadedTarnis1&>(*driver_).Driver(); }

  std::uint32_t InterruptControl() {
    return Models([](sim::Machine& m) {
      return m.FindPciCard("pci0")->Bridge().ReadLocal(kBridgeInterruptControl, 4);
    });
  }
  bool PciInterruptOn() { return (InterruptControl() & kPciInterruptEnable) != 0; }

  // A request of another driver (the channel-2 driver's share of the card).
  devhost::RequestResult SendInternal(std::uint32_t code, std::span<const std::uint8_t> input,
                                      std::span<std::uint8_t> output) {
    const auto device = host_->FindDevice(kDeviceName);
    if (device == nullptr) return {os::kStatusNoSuchDevice, 0};
    return host_->SendRequest(*device, nullptr, code, input, output,
                              devhost::MillisecondsToTicks(10));
  }
  std::uint32_t Attach(std::uint8_t divider) {
    const std::array<std::uint8_t, 1> input{divider};
    std::array<std::uint8_t, 4> status{};
    EXPECT_EQ(SendInternal(c::IOCTL_CAN_CH2_ATTACH, input, status).status, os::kStatusSuccess);
    return c::LoadLittleEndian<std::uint32_t>(status.data());
  }

  std::unique_ptr<host::LoadedDriver> driver_;
};

TEST_F(Tarnis1Test, StartProgramsTheBridgeInOrderAndDescribesTheCard) {
  host_->Hardware().Log().Enable(true);
  ASSERT_EQ(Load(), os::kStatusSuccess);
  std::vector<BridgeRegisterWrite> writes;
  for (const devhost::AccessRecord& access : host_->Hardware().Log().Take()) {
    if (access.kind == devhost::AccessKind::kWrite32 && access.address >= kBridgeWindow &&
        access.address < kBridgeWindow + 0x80) {
      writes.push_back({static_cast<std::uint32_t>(access.address - kBridgeWindow), access.value});
    }
  }
  ASSERT_GE(writes.size(), kBridgeStartSequence.size());
  for (std::size_t i = 0; i < kBridgeStartSequence.size(); ++i) {
    EXPECT_EQ(writes[i].offset, kBridgeStartSequence[i].offset) << "write " << i;
    EXPECT_EQ(writes[i].value, kBridgeStartSequence[i].value) << "write " << i;
  }
  EXPECT_FALSE(PciInterruptOn()) << "no interrupt before a run";

  namespace cr = c::channel_resources;
  const c::ChannelResources resources = Driver().Resources();
  EXPECT_EQ(resources.Get(cr::kInterruptVector), kCardVector);
  EXPECT_EQ(resources.Get(cr::kInterruptLevel), kCardVector);
  EXPECT_EQ(resources.Get(cr::kInterruptMode), 0u);
  EXPECT_EQ(resources.Get(cr::kBridgeWindowAddress), kBridgeWindow);
  EXPECT_EQ(resources.Get(cr::kControllerWindowAddress), kControllerWindow);
  EXPECT_EQ(resources.Get(cr::kControllerWindowLength), 0x1000u);
  ASSERT_TRUE(Driver().CardSlot().has_value());
  EXPECT_EQ(Driver().CardSlot()->device, 4);
  EXPECT_EQ(Driver().VendorId(), kCardVendorId);
  EXPECT_EQ(Driver().DeviceId(), kCardDeviceId);
  EXPECT_EQ(Driver().LinkName(), kLinkName);
}

TEST_F(Tarnis1Test, StartFailsWithoutTheBridgeOrControllerWindowOrInterrupt) {
  const host::PciFunctionResources* card = FindCard(machine_->Resources());
  ASSERT_NE(card, nullptr);
  struct Case {
    const char* what;
    std::function<void(PciStartResources&)> spoil;
  };
  const std::vector<Case> cases = {
      {"no interrupt", [](PciStartResources& r) { r.interrupt.reset(); }},
      {"no controller window",
       [](PciStartResources& r) {
         std::erase_if(r.ranges, [](const TranslatedRange& range) {
           return range.start == kControllerWindow;
         });
       }},
      {"bridge window at an address of no register",
       [](PciStartResources& r) {
         for (TranslatedRange& range : r.ranges) {
           if (range.start == kBridgeWindow) range.start = 0xFEA00000;
         }
       }},
  };
  for (const Case& test : cases) {
    Tarnis1Driver driver(*host_);
    ASSERT_EQ(driver.AddDevice(), os::kStatusSuccess) << test.what;
    PciStartResources resources = StartResourcesOf(*card);
    test.spoil(resources);
    EXPECT_EQ(driver.StartDevice(resources), os::kStatusInsufficientResources) << test.what;
    EXPECT_FALSE(driver.Started()) << test.what;
    std::shared_ptr<devhost::FileObject> file;
    EXPECT_EQ(host_->OpenForUser("tarnis1", file), os::kStatusNoSuchDevice) << test.what;
  }
}

TEST_F(Tarnis1Test, AnswersItsVersionAndKeepsOtherHandlesOutWhileClaimed) {
  ASSERT_EQ(Load(), os::kStatusSuccess);
  const auto first = Open("tarnis1");
  const auto version = Send(first, c::IOCTL_CAN_GET_VERSION);
  ASSERT_EQ(version->Information(), c::kDriverVersionRecordSize);
  const std::vector<std::uint8_t> expected = {2, 0, 1, 0, 70, 0, 0, 0, 10, 0};
  EXPECT_EQ(version->Data(), expected);

  const auto portRequest =
      Send(first, c::IOCTL_CAN_DYN_PORT_IN, std::vector<std::uint8_t>{0x78, 3});
  EXPECT_EQ(portRequest->Status(), os::kStatusNotImplemented);
  const auto cardRequest = Send(first, c::IOCTL_CAN_CH2_GET_RESOURCES);
  EXPECT_EQ(cardRequest->Status(), os::kStatusInvalidParameter) << "only for the channel-2 driver";

  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  std::shared_ptr<devhost::FileObject> second;
  EXPECT_EQ(TryOpen(second, "tarnis1"), os::kStatusAccessViolation);
  Close(first);
  EXPECT_EQ(TryOpen(second, "tarnis1"), os::kStatusSuccess);
}

TEST_F(Tarnis1Test, RunsFixedCyclesOnTheCardThroughTheRuntime) {
  ASSERT_EQ(Load(), os::kStatusSuccess);
  const auto owner = Open("tarnis1");
  ASSERT_EQ(Status(owner, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  RunRecordFields fields;  // kind 2, channel 1, d = 4, N = 5, mode 0
  ASSERT_EQ(StartRun(owner, fields), c::kDriverSuccess);
  EXPECT_TRUE(PciInterruptOn());
  EXPECT_EQ(Status(owner, c::IOCTL_CAN_START_RUN, MakeRunRecord(fields).Bytes()),
            c::kDriverRunActive);

  for (int cycle = 0; cycle < 10; ++cycle) {
    const auto reply = Exchange(owner);
    ASSERT_TRUE(AdvanceUntil([&] { return reply->Done(); }, 3 * kCycle)) << "cycle " << cycle;
    ASSERT_EQ(reply->Status(), os::kStatusSuccess);
    EXPECT_EQ(reply->Word(c::exchange_buffer::kStatus.kOffset), c::kDriverSuccess);
    EXPECT_EQ(reply->Word(c::exchange_buffer::kCycleMicroseconds.kOffset), 2560u);
  }
  const auto parked = Exchange(owner);
  EXPECT_EQ(Status(owner, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_EQ(parked->Status(), os::kStatusCancelled);
  EXPECT_FALSE(PciInterruptOn());
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
}

TEST_F(Tarnis1Test, CarriesAnSdoRequestToANodeAndBringsItsAnswerBack) {
  namespace mr = c::message_record;
  ASSERT_EQ(Load(), os::kStatusSuccess);
  const auto owner = Open("tarnis1");
  ASSERT_EQ(StartRun(owner, {}), c::kDriverSuccess);
  Advance(devhost::MillisecondsToTicks(5));  // the I/O module boots

  // Record 1 asks node 10 for its device type (object 0x1000), record 14
  // waits for the answer.
  c::ExchangeBuffer buffer;
  auto request = *c::MessageRecordIn(buffer, 1);
  request.Set(mr::kCode, static_cast<std::uint8_t>(c::MessageCode::SendOnce));
  request.Set(mr::kCobId, std::uint16_t{0x60A});
  request.Set(mr::kLength, std::uint8_t{8});
  const std::array<std::uint8_t, 8> upload{0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0};
  std::copy(upload.begin(), upload.end(), request.MutableBytes(mr::kData).begin());
  auto answer = *c::MessageRecordIn(buffer, 14);
  answer.Set(mr::kCode, static_cast<std::uint8_t>(c::MessageCode::StartSingleReceive));
  answer.Set(mr::kCobId, std::uint16_t{0x58A});

  bool answered = false;
  for (int cycle = 0; cycle < 20 && !answered; ++cycle) {
    const auto reply = Exchange(owner, buffer);
    ASSERT_TRUE(AdvanceUntil([&] { return reply->Done(); }, 3 * kCycle)) << "cycle " << cycle;
    ASSERT_EQ(reply->Information(), c::kExchangeBufferSize);
    const std::vector<std::uint8_t> data = reply->Data();
    std::copy(data.begin(), data.end(), buffer.WriteData());
    const auto received = *c::MessageRecordIn(std::as_const(buffer), 14);
    if (received.Get(mr::kCode) == static_cast<std::uint8_t>(c::MessageCode::Release)) {
      answered = true;
      EXPECT_EQ(received.Get(mr::kResult), c::message_result::kDone);
      const auto bytes = received.GetBytes(mr::kData);
      EXPECT_EQ(bytes[0], 0x43) << "an expedited answer of four bytes";
      EXPECT_EQ(bytes[1], 0x00);
      EXPECT_EQ(bytes[2], 0x10);
    }
  }
  EXPECT_TRUE(answered) << "the node's answer never came back";
}

TEST_F(Tarnis1Test, ChannelTwoShareCountsUsersAndSwitchesTheCardInterrupt) {
  ASSERT_EQ(Load(), os::kStatusSuccess);
  std::array<std::uint8_t, c::kChannelResourcesSize> resources{};
  const auto got = SendInternal(c::IOCTL_CAN_CH2_GET_RESOURCES, {}, resources);
  ASSERT_EQ(got.status, os::kStatusSuccess);
  EXPECT_EQ(got.information, c::kChannelResourcesSize);
  EXPECT_EQ(c::LoadLittleEndian<std::uint32_t>(resources.data()), kCardVector);

  // Channel 2 alone: channel 1 clocks the card and opens the interrupt.
  EXPECT_EQ(Attach(4), c::kDriverSuccess);
  EXPECT_EQ(Driver().Channel()->UseCount(), 1);
  EXPECT_TRUE(PciInterruptOn());
  EXPECT_EQ(SendInternal(c::IOCTL_CAN_CH2_DETACH, {}, {}).status, os::kStatusSuccess);
  EXPECT_EQ(Driver().Channel()->UseCount(), 0);
  EXPECT_FALSE(PciInterruptOn());

  // With channel 1 running, a second attach only counts in; the detach
  // leaves the interrupt to channel 1.
  const auto owner = Open("tarnis1");
  ASSERT_EQ(StartRun(owner, {}), c::kDriverSuccess);
  EXPECT_EQ(Attach(4), c::kDriverSuccess);
  EXPECT_EQ(Driver().Channel()->UseCount(), 2);
  EXPECT_EQ(SendInternal(c::IOCTL_CAN_CH2_DETACH, {}, {}).status, os::kStatusSuccess);
  EXPECT_EQ(Driver().Channel()->UseCount(), 1);
  EXPECT_TRUE(PciInterruptOn());
}

TEST_F(Tarnis1Test, ReadsItsServiceKeyValues) {
  host_->Parameters().SetDword("tarnis1", "CommonBufferSize", 65536);
  host_->Parameters().SetDword("tarnis1", "MaxSglTransferSize", 4096);
  ASSERT_EQ(Load(), os::kStatusSuccess);
  EXPECT_EQ(Driver().Parameters().commonBufferSize, 65536u);
  EXPECT_EQ(Driver().Parameters().maxSglTransferSize, 4096u);
  EXPECT_EQ(Driver().CommonBufferSize(), 65536u);

  host_->Parameters().SetDword("tarnis1", "CommonBufferSize", 0);
  Tarnis1Driver none(*host_);
  EXPECT_EQ(none.CommonBufferSize(), 0u);
  // More than the system would ever hand out shrinks by tenths until it fits.
  host_->Parameters().SetDword("tarnis1", "CommonBufferSize", 0xFFFFFFFF);
  Tarnis1Driver huge(*host_);
  EXPECT_GT(huge.CommonBufferSize(), 0u);
  EXPECT_LE(huge.CommonBufferSize(), 64u << 20);
}

TEST_F(Tarnis1Test, FindsTheCardsDeviceNumberWithoutTheAddressProperty) {
  const host::PciFunctionResources* card = FindCard(machine_->Resources());
  ASSERT_NE(card, nullptr);
  Tarnis1Driver driver(*host_);
  ASSERT_EQ(driver.AddDevice(), os::kStatusSuccess);
  PciStartResources resources = StartResourcesOf(*card);
  resources.addressPropertyPresent = false;
  ASSERT_EQ(driver.StartDevice(resources), os::kStatusSuccess);
  ASSERT_TRUE(driver.CardSlot().has_value());
  EXPECT_EQ(driver.CardSlot()->bus, card->slot.bus);
  EXPECT_EQ(driver.CardSlot()->device, card->slot.device);
}

TEST_F(Tarnis1Test, NoCardNoDriver) {
  host::MachineResources empty;
  EXPECT_EQ(Tarnis1DriverEntry(*host_, empty, driver_), os::kStatusNoSuchDevice);
  EXPECT_EQ(driver_, nullptr);
}

}  // namespace
}  // namespace vantor::tarnis1

// The request set as a client sees it: length and code checks, the
// records, the claim and the ownership rules of run and claim.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "drivers/canlayer/controller_registers.h"
#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

namespace c = common;

class RequestDispatchTest : public CardFixture {};

TEST_F(RequestDispatchTest, LengthsCodesAndRequestsOfOtherDrivers) {
  const auto file = Open();
  struct Case {
    const char* name;
    std::uint32_t code;
    std::uint32_t inputLength;
    std::uint32_t outputLength;
    devhost::IoStatus expected;
  };
  const Case cases[] = {
      {"exchange one byte short", c::IOCTL_CAN_CYCLIC_EXCHANGE, 12468, 12467,
       os::kStatusInvalidBufferSize},
      {"version into 4 bytes", c::IOCTL_CAN_GET_VERSION, 0, 4, os::kStatusInvalidBufferSize},
      {"run record too long", c::IOCTL_CAN_START_RUN, 25, 4, os::kStatusInvalidBufferSize},
      {"unknown function", c::CanControlCode(0x811), 0, 4, os::kStatusInvalidParameter},
      {"port request on the card", c::IOCTL_CAN_DYN_PORT_IN, 2, 8, os::kStatusNotImplemented},
      {"static port table on the card", c::IOCTL_CAN_STA_PORT_GET_CON, 0, 68,
       os::kStatusNotImplemented},
      {"channel-2 attach from a program", c::IOCTL_CAN_CH2_ATTACH, 1, 4,
       os::kStatusInvalidParameter},
      {"channel-2 detach from a program", c::IOCTL_CAN_CH2_DETACH, 0, 0,
       os::kStatusInvalidParameter},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    auto sink = std::make_shared<ReplySink>(clock_);
    const std::vector<std::uint8_t> input(test.inputLength, 0);
    host_->DispatchUserRequest(file, 1, test.code, input, test.outputLength, sink);
    ASSERT_TRUE(sink->Done());
    EXPECT_EQ(sink->Status(), test.expected);
    EXPECT_EQ(sink->Information(), 0u) << "a refused request returns no data";
  }
}

TEST_F(RequestDispatchTest, VersionRunTimeAndStatusWords) {
  const auto file = Open();
  const auto version = Send(file, c::IOCTL_CAN_GET_VERSION);
  ASSERT_EQ(version->Information(), 10u);
  const auto bytes = version->Data();
  const std::vector<std::uint8_t> expected{2, 0, 1, 0, 70, 0, 0, 0, 10, 0};
  EXPECT_EQ(bytes, expected);

  AdvanceBy(1500 * kMicrosecond);
  const auto runTime = Send(file, c::IOCTL_CAN_GET_RUN_TIME);
  ASSERT_EQ(runTime->Information(), 24u);
  const auto data = runTime->Data();
  EXPECT_EQ(c::LoadLittleEndian<std::uint64_t>(data.data()), 15000u);
  EXPECT_EQ(c::LoadLittleEndian<std::uint64_t>(data.data() + 8), 10'000'000u);
  EXPECT_EQ(runTime->Word(16), c::kDriverSuccess);

  struct NoRunCase {
    std::uint32_t code;
    std::uint32_t status;
  };
  const NoRunCase noRun[] = {
      {c::IOCTL_CAN_STOP_RUN, c::kDriverSuccess},
      {c::IOCTL_CAN_ABORT_EXCHANGE, c::kDriverSuccess},
      {c::IOCTL_CAN_WATCHDOG_ENABLE, c::kDriverNoRun},
      {c::IOCTL_CAN_WATCHDOG_DISABLE, c::kDriverSuccess},
      {c::IOCTL_CAN_LED_PER_CYCLE, c::kDriverNoRun},
      {c::IOCTL_CAN_TESTPORT_CLEAR, c::kDriverNoRun},
      {c::IOCTL_CAN_TESTPORT_TOGGLE, c::kDriverNoRun},
      {c::IOCTL_CAN_GET_LATENCY_TIME, c::kDriverNoRun},
  };
  for (const NoRunCase& test : noRun) {
    SCOPED_TRACE(c::FindDriverRequest(test.code)->name);
    EXPECT_EQ(Status(file, test.code), test.status);
  }
}

TEST_F(RequestDispatchTest, ClaimOpenAndReleaseOwnership) {
  const auto first = Open();
  const auto second = Open();
  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverSuccess) << "the holder claims again";
  EXPECT_EQ(Status(second, c::IOCTL_CAN_CLAIM), c::kDriverClaimedByOther);
  EXPECT_EQ(Status(second, c::IOCTL_CAN_RELEASE), c::kDriverNotOwner);
  std::shared_ptr<devhost::FileObject> late;
  EXPECT_EQ(TryOpen(late), os::kStatusAccessViolation) << "no new handle while claimed";

  // Closing a handle that does not hold the claim leaves it in place.
  Close(second);
  EXPECT_EQ(TryOpen(late), os::kStatusAccessViolation);

  EXPECT_EQ(Status(first, c::IOCTL_CAN_RELEASE), c::kDriverSuccess);
  EXPECT_EQ(Status(first, c::IOCTL_CAN_RELEASE), c::kDriverSuccess) << "unclaimed: success";
  const auto third = Open();
  EXPECT_EQ(Status(third, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverClaimedByOther);
  Close(third);
  EXPECT_EQ(Status(first, c::IOCTL_CAN_CLAIM), c::kDriverSuccess) << "the holder's close drops it";
}

TEST_F(RequestDispatchTest, RunStartChecksBeforeAnythingElse) {
  const auto owner = Open();
  const auto other = Open();
  RunRecordFields bad;
  bad.tickDivider = 0;
  EXPECT_EQ(StartRun(owner, bad), c::kDriverInvalidRunRecord);
  EXPECT_FALSE(channelOne_->Channel().RunActive()) << "a refused start leaves no run";
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);

  // A run can be started by a handle without the claim.
  EXPECT_EQ(Status(other, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ASSERT_EQ(StartRun(owner, {}), c::kDriverSuccess);
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 1u);
  EXPECT_EQ(StartRun(owner, bad), c::kDriverInvalidRunRecord) << "validation comes first";
  EXPECT_EQ(StartRun(other, {}), c::kDriverRunActive);

  EXPECT_EQ(Status(other, c::IOCTL_CAN_STOP_RUN), c::kDriverNotOwner);
  EXPECT_EQ(Status(other, c::IOCTL_CAN_WATCHDOG_ENABLE), c::kDriverNotOwner);
  EXPECT_EQ(Status(other, c::IOCTL_CAN_WATCHDOG_DISABLE), c::kDriverNotOwner);
  EXPECT_EQ(Status(other, c::IOCTL_CAN_LED_PER_CYCLE), c::kDriverNotOwner);
  EXPECT_EQ(Status(owner, c::IOCTL_CAN_GET_LATENCY_TIME), c::kDriverLatencyNotMeasured);

  EXPECT_EQ(Status(owner, c::IOCTL_CAN_WATCHDOG_ENABLE), c::kDriverSuccess);
  EXPECT_EQ(Controller(1).Port2Output() & reg::kPort2WatchdogOff, 0);
  EXPECT_EQ(Status(owner, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_NE(Controller(1).Port2Output() & reg::kPort2WatchdogOff, 0) << "watchdog off at stop";
  EXPECT_EQ(host_->Interrupt(kCardVector).HandlerCount(), 0u);
  EXPECT_EQ(StartRun(other, {}), c::kDriverSuccess) << "a new run after the stop";
}

TEST_F(RequestDispatchTest, StartWithoutControllerOrInterrupt) {
  const auto file = Open();
  Controller(1).SetResetStatus(true);
  EXPECT_EQ(StartRun(file, {}), c::kDriverNoController);
  Controller(1).SetResetStatus(false);

  common::ChannelResources noInterrupt;
  channelOne_->Channel().SetResources(noInterrupt);
  EXPECT_EQ(StartRun(file, {}), c::kDriverInterruptConnectFailed);
  EXPECT_FALSE(channelOne_->Channel().RunActive());
}

TEST_F(RequestDispatchTest, ChannelTwoShareOfTheCard) {
  const auto file = Open();
  std::array<std::uint8_t, 4> status{};
  const std::array<std::uint8_t, 1> divider4{4};
  const std::array<std::uint8_t, 1> divider2{2};
  const auto attach = [&](std::span<const std::uint8_t> input) {
    const auto result = SendInternal(c::IOCTL_CAN_CH2_ATTACH, input, status);
    EXPECT_EQ(result.status, os::kStatusSuccess);
    return c::LoadLittleEndian<std::uint32_t>(status.data());
  };
  const auto detach = [&] {
    EXPECT_EQ(SendInternal(c::IOCTL_CAN_CH2_DETACH, {}, {}).status, os::kStatusSuccess);
  };
  const auto pciEnabled = [&] { return (channelOne_->BridgeInterruptControl() & 0x40) != 0; };

  // Detaching more often than attached never counts below zero.
  detach();
  EXPECT_EQ(channelOne_->Channel().UseCount(), 0);

  ASSERT_EQ(attach(divider4), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 1);
  EXPECT_TRUE(pciEnabled());
  EXPECT_EQ(attach(divider2), c::kDriverInvalidRunRecord) << "the card runs with divider 4";

  RunRecordFields other;
  other.tickDivider = 2;
  EXPECT_EQ(StartRun(file, other), c::kDriverInvalidRunRecord);
  ASSERT_EQ(StartRun(file, {}), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 2);
  EXPECT_EQ(Status(file, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 1);
  EXPECT_TRUE(pciEnabled()) << "channel 2 still needs the interrupt";

  std::array<std::uint8_t, 48> resources{};
  const auto got = SendInternal(c::IOCTL_CAN_CH2_GET_RESOURCES, {}, resources);
  EXPECT_EQ(got.information, 48u);
  EXPECT_EQ(c::LoadLittleEndian<std::uint32_t>(resources.data()), kCardVector);

  detach();
  EXPECT_EQ(channelOne_->Channel().UseCount(), 0);
  EXPECT_FALSE(pciEnabled());
  detach();
  EXPECT_EQ(channelOne_->Channel().UseCount(), 0);

  Controller(1).SetResetStatus(true);
  EXPECT_EQ(attach(divider4), c::kDriverNoController);
  EXPECT_EQ(channelOne_->Channel().UseCount(), 0);
}

}  // namespace
}  // namespace vantor::canlayer::testing

namespace vantor::canlayer::testing {
namespace {

// The run start's controller accesses on the simulated card, in order:
// detection, clock set-up, bus set-up at 1 Mbit/s.
TEST_F(RequestDispatchTest, RunStartProgramsTheControllerInOrder) {
  const auto file = Open();
  host_->Hardware().Log().Enable(true);
  (void)host_->Hardware().Log().Take();
  ASSERT_EQ(StartRun(file, {}), c::kDriverSuccess);
  const auto accesses = host_->Hardware().Log().Take();
  host_->Hardware().Log().Enable(false);

  const std::uint64_t base = card_->BarInfo(2).address;
  std::vector<std::string> trace;
  for (const devhost::AccessRecord& access : accesses) {
    if (access.address < base || access.address >= base + 0x100) continue;
    const bool write = access.kind == devhost::AccessKind::kWrite8;
    char line[16];
    std::snprintf(line, sizeof line, "%c %02X %02X", write ? 'W' : 'R',
                  static_cast<unsigned>(access.address - base), access.value);
    trace.emplace_back(line);
  }
  std::vector<std::string> expected{"R 02 61", "W EF FC", "W 00 41", "W AF 3F", "W 00 00",
                                    "R CF BC", "W 00 41", "W 02 41", "W 1F 33", "W 00 00",
                                    "W EF F8", "W 00 41", "W 2F 08", "W 3F 40", "W 4F 23"};
  for (int n = 1; n <= 15; ++n) {
    char line[16];
    std::snprintf(line, sizeof line, "W %02X 7F", 16 * n);
    expected.emplace_back(line);
  }
  expected.insert(expected.end(), {"W 00 00", "W EF E8"});
  EXPECT_EQ(trace, expected);
}

}  // namespace
}  // namespace vantor::canlayer::testing

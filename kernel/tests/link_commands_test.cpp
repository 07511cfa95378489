// The link commands on an in-process kernel whose driver link is a fake.
#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "common/command_codes.h"
#include "common/driver_records.h"
#include "common/driver_requests.h"
#include "kernel/core/exchange_timeout.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/request_areas.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace sr = common::can_start_record;
namespace id = common::kernel_identity;

struct RecordedRequest {
  std::uint32_t code;
  std::vector<std::uint8_t> input;
};

// A driver link whose answers the test decides.
class FakeDriverLink final : public DriverLinkPort {
 public:
  struct Answer {
    common::StatusCode sent = common::kKernelSuccess;
    std::vector<std::pair<std::size_t, std::uint8_t>> bytes;  // written into the output
  };

  common::StatusCode openResult = common::kKernelSuccess;
  bool open = false;
  int openCalls = 0;
  std::deque<Answer> answers;
  std::vector<RecordedRequest> requests;

  common::StatusCode OpenCanDevice(common::Channel,
                                   common::ConstByteView<common::kCanStartRecordSize>) override {
    ++openCalls;
    if (openResult == common::kKernelSuccess) open = true;
    return openResult;
  }
  bool IsOpen() const override { return open; }
  std::string_view DriverVersionText() const override { return {}; }
  common::StatusCode DeviceRequest(std::uint32_t code, std::span<const std::uint8_t> input,
                                   std::span<std::uint8_t> output) override {
    requests.push_back({code, {input.begin(), input.end()}});
    if (answers.empty()) return common::kKernelDriverMissing;
    const Answer answer = answers.front();
    answers.pop_front();
    if (answer.sent != common::kKernelSuccess) return answer.sent;
    for (const auto& [offset, value] : answer.bytes) {
      if (offset < output.size()) output[offset] = value;
    }
    return common::kKernelSuccess;
  }
  const os::Waitable* CycleThread() const override { return nullptr; }
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest&) override {
    return common::kKernelWrongFunctionNumber;
  }
  void CloseCanDevice() override { open = false; }
};

std::vector<std::pair<std::size_t, std::uint8_t>> Word(std::size_t offset, std::uint32_t value) {
  return {{offset, static_cast<std::uint8_t>(value)},
          {offset + 1, static_cast<std::uint8_t>(value >> 8)},
          {offset + 2, static_cast<std::uint8_t>(value >> 16)},
          {offset + 3, static_cast<std::uint8_t>(value >> 24)}};
}

class LinkCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_ = os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    kernel_.link.communicationMapping = std::move(block_);
    kernel_.standard.applicationReady =
        os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    kernel_.standard.kernelReady = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    kernel_.driverLink = &driver_;
    UseChannel(common::Channel::CanOne);
  }

  void UseChannel(common::Channel channel) {
    kernel_.instance = {common::InterfaceType::Pci, channel};
    kernel_.settings.hardware.Set(common::can_hardware_parameters::kCanInterface, 2);
    kernel_.settings.hardware.Set(common::can_hardware_parameters::kKernelModus,
                                  static_cast<std::uint8_t>(channel));
  }

  common::StatusCode Run(std::uint32_t code,
                         AfterCommand expectedAfter = AfterCommand::KeepServing) {
    auto block = kernel_.Block();
    block.Set(cb::kCommandCode, code);
    block.Set(cb::kResult, common::kKernelSuccess);
    kernel_.standard.applicationReady.Set();
    EXPECT_EQ(DispatchCommand(kernel_), expectedAfter);
    // Every command is answered exactly as the handshake wants it.
    EXPECT_EQ(os::WaitForOne(kernel_.standard.applicationReady, 0).kind, os::WaitKind::Timeout);
    EXPECT_EQ(os::WaitForOne(kernel_.standard.kernelReady, 0).kind, os::WaitKind::Signalled);
    kernel_.standard.kernelReady.Reset();
    return block.Get(cb::kResult);
  }

  void WriteStartRecord(std::string_view deviceName = "tarnis1") {
    auto start = *kernel_.Block().MutableWindow<common::kCanStartRecordSize>(cb::kPayloadOffset);
    start.Set(sr::kCanInterface, 2);
    start.Set(sr::kKernelModus, 1);
    start.Set(sr::kBaudRateForCan, 5);
    start.Set(sr::kMeasureLatenzTime, 1);
    start.Set(sr::kLookAheadDesPosiMaxNo, 40);
    start.Set(sr::kInterruptCycle, 2048);
    start.Set(sr::kTimeForGlobalSynPeriod, 7);
    start.Set(sr::kSynMaxWaitTime, 9);
    start.Set(sr::kWatchProcessId, 4242);
    start.Set(sr::kWindowsTimerRes, 1);
    start.Set(sr::kPathWindowsTimerRes, 2);
    start.Set(sr::kRealTimeThreadIntWaitTime, 0);
    ASSERT_TRUE(start.SetText(sr::kDeviceName, deviceName));
  }

  common::ConstByteView<common::kKernelIdentitySize> Identity() {
    EXPECT_EQ(Run(3), common::kKernelSuccess);
    return *kernel_.Block().Window<common::kKernelIdentitySize>(cb::kPayloadOffset);
  }

  os::Mapping block_;
  FakeDriverLink driver_;
  Kernel kernel_;
};

TEST_F(LinkCommandsTest, OpenHardwareTakesTheStartRecord) {
  kernel_.data.state.SetCncInitialised(true);
  WriteStartRecord();
  EXPECT_EQ(Run(4), common::kKernelSuccess);
  EXPECT_FALSE(kernel_.data.state.IsCncInitialised());
  EXPECT_STREQ(kernel_.settings.deviceName.data(), "tarnis1");
  EXPECT_TRUE(kernel_.settings.normalPeriodActive);
  EXPECT_FALSE(kernel_.settings.pathPeriodActive);

  const auto identity = Identity();
  EXPECT_EQ(identity.Get(id::kCanInterface), 2);
  EXPECT_EQ(identity.Get(id::kKernelModus), 1);
  EXPECT_EQ(identity.Get(id::kBaudRateForCan), 5);
  EXPECT_EQ(identity.Get(id::kMeasureLatenzTime), 1u);
  EXPECT_EQ(identity.Get(id::kLookAheadDesPosiMaxNo), 40);
  EXPECT_EQ(identity.Get(id::kInterruptCycle), 2048u);
  EXPECT_EQ(identity.Get(id::kTimeForGlobalSynPeriod), 7u);
  EXPECT_EQ(identity.Get(id::kSynMaxWaitTime), 9u);
  EXPECT_EQ(identity.Get(id::kWindowsTimerRes), 1u);
  EXPECT_EQ(identity.Get(id::kPathWindowsTimerRes), 2u);
  EXPECT_EQ(identity.Get(id::kRealTimeThreadIntWaitTime), sr::kDefaultRealTimeThreadIntWaitTime);
  EXPECT_EQ(identity.Get(id::kWatchProcessId), 4242u);
  EXPECT_EQ(kernel_.savedSettings.hardware, kernel_.settings.hardware);

  // Command 2 ends the period that command 4 began.
  EXPECT_EQ(Run(2, AfterCommand::EndKernel), common::kKernelSuccess);
  EXPECT_FALSE(kernel_.settings.normalPeriodActive);
}

// Code 3 reports the time-out the cycle waits, which has an end whatever
// the start record asked for.
TEST_F(LinkCommandsTest, IdentityReportsTheExchangeTimeoutTheCycleUses) {
  struct Case {
    std::uint32_t inRecord;
    std::uint32_t reported;
  };
  const Case cases[] = {{0, sr::kDefaultRealTimeThreadIntWaitTime},
                        {250, 250},
                        {kLongestExchangeTimeoutMs + 1, kLongestExchangeTimeoutMs},
                        {0xFFFFFFFFu, kLongestExchangeTimeoutMs}};
  for (const Case& c : cases) {
    driver_.open = false;
    WriteStartRecord();
    kernel_.Block()
        .MutableWindow<common::kCanStartRecordSize>(cb::kPayloadOffset)
        ->Set(sr::kRealTimeThreadIntWaitTime, c.inRecord);
    ASSERT_EQ(Run(4), common::kKernelSuccess);
    EXPECT_EQ(Identity().Get(id::kRealTimeThreadIntWaitTime), c.reported) << c.inRecord;
  }
}

TEST_F(LinkCommandsTest, OpenHardwareOnNoCanKeepsTheTimingZero) {
  UseChannel(common::Channel::NoCan);
  WriteStartRecord();
  EXPECT_EQ(Run(4), common::kKernelSuccess);
  EXPECT_FALSE(kernel_.settings.normalPeriodActive);
  const auto identity = Identity();
  EXPECT_EQ(identity.Get(id::kKernelModus), 0);
  EXPECT_EQ(identity.Get(id::kBaudRateForCan), 0);
  EXPECT_EQ(identity.Get(id::kInterruptCycle), 0u);
  EXPECT_EQ(identity.Get(id::kWindowsTimerRes), 0u);
  EXPECT_EQ(identity.Get(id::kWatchProcessId), 4242u);
}

TEST_F(LinkCommandsTest, OpenHardwareFailureKeepsTheParametersButNotTheCncMode) {
  driver_.openResult = common::kKernelDriverMissing;
  kernel_.data.state.SetCncInitialised(true);
  // A name without room for its terminator is cut to its 20 characters.
  WriteStartRecord("abcdefghijklmnopqrst");
  kernel_.Block().Fill(cb::PayloadAt(sr::kDeviceName.kOffset), 24, 'x');
  EXPECT_EQ(Run(4), common::kKernelDriverMissing);
  EXPECT_FALSE(kernel_.data.state.IsCncInitialised());
  EXPECT_EQ(std::string(kernel_.settings.deviceName.data()), std::string(20, 'x'));
  const auto identity = Identity();
  EXPECT_EQ(identity.Get(id::kBaudRateForCan), 0);
  EXPECT_EQ(identity.Get(id::kWatchProcessId), 0u);
}

TEST_F(LinkCommandsTest, OpenHardwareTwiceIsRefusedWithoutTouchingTheRunningLink) {
  WriteStartRecord();
  ASSERT_EQ(Run(4), common::kKernelSuccess);
  kernel_.data.state.SetCncInitialised(true);
  EXPECT_EQ(Run(4), common::kKernelOutOfResources);
  EXPECT_EQ(driver_.openCalls, 1);
  EXPECT_TRUE(kernel_.data.state.IsCncInitialised());
}

struct DriverCommandCase {
  const char* name;
  std::uint32_t code;
  std::uint32_t request;
  FakeDriverLink::Answer answer;
  common::StatusCode expected;
};

void PrintTo(const DriverCommandCase& c, std::ostream* out) { *out << c.name; }

class DriverCommandTest : public LinkCommandsTest,
                          public ::testing::WithParamInterface<DriverCommandCase> {};

TEST_P(DriverCommandTest, PassesTheDriverStatusOn) {
  const auto& c = GetParam();
  driver_.answers.push_back(c.answer);
  EXPECT_EQ(Run(c.code), c.expected) << c.name;
  ASSERT_EQ(driver_.requests.size(), 1u);
  EXPECT_EQ(driver_.requests[0].code, c.request);
}

constexpr std::size_t kStaticTableStatus = common::static_port_table::kStatus.kOffset;
constexpr std::size_t kAccessStatus = common::static_port_access::kStatus.kOffset;

INSTANTIATE_TEST_SUITE_P(
    Requests, DriverCommandTest,
    ::testing::Values(
        DriverCommandCase{"claim",
                          5,
                          common::IOCTL_CAN_CLAIM,
                          {common::kKernelSuccess, Word(0, common::kDriverSuccess)},
                          common::kKernelSuccess},
        DriverCommandCase{"claim held by another",
                          5,
                          common::IOCTL_CAN_CLAIM,
                          {common::kKernelSuccess, Word(0, common::kDriverClaimedByOther)},
                          common::kDriverClaimedByOther},
        DriverCommandCase{"release not owner",
                          6,
                          common::IOCTL_CAN_RELEASE,
                          {common::kKernelSuccess, Word(0, common::kDriverNotOwner)},
                          common::kDriverNotOwner},
        // The request itself fails: its own code, never a stale status.
        DriverCommandCase{"release without device",
                          6,
                          common::IOCTL_CAN_RELEASE,
                          {common::kKernelDriverMissing, {}},
                          common::kKernelDriverMissing},
        // The driver answers but writes no status: the preset error stands.
        DriverCommandCase{"claim without status",
                          5,
                          common::IOCTL_CAN_CLAIM,
                          {common::kKernelSuccess, {}},
                          common::kKernelDriverMissing},
        DriverCommandCase{"port out",
                          8,
                          common::IOCTL_CAN_DYN_PORT_OUT,
                          {common::kKernelSuccess, Word(0, common::kDriverSuccess)},
                          common::kKernelSuccess},
        DriverCommandCase{
            "static table",
            9,
            common::IOCTL_CAN_STA_PORT_REPORT,
            {common::kKernelSuccess, Word(kStaticTableStatus, common::kDriverSuccess)},
            common::kKernelSuccess},
        DriverCommandCase{"static access refused",
                          10,
                          common::IOCTL_CAN_STA_PORT_ACCESS,
                          {common::kKernelSuccess, Word(kAccessStatus, common::kDriverNoRun)},
                          common::kDriverNoRun}),
    [](const ::testing::TestParamInfo<DriverCommandCase>& info) {
      std::string name = info.param.name;
      for (auto& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

TEST_F(LinkCommandsTest, PortInCopiesTheByteOnlyOnSuccess) {
  auto block = kernel_.Block();
  block.Store<std::uint16_t>(cb::PayloadAt(2), 0x378);
  block.Store<std::uint8_t>(cb::kPayloadOffset, 0xEE);

  auto answer = Word(common::dyn_port_in::kStatus.kOffset, common::kDriverNoRun);
  answer.push_back({0, 0x5C});
  driver_.answers.push_back({common::kKernelSuccess, answer});
  EXPECT_EQ(Run(7), common::kDriverNoRun);
  EXPECT_EQ(*block.Load<std::uint8_t>(cb::kPayloadOffset), 0xEE);

  answer = Word(common::dyn_port_in::kStatus.kOffset, common::kDriverSuccess);
  answer.push_back({0, 0x5C});
  driver_.answers.push_back({common::kKernelSuccess, answer});
  EXPECT_EQ(Run(7), common::kKernelSuccess);
  EXPECT_EQ(*block.Load<std::uint8_t>(cb::kPayloadOffset), 0x5C);
  ASSERT_EQ(driver_.requests.size(), 2u);
  EXPECT_EQ(driver_.requests[1].input, (std::vector<std::uint8_t>{0x78, 0x03}));
}

TEST_F(LinkCommandsTest, StaticPortTableGoesSlotBySlot) {
  auto block = kernel_.Block();
  for (std::size_t slot = 0; slot < 16; ++slot) {
    block.Store<std::uint8_t>(cb::PayloadAt(4 * slot), 1);
    block.Store<std::uint8_t>(cb::PayloadAt(4 * slot + 1), 0x99);  // not copied
    block.Store<std::uint16_t>(cb::PayloadAt(4 * slot + 2),
                               static_cast<std::uint16_t>(0x300 + slot));
  }
  driver_.answers.push_back(
      {common::kKernelSuccess, Word(kStaticTableStatus, common::kDriverSuccess)});
  EXPECT_EQ(Run(9), common::kKernelSuccess);
  const auto& input = driver_.requests.at(0).input;
  ASSERT_EQ(input.size(), common::kStaticPortTableSize);
  EXPECT_EQ(input[4 * 15], 1);
  EXPECT_EQ(input[4 * 15 + 1], 0);
  EXPECT_EQ(input[4 * 15 + 2], 0x0F);
  EXPECT_EQ(input[4 * 15 + 3], 0x03);
}

TEST_F(LinkCommandsTest, LatencyNeedsTheCncModeThenConvertsTicks) {
  EXPECT_EQ(Run(14), common::kKernelCncNotInitialized);
  EXPECT_TRUE(driver_.requests.empty());

  kernel_.data.motionMutex = os::Mutex::CreateUnnamed(false).take();
  kernel_.data.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
  kernel_.data.state.SetCncInitialised(true);
  kernel_.data.state.cycleRunning = 1;
  kernel_.data.state.busOk = 1;

  namespace lr = common::latency_record;
  auto answer = Word(lr::kStatus.kOffset, common::kDriverSuccess);
  for (auto w :
       {Word(lr::kCycleMicroseconds.kOffset, 1024), Word(lr::kInterruptIntervalMin.kOffset, 2999),
        Word(lr::kInterruptIntervalMax.kOffset, 3001),
        Word(lr::kCompletionIntervalMin.kOffset, static_cast<std::uint32_t>(-2999)),
        Word(lr::kCompletionIntervalMax.kOffset, 10'000'000),
        Word(lr::kCounterFrequency.kOffset, 3'000'000)}) {
    answer.insert(answer.end(), w.begin(), w.end());
  }
  driver_.answers.push_back({common::kKernelSuccess, answer});
  EXPECT_EQ(Run(14), common::kKernelSuccess);
  auto block = kernel_.Block();
  EXPECT_EQ(*block.Load<std::uint32_t>(cb::PayloadAt(0)), 1024u);
  EXPECT_EQ(*block.Load<std::uint32_t>(cb::PayloadAt(4)), 999u);
  EXPECT_EQ(*block.Load<std::uint32_t>(cb::PayloadAt(8)), 1000u);
  EXPECT_EQ(*block.Load<std::int32_t>(cb::PayloadAt(12)), -999);
  EXPECT_EQ(*block.Load<std::uint32_t>(cb::PayloadAt(16)), 3333333u);

  driver_.answers.push_back(
      {common::kKernelSuccess, Word(lr::kStatus.kOffset, common::kDriverLatencyNotMeasured)});
  EXPECT_EQ(Run(14), common::kDriverLatencyNotMeasured);
}

TEST_F(LinkCommandsTest, DataRecordKeepsThePresetResult) {
  EXPECT_EQ(Run(150), common::kKernelCncNotInitialized);
  kernel_.data.state.SetCncInitialised(true);
  kernel_.Block().Fill(cb::kPayloadOffset, 40, 0x77);
  EXPECT_EQ(Run(150), common::kKernelSuccess);
  for (std::size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(*kernel_.Block().Load<std::uint8_t>(cb::PayloadAt(i)), 0) << i;
  }
  EXPECT_EQ(*kernel_.Block().Load<std::uint8_t>(cb::PayloadAt(32)), 0x77);
}

TEST(CommandTableTest, EveryCodeHasExactlyOneHandler) {
  for (std::uint32_t code = 0; code <= 200; ++code) {
    const bool rejected = CommandHandlerFor(code) == RejectUnknownCommand;
    const bool known = common::IsKnownCommandCode(code);
    EXPECT_EQ(rejected, !known || IsCommandAwaitingHandler(code)) << code;
  }
  EXPECT_EQ(CommandHandlerFor(0xFFFFFFFF), RejectUnknownCommand);
  for (std::uint32_t code : {1u,  2u,  3u,  4u,  5u,  11u, 12u, 13u, 14u,  15u,
                             16u, 24u, 36u, 46u, 52u, 70u, 72u, 82u, 108u, 150u}) {
    EXPECT_FALSE(IsCommandAwaitingHandler(code)) << code;
  }
  for (std::uint32_t code = 17; code <= 35; ++code) {
    EXPECT_FALSE(IsCommandAwaitingHandler(code)) << code;
  }
}

}  // namespace
}  // namespace vantor::kernel

// A real Motrix process linked to the scripted driver, which this test
// process serves: command 4, the heartbeat, raw requests of the SDO area,
// the stalled driver and the end of the driver run with the kernel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/command_codes.h"
#include "common/kernel_link_records.h"
#include "kernel/tests/driver_link_fixture.h"
#include "kernel/tests/kernel_test_client.h"
#include "kernel/tests/scripted_can_driver.h"
#include "platform/os/runtime_dir.h"

namespace vantor::kernel::testing {
namespace {

namespace cb = common::communication_block;
using common::Channel;
using common::CommandCode;
using test_client::KernelAnswer;
using test_client::LibrarySide;
using namespace std::chrono_literals;

constexpr std::uint32_t kAnswerTimeoutMs = LibrarySide::kAnswerTimeoutMs;

class KernelCycleProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseNamespaceOfThisProcess("kernel-cycle");
    host_ = std::make_unique<ScriptedDriverHost>();
    ASSERT_TRUE(host_->started());
    driver().StartPacing(2ms);
  }

  void TearDown() override {
    if (client_) client_->EndLeftoverKernel();
    client_.reset();
    host_.reset();
    os::RemoveRuntimeDirectoryIfUnused();
  }

  ScriptedCanDriver& driver() { return host_->driver(); }

  LibrarySide& StartKernel(Channel channel) {
    client_ = std::make_unique<LibrarySide>(channel);
    EXPECT_TRUE(client_->StartKernelAnsweringPing(common::InterfaceType::Pci).answered);
    return *client_;
  }

  KernelAnswer OpenHardware(const StartSettings& settings = {}) {
    return client_->OpenHardware(StartRecord(settings));
  }

  void EndKernel() {
    const auto answer = client_->Command(CommandCode::TerminateKernel);
    EXPECT_TRUE(answer.answered);
    EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
  }

  std::unique_ptr<ScriptedDriverHost> host_;
  std::unique_ptr<LibrarySide> client_;
};

TEST_F(KernelCycleProcessTest, OpenHardwareLinksTheDriverAndTheKernelsEndEndsTheRun) {
  StartKernel(Channel::CanOne);
  const auto opened = OpenHardware();
  ASSERT_TRUE(opened.answered);
  EXPECT_EQ(opened.result, common::kKernelSuccess);

  EXPECT_EQ(driver().Opens(), 2);
  EXPECT_EQ(driver().RunStarts(), 1);
  const auto run = driver().LastRunRecord();
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->Get(common::run_record::kInterfaceKind), 2);
  EXPECT_EQ(run->Get(common::run_record::kCycleDivider), 5);
  EXPECT_EQ(run->Get(common::run_record::kRunMode), common::run_record::kRunModeBuffered);
  EXPECT_EQ(driver().VersionRequests(), 1);
  EXPECT_TRUE(Eventually([&] { return driver().GlobalMask() == 0x7FF; }));
  EXPECT_EQ(driver().ReceiveObjectMask(), 0x7FF);

  // The heartbeat flips between 0x00 and 0xFF while the cycle runs.
  int flips = 0;
  std::uint8_t last = *client_->Block().Load<std::uint8_t>(cb::kHeartbeat.kOffset);
  EXPECT_TRUE(Eventually([&] {
    const std::uint8_t now = *client_->Block().Load<std::uint8_t>(cb::kHeartbeat.kOffset);
    EXPECT_TRUE(now == cb::kHeartbeatLow || now == cb::kHeartbeatHigh);
    if (now != last) ++flips;
    last = now;
    return flips >= 6;
  }));

  EndKernel();
  EXPECT_TRUE(Eventually([&] { return driver().RunEnds() == 1; }));
  EXPECT_TRUE(Eventually([&] { return driver().Cleanups() == 2; }));
  EXPECT_FALSE(driver().RunActive());
}

TEST_F(KernelCycleProcessTest, RawRequestsOfTheSdoAreaGoOverTheBus) {
  driver().AnswerFrame(0x601, 0x581, {0x43, 0x00, 0x10, 0x00, 0x92, 0x01, 0x02, 0x00});
  StartKernel(Channel::CanOne);
  ASSERT_EQ(OpenHardware().result, common::kKernelSuccess);

  struct Case {
    const char* name;
    std::uint16_t cobId;
    std::vector<std::uint8_t> data;
    std::uint16_t answerCobId;
    std::uint32_t timeoutMicroseconds;
    common::StatusCode expected;
    std::vector<std::uint8_t> answer;
  };
  const Case cases[] = {
      {"sdo upload",
       0x601,
       {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0},
       0x581,
       1'000'000,
       common::kKernelSuccess,
       {0x43, 0x00, 0x10, 0x00, 0x92, 0x01, 0x02, 0x00}},
      {"nmt before cnc mode", 0, {0x81, 0x00}, 0, 1'000'000, common::kKernelSuccess, {}},
      {"silent node",
       0x602,
       {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0},
       0x582,
       20'000,
       common::kKernelCanMessageTimeout,
       {}},
      {"nmt command not allowed",
       0,
       {0x03, 0x01},
       0,
       1'000'000,
       common::kKernelCanMessageInvalid,
       {}},
  };
  for (const auto& c : cases) {
    const auto answer = client_->SdoRequest(c.cobId, c.data, c.answerCobId, c.timeoutMicroseconds);
    ASSERT_TRUE(answer.answered) << c.name;
    EXPECT_EQ(answer.result, c.expected) << c.name;
    if (c.expected != common::kKernelSuccess) continue;
    const auto block = client_->Block();
    ASSERT_EQ(block.Get(cb::kSdoAnswerLength), c.answer.size()) << c.name;
    const auto data = block.GetBytes(cb::kSdoAnswerData);
    EXPECT_TRUE(std::equal(c.answer.begin(), c.answer.end(), data.begin())) << c.name;
  }

  const auto frames = driver().SentFrames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].record, 14);
  EXPECT_EQ(frames[0].cobId, 0x601);
  EXPECT_EQ(frames[1], (BusFrame{14, 0, 2, {0x81, 0x00}, false}));
  EXPECT_EQ(frames[2].cobId, 0x602);
  EndKernel();
}

TEST_F(KernelCycleProcessTest,
       SdoRequestsWithTimeOutsPastTheSigned32BitRangeAreServedAndTimedTruly) {
  driver().AnswerFrame(0x601, 0x581, {0x43, 0x00, 0x10, 0x00, 0x92, 0x01, 0x02, 0x00});
  StartKernel(Channel::CanOne);
  ASSERT_EQ(OpenHardware().result, common::kKernelSuccess);

  // The node answers within a few cycles; the elapsed time must say so,
  // however long the application was prepared to wait.
  constexpr std::uint32_t kElapsedBoundMicroseconds = kAnswerTimeoutMs * 1000;
  for (const std::uint32_t timeout : {0x7FFF'FFFFu, 0x8000'0000u, 0xFFFF'FFFFu}) {
    SCOPED_TRACE(timeout);
    const auto answer =
        client_->SdoRequest(0x601, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, 0x581, timeout);
    ASSERT_TRUE(answer.answered);
    EXPECT_EQ(answer.result, common::kKernelSuccess);
    const auto block = client_->Block();
    EXPECT_EQ(block.Get(cb::kSdoAnswerLength), 8u);
    EXPECT_LT(block.Get(cb::kSdoElapsedMicroseconds), kElapsedBoundMicroseconds);
  }
  EXPECT_EQ(driver().SentFrames().size(), 3u);
  EndKernel();
}

TEST_F(KernelCycleProcessTest, StalledDriverEndsTheCycleAndAnswersThePendingSdoRequestAtOnce) {
  StartKernel(Channel::CanOne);
  StartSettings settings;
  // Far below the request's own minute, and long enough that a loaded
  // machine does not end the cycle before the stall.
  settings.exchangeTimeoutMs = 1000;
  ASSERT_EQ(OpenHardware(settings).result, common::kKernelSuccess);

  // A request that would wait a minute for a silent node.
  auto block = client_->Block();
  block.Set(cb::kSdoRequestCobId, 0x603);
  block.Set(cb::kSdoRequestLength, 8);
  block.Set(cb::kSdoAnswerCobId, 0x583);
  block.Set(cb::kSdoTimeoutMicroseconds, 60'000'000);
  client_->SignalSdoRequest();
  ASSERT_TRUE(Eventually([&] { return !driver().SentFrames().empty(); }));
  driver().Stall(true);

  const auto started = std::chrono::steady_clock::now();
  const auto answer = client_->AwaitSdoAnswer(kAnswerTimeoutMs);
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.result, common::kDriverNoController);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_EQ(driver().Aborts(), 1);
  EXPECT_FALSE(driver().ExchangeHeld());

  // The cycle is gone for the rest of the kernel's life; the kernel still
  // answers, and ends cleanly.
  EXPECT_EQ(client_->SdoRequest(0, {0x81, 0x00}, 0, 1000).result, common::kDriverNoController);
  EXPECT_EQ(client_->Command(CommandCode::Ping).result, common::kKernelSuccess);
  EndKernel();
  EXPECT_TRUE(Eventually([&] { return driver().RunEnds() == 1; }));
}

// The two ways an application or the system ends a kernel.
enum class Ending { CommandTwo, TerminationSignal };

std::string EndingName(Ending ending) {
  return ending == Ending::CommandTwo ? "command 2" : "SIGTERM";
}

class KernelEndingTest : public KernelCycleProcessTest {
 protected:
  void End(Ending ending) {
    if (ending == Ending::CommandTwo) {
      const auto answer = client_->Command(CommandCode::TerminateKernel);
      EXPECT_TRUE(answer.answered);
      EXPECT_EQ(answer.result, common::kKernelSuccess);
    } else {
      ASSERT_EQ(::kill(static_cast<pid_t>(client_->kernel().id()), SIGTERM), 0);
    }
  }

  // The kernel is gone without a crash, and so are its driver run and its
  // held exchange.
  void ExpectCleanEnd(int runEndsBefore) {
    ASSERT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
    EXPECT_EQ(client_->kernel().exitCode(), 0u);
    EXPECT_TRUE(Eventually([&] { return driver().RunEnds() == runEndsBefore + 1; }));
    EXPECT_FALSE(driver().ExchangeHeld());
  }

  // A request that waits a minute for a silent node.
  void SignalLongSdoRequest() {
    auto block = client_->Block();
    block.Set(cb::kSdoRequestCobId, 0x604);
    block.Set(cb::kSdoRequestLength, 8);
    block.Set(cb::kSdoAnswerCobId, 0x584);
    block.Set(cb::kSdoTimeoutMicroseconds, 60'000'000);
    client_->SignalSdoRequest();
  }
};

TEST_F(KernelEndingTest, PendingSdoRequestIsAnsweredBeforeTheKernelEnds) {
  for (const Ending ending : {Ending::CommandTwo, Ending::TerminationSignal}) {
    SCOPED_TRACE(EndingName(ending));
    const int runEndsBefore = driver().RunEnds();
    StartKernel(Channel::CanOne);
    ASSERT_EQ(OpenHardware().result, common::kKernelSuccess);
    const std::size_t framesBefore = driver().SentFrames().size();
    SignalLongSdoRequest();
    ASSERT_TRUE(Eventually([&] { return driver().SentFrames().size() > framesBefore; }));

    End(ending);
    const auto answer = client_->AwaitSdoAnswer(kAnswerTimeoutMs);
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.result, common::kDriverNoController);
    ExpectCleanEnd(runEndsBefore);
  }
}

// The start record's largest exchange time-out would be a wait without end
// on a driver that holds the exchange and never answers.
TEST_F(KernelEndingTest, StalledDriverWithTheLargestExchangeTimeoutDoesNotHoldTheKernel) {
  for (const Ending ending : {Ending::CommandTwo, Ending::TerminationSignal}) {
    SCOPED_TRACE(EndingName(ending));
    const int runEndsBefore = driver().RunEnds();
    const int abortsBefore = driver().Aborts();
    StartKernel(Channel::CanOne);
    StartSettings settings;
    settings.exchangeTimeoutMs = 0xFFFFFFFFu;
    ASSERT_EQ(OpenHardware(settings).result, common::kKernelSuccess);
    driver().Stall(true);
    ASSERT_TRUE(Eventually([&] { return driver().ExchangeHeld(); }));

    End(ending);
    ExpectCleanEnd(runEndsBefore);
    EXPECT_EQ(driver().Aborts(), abortsBefore + 1);
    driver().Stall(false);
  }
}

TEST_F(KernelCycleProcessTest, NoCanOpensOneHandleAndStartsNoCycle) {
  StartKernel(Channel::NoCan);
  const auto opened = OpenHardware();
  ASSERT_TRUE(opened.answered);
  EXPECT_EQ(opened.result, common::kKernelSuccess);
  EXPECT_EQ(driver().Opens(), 1);
  EXPECT_EQ(driver().RunStarts(), 0);
  EXPECT_EQ(client_->SdoRequest(0, {0x81, 0x00}, 0, 1000).result,
            common::kKernelCanOperationInactive);
  EXPECT_EQ(driver().ExchangesReceived(), 0u);
  EndKernel();
  EXPECT_TRUE(Eventually([&] { return driver().Cleanups() == 1; }));
}

}  // namespace
}  // namespace vantor::kernel::testing

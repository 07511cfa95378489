// The kernel's teardown against a server thread that is still at work: the
// driver link stays closed whatever command was running when the teardown
// began, nothing is served once it has begun, and every request still
// waiting in either area is answered before the block goes away. The link
// is a stand-in whose opening and admission wait at a gate that the test
// opens.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "kernel/core/kernel_status.h"
#include "kernel/services/application_link.h"
#include "kernel/tests/kernel_test_client.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/thread.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
using common::Channel;
using common::ChannelObject;
using common::CommandCode;

constexpr std::uint32_t kDeadlineMs = 10000;
constexpr Channel kChannel = Channel::CanOne;

os::Event ManualEvent() { return os::Event::CreateUnnamed(os::EventReset::Manual, false).take(); }

class GatedDriverLink final : public DriverLinkPort {
 public:
  // Set when a call has reached the gate; the call goes on once the test
  // sets `gate`.
  os::Event atGate = ManualEvent();
  os::Event gate = ManualEvent();
  // Never signalled: the cycle runs for as long as the test lasts.
  os::Event cycle = ManualEvent();
  std::atomic<bool> open{false};
  std::atomic<int> admitted{0};

  common::StatusCode OpenCanDevice(common::Channel,
                                   common::ConstByteView<common::kCanStartRecordSize>) override {
    PassGate();
    open = true;
    return common::kKernelSuccess;
  }
  bool IsOpen() const override { return open; }
  std::string_view DriverVersionText() const override { return {}; }
  common::StatusCode DeviceRequest(std::uint32_t, std::span<const std::uint8_t>,
                                   std::span<std::uint8_t>) override {
    return common::kKernelDriverMissing;
  }
  const os::Waitable* CycleThread() const override { return &cycle; }
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest&) override {
    ++admitted;
    PassGate();
    return common::kKernelSuccess;
  }
  void CloseCanDevice() override { open = false; }

 private:
  void PassGate() {
    atGate.Set();
    static_cast<void>(os::WaitForOne(gate, kDeadlineMs));
  }
};

class StopPathTest : public ::testing::Test {
 protected:
  // Before the fixture's first object: a process stays in the namespace
  // of its first object, unnamed ones included.
  static void SetUpTestSuite() { test_client::UseOwnNamespace("stop-path"); }

  void SetUp() override {
    client_.emplace(kChannel);
    kernel_.driverLink = &link_;
    const std::string commandLine =
        std::string(common::InterfaceKeyword(common::InterfaceType::Pci)) + " -" +
        std::string(common::ChannelKeyword(kChannel));
    ASSERT_TRUE(StartApplicationLink(kernel_, commandLine));
    standardKernelReady_ = OpenEvent(ChannelObject::StandardKernelReadyEvent);
    sdoKernelReady_ = OpenEvent(ChannelObject::SdoKernelReadyEvent);
  }

  void TearDown() override {
    link_.gate.Set();
    if (teardown_.valid()) {
      EXPECT_TRUE(os::WaitForOne(teardown_, kDeadlineMs).acquired()) << "teardown hangs";
    }
    // Harmless after a teardown that ran.
    StopApplicationLink(kernel_);
  }

  static os::Event OpenEvent(ChannelObject object) {
    auto event = os::Event::Open(common::ChannelObjectName(kChannel, object));
    return event ? event.take() : os::Event{};
  }

  static bool Within(const os::Waitable& object) {
    return os::WaitForOne(object, kDeadlineMs).acquired();
  }

  void SignalOpenHardware() {
    client_->Block().CopyIn(cb::kPayloadOffset, testing::StartRecord({}).Bytes());
    client_->SignalCommand(static_cast<std::uint32_t>(CommandCode::OpenHardware));
  }

  // A valid NMT command for all nodes.
  void SignalSdoRequest() {
    auto block = client_->Block();
    block.Set(cb::kSdoRequestCobId, 0);
    block.Set(cb::kSdoRequestLength, 2);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset, 0x81);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset + 1, 0);
    block.Set(cb::kSdoTimeoutMicroseconds, 500000);
    block.Set(cb::kSdoResult, common::kKernelSuccess);
    client_->SignalSdoRequest();
  }

  // Runs the teardown as the main thread does at a termination signal, and
  // returns once it has told the server thread to stop. Only while the
  // server thread is held at the gate: the teardown closes the stop event
  // once that thread has ended.
  void BeginTeardown() {
    teardown_ = os::Thread::Start([this] {
                  StopApplicationLink(kernel_);
                  return 0u;
                }).take();
    ASSERT_TRUE(Within(kernel_.link.stopEvent));
  }

  void FinishTeardown() {
    link_.gate.Set();
    ASSERT_TRUE(Within(teardown_)) << "teardown hangs";
  }

  std::optional<test_client::LibrarySide> client_;
  GatedDriverLink link_;
  Kernel kernel_;
  os::Event standardKernelReady_;
  os::Event sdoKernelReady_;
  os::Thread teardown_;
};

TEST_F(StopPathTest, OpeningThatRunsWhenTheTeardownBeginsIsClosedAfterIt) {
  SignalOpenHardware();
  ASSERT_TRUE(Within(link_.atGate));
  BeginTeardown();
  FinishTeardown();

  // The opening ran to its end and was answered; the teardown closed what
  // it opened.
  ASSERT_TRUE(client_->CommandAnswered());
  EXPECT_EQ(client_->Block().Get(cb::kResult), common::kKernelSuccess);
  EXPECT_FALSE(link_.IsOpen());
}

TEST_F(StopPathTest, RequestsThatArriveWhileTheTeardownBeginsAreAnsweredNotServed) {
  SignalOpenHardware();
  ASSERT_TRUE(Within(link_.atGate));
  // Served in the same wake-up as the opening's end, were it not for the
  // stop.
  SignalSdoRequest();
  BeginTeardown();
  FinishTeardown();

  EXPECT_EQ(link_.admitted.load(), 0);
  ASSERT_TRUE(client_->SdoAnswered());
  EXPECT_EQ(client_->Block().Get(cb::kSdoResult), kCycleNotRunning);
}

TEST_F(StopPathTest, RequestHeldByTheCycleIsAnsweredWhenASignalEndsTheKernel) {
  SignalSdoRequest();
  ASSERT_TRUE(Within(link_.atGate));
  BeginTeardown();
  FinishTeardown();

  EXPECT_EQ(link_.admitted.load(), 1);
  ASSERT_TRUE(client_->SdoAnswered());
  EXPECT_EQ(client_->Block().Get(cb::kSdoResult), kCycleNotRunning);
}

TEST_F(StopPathTest, RequestsWaitingAfterCommandTwoAreAnsweredBeforeTheBlockGoes) {
  client_->SignalCommand(static_cast<std::uint32_t>(CommandCode::TerminateKernel));
  ASSERT_TRUE(Within(standardKernelReady_));
  ASSERT_EQ(client_->Block().Get(cb::kResult), common::kKernelSuccess);

  // Another application's command and raw request come after the end was
  // asked for; the server thread now only waits for the teardown.
  client_->SignalCommand(static_cast<std::uint32_t>(CommandCode::Ping));
  SignalSdoRequest();
  StopApplicationLink(kernel_);

  ASSERT_TRUE(client_->CommandAnswered());
  EXPECT_EQ(client_->Block().Get(cb::kResult), kCycleNotRunning);
  ASSERT_TRUE(client_->SdoAnswered());
  EXPECT_EQ(client_->Block().Get(cb::kSdoResult), kCycleNotRunning);
  EXPECT_EQ(link_.admitted.load(), 0);
}

}  // namespace
}  // namespace vantor::kernel

// The server thread on an in-process kernel whose cycle is a fake: the
// order in which it serves both areas, and the ways a SDO request ends.
#include "kernel/services/communication_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "platform/os/thread.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;

constexpr std::uint32_t kDeadlineMs = 10000;

// The cycle is an event: signalled means the cycle thread has ended.
class FakeCycleLink final : public DriverLinkPort {
 public:
  os::Event cycleEnded = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
  bool cycleStarted = true;
  std::function<common::StatusCode(ApplicationCanRequest&)> admit = [](ApplicationCanRequest&) {
    return common::kKernelSuccess;
  };

  common::StatusCode OpenCanDevice(common::Channel,
                                   common::ConstByteView<common::kCanStartRecordSize>) override {
    return common::kKernelWrongFunctionNumber;
  }
  bool IsOpen() const override { return false; }
  std::string_view DriverVersionText() const override { return {}; }
  common::StatusCode DeviceRequest(std::uint32_t, std::span<const std::uint8_t>,
                                   std::span<std::uint8_t>) override {
    return common::kKernelWrongFunctionNumber;
  }
  const os::Waitable* CycleThread() const override { return cycleStarted ? &cycleEnded : nullptr; }
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest& request) override {
    return admit(request);
  }
  void CloseCanDevice() override {}
};

os::Event ManualEvent(bool signalled) {
  return os::Event::CreateUnnamed(os::EventReset::Manual, signalled).take();
}

class CommunicationThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_.instance = {common::InterfaceType::Pci, common::Channel::CanOne};
    kernel_.link.communicationMapping =
        os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    kernel_.link.stopEvent = ManualEvent(false);
    kernel_.standard.applicationReady = ManualEvent(false);
    kernel_.standard.kernelReady = ManualEvent(false);
    kernel_.sdo.applicationReady = ManualEvent(false);
    kernel_.sdo.kernelReady = ManualEvent(false);
    kernel_.sdo.completion = ManualEvent(true);
    kernel_.driverLink = &link_;
  }

  void TearDown() override {
    kernel_.link.stopEvent.Set();
    if (server_.valid()) {
      EXPECT_TRUE(os::WaitForOne(server_, kDeadlineMs).acquired()) << "server thread hangs";
    }
  }

  void StartServer() {
    server_ = os::Thread::Start([this] { return CommunicationThread(kernel_); }).take();
  }

  void WriteNmtRequest() {
    auto block = kernel_.Block();
    block.Set(cb::kSdoRequestCobId, 0);
    block.Set(cb::kSdoRequestLength, 2);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset, 0x01);
    block.Store<std::uint8_t>(cb::kSdoRequestData.kOffset + 1, 0);
    block.Set(cb::kSdoTimeoutMicroseconds, 500000);
  }

  void SignalCommand(std::uint32_t code) {
    kernel_.Block().Set(cb::kCommandCode, code);
    kernel_.standard.kernelReady.Reset();
    kernel_.standard.applicationReady.Set();
  }

  void SignalSdo() {
    kernel_.sdo.kernelReady.Reset();
    kernel_.sdo.applicationReady.Set();
  }

  bool Answered(const os::Event& kernelReady) {
    return os::WaitForOne(kernelReady, kDeadlineMs).acquired();
  }

  // The server thread hands a request to the cycle by resetting the
  // completion event; there is nothing to wait on for a reset, so look.
  bool AwaitHandOver() {
    const std::uint32_t start = os::GetTickCount();
    while (AnsweredNow(kernel_.sdo.completion)) {
      if (os::TicksBetween(start, os::GetTickCount()) > kDeadlineMs) return false;
      os::Sleep(1);
    }
    return true;
  }

  bool AnsweredNow(const os::Event& kernelReady) {
    return os::WaitForOne(kernelReady, 0).acquired();
  }

  FakeCycleLink link_;
  Kernel kernel_;
  os::Thread server_;
};

TEST_F(CommunicationThreadTest, ServesTheStandardAreaFirstInOneWakeUp) {
  std::atomic<bool> standardAnsweredFirst{false};
  link_.admit = [&](ApplicationCanRequest&) {
    standardAnsweredFirst = AnsweredNow(kernel_.standard.kernelReady);
    return common::kKernelCanMessageInvalid;
  };
  WriteNmtRequest();
  // Both areas are waiting before the thread first looks.
  SignalCommand(1);
  SignalSdo();
  StartServer();
  ASSERT_TRUE(Answered(kernel_.sdo.kernelReady));
  ASSERT_TRUE(Answered(kernel_.standard.kernelReady));
  EXPECT_TRUE(standardAnsweredFirst);
  EXPECT_EQ(kernel_.Block().Get(cb::kSdoResult), common::kKernelCanMessageInvalid);
  EXPECT_EQ(kernel_.Block().Get(cb::kResult), common::kKernelSuccess);
}

TEST_F(CommunicationThreadTest, KeepsServingCommandsWhileARequestIsOnTheBus) {
  WriteNmtRequest();
  StartServer();
  SignalSdo();
  // The request is handed over: the completion event is reset.
  ASSERT_TRUE(AwaitHandOver());
  EXPECT_EQ(kernel_.sdo.cobId, 0);
  EXPECT_EQ(kernel_.sdo.length, 2);
  EXPECT_EQ(kernel_.sdo.answerCobId, 0);

  for (int i = 0; i < 3; ++i) {
    SignalCommand(1);
    ASSERT_TRUE(Answered(kernel_.standard.kernelReady));
  }
  EXPECT_FALSE(AnsweredNow(kernel_.sdo.kernelReady));

  // The cycle ends with the request in hand: answered at once.
  link_.cycleEnded.Set();
  ASSERT_TRUE(Answered(kernel_.sdo.kernelReady));
  EXPECT_EQ(kernel_.Block().Get(cb::kSdoResult), common::kDriverNoController);
  EXPECT_TRUE(AnsweredNow(kernel_.sdo.completion));
}

TEST_F(CommunicationThreadTest, FinishesACompletedRequestWithItsAnswer) {
  auto block = kernel_.Block();
  block.Set(cb::kSdoRequestCobId, 0x601);
  block.Set(cb::kSdoRequestLength, 8);
  block.Set(cb::kSdoAnswerCobId, 0x581);
  block.Set(cb::kSdoTimeoutMicroseconds, 100000);
  StartServer();
  SignalSdo();
  ASSERT_TRUE(AwaitHandOver());
  EXPECT_EQ(kernel_.sdo.answerCobId, 0x581);

  // What the cycle does when the answer has come; a length past the frame
  // is cut to it.
  kernel_.sdo.answerData = {1, 2, 3, 4, 5, 6, 7, 8};
  kernel_.sdo.answerLength = 200;
  kernel_.sdo.microsecondsLeft = 40000;
  kernel_.sdo.result = common::kKernelSuccess;
  kernel_.sdo.completion.Set();

  ASSERT_TRUE(Answered(kernel_.sdo.kernelReady));
  EXPECT_EQ(block.Get(cb::kSdoResult), common::kKernelSuccess);
  EXPECT_EQ(block.Get(cb::kSdoAnswerLength), 8);
  EXPECT_EQ(block.Get(cb::kSdoElapsedMicroseconds), 60000u);
  EXPECT_EQ(*block.Load<std::uint8_t>(cb::kSdoAnswerData.kOffset + 7), 8);
}

TEST_F(CommunicationThreadTest, RemoteRequestExpectsNoNamedAnswer) {
  auto block = kernel_.Block();
  block.Set(cb::kSdoRequestCobId, 0x701);
  block.Set(cb::kSdoRequestLength, 0);
  block.Set(cb::kSdoAnswerCobId, 0x581);
  StartServer();
  SignalSdo();
  ASSERT_TRUE(AwaitHandOver());
  EXPECT_EQ(kernel_.sdo.cobId, 0x701);
  EXPECT_EQ(kernel_.sdo.answerCobId, 0);
}

TEST_F(CommunicationThreadTest, RefusesWithoutARunningCycle) {
  link_.cycleStarted = false;
  WriteNmtRequest();
  StartServer();
  SignalSdo();
  ASSERT_TRUE(Answered(kernel_.sdo.kernelReady));
  EXPECT_EQ(kernel_.Block().Get(cb::kSdoResult), common::kDriverNoController);
}

TEST_F(CommunicationThreadTest, StopEventEndsAnIdleThread) {
  StartServer();
  kernel_.link.stopEvent.Set();
  EXPECT_TRUE(os::WaitForOne(server_, kDeadlineMs).acquired());
}

}  // namespace
}  // namespace vantor::kernel

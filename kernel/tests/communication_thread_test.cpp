// The server thread on an in-process kernel whose cycle is a fake: the
// order in which it serves both areas, the ways a SDO request ends, and its
// way out after command 2 when the main thread takes no command.
#include "kernel/services/communication_thread.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "common/command_codes.h"
#include "kernel/core/kernel_locks.h"
#include "platform/os/message_loop.h"
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

// The cycle only retires the segments it has run; a path that runs long
// without a command must not keep them, so the thread frees them between
// requests without being asked.
TEST_F(CommunicationThreadTest, FreesRetiredSegmentsWithoutACommand) {
  kernel_.data.motionMutex = os::Mutex::CreateUnnamed(false).take();
  kernel_.data.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
  kernel_.data.state.SetCncInitialised(true);
  motion::SegmentList& retired = kernel_.data.motionRuntime.path.retired;
  for (int i = 0; i < 3; ++i) motion::PushSegment(retired, *new motion::PathSegment{});
  StartServer();
  const std::uint32_t start = os::GetTickCount();
  bool freed = false;
  while (!freed && os::TicksBetween(start, os::GetTickCount()) < kDeadlineMs) {
    os::Sleep(1);
    ASSERT_TRUE(LockKernelData(kernel_.data));
    freed = retired.empty();
    UnlockKernelData(kernel_.data);
  }
  EXPECT_TRUE(freed);
  EXPECT_EQ(retired.count, 0u);
}

// Sends the debug output of this process to a file of its own for a scope.
class CapturedDebugOutput {
 public:
  CapturedDebugOutput()
      : path_(::testing::TempDir() + "motrix-debug-" + std::to_string(::getpid()) + ".txt") {
    std::remove(path_.c_str());
    ::setenv("VANTOR_DEBUG_OUTPUT", path_.c_str(), 1);
  }
  ~CapturedDebugOutput() {
    ::unsetenv("VANTOR_DEBUG_OUTPUT");
    std::remove(path_.c_str());
  }
  std::string Text() const {
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
};

// After command 2 the server thread hands the end to the main thread's loop,
// which here is never run: the test stands in for a main thread that takes
// no command.
class ServerExitTest : public CommunicationThreadTest {
 protected:
  void SetUp() override {
    CommunicationThreadTest::SetUp();
    loop_ = os::MessageLoop::Create().take();
    kernel_.mainLoop = &loop_;
  }

  void TearDown() override {
    // A thread still trying to post gets its command in, so that it ends
    // with the stop event.
    if (server_.valid() && os::WaitForOne(server_, 0).kind == os::WaitKind::Timeout) {
      HandleOneCommand();
    }
    CommunicationThreadTest::TearDown();
  }

  void FillTheLoopsQueue() {
    for (std::uint32_t i = 0; i <= os::kEndpointQueueDepth; ++i) {
      if (loop_.Post({0, i}) == os::OsError::LimitExceeded) return;
    }
    FAIL() << "the loop's queue never filled";
  }

  // The first queued command, taken off the loop.
  std::optional<os::Command> HandleOneCommand() {
    std::optional<os::Command> handled;
    loop_.Post({0, 0});
    loop_.Run([&](const os::Command& command) {
      handled = command;
      loop_.Quit();
    });
    return handled;
  }

  void EndKernelByCommandTwo() {
    StartServer();
    SignalCommand(static_cast<std::uint32_t>(common::CommandCode::TerminateKernel));
    ASSERT_TRUE(Answered(kernel_.standard.kernelReady));
    EXPECT_EQ(kernel_.Block().Get(cb::kResult), common::kKernelSuccess);
  }

  bool ServerEnds() { return os::WaitForOne(server_, kDeadlineMs).acquired(); }

  os::MessageLoop loop_;
};

TEST_F(ServerExitTest, FullQueueGivesWayToATeardownThatHasBegun) {
  kernel_.link.serverExit.exitPostLimitMs = 10 * kDeadlineMs;
  FillTheLoopsQueue();
  EndKernelByCommandTwo();
  // A termination signal's exit command is in the queue; its teardown sets
  // the stop event.
  kernel_.link.stopEvent.Set();
  EXPECT_TRUE(ServerEnds());
}

struct ServerExitCase {
  const char* name;
  bool queueFull;
  const char* note;
};

void PrintTo(const ServerExitCase& c, std::ostream* out) { *out << c.name; }

class ServerExitBoundTest : public ServerExitTest,
                            public ::testing::WithParamInterface<ServerExitCase> {};

TEST_P(ServerExitBoundTest, MainLoopThatTakesNoCommandEndsTheServerThreadWithANote) {
  const ServerExitCase& c = GetParam();
  CapturedDebugOutput output;
  kernel_.link.serverExit = {50, 50};
  if (c.queueFull) FillTheLoopsQueue();
  EndKernelByCommandTwo();
  ASSERT_TRUE(ServerEnds());
  EXPECT_NE(output.Text().find(c.note), std::string::npos) << output.Text();
  if (!c.queueFull) {
    const auto queued = HandleOneCommand();
    ASSERT_TRUE(queued.has_value());
    EXPECT_EQ(queued->code, os::kExitCommand);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ServerExitBoundTest,
    ::testing::Values(ServerExitCase{"queue_full", true, "took no exit command in time"},
                      ServerExitCase{"exit_queued_no_teardown", false,
                                     "no teardown after command 2 in time"}),
    [](const ::testing::TestParamInfo<ServerExitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vantor::kernel

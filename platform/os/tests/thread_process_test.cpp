#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/os/process.h"
#include "platform/os/tests/os_test_support.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

using testing::kDeadlineMs;
using testing::OsTest;
using testing::StartHelper;

class ThreadTest : public OsTest {};

TEST_F(ThreadTest, EveryPriorityRunsTheThreadWhetherOrNotItIsPermitted) {
  for (const ThreadPriority priority :
       {ThreadPriority::Idle, ThreadPriority::Lowest, ThreadPriority::BelowNormal,
        ThreadPriority::Normal, ThreadPriority::AboveNormal, ThreadPriority::Highest,
        ThreadPriority::TimeCritical}) {
    auto thread = Thread::Start([] { return 5u; }, priority);
    ASSERT_TRUE(thread) << static_cast<int>(priority);
    EXPECT_NE(thread->id(), 0u);
    EXPECT_EQ(WaitForOne(*thread, kDeadlineMs).kind, WaitKind::Signalled);
    EXPECT_EQ(thread->exitCode(), 5u);
    EXPECT_FALSE(thread->SetPriority(ThreadPriority::Normal)) << "the thread has ended";
  }
}

TEST_F(ThreadTest, AHandleClosedEarlyLeavesTheThreadRunning) {
  auto done = Event::CreateUnnamed(EventReset::Manual, false);
  auto go = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(done && go);
  {
    auto thread = Thread::Start([&]() -> std::uint32_t {
      WaitForOne(*go, kDeadlineMs);
      done->Set();
      return 0;
    });
    ASSERT_TRUE(thread);
    EXPECT_EQ(thread->exitCode(), std::nullopt);
    auto copy = thread->Duplicate();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->id(), thread->id());
  }
  go->Set();
  EXPECT_EQ(WaitForOne(*done, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(Thread::Start(nullptr).error(), OsError::InvalidArgument);
}

class ProcessTest : public OsTest {};

TEST_F(ProcessTest, StartsWithArgumentsAndReportsTheExitCode) {
  const std::string file = ::testing::TempDir() + "/args-" + std::to_string(::getpid());
  auto process = StartHelper({"print-args", file, "TarnisInterfaceComLine", "-CanOneComLine",
                              "with blank"});
  ASSERT_TRUE(process) << OsErrorName(process.error());
  EXPECT_EQ(WaitForOne(*process, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(process->exitCode(), 0u);
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"TarnisInterfaceComLine", "-CanOneComLine",
                                             "with blank"}));
  std::remove(file.c_str());

  auto failing = StartHelper({"exit-with", "3"}, ProcessStartOptions{true});
  ASSERT_TRUE(failing);
  EXPECT_EQ(WaitForOne(*failing, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(failing->exitCode(), 3u);
}

TEST_F(ProcessTest, MissingOrNonExecutableFilesAreToldApart) {
  EXPECT_EQ(Process::Start("/nonexistent/Motrix", {}).error(), OsError::NotFound);
  const std::string plain = ::testing::TempDir() + "/plain-" + std::to_string(::getpid());
  std::ofstream(plain) << "data";
  EXPECT_EQ(Process::Start(plain, {}).error(), OsError::AccessDenied);
  std::remove(plain.c_str());
  EXPECT_EQ(Process::Open(0).error(), OsError::InvalidArgument);
}

TEST_F(ProcessTest, TerminateEndsTheProcessWithTheGivenCode) {
  const std::string readyName = Name("ready");
  testing::ReadySignal ready(readyName);
  auto process = StartHelper({"hold-event", Name("presence"), readyName});
  ASSERT_TRUE(process);
  ASSERT_TRUE(ready.Wait());
  EXPECT_EQ(WaitForOne(*process, 0).kind, WaitKind::Timeout);
  EXPECT_EQ(process->Terminate(0), OsError::Ok);
  EXPECT_EQ(WaitForOne(*process, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(process->exitCode(), 0u);
  EXPECT_EQ(process->Terminate(1), OsError::Ok) << "ending an ended process is no error";
}

TEST_F(ProcessTest, AProcessOpenedByIdWakesAWaitMixedWithAnEvent) {
  const std::string readyName = Name("ready");
  testing::ReadySignal ready(readyName);
  auto started = StartHelper({"hold-event", Name("presence"), readyName});
  ASSERT_TRUE(started);
  ASSERT_TRUE(ready.Wait());
  auto opened = Process::Open(started->id());
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->id(), started->id());
  auto event = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(event);
  EXPECT_EQ(WaitForAny({&*event, &*opened}, 20).kind, WaitKind::Timeout);
  ASSERT_EQ(started->Terminate(4), OsError::Ok);
  const WaitResult result = WaitForAny({&*event, &*opened}, kDeadlineMs);
  EXPECT_EQ(result.kind, WaitKind::Signalled);
  EXPECT_EQ(result.index, 1u);
  EXPECT_EQ(WaitForOne(*started, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(started->exitCode(), 4u);
}

TEST_F(ProcessTest, OpeningAnEndedProcessFails) {
  auto process = StartHelper({"exit-with", "0"});
  ASSERT_TRUE(process);
  const std::uint32_t id = process->id();
  ASSERT_EQ(WaitForOne(*process, kDeadlineMs).kind, WaitKind::Signalled);
  process->Close();
  EXPECT_EQ(Process::Open(id).error(), OsError::NotFound);
}

TEST_F(ProcessTest, ChildrenWhoseHandleWasClosedAreReaped) {
  std::uint32_t id = 0;
  {
    auto process = StartHelper({"exit-with", "0"});
    ASSERT_TRUE(process);
    id = process->id();
  }
  // Reaped by this layer, without anyone waiting: the process entry goes
  // away instead of staying behind as a zombie.
  const std::string entry = "/proc/" + std::to_string(id);
  const std::uint64_t deadline = MonotonicMicroseconds() + kDeadlineMs * 1000ull;
  bool gone = false;
  while (!gone && MonotonicMicroseconds() < deadline) {
    gone = ::access(entry.c_str(), F_OK) != 0;
    if (!gone) Sleep(5);
  }
  EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace vantor::os

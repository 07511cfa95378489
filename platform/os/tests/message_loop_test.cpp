#include "platform/os/message_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/os/tests/os_test_support.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"

namespace vantor::os {
namespace {

using testing::OsTest;

class MessageLoopTest : public OsTest {};

TEST_F(MessageLoopTest, HandlesPostedCommandsInOrderOnItsOwnThread) {
  auto loop = MessageLoop::Create();
  ASSERT_TRUE(loop);
  ASSERT_EQ(loop->Post(Command{1, 10}), OsError::Ok) << "posting before Run queues";
  std::thread poster([&] {
    EXPECT_EQ(loop->Post(Command{2, 20}), OsError::Ok);
    EXPECT_EQ(PostCommand(loop->token(), Command{3, 30}), OsError::Ok);
    EXPECT_EQ(loop->Post(Command{kExitCommand, 0}), OsError::Ok);
  });
  std::vector<std::uint32_t> seen;
  const std::uint32_t loopThread = CurrentThreadId();
  bool otherThread = false;
  const std::uint32_t exitCode = loop->Run([&](const Command& command) {
    otherThread |= CurrentThreadId() != loopThread;
    if (command.code == kExitCommand) {
      loop->Quit(77);
      return;
    }
    seen.push_back(command.code * 100 + command.parameter);
  });
  poster.join();
  EXPECT_EQ(exitCode, 77u);
  EXPECT_FALSE(otherThread);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{110, 220, 330}));
}

TEST_F(MessageLoopTest, SendWaitsForTheHandlerAndRunsAtOnceOnTheLoopThread) {
  auto loop = MessageLoop::Create();
  ASSERT_TRUE(loop);
  std::uint32_t handled = 0;
  OsError nested = OsError::SystemError;
  std::thread sender([&] {
    EXPECT_EQ(loop->Send(Command{5, 0}), OsError::Ok);
    // Send returned, so the handler has run (no race on `handled`).
    EXPECT_EQ(handled, 2u);
    loop->Quit();
  });
  loop->Run([&](const Command& command) {
    ++handled;
    if (command.code == 5) nested = loop->Send(Command{6, 0});
  });
  sender.join();
  EXPECT_EQ(nested, OsError::Ok);
}

TEST_F(MessageLoopTest, ASendFromTheOwnThreadOutsideRunIsQueuedNotAwaited) {
  auto loop = MessageLoop::Create();
  ASSERT_TRUE(loop);
  // As on a failed start-up: the exit command sent before the loop runs.
  ASSERT_EQ(loop->Send(Command{kExitCommand, 0}), OsError::Ok);
  std::uint32_t handled = 0;
  loop->Run([&](const Command& command) {
    ++handled;
    if (command.code == kExitCommand) loop->Quit();
  });
  EXPECT_EQ(handled, 1u);
}

TEST_F(MessageLoopTest, TokensAreUniqueAndDieWithTheirLoop) {
  EndpointToken first = kNoEndpoint;
  {
    auto a = MessageLoop::Create();
    auto b = MessageLoop::Create();
    ASSERT_TRUE(a && b);
    first = a->token();
    EXPECT_NE(first, kNoEndpoint);
    EXPECT_NE(a->token(), b->token());
  }
  EXPECT_EQ(PostCommand(first, Command{1, 0}), OsError::NotFound);
  auto later = MessageLoop::Create();
  ASSERT_TRUE(later);
  EXPECT_GT(later->token(), first) << "never reused";
}

TEST_F(MessageLoopTest, AFullQueueRefusesFurtherPosts) {
  auto loop = MessageLoop::Create();
  ASSERT_TRUE(loop);
  for (std::uint32_t i = 0; i < kEndpointQueueDepth; ++i) {
    ASSERT_EQ(loop->Post(Command{i, 0}), OsError::Ok) << i;
  }
  EXPECT_EQ(loop->Post(Command{99, 0}), OsError::LimitExceeded);
  EXPECT_EQ(PostCommand(loop->token(), Command{99, 0}), OsError::LimitExceeded);
  std::uint32_t handled = 0;
  ASSERT_EQ(loop->Post(Command{0, 0}), OsError::LimitExceeded);
  loop->Quit();
  loop->Run([&](const Command&) { ++handled; });
  EXPECT_EQ(handled, 0u) << "a pending quit ends the loop before the queue";
}

}  // namespace
}  // namespace vantor::os

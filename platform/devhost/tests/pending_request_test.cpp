// Requests held pending: completion from a deferred call, abort, clean-up
// when a handle closes or its process dies.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <string>

#include "common/byte_order.h"
#include "platform/devhost/tests/host_fixture.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/wait.h"

extern char** environ;

namespace vantor::devhost::testing {
namespace {

using common::LoadLittleEndian;
using os::DeviceHandle;
using os::DeviceOverlapped;

constexpr std::uint32_t kWaitMilliseconds = 10'000;

using PendingRequestTest = HostFixture;

TEST_F(PendingRequestTest, HeldRequestCompletesFromDeferredCallAndEventFollowsTheData) {
  auto handle = OpenTestDevice();
  HeldRequest held;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, held));
  EXPECT_EQ(os::WaitForOne(held.event, 0).kind, os::WaitKind::Timeout);
  EXPECT_FALSE(held.overlapped.Completed());

  // The release is answered at once; the hold completes later, from the
  // device's deferred call, on another handle's request.
  auto other = OpenTestDevice();
  std::array<std::uint8_t, 4> release{0x5C};
  ASSERT_EQ(other.Control(kRelease, release, release).status, os::kStatusSuccess);

  ASSERT_EQ(os::WaitForOne(held.event, kWaitMilliseconds).kind, os::WaitKind::Signalled);
  ASSERT_TRUE(held.overlapped.Completed());
  EXPECT_EQ(held.overlapped.Status(), os::kStatusSuccess);
  EXPECT_EQ(held.overlapped.BytesReturned(), 16u);
  for (std::size_t i = 0; i < kHoldStatusOffset; ++i) EXPECT_EQ(held.output[i], 0x5C) << i;
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(held.output.data() + kHoldStatusOffset), kDriverOk);
}

TEST_F(PendingRequestTest, SecondHoldOnTheSameHandleIsRefusedAtOnce) {
  auto handle = OpenTestDevice();
  HeldRequest first;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, first));

  std::array<std::uint8_t, 16> input{};
  std::array<std::uint8_t, 16> second{};
  const auto result = handle.Control(kHold, input, second);
  EXPECT_EQ(result.status, os::kStatusSuccess);
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(second.data() + kHoldStatusOffset), kDriverHoldBusy);
  EXPECT_EQ(driver_->HeldCount(), 1u);
  EXPECT_FALSE(first.overlapped.Completed());
}

TEST_F(PendingRequestTest, AbortCancelsTheHeldRequestAndLeavesItsBufferUnchanged) {
  auto handle = OpenTestDevice();
  HeldRequest held;
  os::Event abortEvent = MakeManualEvent();
  DeviceOverlapped abort(abortEvent);
  ASSERT_NO_FATAL_FAILURE(Hold(handle, held));

  // The abort travels on the same handle as the request it cancels.
  std::array<std::uint8_t, 4> abortStatus{};
  ASSERT_EQ(handle.ControlOverlapped(kAbort, {}, abortStatus, abort), os::kStatusPending);
  // The two replies may come in either order; both events end up set.
  ASSERT_EQ(os::WaitForAll({&held.event, &abortEvent}, kWaitMilliseconds).kind,
            os::WaitKind::Signalled);
  EXPECT_EQ(held.overlapped.Status(), os::kStatusCancelled);
  EXPECT_EQ(held.overlapped.BytesReturned(), 0u);
  EXPECT_EQ(held.output, HeldRequest::UntouchedOutput());
  EXPECT_EQ(abort.Status(), os::kStatusSuccess);
  EXPECT_EQ(LoadLittleEndian<std::uint32_t>(abortStatus.data()), kDriverOk);
}

TEST_F(PendingRequestTest, CloseCancelsWhatTheHandleLeftPending) {
  auto handle = OpenTestDevice();
  HeldRequest request;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, request));
  const auto held = driver_->HeldRequests();

  handle.Close();
  ASSERT_EQ(os::WaitForOne(request.event, 0).kind, os::WaitKind::Signalled);
  EXPECT_EQ(request.overlapped.Status(), os::kStatusCancelled);
  EXPECT_EQ(request.output, HeldRequest::UntouchedOutput());
  // On the host's side the driver's clean-up ran and the held request ended.
  ASSERT_TRUE(Eventually([&] { return driver_->CleanupCount() == 1; }));
  ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 0; }));
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0]->Status(), os::kStatusCancelled);
  // The driver completing it after all changes nothing.
  EXPECT_FALSE(held[0]->Complete(os::kStatusSuccess, 16));
}

TEST_F(PendingRequestTest, ClientKilledRunsCleanupAndCancelsItsHeldRequest) {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  ASSERT_GT(length, 0);
  std::string helper(self, static_cast<std::size_t>(length));
  helper = helper.substr(0, helper.rfind('/') + 1) + "devhost_held_client";

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  char* argv[] = {helper.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, helper.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);

  pollfd readable{pipeFds[0], POLLIN, 0};
  char said[8] = {};
  const bool held =
      ::poll(&readable, 1, kWaitMilliseconds) == 1 && ::read(pipeFds[0], said, 4) == 4;
  ::close(pipeFds[0]);
  if (held) {
    EXPECT_TRUE(Eventually([&] { return driver_->HeldCount() == 1; }));
  }
  const auto heldRequests = driver_->HeldRequests();
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(held) << "helper did not hold a request";

  ASSERT_TRUE(Eventually([&] { return driver_->CleanupCount() == 1; }));
  ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 0; }));
  ASSERT_EQ(heldRequests.size(), 1u);
  EXPECT_EQ(heldRequests[0]->Status(), os::kStatusCancelled);
}

}  // namespace
}  // namespace vantor::devhost::testing

// The Vigilo program as the library meets it: started as a process in this
// test's namespace, found through its presence event and token, ended by
// the exit command or killed.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/kernel_object_names.h"
#include "platform/os/message_loop.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"
#include "watch/presence_indicators.h"
#include "watch/tests/test_environment.h"
#include "watch/watch_app.h"
#include "watch/watch_lifetime.h"
#include "common/watch_window_handle.h"

namespace vantor::watch {
namespace {

// Generous: a start under the sanitizers on a loaded machine.
constexpr std::uint32_t kDeadlineMs = 20000;

std::string_view WatchEventName() { return common::KernelObjectName(common::kWatchEventIndex); }
std::string_view WatchMappingName() {
  return common::KernelObjectName(common::kWatchWindowHandleMappingIndex);
}
const std::string kKeyword(common::KernelObjectName(common::kWatchCommandLineIndex));

os::Process StartVigilo(const std::vector<std::string>& arguments) {
  auto process = os::Process::Start(VANTOR_VIGILO_PATH, arguments);
  EXPECT_TRUE(process) << os::OsErrorName(process.error());
  return process ? process.take() : os::Process{};
}

// Waits for the program to end and gives its exit code.
std::optional<std::uint32_t> WaitForEnd(os::Process& process) {
  if (os::WaitForOne(process, kDeadlineMs).kind != os::WaitKind::Signalled) {
    process.Terminate(99);
    os::WaitForOne(process, kDeadlineMs);
    return std::nullopt;
  }
  return process.exitCode();
}

// Waits, as the library does, for the presence event of a started program;
// false when the program ended first or the deadline passed. The handle is
// closed on return unless `keep` takes it.
bool WaitForPresence(const os::Process& process, os::Event* keep = nullptr) {
  auto event = os::Event::CreateOrOpen(WatchEventName(), os::EventReset::Manual, false);
  if (!event) return false;
  const os::WaitResult result = os::WaitForAny({&*event, &process}, kDeadlineMs);
  if (result.kind != os::WaitKind::Signalled || result.index != 0) return false;
  if (keep != nullptr) *keep = event.take();
  return true;
}

std::uint32_t PublishedToken() {
  auto mapping = os::Mapping::Open(WatchMappingName());
  if (!mapping) return os::kNoEndpoint;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(mapping->data()),
                                            mapping->size());
  return common::LoadWatchWindowHandle(bytes).value_or(os::kNoEndpoint);
}

std::uint32_t PublishedProcessId() {
  auto mapping = os::Mapping::Open(WatchMappingName());
  if (!mapping) return 0;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(mapping->data()),
                                            mapping->size());
  return common::LoadWatchProcessId(bytes).value_or(0);
}

constexpr std::uint32_t ExitCode(WatchExitCode code) { return static_cast<std::uint32_t>(code); }

// The program watches while an application holds the start-up lock's name,
// as every application does from its start-up to its exit.
class VigiloProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto lock =
        os::Mutex::CreateOrOpen(common::KernelObjectName(common::kInitializationEventIndex), false);
    ASSERT_TRUE(lock);
    application_ = lock.take();
  }

  os::Mutex application_;
};

TEST_F(VigiloProcessTest, AnyOtherCommandLineEndsItWithNothingSet) {
  const std::array<std::vector<std::string>, 6> cases = {{
      {},
      {""},
      {kKeyword, "extra"},
      {"motrixwatchcomline"},
      {kKeyword + " "},
      {"-platform", "offscreen"},
  }};
  for (const auto& arguments : cases) {
    const std::string shown = arguments.empty() ? "<none>" : "'" + arguments[0] + "'";
    os::Process vigilo = StartVigilo(arguments);
    ASSERT_TRUE(vigilo.valid());
    EXPECT_EQ(WaitForEnd(vigilo), ExitCode(WatchExitCode::RefusedCommandLine)) << shown;
    EXPECT_EQ(os::Event::Open(WatchEventName()).error(), os::OsError::NotFound) << shown;
    EXPECT_EQ(os::Mapping::Open(WatchMappingName()).error(), os::OsError::NotFound) << shown;
  }
}

TEST_F(VigiloProcessTest, PublishesPresenceAndEndsOnTheExitCommand) {
  os::Process vigilo = StartVigilo({kKeyword});
  os::Event presence;
  ASSERT_TRUE(WaitForPresence(vigilo, &presence));
  const std::uint32_t token = PublishedToken();
  ASSERT_NE(token, os::kNoEndpoint);

  // Other commands leave it running.
  ASSERT_EQ(os::PostCommand(token, {0xE140, 0}), os::OsError::Ok);
  EXPECT_EQ(os::WaitForOne(vigilo, 200).kind, os::WaitKind::Timeout);

  ASSERT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::Ok);
  EXPECT_EQ(WaitForEnd(vigilo), ExitCode(WatchExitCode::Ended));
  // Our handle kept the event alive: the program reset it on its way out.
  EXPECT_EQ(os::WaitForOne(presence, 0).kind, os::WaitKind::Timeout);
  EXPECT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::NotFound);

  presence.Close();
  vigilo.Close();
  application_.Close();
  EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
}

TEST_F(VigiloProcessTest, KilledItLeavesNoPresence) {
  os::Process vigilo = StartVigilo({kKeyword});
  ASSERT_TRUE(WaitForPresence(vigilo));
  const std::uint32_t token = PublishedToken();
  ASSERT_NE(token, os::kNoEndpoint);

  ASSERT_EQ(::kill(static_cast<pid_t>(vigilo.id()), SIGKILL), 0);
  ASSERT_EQ(os::WaitForOne(vigilo, kDeadlineMs).kind, os::WaitKind::Signalled);

  EXPECT_FALSE(IsPresenceEventSet(WatchEventName()));
  EXPECT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::NotFound);

  // And a new watching program is not taken for a second one.
  os::Process successor = StartVigilo({kKeyword});
  ASSERT_TRUE(WaitForPresence(successor));
  const std::uint32_t successorToken = PublishedToken();
  ASSERT_NE(successorToken, os::kNoEndpoint);
  ASSERT_EQ(os::PostCommand(successorToken, {os::kExitCommand, 0}), os::OsError::Ok);
  EXPECT_EQ(WaitForEnd(successor), ExitCode(WatchExitCode::Ended));
}

TEST_F(VigiloProcessTest, SecondInstanceEndsAndLeavesTheFirstAlone) {
  os::Process first = StartVigilo({kKeyword});
  os::Event presence;
  ASSERT_TRUE(WaitForPresence(first, &presence));
  const std::uint32_t token = PublishedToken();
  ASSERT_NE(token, os::kNoEndpoint);

  os::Process second = StartVigilo({kKeyword});
  EXPECT_EQ(WaitForEnd(second), ExitCode(WatchExitCode::AnotherWatchRuns));

  EXPECT_EQ(PublishedToken(), token);
  EXPECT_EQ(os::WaitForOne(presence, 0).kind, os::WaitKind::Signalled);
  EXPECT_EQ(os::WaitForOne(first, 0).kind, os::WaitKind::Timeout);

  ASSERT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::Ok);
  EXPECT_EQ(WaitForEnd(first), ExitCode(WatchExitCode::Ended));
  EXPECT_EQ(os::WaitForOne(presence, 0).kind, os::WaitKind::Timeout);
}

TEST_F(VigiloProcessTest, RunsWhereThereIsNoDisplayAtAll) {
  for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    ::unsetenv(variable);
  }
  os::Process vigilo = StartVigilo({kKeyword});
  ASSERT_TRUE(WaitForPresence(vigilo));
  const std::uint32_t token = PublishedToken();
  ASSERT_NE(token, os::kNoEndpoint);
  ASSERT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::Ok);
  EXPECT_EQ(WaitForEnd(vigilo), ExitCode(WatchExitCode::Ended));
  EXPECT_FALSE(IsPresenceEventSet(WatchEventName()));
}

// Left behind by an application killed on its way out, or by a kernel that
// ended by itself: with no kernel and no application left it ends.
TEST_F(VigiloProcessTest, EndsByItselfOnceNoKernelAndNoApplicationRemain) {
  os::Process vigilo = StartVigilo({kKeyword});
  os::Event presence;
  ASSERT_TRUE(WaitForPresence(vigilo, &presence));
  EXPECT_EQ(PublishedProcessId(), vigilo.id());

  auto kernel = os::Event::CreateOrOpen(
      common::KernelObjectName(common::KernelModeEventIndex(common::Channel::CanTwo)),
      os::EventReset::Manual, true);
  ASSERT_TRUE(kernel);
  application_.Close();
  EXPECT_EQ(os::WaitForOne(vigilo, 4 * kLifetimeCheckPeriodMs).kind, os::WaitKind::Timeout)
      << "a kernel still runs";
  kernel->Reset();
  EXPECT_EQ(WaitForEnd(vigilo), ExitCode(WatchExitCode::Ended));
  EXPECT_EQ(os::WaitForOne(presence, 0).kind, os::WaitKind::Timeout);
}

TEST_F(VigiloProcessTest, KeepsWatchingWhileAnApplicationRemains) {
  os::Process vigilo = StartVigilo({kKeyword});
  ASSERT_TRUE(WaitForPresence(vigilo));
  EXPECT_EQ(os::WaitForOne(vigilo, 4 * kLifetimeCheckPeriodMs).kind, os::WaitKind::Timeout);
  application_.Close();
  EXPECT_EQ(WaitForEnd(vigilo), ExitCode(WatchExitCode::Ended));
}

}  // namespace
}  // namespace vantor::watch

#include "examples/tests/chain_processes.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

#include "platform/os/device/device_handle.h"
#include "platform/os/wait.h"

namespace vantor::examples_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kDevhostEndDeadlineMs = 10000;
constexpr auto kDevhostServeDeadline = 20s;

bool EnvironmentHas(const std::string& environment, const std::string& entry) {
  std::size_t start = 0;
  while (start < environment.size()) {
    const std::size_t end = std::min(environment.find('\0', start), environment.size());
    if (environment.compare(start, end - start, entry) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string ReadText(const fs::path& path) {
  // Read with plain calls: a /proc file of a process that just ended fails
  // its read, and that must read as empty, not throw.
  std::string text;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return text;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  std::fclose(file);
  return text;
}

std::vector<int> ProgramsOfNamespace(const std::string& space,
                                     const std::vector<std::string>& names) {
  const std::string marker = "VANTOR_NAMESPACE=" + space;
  std::vector<int> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string comm = ReadText(entry.path() / "comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (std::find(names.begin(), names.end(), comm) == names.end()) continue;
    // A process that ended between the two reads has an empty environment.
    if (EnvironmentHas(ReadText(entry.path() / "environ"), marker)) {
      found.push_back(std::stoi(name));
    }
  }
  return found;
}

std::vector<int> ChannelProgramsOfNamespace(const std::string& space) {
  return ProgramsOfNamespace(space, {"Motrix", "Vigilo"});
}

bool AwaitNoChannelPrograms(const std::string& space, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!ChannelProgramsOfNamespace(space).empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

void DevhostRunner::Start(const std::string& program, const std::string& machine,
                          const std::vector<std::string>& extraArguments) {
  std::vector<std::string> arguments;
  if (!machine.empty()) arguments = {"--machine", machine};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  auto started = os::Process::Start(program, arguments);
  ASSERT_TRUE(started);
  process_ = started.take();
  const auto deadline = std::chrono::steady_clock::now() + kDevhostServeDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (os::DeviceHandle::Open("\\\\.\\tarnis1").error == os::DeviceOpenError::kNone) return;
    ASSERT_NE(os::WaitForOne(process_, 0).kind, os::WaitKind::Signalled)
        << "the driver host ended at start";
    std::this_thread::sleep_for(50ms);
  }
  FAIL() << "the driver host serves no tarnis1 device";
}

void DevhostRunner::Stop() {
  if (!process_.valid()) return;
  // Asked to end, it takes its sockets and lock file away.
  ::kill(static_cast<pid_t>(process_.id()), SIGTERM);
  if (os::WaitForOne(process_, kDevhostEndDeadlineMs).kind != os::WaitKind::Signalled) {
    process_.Terminate(0);
    os::WaitForOne(process_, kDevhostEndDeadlineMs);
    ADD_FAILURE() << "the driver host did not end on SIGTERM";
  }
  EXPECT_EQ(process_.exitCode(), std::optional<std::uint32_t>(0));
  process_.Close();
}

void DevhostRunner::Kill() {
  if (!process_.valid()) return;
  ::kill(static_cast<pid_t>(process_.id()), SIGKILL);
  EXPECT_EQ(os::WaitForOne(process_, kDevhostEndDeadlineMs).kind, os::WaitKind::Signalled);
  process_.Close();
}

}  // namespace vantor::examples_test

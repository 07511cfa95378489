#include "examples/tests/chain_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "drivers/host/tests/control_client.h"
#include "interface/include/linkora.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace vantor::examples_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kDevhostEndDeadlineMs = 10000;
constexpr auto kDevhostServeDeadline = 20s;
constexpr std::uint32_t kProgramDeadlineMs = 60000;
constexpr auto kChannelProgramsEndBound = 10s;

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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<LoggedFrame> ReadFrameLog(const fs::path& path) {
  const std::string text = ReadText(path);
  std::vector<std::string> lines = Lines(text);
  if (!text.empty() && text.back() != '\n') lines.pop_back();
  std::vector<LoggedFrame> frames;
  for (const std::string& line : lines) {
    // "(<seconds>) <bus> <id>#<data>"
    const std::size_t space = line.rfind(' ');
    const std::size_t stampEnd = line.find(')');
    if (line.empty() || line.front() != '(' || stampEnd == std::string::npos ||
        space == std::string::npos || line.find('#', space) != space + 4) {
      ADD_FAILURE() << "no frame: " << line;
      continue;
    }
    LoggedFrame frame;
    frame.text = line.substr(space + 1);
    frame.id = static_cast<std::uint32_t>(std::stoul(frame.text.substr(0, 3), nullptr, 16));
    frame.seconds = std::stod(line.substr(1, stampEnd - 1));
    frames.push_back(frame);
  }
  return frames;
}

std::string WriteIniWith(const fs::path& sample, const fs::path& copy,
                         const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<bool> replaced(values.size(), false);
  std::ostringstream changed;
  for (std::string line : Lines(ReadText(sample))) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string& key = values[i].first;
      const std::size_t after = line.find_first_not_of(' ', key.size());
      if (!replaced[i] && line.starts_with(key) && after != std::string::npos &&
          line[after] == '=') {
        line = key + " = " + values[i].second + " ;";
        replaced[i] = true;
      }
    }
    changed << line << '\n';
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(replaced[i]) << sample << " has no key " << values[i].first;
  }
  std::ofstream(copy, std::ios::binary) << changed.str();
  return copy.string();
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const fs::path& folder, std::uint32_t deadlineMs) {
  const std::string out = (folder / "program.out").string();
  const std::string err = (folder / "program.err").string();
  std::vector<std::string> shell = {
      "-c", "out=$1; err=$2; shift 2; exec \"$@\" >\"$out\" 2>\"$err\"", "sh", out, err, program};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  ProgramRun run;
  auto process = os::Process::Start("/bin/sh", shell);
  EXPECT_TRUE(process);
  if (!process) return run;
  if (os::WaitForOne(*process, deadlineMs).kind != os::WaitKind::Signalled) {
    process->Terminate(0);
    os::WaitForOne(*process, deadlineMs);
    ADD_FAILURE() << program << " did not end in time";
  }
  run.exitCode = process->exitCode().value_or(0xFFFFFFFFu);
  process->Close();
  run.out = Lines(ReadText(out));
  run.err = ReadText(err);
  return run;
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

void ChainTest::SetUp() {
  namespace_ = prefix_ + "-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  folder_ = fs::temp_directory_path() / namespace_;
  fs::create_directories(folder_);
}

void ChainTest::TearDown() {
  cpctl_Exit();
  StopDevhost();
  fs::remove_all(folder_);
}

void ChainTest::StartDevhost(const std::string& machine, const std::string& candump) {
  std::vector<std::string> extra;
  if (!candump.empty()) extra = {"--candump", candump};
  devhost_.Start(VANTOR_DEVHOST_PROGRAM, machine, extra);
}

ProgramRun ChainTest::Run(const std::string& program, const std::vector<std::string>& arguments) {
  return RunProgram(program, arguments, folder_, kProgramDeadlineMs);
}

std::string ChainTest::Control(const std::string& line) {
  const auto folder = os::RuntimeDirectory();
  if (!folder) return "no runtime folder";
  host::testing::ControlClient client(*folder + "/devhost.control");
  return client.Command(line);
}

void ChainTest::ExpectNothingLeft() {
  EXPECT_TRUE(AwaitNoChannelPrograms(namespace_, kChannelProgramsEndBound))
      << "a kernel or watching program still runs";
  StopDevhost();
  EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
}

}  // namespace vantor::examples_test

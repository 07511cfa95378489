// Crashes anywhere in the chain leave nothing behind: the driver host, the
// kernel, the watching program and two applications of channel 1 are each
// killed at start-up, while idle, in the middle of requests and while the
// channel shuts down. Afterwards every survivor ends when asked, no kernel or
// watching program of the namespace remains within a few seconds, no named
// object is left, and the next start succeeds without any clean-up by hand.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "examples/tests/chain_processes.h"
#include "interface/include/linkora.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace vantor::examples_test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kChannelUser = VANTOR_CHANNEL_USER;
const std::string kDevhost = VANTOR_DEVHOST_PROGRAM;
const std::string kProgramFolder = VANTOR_PROGRAM_FOLDER;
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";

constexpr auto kStepBound = 30s;
constexpr std::uint32_t kUserEndBoundMs = 30000;
// The kernel ends within a few seconds once no application holds the
// channel; the bound is generous for loaded machines.
constexpr auto kChannelEndBound = 20s;
constexpr auto kCensusBound = 5s;
// The library's success code as the users write it.
const std::string kSuccess = [] {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(LINKORA_SUCCESS));
  return std::string(text);
}();

enum class Victim { kDevhost, kKernel, kWatch, kStarter, kSecondUser };
enum class Moment { kStartUp, kIdle, kMidRequest, kShutDown };

struct CrashCase {
  Victim victim;
  Moment moment;
};

std::string VictimName(Victim victim) {
  switch (victim) {
    case Victim::kDevhost: return "Devhost";
    case Victim::kKernel: return "Kernel";
    case Victim::kWatch: return "Watch";
    case Victim::kStarter: return "Starter";
    case Victim::kSecondUser: return "SecondUser";
  }
  return "?";
}

std::string MomentName(Moment moment) {
  switch (moment) {
    case Moment::kStartUp: return "AtStartUp";
    case Moment::kIdle: return "WhileIdle";
    case Moment::kMidRequest: return "MidRequest";
    case Moment::kShutDown: return "AtShutDown";
  }
  return "?";
}

// One application process and the two files it is driven by.
struct ChannelUser {
  std::string name;
  os::Process process;
  fs::path state;
  fs::path command;
};

class CrashMatrixTest : public ::testing::TestWithParam<CrashCase> {
 protected:
  void SetUp() override {
    namespace_ = "crash-" + std::to_string(::getpid());
    ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    folder_ = fs::temp_directory_path() / namespace_;
    fs::create_directories(folder_);
  }

  void TearDown() override {
    for (ChannelUser* user : {&starter_, &second_, &next_}) KillIfRunning(*user);
    for (int pid : ChannelProgramsOfNamespace(namespace_)) ::kill(pid, SIGKILL);
    devhost_.Stop();
    fs::remove_all(folder_);
  }

  void StartUser(ChannelUser& user, const std::string& name) {
    user.name = name;
    user.state = folder_ / (name + ".state");
    user.command = folder_ / (name + ".command");
    Command(user, "idle");
    auto started = os::Process::Start(
        kChannelUser, {kSampleIni, kProgramFolder, user.state.string(), user.command.string()});
    ASSERT_TRUE(started);
    user.process = started.take();
  }

  // Written whole and renamed, so the user never reads half a command.
  void Command(const ChannelUser& user, const std::string& command) {
    const fs::path part = user.command.string() + ".part";
    std::ofstream(part) << command << '\n';
    fs::rename(part, user.command);
  }

  // The code after the first state line that starts with `step`, or nothing
  // when the user ended or the bound passed without one.
  std::optional<std::string> AwaitStep(ChannelUser& user, const std::string& step) {
    const auto deadline = std::chrono::steady_clock::now() + kStepBound;
    while (std::chrono::steady_clock::now() < deadline) {
      std::istringstream lines(ReadText(user.state));
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind(step + " ", 0) == 0) return line.substr(step.size() + 1);
      }
      if (os::WaitForOne(user.process, 0).kind == os::WaitKind::Signalled) return std::nullopt;
      std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
  }

  // The first kernel or watching program of the namespace to appear.
  int AwaitProgram(const std::string& program) {
    const auto deadline = std::chrono::steady_clock::now() + kStepBound;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::vector<int> found = ProgramsOfNamespace(namespace_, {program});
      if (!found.empty()) return found.front();
      std::this_thread::sleep_for(1ms);
    }
    ADD_FAILURE() << program << " never started";
    return 0;
  }

  static void KillIfRunning(ChannelUser& user) {
    if (!user.process.valid()) return;
    ::kill(static_cast<pid_t>(user.process.id()), SIGKILL);
    os::WaitForOne(user.process, kUserEndBoundMs);
    user.process.Close();
  }

  static void Kill(int pid) {
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
  }

  void KillVictimAtStartUp(Victim victim) {
    switch (victim) {
      case Victim::kDevhost:
        AwaitProgram("Motrix");
        devhost_.Kill();
        break;
      case Victim::kKernel:
        Kill(AwaitProgram("Motrix"));
        break;
      case Victim::kWatch:
        Kill(AwaitProgram("Vigilo"));
        break;
      case Victim::kStarter:
        AwaitProgram("Motrix");
        KillIfRunning(starter_);
        break;
      case Victim::kSecondUser:
        ASSERT_EQ(AwaitStep(starter_, "init"), kSuccess);
        StartUser(second_, "second");
        // Killed while the library attaches it to the running channel.
        std::this_thread::sleep_for(20ms);
        KillIfRunning(second_);
        break;
    }
  }

  // The kernel or watching program held by a handle, so that a kill reaches
  // it however soon it ends by itself (and never another process).
  os::Process OpenProgram(Victim victim) {
    if (victim != Victim::kKernel && victim != Victim::kWatch) return {};
    const int pid = AwaitProgram(victim == Victim::kKernel ? "Motrix" : "Vigilo");
    auto opened = os::Process::Open(static_cast<std::uint32_t>(pid));
    EXPECT_TRUE(opened) << "the program ended before the crash";
    return opened ? opened.take() : os::Process{};
  }

  void KillVictim(Victim victim, os::Process& program) {
    switch (victim) {
      case Victim::kDevhost: devhost_.Kill(); break;
      case Victim::kKernel:
      case Victim::kWatch: program.Terminate(0); break;
      case Victim::kStarter: KillIfRunning(starter_); break;
      case Victim::kSecondUser: KillIfRunning(second_); break;
    }
  }

  // A surviving user leaves when asked and ends without a crash.
  void EndUser(ChannelUser& user) {
    if (!user.process.valid()) return;
    Command(user, "exit");
    if (os::WaitForOne(user.process, kUserEndBoundMs).kind != os::WaitKind::Signalled) {
      ADD_FAILURE() << user.name << " did not end when asked\n" << ReadText(user.state);
      KillIfRunning(user);
      return;
    }
    EXPECT_EQ(user.process.exitCode(), std::optional<std::uint32_t>(0))
        << user.name << " crashed\n"
        << ReadText(user.state);
    user.process.Close();
  }

  void ExpectNoChannelProgramLeft(const char* when) {
    EXPECT_TRUE(AwaitNoChannelPrograms(
        namespace_, std::chrono::duration_cast<std::chrono::milliseconds>(kChannelEndBound)))
        << "a kernel or watching program still runs " << when;
  }

  void ExpectNoNamedObjectLeft() {
    const auto deadline = std::chrono::steady_clock::now() + kCensusBound;
    std::uint32_t objects = os::TakeNamespaceCensus().objects;
    while (objects != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      objects = os::TakeNamespaceCensus().objects;
    }
    EXPECT_EQ(objects, 0u) << "named objects of the namespace remain";
  }

  std::string namespace_;
  fs::path folder_;
  DevhostRunner devhost_;
  ChannelUser starter_;
  ChannelUser second_;
  ChannelUser next_;
};

TEST_P(CrashMatrixTest, NothingIsLeftAndTheNextStartSucceeds) {
  const CrashCase crash = GetParam();
  devhost_.Start(kDevhost);
  ASSERT_FALSE(HasFatalFailure());
  StartUser(starter_, "starter");
  ASSERT_FALSE(HasFatalFailure());

  if (crash.moment == Moment::kStartUp) {
    KillVictimAtStartUp(crash.victim);
    ASSERT_FALSE(HasFatalFailure());
  } else {
    ASSERT_EQ(AwaitStep(starter_, "init"), kSuccess) << ReadText(starter_.state);
    StartUser(second_, "second");
    ASSERT_EQ(AwaitStep(second_, "init"), kSuccess) << ReadText(second_.state);
    if (crash.moment == Moment::kMidRequest) {
      Command(starter_, "sdo");
      Command(second_, "sdo");
      ASSERT_EQ(AwaitStep(starter_, "sdo"), kSuccess) << ReadText(starter_.state);
      ASSERT_EQ(AwaitStep(second_, "sdo"), kSuccess) << ReadText(second_.state);
    }
    os::Process program = OpenProgram(crash.victim);
    ASSERT_FALSE(HasFailure());
    if (crash.moment == Moment::kShutDown) {
      Command(starter_, "exit");
      Command(second_, "exit");
      // Killed while the users leave: each reads its command within a few
      // milliseconds and is then inside the library's exit.
      std::this_thread::sleep_for(10ms);
    }
    KillVictim(crash.victim, program);
  }

  EndUser(starter_);
  EndUser(second_);
  ExpectNoChannelProgramLeft("after the crash");

  if (!devhost_.running()) {
    devhost_.Start(kDevhost);
    ASSERT_FALSE(HasFatalFailure());
  }
  StartUser(next_, "next");
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(AwaitStep(next_, "init"), kSuccess) << ReadText(next_.state);
  EndUser(next_);
  EXPECT_EQ(AwaitStep(next_, "exit"), kSuccess) << ReadText(next_.state);
  ExpectNoChannelProgramLeft("after the next start");
  devhost_.Stop();
  ExpectNoNamedObjectLeft();
}

std::vector<CrashCase> EveryCrash() {
  std::vector<CrashCase> cases;
  for (Victim victim : {Victim::kDevhost, Victim::kKernel, Victim::kWatch, Victim::kStarter,
                        Victim::kSecondUser}) {
    for (Moment moment :
         {Moment::kStartUp, Moment::kIdle, Moment::kMidRequest, Moment::kShutDown}) {
      cases.push_back({victim, moment});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Everywhere, CrashMatrixTest, ::testing::ValuesIn(EveryCrash()),
                         [](const ::testing::TestParamInfo<CrashCase>& info) {
                           return VictimName(info.param.victim) + MomentName(info.param.moment);
                         });

}  // namespace
}  // namespace vantor::examples_test

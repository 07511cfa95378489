// Starting the watching program: the start ends on the program's own
// announcement or on its end, and waits long enough for a program that a
// loaded machine makes slow, but not for ever for one that hangs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "interface/kernel_programs.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace vantor::interface {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kFakeWatch = VANTOR_FAKE_WATCH;

// Longer than the five seconds a start was once granted.
constexpr auto kStall = 6s;

// Child processes of this test that have not ended (zombies are ended);
// the only children it has are the fakes it starts.
int LiveChildren() {
  int children = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid() && state != 'Z') ++children;
  }
  return children;
}

bool PresenceSet() {
  auto event = os::Event::Open(common::KernelObjectName(common::kWatchEventIndex));
  return event && os::WaitForOne(*event, 0).kind == os::WaitKind::Signalled;
}

class WatchStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tag =
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
        std::to_string(::getpid());
    ::setenv("VANTOR_NAMESPACE", ("watch-start-" + tag).c_str(), 1);
    auto go = os::Event::CreateOrOpen("fake-watch-go", os::EventReset::Manual, false);
    ASSERT_TRUE(go);
    go_ = go.take();
  }
  void TearDown() override { ::unsetenv("VANTOR_FAKE_WATCH_MODE"); }

  os::Event go_;
};

TEST_F(WatchStartTest, SlowProgramStartsOnceItAnnouncesItself) {
  ::setenv("VANTOR_FAKE_WATCH_MODE", "stall", 1);
  const auto started = Clock::now();
  std::thread release([this] {
    std::this_thread::sleep_for(kStall);
    go_.Set();
  });
  os::Process watch;
  const auto result = StartWatch(kFakeWatch, watch);
  const auto elapsed = Clock::now() - started;
  release.join();

  EXPECT_EQ(result, common::kLibrarySuccess);
  EXPECT_GE(elapsed, kStall);
  ASSERT_TRUE(watch.valid());
  EXPECT_TRUE(PresenceSet());
  EXPECT_EQ(os::WaitForOne(watch, 0).kind, os::WaitKind::Timeout) << "it runs on";
  watch.Terminate(0);
  EXPECT_EQ(os::WaitForOne(watch, kWatchStartTimeoutMs).kind, os::WaitKind::Signalled);
}

struct FailedStartCase {
  const char* mode;
  std::uint32_t timeoutMs;
  // The program's end, not the bound, ends the wait.
  bool endsBeforeTheBound;
};

TEST_F(WatchStartTest, ProgramThatEndsOrNeverAnnouncesItselfFailsAndIsGone) {
  const std::array<FailedStartCase, 2> cases = {{
      {"die", kWatchStartTimeoutMs, true},
      {"never", 1000, false},
  }};
  for (const auto& c : cases) {
    ::setenv("VANTOR_FAKE_WATCH_MODE", c.mode, 1);
    os::Process watch;
    const auto started = Clock::now();
    const auto result = StartWatch(kFakeWatch, watch, c.timeoutMs);
    const auto elapsed = Clock::now() - started;

    EXPECT_EQ(result, common::kLibraryWatchNotFound) << c.mode;
    EXPECT_FALSE(watch.valid()) << c.mode;
    EXPECT_FALSE(PresenceSet()) << c.mode;
    EXPECT_EQ(LiveChildren(), 0) << c.mode << ": the program is ended";
    const auto bound = std::chrono::milliseconds(c.timeoutMs);
    if (c.endsBeforeTheBound) {
      EXPECT_LT(elapsed, bound / 2) << c.mode;
    } else {
      EXPECT_GE(elapsed, bound) << c.mode;
    }
  }
}

}  // namespace
}  // namespace vantor::interface

// The devhost program as other processes meet it: started in a namespace of
// its own, it serves its control endpoint, keeps the namespace to itself,
// says clearly why it cannot start, and ends cleanly on SIGTERM and SIGINT.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "drivers/host/tests/devhost_process.h"
#include "platform/devhost/clock.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/runtime_dir.h"

namespace vantor::host::testing {
namespace {

std::string UniqueNamespace(const char* purpose) {
  static int counter = 0;
  return std::string("devhost-program-") + purpose + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(++counter);
}

// The control endpoint's counter answer, -1 for anything else.
long long WallClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

long long Counter(const std::string& answer) {
  char* end = nullptr;
  const long long value = std::strtoll(answer.c_str(), &end, 10);
  return answer.empty() || *end != '\0' ? -1 : value;
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

class DevhostProgramTest : public ::testing::Test {
 protected:
  // The test speaks to the program in the program's namespace.
  void UseNamespace(const char* purpose) {
    nameSpace_ = UniqueNamespace(purpose);
    ::setenv("VANTOR_NAMESPACE", nameSpace_.c_str(), 1);
    folder_ = *os::RuntimeDirectory();
  }

  void TearDown() override {
    if (!folder_.empty()) ::rmdir(folder_.c_str());
  }

  std::string ControlPath() const { return folder_ + "/devhost.control"; }

  std::string nameSpace_;
  std::string folder_;
};

TEST_F(DevhostProgramTest, ServesTheControlEndpointAndEndsCleanlyOnSigterm) {
  UseNamespace("serve");
  DevhostProcess devhost;
  ASSERT_TRUE(devhost.Start(nameSpace_, {"--virtual-clock", "--zero-based-log"}));
  ASSERT_TRUE(devhost.WaitForOutput("serving")) << devhost.Output();

  {
    ControlClient control(ControlPath());
    ASSERT_TRUE(control.Connected());
    EXPECT_EQ(control.Command("now"), "0");
    EXPECT_EQ(control.Command("step 100000"), "ok 1000000");
    EXPECT_EQ(control.Command("sim-now"), "100000000") << "the machine keeps up with the clock";
    // The sample drives boot on the card's channel-1 bus after 50 ms.
    const std::string frames = control.Command("frame-log");
    EXPECT_EQ(frames.rfind("(0000000000.020", 0), 0u) << "the I/O module boots first: " << frames;
    EXPECT_NE(frames.find("can0 701#00\n"), std::string::npos) << frames;
  }
  // No machine has a third or fourth channel.
  const auto missing = os::DeviceHandle::Open("\\\\.\\tarnis3");
  EXPECT_EQ(missing.error, os::DeviceOpenError::kMissing);

  devhost.Signal(SIGTERM);
  EXPECT_EQ(devhost.WaitForExit(), 0) << devhost.Output();
  EXPECT_NE(devhost.Output().find("ending on SIGTERM"), std::string::npos);
  EXPECT_FALSE(Exists(ControlPath())) << "the sockets go with the program";
  EXPECT_FALSE(Exists(folder_ + "/devhost.socket"));
  EXPECT_FALSE(Exists(folder_ + "/devhost.lock"));
  EXPECT_FALSE(Exists(folder_)) << "the last one out takes the namespace's folder";
}

TEST_F(DevhostProgramTest, RefusesASecondInstanceInTheSameNamespace) {
  UseNamespace("second");
  DevhostProcess first;
  ASSERT_TRUE(first.Start(nameSpace_, {}));
  ASSERT_TRUE(first.WaitForOutput("serving")) << first.Output();

  DevhostProcess second;
  ASSERT_TRUE(second.Start(nameSpace_, {}));
  EXPECT_EQ(second.WaitForExit(), 1);
  EXPECT_NE(
      second.Output().find("another devhost already runs in namespace \"" + nameSpace_ + "\""),
      std::string::npos)
      << second.Output();

  ControlClient control(ControlPath());
  EXPECT_NE(control.Command("now").rfind("error", 0), 0u) << "the first one still serves";
  first.Signal(SIGINT);
  EXPECT_EQ(first.WaitForExit(), 0) << first.Output();
  EXPECT_NE(first.Output().find("ending on SIGINT"), std::string::npos);
}

TEST_F(DevhostProgramTest, AKilledInstanceLeavesTheNamespaceFreeForTheNext) {
  UseNamespace("killed");
  {
    DevhostProcess crashed;
    ASSERT_TRUE(crashed.Start(nameSpace_, {"--virtual-clock"}));
    ASSERT_TRUE(crashed.WaitForOutput("serving")) << crashed.Output();
    crashed.Signal(SIGKILL);
    EXPECT_EQ(crashed.WaitForExit(), std::nullopt);
    EXPECT_EQ(crashed.TerminatingSignal(), SIGKILL);
  }
  // Its lock went with it; its socket files are stale and get replaced.
  DevhostProcess next;
  ASSERT_TRUE(next.Start(nameSpace_, {"--virtual-clock"}));
  ASSERT_TRUE(next.WaitForOutput("serving")) << next.Output();
  ControlClient control(ControlPath());
  EXPECT_EQ(control.Command("now"), "0");
  next.Signal(SIGTERM);
  EXPECT_EQ(next.WaitForExit(), 0) << next.Output();
}

TEST_F(DevhostProgramTest, BadFilesAndArgumentsGiveAClearErrorAndNoService) {
  UseNamespace("badmachine");
  const std::string file = folder_ + "/machine.json";
  const struct {
    const char* text;
    const char* reason;
  } kCases[] = {
      {"{ \"buses\": [ ", "machine description"},
      {R"({ "buses": [ { "name": "can0", "speed": 5 } ] })", "unknown field \"speed\""},
      {R"({ "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can7" } ] } ] })",
       "unknown bus \"can7\""},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.text);
    std::ofstream(file) << test.text;
    DevhostProcess devhost;
    ASSERT_TRUE(devhost.Start(nameSpace_, {"--machine", file}));
    EXPECT_EQ(devhost.WaitForExit(), 1);
    EXPECT_NE(devhost.Output().find("cannot load the machine: " + file), std::string::npos)
        << devhost.Output();
    EXPECT_NE(devhost.Output().find(test.reason), std::string::npos) << devhost.Output();
    EXPECT_FALSE(Exists(ControlPath()));
  }
  ::unlink(file.c_str());

  DevhostProcess absent;
  ASSERT_TRUE(absent.Start(nameSpace_, {"--machine", folder_ + "/absent.json"}));
  EXPECT_EQ(absent.WaitForExit(), 1);
  EXPECT_NE(absent.Output().find("absent.json: cannot be read"), std::string::npos);

  // The devhost before, the last one out, took the then empty folder along.
  EXPECT_FALSE(Exists(folder_));
  ASSERT_TRUE(os::RuntimeDirectory());
  const std::string parameters = folder_ + "/drivers.ini";
  std::ofstream(parameters) << "[ravund]\nParallelPortMode = lots\n";
  DevhostProcess badParameters;
  ASSERT_TRUE(badParameters.Start(nameSpace_, {"--parameters", parameters}));
  EXPECT_EQ(badParameters.WaitForExit(), 1);
  EXPECT_NE(
      badParameters.Output().find("cannot read the drivers' parameters " + parameters + ": line 2"),
      std::string::npos)
      << badParameters.Output();
  ::unlink(parameters.c_str());

  DevhostProcess misused;
  ASSERT_TRUE(misused.Start(nameSpace_, {"--clock"}));
  EXPECT_EQ(misused.WaitForExit(), 2);
  EXPECT_NE(misused.Output().find("usage: devhost"), std::string::npos);
}

TEST_F(DevhostProgramTest, TheFastClockRunsByItselfAndTheFramesGoToTheFile) {
  UseNamespace("fast");
  const std::string frames = folder_ + "/frames.log";
  const std::string parameters = folder_ + "/drivers.ini";
  std::ofstream(parameters) << "[ravund]\nParallelPortMode = 3\n";
  DevhostProcess devhost;
  const long long startedAt = WallClockSeconds();
  ASSERT_TRUE(
      devhost.Start(nameSpace_, {"--fast", "--candump", frames, "--parameters", parameters}));
  ASSERT_TRUE(devhost.WaitForOutput("serving")) << devhost.Output();
  {
    ControlClient control(ControlPath());
    const auto deadline = std::chrono::steady_clock::now() + kProcessDeadline;
    const long long booted = vantor::devhost::MillisecondsToTicks(100);
    while (Counter(control.Command("now")) < booted &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(Counter(control.Command("now")), booted);
  }
  devhost.Signal(SIGTERM);
  EXPECT_EQ(devhost.WaitForExit(), 0) << devhost.Output();

  // Stamped from the wall clock at start, as candump stamps a real bus.
  std::ifstream log(frames);
  std::stringstream text;
  text << log.rdbuf();
  ASSERT_EQ(text.str().rfind("(", 0), 0u) << text.str();
  const long long firstStamp = std::stoll(text.str().substr(1, 10));
  EXPECT_GE(firstStamp, startedAt) << text.str();
  EXPECT_LE(firstStamp, WallClockSeconds() + 1) << text.str();
  EXPECT_NE(text.str().find("can0 703#00\n"), std::string::npos) << text.str();
  ::unlink(frames.c_str());
  ::unlink(parameters.c_str());
}

TEST_F(DevhostProgramTest, AFaultInjectedThroughTheControlEndpointIsInTheCandumpLog) {
  UseNamespace("fault");
  const std::string frames = folder_ + "/frames.log";
  DevhostProcess devhost;
  ASSERT_TRUE(devhost.Start(nameSpace_, {"--virtual-clock", "--candump", frames}));
  ASSERT_TRUE(devhost.WaitForOutput("serving")) << devhost.Output();
  {
    ControlClient control(ControlPath());
    ASSERT_TRUE(control.Connected());
    // The sample drives are up after 50 ms and may send emergencies.
    EXPECT_EQ(control.Command("step 100000").rfind("ok", 0), 0u);
    EXPECT_EQ(control.Command("node can0 2 fault 0x7305"), "ok");
    EXPECT_EQ(control.Command("node can0 2 read 0x1003 1"), "ok 29445") << "in the error history";
    EXPECT_EQ(control.Command("step 1000").rfind("ok", 0), 0u);
  }
  devhost.Signal(SIGTERM);
  EXPECT_EQ(devhost.WaitForExit(), 0) << devhost.Output();

  std::ifstream log(frames);
  std::stringstream text;
  text << log.rdbuf();
  const auto bootUp = text.str().find(" can0 702#00\n");
  const auto emergency = text.str().find(" can0 082#0573010000000000\n");
  ASSERT_NE(emergency, std::string::npos) << text.str();
  EXPECT_LT(bootUp, emergency) << text.str();
  ::unlink(frames.c_str());
}

}  // namespace
}  // namespace vantor::host::testing

// Start-up, attach and shut-down of a channel with real processes: the
// scripted kernel where its answers matter, the real watching program and,
// where it can get that far, the real kernel.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/kernel_object_names.h"
#include "interface/include/linkora.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace {

using namespace std::chrono_literals;
using vantor::common::Channel;
using vantor::common::InterfaceType;
namespace os = vantor::os;
namespace common = vantor::common;

const std::string kFakeKernel = VANTOR_FAKE_KERNEL;
const std::string kTestApp = VANTOR_LINKORA_TEST_APP;
const std::string kProgramFolder = VANTOR_PROGRAM_FOLDER;
const std::string kVigilo = kProgramFolder + "/Vigilo";
const std::string kMotrix = kProgramFolder + "/Motrix";

bool EventSet(std::size_t index) {
  auto event = os::Event::Open(common::KernelObjectName(index));
  return event && os::WaitForOne(*event, 0).kind == os::WaitKind::Signalled;
}

bool ProcessAlive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

// The living child processes of this process with the program name `name`.
std::vector<pid_t> ChildrenNamed(const std::string& name) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid() && state != 'Z' && line.substr(open + 1, close - open - 1) == name) {
      children.push_back(static_cast<pid_t>(std::stol(line.substr(0, open))));
    }
  }
  return children;
}

class KernelLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string tag = std::string(info->name()) + "-" + std::to_string(::getpid());
    std::replace(tag.begin(), tag.end(), '/', '-');
    ::setenv("VANTOR_NAMESPACE", ("linkora-" + tag).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    folder_ = std::filesystem::temp_directory_path() / ("linkora-" + tag);
    std::filesystem::create_directories(folder_);
    ::setenv("VANTOR_FAKE_KERNEL_LOG", Path("commands").c_str(), 1);
    ::setenv("VANTOR_FAKE_KERNEL_PID_FILE", Path("kernel.pid").c_str(), 1);
  }

  void TearDown() override {
    mctl_specfct_CanExit();
    for (auto& app : apps_) {
      app.Terminate(0);
      os::WaitForOne(app, 10000);
    }
    std::filesystem::remove_all(folder_);
  }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  LinkoraStatus Initialise(const std::string& kernelPath, std::uint8_t baud = 5,
                           std::uint32_t declare = 0) {
    hardware_ = LinkoraCanHardwareParameters{};
    hardware_.CanInterface = 2;
    hardware_.KernelModus = 1;
    hardware_.BaudRateForCan = baud;
    hardware_.InterruptCycle = 3000;
    // The initialisation file's defaults: a run needs a poll budget of at least 1.
    hardware_.TimeForGlobalSynPeriod = 300000;
    hardware_.SynMaxWaitTime = 1000;
    LinkoraCanInitRecord record{};
    record.DeclareMode = declare;
    record.KernelShared = 1;
    record.HardwareParameters = &hardware_;
    record.DeviceName = deviceName_.data();
    record.KernelPath = const_cast<char*>(kernelPath.c_str());
    record.WatchPath = const_cast<char*>(kVigilo.c_str());
    record.RealTimeThreadIntWaitTime = 1500;
    return mctl_specfct_CanInitialize(&record, sizeof record);
  }

  // Starts a second application and waits for its start-up result.
  std::string StartSecondApplication(const std::string& name, int interfaceType, int baud,
                                     int declare, int channel = 1, const std::string& cnc = {},
                                     const std::string& kernelPath = kFakeKernel) {
    const std::string results = Path(name + ".results");
    std::vector<std::string> arguments = {results,
                                          Path(name + ".go"),
                                          kernelPath,
                                          kVigilo,
                                          std::to_string(interfaceType),
                                          std::to_string(channel),
                                          std::to_string(baud),
                                          std::to_string(declare),
                                          "1"};
    if (!cnc.empty()) arguments.push_back(cnc);
    auto app = os::Process::Start(kTestApp, arguments);
    EXPECT_TRUE(app);
    if (!app) return {};
    apps_.push_back(app.take());
    return AwaitLine(results, "init", 30s);
  }

  void LetSecondApplicationExit(const std::string& name, const char* order = "exit") {
    std::ofstream(Path(name + ".go")) << order;
  }

  std::vector<std::uint8_t> ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
  }

  // The first line of `file` that starts with `what`, waited for.
  static std::string AwaitLine(const std::string& file, const std::string& what,
                               std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(file);
      std::string line;
      while (std::getline(in, line)) {
        if (line.rfind(what, 0) == 0) return line;
      }
      std::this_thread::sleep_for(20ms);
    }
    return "timed out";
  }

  std::vector<int> Commands() const {
    std::ifstream in(Path("commands"));
    std::vector<int> codes;
    int code = 0;
    while (in >> code) codes.push_back(code);
    return codes;
  }

  int LastCommand() const {
    const auto codes = Commands();
    return codes.empty() ? -1 : codes.back();
  }

  pid_t KernelPid() const {
    std::ifstream in(Path("kernel.pid"));
    pid_t pid = 0;
    in >> pid;
    return pid;
  }

  // Process handles are objects of the namespace too: the second
  // applications must have ended and be let go of first.
  void ExpectChannelGone() {
    for (auto& app : apps_) {
      EXPECT_EQ(os::WaitForOne(app, 30000).kind, os::WaitKind::Signalled);
      app.Close();
    }
    // The kernel and the watching program end after the last application;
    // their handles go with them.
    for (const std::uint32_t id : os::OtherProcessesOfNamespace()) {
      if (auto process = os::Process::Open(id)) {
        EXPECT_EQ(os::WaitForOne(*process, 30000).kind, os::WaitKind::Signalled)
            << "process " << id << " of the namespace did not end";
      }
    }
    EXPECT_FALSE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));
    EXPECT_FALSE(EventSet(common::HardwareEventIndex(InterfaceType::Pci)));
    EXPECT_FALSE(EventSet(common::kWatchEventIndex));
    EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
  }

#ifdef VANTOR_DEVHOST_PROGRAM
  // The driver host serving the simulated machine; an invalid handle when it
  // serves no tarnis1 device within a few seconds.
  static os::Process StartDevhost() {
    auto devhost = os::Process::Start(VANTOR_DEVHOST_PROGRAM, {});
    EXPECT_TRUE(devhost);
    if (!devhost) return {};
    // The driver host needs a moment before it serves its devices.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (os::DeviceHandle::Open("\\\\.\\tarnis1").error == os::DeviceOpenError::kNone) {
        return devhost.take();
      }
      std::this_thread::sleep_for(50ms);
    }
    StopDevhost(*devhost);
    return {};
  }

  // Ended as its user ends it, so that it takes its sockets and lock file
  // along; killed only when it does not end.
  static void StopDevhost(os::Process& devhost) {
    ::kill(static_cast<pid_t>(devhost.id()), SIGTERM);
    if (os::WaitForOne(devhost, 10000).kind != os::WaitKind::Signalled) {
      devhost.Terminate(0);
      os::WaitForOne(devhost, 10000);
    }
    EXPECT_EQ(devhost.exitCode(), std::optional<std::uint32_t>(0)) << "a clean end";
    devhost.Close();
  }
#endif

  std::filesystem::path folder_;
  std::string deviceName_ = "tarnis1";
  LinkoraCanHardwareParameters hardware_{};
  std::vector<os::Process> apps_;
};

TEST_F(KernelLinkTest, FirstApplicationStartsKernelAndWatchAndLastExitEndsBoth) {
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  EXPECT_TRUE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));
  EXPECT_TRUE(EventSet(common::kWatchEventIndex));
  EXPECT_EQ(Initialise(kFakeKernel), 0xC9140003u) << "a second start-up in one process";
  // Ping, CAN start, then the driver claim, which reaches our own kernel.
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5}));
  const pid_t kernel = KernelPid();

  char text[256];
  mctl_GetErrorText(0xC9100003, 1, text, sizeof text);
  EXPECT_STREQ(text,
               "tarnis1-Message\n\r\n\r0xC9100003 (3-2320-3):  The CAN-driver is already in own "
               "possession!");

  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5, 3, 2}));
  EXPECT_FALSE(ProcessAlive(kernel));
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, SecondApplicationAttachesAndItsExitSendsNothing) {
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  EXPECT_EQ(StartSecondApplication("second", 2, 5, 0), "init 09140000");
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5, 3}));
  LetSecondApplicationExit("second");
  EXPECT_EQ(AwaitLine(Path("second.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5, 3}));

  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, OtherParametersAreRefusedUnlessDeclared) {
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  EXPECT_EQ(StartSecondApplication("otherRate", 2, 7, 0), "init C9140006");
  EXPECT_EQ(StartSecondApplication("declared", 2, 7, 1), "init 09140000");
  EXPECT_EQ(StartSecondApplication("dongle", 0, 5, 0), "init C9140007");
  LetSecondApplicationExit("declared");
  EXPECT_EQ(AwaitLine(Path("declared.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, KilledApplicationIsNotCounted) {
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  ASSERT_EQ(StartSecondApplication("killed", 2, 5, 0), "init 09140000");
  apps_.back().Terminate(9);
  ASSERT_EQ(os::WaitForOne(apps_.back(), 10000).kind, os::WaitKind::Signalled);

  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2) << "the last counted user ends the kernel";
  ExpectChannelGone();
}

// Whichever way the starter leaves before the user that attached after it,
// the last one out ends the kernel.
TEST_F(KernelLinkTest, StarterLeavingFirstLeavesTheLastUserToEndTheKernel) {
  ASSERT_EQ(StartSecondApplication("starter", 2, 5, 0), "init 09140000");
  const pid_t kernel = KernelPid();
  ASSERT_EQ(StartSecondApplication("attached", 2, 5, 0), "init 09140000");
  LetSecondApplicationExit("starter");
  EXPECT_EQ(AwaitLine(Path("starter.results"), "exit", 30s), "exit 09140000");
  ASSERT_EQ(os::WaitForOne(apps_.front(), 30000).kind, os::WaitKind::Signalled);
  EXPECT_EQ(Commands().back(), 3) << "the starter leaves a user behind and sends nothing";
  EXPECT_TRUE(ProcessAlive(kernel));
  LetSecondApplicationExit("attached");
  EXPECT_EQ(AwaitLine(Path("attached.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, StarterKilledFirstLeavesTheLastUserToEndTheKernel) {
  ASSERT_EQ(StartSecondApplication("starter", 2, 5, 0), "init 09140000");
  ASSERT_EQ(StartSecondApplication("attached", 2, 5, 0), "init 09140000");
  apps_.front().Terminate(9);
  ASSERT_EQ(os::WaitForOne(apps_.front(), 10000).kind, os::WaitKind::Signalled);
  LetSecondApplicationExit("attached");
  EXPECT_EQ(AwaitLine(Path("attached.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

// A watching program that an application killed on its way out left
// behind is taken over by the next start, and ended with the channel.
TEST_F(KernelLinkTest, StartTakesOverAWatchingProgramLeftWithoutAKernel) {
  auto holdsLock =
      os::Mutex::CreateOrOpen(common::KernelObjectName(common::kInitializationEventIndex), false);
  ASSERT_TRUE(holdsLock);
  auto leftOver = os::Process::Start(
      kVigilo, {std::string(common::KernelObjectName(common::kWatchCommandLineIndex))});
  ASSERT_TRUE(leftOver);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!EventSet(common::kWatchEventIndex) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(EventSet(common::kWatchEventIndex));

  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  holdsLock->Close();
  EXPECT_EQ(os::WaitForOne(*leftOver, 0).kind, os::WaitKind::Timeout) << "it was taken over";
  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(os::WaitForOne(*leftOver, 10000).kind, os::WaitKind::Signalled);
  leftOver->Close();
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, HundredUsersAtMost) {
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  // 99 further users are counted beside the first one.
  auto users = os::Semaphore::Open(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::InitializationSemaphore));
  ASSERT_TRUE(users);
  ASSERT_EQ(users->Release(98), os::OsError::Ok);
  EXPECT_EQ(StartSecondApplication("hundredth", 2, 5, 0), "init 09140000");
  EXPECT_EQ(StartSecondApplication("hundredAndFirst", 2, 5, 0), "init C9140009");
  LetSecondApplicationExit("hundredth");
  EXPECT_EQ(AwaitLine(Path("hundredth.results"), "exit", 30s), "exit 09140000");
  for (int i = 0; i < 98; ++i) os::WaitForOne(*users, 0);
  users->Close();
  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2);
}

TEST_F(KernelLinkTest, KilledKernelReleasesAWaitingCaller) {
  ::setenv("VANTOR_FAKE_KERNEL_SDO_HANG", "1", 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  const pid_t kernel = KernelPid();
  ASSERT_TRUE(ProcessAlive(kernel));

  auto waiting = std::async(std::launch::async, [] {
    LinkoraSdoFrame frame{};
    frame.RequestCobId = 0x601;
    frame.RequestLength = 8;
    return cpctl_ComViaSdo(&frame, sizeof frame);
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Commands().back() != 1000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(Commands().back(), 1000) << "the SDO request reached the kernel";
  const auto killed = std::chrono::steady_clock::now();
  ::kill(kernel, SIGKILL);
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), 0xC9140009u);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 2s);

  LinkoraSdoFrame frame{};
  EXPECT_EQ(cpctl_ComViaSdo(&frame, sizeof frame), 0xC9140009u) << "later calls fail at once";
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 1000) << "the exit sends nothing to a dead kernel";
  EXPECT_FALSE(EventSet(common::kWatchEventIndex));
}

// A kernel that stops answering and is then killed while the library waits
// for it: the waiting call ends within a second or so of the kernel's
// death, not after the ten seconds allowed to a kernel the library cannot
// watch.
struct KernelDeathCase {
  const char* name;
  int stalledCommand;
  bool duringStartUp;  // else during the exit
  LinkoraStatus expected;
};

void PrintTo(const KernelDeathCase& c, std::ostream* out) { *out << c.name; }

class KernelDeathTest : public KernelLinkTest,
                        public ::testing::WithParamInterface<KernelDeathCase> {};

TEST_P(KernelDeathTest, WaitingCallEndsSoonAfterTheKernelDies) {
  const KernelDeathCase& c = GetParam();
  ::setenv("VANTOR_FAKE_KERNEL_STALL_ON", std::to_string(c.stalledCommand).c_str(), 1);
  if (!c.duringStartUp) {
    ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  }

  auto call = std::async(std::launch::async, [this, &c] {
    return c.duringStartUp ? Initialise(kFakeKernel) : mctl_Exit();
  });
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (LastCommand() != c.stalledCommand && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(LastCommand(), c.stalledCommand) << "the request reached the kernel";
  const pid_t kernel = KernelPid();
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(kernel, SIGKILL), 0);
  ASSERT_EQ(call.wait_for(30s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 3s);
  EXPECT_EQ(call.get(), c.expected);
  ExpectChannelGone();
}

INSTANTIATE_TEST_SUITE_P(
    Waits, KernelDeathTest,
    ::testing::Values(
        // The last user asks the kernel for the watching program before ending it.
        KernelDeathCase{"ExitAskingForTheWatch", 3, false, LINKORA_SUCCESS},
        // The driver claim reaches the kernel just started.
        KernelDeathCase{"StartUpClaimingTheDriver", 5, true, 0xC9140009u},
        KernelDeathCase{"StartUpSendingTheStartRecord", 4, true, 0xC9140009u}),
    [](const ::testing::TestParamInfo<KernelDeathCase>& info) { return info.param.name; });

// An application attaching to a running kernel does not know that kernel's
// process before the kernel has told it; it still notices the kernel's end.
TEST_F(KernelLinkTest, AttachEndsSoonAfterTheKernelDies) {
  ::setenv("VANTOR_FAKE_KERNEL_STALL_ON", "3", 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  const std::string results = Path("attaching.results");
  auto app = os::Process::Start(
      kTestApp, {results, Path("attaching.go"), kFakeKernel, kVigilo, "2", "1", "5", "0", "1"});
  ASSERT_TRUE(app);
  apps_.push_back(app.take());
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (LastCommand() != 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(LastCommand(), 3) << "the identity request reached the kernel";
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(KernelPid(), SIGKILL), 0);
  EXPECT_EQ(AwaitLine(results, "init", 30s), "init C9140009");
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 3s);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  // The refused application may take the watching program's presence with
  // it when it finds no kernel left; what is checked here is the attach's
  // wait, so the watch this process started is ended here in any case.
  for (const pid_t watch : ChildrenNamed("Vigilo")) {
    if (auto process = os::Process::Open(static_cast<std::uint32_t>(watch))) {
      process->Terminate(0);
      os::WaitForOne(*process, 10000);
    }
  }
  ExpectChannelGone();
}

// The user limit is the channel's own count: it refuses at once, whatever
// the kernel does.
TEST_F(KernelLinkTest, UserBeyondTheLimitIsRefusedAtOnce) {
  ::setenv("VANTOR_FAKE_KERNEL_STALL_ON", "3", 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  auto users = os::Semaphore::Open(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::InitializationSemaphore));
  ASSERT_TRUE(users);
  ASSERT_EQ(users->Release(common::kChannelSemaphoreMaximum - 1), os::OsError::Ok);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(StartSecondApplication("hundredAndFirst", 2, 5, 0), "init C9140009");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5})) << "the kernel was not asked";
  for (int i = 0; i < common::kChannelSemaphoreMaximum - 1; ++i) os::WaitForOne(*users, 0);
  users->Close();
  ::kill(KernelPid(), SIGKILL);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, SdoFrameIsRetriedAndTheTimeOfAllAttemptsSummed) {
  ::setenv("VANTOR_FAKE_KERNEL_SDO_FAILS", "2", 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  LinkoraSdoFrame frame{};
  frame.RequestCobId = 0x601;
  frame.ResponseCobId = 0x581;
  frame.RequestLength = 4;
  frame.RequestData[0] = 0x40;
  frame.RequestData[3] = 0x10;
  EXPECT_EQ(cpctl_ComViaSdo(&frame, sizeof frame), LINKORA_SUCCESS);
  EXPECT_EQ(frame.TimeUsed, 21u);
  EXPECT_EQ(frame.ResponseLength, 4);
  EXPECT_EQ(frame.ResponseData[0], 0x40);
  EXPECT_EQ(frame.ResponseData[3], 0x10);

  // A homing run holds the standard area; the SDO area still serves.
  {
    auto stop = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    std::promise<void> holding;
    std::thread homingCaller([&] {
      const auto name = [](common::ChannelObject object) {
        return common::ChannelObjectName(Channel::CanOne, object);
      };
      auto mutex = os::Mutex::Open(name(common::ChannelObject::StandardMutex)).take();
      auto homing = os::Event::Open(name(common::ChannelObject::HomingActiveEvent)).take();
      const bool held = os::WaitForOne(mutex, 30000).acquired();
      static_cast<void>(homing.Set());
      holding.set_value();
      static_cast<void>(os::WaitForOne(stop, 30000));
      static_cast<void>(homing.Reset());
      if (held) static_cast<void>(mutex.Release());
    });
    holding.get_future().wait();
    EXPECT_EQ(mctl_specfct_CncExit(), 0xC9130016u);
    EXPECT_EQ(cpctl_ComViaSdo(&frame, sizeof frame), LINKORA_SUCCESS);
    static_cast<void>(stop.Set());
    homingCaller.join();
  }
  EXPECT_EQ(mctl_specfct_CncExit(), 0xC914000Bu);

  frame.RequestLength = 9;
  const auto before = Commands().size();
  EXPECT_EQ(cpctl_ComViaSdo(&frame, sizeof frame), 0xC9130007u);
  EXPECT_EQ(Commands().size(), before) << "a frame of nine bytes is not sent";
}

TEST_F(KernelLinkTest, KernelThatNeverAnswersFailsAfterFiveSecondsAndLeavesNothing) {
  ::setenv("VANTOR_FAKE_KERNEL_SILENT", "1", 1);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Initialise(kFakeKernel), 0xC9130002u);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 4500ms);
  EXPECT_LT(elapsed, 30s);
  EXPECT_FALSE(ProcessAlive(KernelPid()));
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, CncModeSendsTheRecordWithItsListsAndTheLastUserEndsIt) {
  ::setenv("VANTOR_FAKE_KERNEL_CNC_FILE", Path("cnc").c_str(), 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  LinkoraCoordinateEntry coordinates[2] = {{1, 1, 0, 0, 1000.0, -1000.0}, {0, 1, 1, 0, 5.5, -5.5}};
  LinkoraAxisEntry axes[2] = {{1, 0, 0}, {2, 1, 9}};
  LinkoraCncInitRecord cnc{};
  cnc.CncKernelShared = 1;
  cnc.Coor32BitFormat = 1;
  cnc.DllPathPufVecMaxNo = 20;
  cnc.CoorNo = 2;
  cnc.AxisNo = 2;
  cnc.LinearFastVel = 123.25;
  std::strcpy(cnc.HandwheelModell, "VANTOR_WPN23");
  cnc.CoordinateList = coordinates;
  cnc.AxisList = axes;

  cnc.DeclareMode = 1;
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), 0xC914000Bu)
      << "the first CNC user cannot be a follower";
  cnc.DeclareMode = 0;
  cnc.CoorNo = 9;
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), 0xC9140006u);
  cnc.CoorNo = 2;
  cnc.AxisList = nullptr;
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), 0xC9140006u);
  cnc.AxisList = axes;

  ASSERT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 12);
  const auto payload = ReadFile("cnc");
  ASSERT_EQ(payload.size(), 880u + 2 * 32 + 2 * 12);
  EXPECT_EQ(std::memcmp(payload.data(), &cnc, 864), 0);
  EXPECT_TRUE(std::all_of(payload.begin() + 864, payload.begin() + 880,
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(std::memcmp(payload.data() + 880, coordinates, sizeof coordinates), 0);
  EXPECT_EQ(std::memcmp(payload.data() + 944, axes, sizeof axes), 0);

  auto block = os::Mapping::Open(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::CommunicationMapping));
  ASSERT_TRUE(block);
  const auto word = [&](std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, block->data() + offset, sizeof value);
    return value;
  };
  EXPECT_EQ(word(0x04), 2u);
  EXPECT_EQ(word(0x08), 2u);
  EXPECT_EQ(word(0x0C), 2u);
  EXPECT_EQ(word(0x10), 1u);
  EXPECT_EQ(word(0x14), 0u);
  block->Close();
  auto pathBuffer = os::Mapping::Open(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::PathBufferMapping));
  ASSERT_TRUE(pathBuffer);
  EXPECT_EQ(pathBuffer->size(), 8192u);
  std::uint32_t capacity = 0;
  std::memcpy(&capacity, pathBuffer->data() + 8, sizeof capacity);
  EXPECT_EQ(capacity, 20u);
  pathBuffer->Close();

  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), 0xC914000Cu);

  // Later users join without a command; one with another capacity takes
  // ours unless it insists on its own buffering.
  EXPECT_EQ(StartSecondApplication("joining", 2, 5, 0, 1, "33:0"), "init 09140000");
  EXPECT_EQ(AwaitLine(Path("joining.results"), "cnc", 30s), "cnc 09140000 00000014");
  EXPECT_EQ(StartSecondApplication("insisting", 2, 5, 0, 1, "33:4"), "init 09140000");
  EXPECT_EQ(AwaitLine(Path("insisting.results"), "cnc", 30s), "cnc C913000B 00000021");
  LetSecondApplicationExit("insisting");
  EXPECT_EQ(AwaitLine(Path("insisting.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(Commands().back(), 3) << "joining and leaving send no CNC command";
  EXPECT_EQ(mctl_specfct_CncExit(), LINKORA_SUCCESS);
  EXPECT_NE(Commands().back(), 13) << "the joined user is still in CNC mode";
  LetSecondApplicationExit("joining");
  EXPECT_EQ(AwaitLine(Path("joining.results"), "exit", 30s), "exit 09140000");
  EXPECT_EQ(Commands().back(), 13) << "the last CNC user ends CNC mode";
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_specfct_CncExit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 13);
  EXPECT_EQ(mctl_specfct_CncExit(), 0xC914000Bu);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

// A kernel that could not take every drive out of operation still leaves
// CNC mode, and says so: the library reports its code instead of success,
// and the channel stays open until an exit succeeds.
TEST_F(KernelLinkTest, LeavingCncModeReportsDrivesTheKernelCouldNotTakeOut) {
  ::setenv("VANTOR_FAKE_KERNEL_EXIT_RESULT", Path("exit-result").c_str(), 1);
  std::ofstream(Path("exit-result")) << "C913000D";
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  LinkoraCncInitRecord cnc{};
  cnc.DllPathPufVecMaxNo = 20;

  ASSERT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_specfct_CncExit(), 0xC913000Du);
  EXPECT_EQ(Commands().back(), 13);
  EXPECT_EQ(mctl_specfct_CncExit(), 0xC914000Bu) << "CNC mode is left all the same";

  ASSERT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Exit(), 0xC913000Du);
  EXPECT_EQ(Commands().back(), 13) << "the kernel is not ended";
  EXPECT_TRUE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));

  std::filesystem::remove(Path("exit-result"));
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, PdoExportsMirrorTheirRecordsAndNeedTheCncMode) {
  ::setenv("VANTOR_FAKE_KERNEL_PDO_FILE", Path("pdo").c_str(), 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  LinkoraPdoAssignment assignment{};
  assignment.Direction = 1;
  assignment.NodeId = 20;
  assignment.CobId = 0x214;
  assignment.Length = 2;
  assignment.Mask[7] = 0x5A;
  assignment.AnswerTimeout = 5000;
  assignment.Period = 0x01020304;
  LinkoraPdoData data{0x214, {1, 2, 3, 4, 5, 6, 7, 8}, 12, 0, 0xEEEEEEEE};
  EXPECT_EQ(cpctl_AssignPdo(&assignment, sizeof assignment), 0xC914000Bu);
  EXPECT_EQ(cpctl_ClearPdo(0x214), 0xC914000Bu);
  EXPECT_EQ(cpctl_WritePdo(&data, sizeof data), 0xC914000Bu);
  EXPECT_EQ(data.Length, 0);
  EXPECT_EQ(data.Mismatch, 0u);
  EXPECT_EQ(cpctl_AssignPdo(&assignment, sizeof assignment - 1), 0xC914000Eu);
  EXPECT_EQ(cpctl_ReadPdo(&data, sizeof data + 1), 0xC914000Eu);

  LinkoraCncInitRecord cnc{};
  cnc.DllPathPufVecMaxNo = 20;
  ASSERT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), LINKORA_SUCCESS);
  EXPECT_EQ(cpctl_AssignPdo(&assignment, sizeof assignment), 0x09130000u);
  EXPECT_EQ(cpctl_ClearPdo(0x215), 0x09130000u);
  // A length beyond a frame sends eight data bytes and the length as given.
  data = {0x214, {1, 2, 3, 4, 5, 6, 7, 8}, 12, 0, 0xEEEEEEEE};
  EXPECT_EQ(cpctl_WritePdo(&data, sizeof data), 0x09130000u);
  EXPECT_EQ(data.Length, 12);
  EXPECT_EQ(data.Mismatch, 1u);
  LinkoraPdoData read{0x214, {}, 0, 0, 0xEEEEEEEE};
  EXPECT_EQ(cpctl_ReadPdo(&read, sizeof read), 0x09130000u);
  EXPECT_EQ(read.Length, 3);
  EXPECT_EQ(read.Data[2], 0xA2);
  EXPECT_EQ(read.Data[3], 0) << "only the answered length is copied";
  EXPECT_EQ(read.Mismatch, 1u);
  LinkoraPdoData refused{0x7FF, {}, 2, 0, 0};
  EXPECT_EQ(cpctl_ReadPdo(&refused, sizeof refused), 0xC9130008u);
  EXPECT_EQ(refused.Length, 0);
  EXPECT_EQ(refused.Mismatch, 1u);

  const auto payloads = ReadFile("pdo");
  ASSERT_EQ(payloads.size(), 5u * 44);
  EXPECT_EQ(std::memcmp(payloads.data(), &assignment, sizeof assignment), 0);
  const std::uint8_t clear[] = {0x15, 0x02};
  EXPECT_EQ(std::memcmp(payloads.data() + 44, clear, sizeof clear), 0);
  const std::uint8_t write[] = {0x14, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 12, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(payloads.data() + 88, write, sizeof write), 0);
  const std::uint8_t readRequest[] = {0x14, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(payloads.data() + 132, readRequest, sizeof readRequest), 0);
  EXPECT_EQ(mctl_specfct_CncExit(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectChannelGone();
}

TEST_F(KernelLinkTest, TracedExportsWriteTheirLines) {
  ::setenv("VANTOR_DEBUG_OUTPUT", Path("trace").c_str(), 1);
  ASSERT_EQ(Initialise(kFakeKernel), LINKORA_SUCCESS);
  const char* const names[] = {"MCTL_SETUP"};
  LinkoraTraceFilter filter{0, "T", 1, names};
  ASSERT_EQ(mctl_InitDebugViewOutput(&filter, sizeof filter), LINKORA_SUCCESS);
  mctl_Setup();
  LinkoraVersionRecord version{};
  mctl_GetVersion(&version, sizeof version);
  const auto bytes = ReadFile("trace");
  const std::string trace(bytes.begin(), bytes.end());
  EXPECT_NE(trace.find("T - tarnis1 - mctl_Setup - Entry   "), std::string::npos) << trace;
  EXPECT_NE(trace.find("T - tarnis1 - mctl_Setup - Exit    "), std::string::npos) << trace;
  EXPECT_EQ(trace.find("mctl_GetVersion"), std::string::npos) << trace;
}

// The kernel takes its time to answer its end: the ending application
// still waits for the answer and for the kernel and the watching program to
// end, with the channel's objects still its own.
TEST_F(KernelLinkTest, ApplicationEndingWithoutExitStillEndsTheKernel) {
  ::setenv("VANTOR_FAKE_KERNEL_SLOW_END", "500", 1);
  ASSERT_EQ(StartSecondApplication("starter", 2, 5, 0), "init 09140000");
  EXPECT_EQ(Commands(), (std::vector<int>{1, 4, 5}));
  LetSecondApplicationExit("starter", "return");
  ASSERT_EQ(os::WaitForOne(apps_.back(), 30000).kind, os::WaitKind::Signalled);
  EXPECT_FALSE(EventSet(common::KernelModeEventIndex(Channel::CanOne)))
      << "the application ended before its kernel";
  EXPECT_FALSE(EventSet(common::kWatchEventIndex)) << "and before the watching program";
  EXPECT_EQ(Commands().back(), 2);
  ExpectChannelGone();
  ::unsetenv("VANTOR_FAKE_KERNEL_SLOW_END");
}

// With the driver host serving the simulated machine, the real kernel gets
// past its CAN start.
TEST_F(KernelLinkTest, RealKernelRunsTheChannelOverTheDriverHost) {
#ifndef VANTOR_DEVHOST_PROGRAM
  GTEST_SKIP() << "built without the driver host";
#else
  auto devhost = StartDevhost();
  if (!devhost.valid()) GTEST_SKIP() << "the driver host serves no tarnis1 device";
  const LinkoraStatus status = Initialise(kMotrix);
  EXPECT_EQ(status, LINKORA_SUCCESS);
  if (status == LINKORA_SUCCESS) {
    EXPECT_TRUE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));
    EXPECT_TRUE(EventSet(common::kWatchEventIndex));
    EXPECT_EQ(StartSecondApplication("second", 2, 5, 0), "init 09140000");
    LetSecondApplicationExit("second");
    EXPECT_EQ(AwaitLine(Path("second.results"), "exit", 30s), "exit 09140000");
    EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  }
  StopDevhost(devhost);
  ExpectChannelGone();
#endif
}

// Every application killed: the kernel ends as after command 2, and the
// watching program with it.
TEST_F(KernelLinkTest, RealKernelAndWatchEndWhenEveryApplicationIsKilled) {
#ifndef VANTOR_DEVHOST_PROGRAM
  GTEST_SKIP() << "built without the driver host";
#else
  auto devhost = StartDevhost();
  if (!devhost.valid()) GTEST_SKIP() << "the driver host serves no tarnis1 device";
  ASSERT_EQ(StartSecondApplication("starter", 2, 5, 0, 1, {}, kMotrix), "init 09140000");
  ASSERT_EQ(StartSecondApplication("attached", 2, 5, 0, 1, {}, kMotrix), "init 09140000");
  for (auto& app : apps_) app.Terminate(9);
  for (auto& app : apps_) ASSERT_EQ(os::WaitForOne(app, 30000).kind, os::WaitKind::Signalled);
  // The kernel and the watching program end by themselves; the driver host
  // stays.
  for (const std::uint32_t id : os::OtherProcessesOfNamespace()) {
    if (id == devhost.id()) continue;
    if (auto process = os::Process::Open(id)) {
      ASSERT_EQ(os::WaitForOne(*process, 30000).kind, os::WaitKind::Signalled)
          << "process " << id << " of the namespace did not end";
    }
  }
  EXPECT_FALSE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));
  EXPECT_FALSE(EventSet(common::kWatchEventIndex));
  // The next start needs no clean-up by hand.
  EXPECT_EQ(Initialise(kMotrix), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  StopDevhost(devhost);
  ExpectChannelGone();
#endif
}

TEST_F(KernelLinkTest, RealKernelAnswersTheStartUpAndEndsWithTheChannel) {
  const LinkoraStatus status = Initialise(kMotrix);
  // The kernel answered the ping: a failure can only come from the CAN
  // start (while its driver link is not there), and then everything ends.
  EXPECT_NE(status, 0xC9130002u);
  EXPECT_NE(status, 0xC9140009u);
  if (status == LINKORA_SUCCESS) {
    EXPECT_TRUE(EventSet(common::KernelModeEventIndex(Channel::CanOne)));
    EXPECT_EQ(mctl_specfct_CanExit(), LINKORA_SUCCESS);
  }
  ExpectChannelGone();
}

}  // namespace

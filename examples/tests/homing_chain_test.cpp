// Homing over the whole chain: this process homes the machine's axes
// through the interface library after the reset, and a homing application
// is killed mid-run while this process takes the channel over. The drives
// stand a short way above their negative limit switches (homing_machine),
// so a run takes seconds at the drives' own speeds; their dictionaries are
// read through the driver host's node commands, the frames from its log.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "examples/tests/chain_processes.h"
#include "examples/tests/sdo_reads.h"
#include "interface/include/linkora.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kHomingUser = VANTOR_HOMING_USER;
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
const std::string kHomingMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/homing_machine.json";

// machine.ini: X on drive 1, Y on drive 2 with its gantry slave on drive 3
// (the pair homes by the gantry control PDO), Z on drive 4.
constexpr std::uint32_t kAllAxes = 0b111;
constexpr std::uint32_t kDrives[] = {1, 2, 3, 4};
constexpr std::uint32_t kPlainDrives[] = {1, 4};
constexpr std::uint32_t kGantryMaster = 2;
constexpr std::uint32_t kHomingActive = 0xC9130016u;
constexpr std::uint32_t kModeHoming = 6;
constexpr std::uint32_t kModeInterpolated = 7;
constexpr std::uint32_t kHalt = 0x010F;
// A bound for anything that should take seconds; a hang fails, not a slow machine.
constexpr auto kGenerous = 120s;
// One SDO exchange, however loaded the machine.
constexpr auto kSdoAnswerBound = 30s;

// The I/O module's device type (0x1000), read by the application's own
// SDO exchange beside the run.
std::uint32_t ReadModuleDeviceType(std::uint8_t& firstByte) {
  LinkoraSdoFrame frame;
  const std::uint32_t result = UploadObject(kIoModule, 0x1000, 0, frame);
  firstByte = frame.ResponseData[0];
  return result;
}

class HomingChainTest : public ChainTest {
 protected:
  HomingChainTest() : ChainTest("homing-chain") {}

  void TearDown() override {
    if (user_.valid()) {
      static_cast<void>(user_.Terminate(1));
      static_cast<void>(os::WaitForOne(user_, 10000));
    }
    ChainTest::TearDown();
  }

  std::string Read(std::uint32_t drive, std::uint32_t index, std::uint32_t subindex) {
    char object[16];
    std::snprintf(object, sizeof object, "0x%04X", index);
    return Control("node can0 " + std::to_string(drive) + " read " + object + " " +
                   std::to_string(subindex));
  }

  // CNC mode on from machine.ini and the drives reset.
  void InitialiseAndReset() {
    ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);
    ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  }

  std::uint32_t StatusAnswer(LinkoraMotionControlStatus& status) {
    status = LinkoraMotionControlStatus{};
    return mctl_GetStatus(&status, sizeof status);
  }

  void ExpectEveryDriveHomed() {
    LinkoraMotionControlStatus status;
    ASSERT_EQ(StatusAnswer(status), LINKORA_SUCCESS);
    EXPECT_EQ(status.NeedReferenceRun, 0u);
    for (const std::uint32_t drive : kDrives) {
      SCOPED_TRACE("drive " + std::to_string(drive));
      EXPECT_EQ(Read(drive, 0x6064, 0), "ok 0") << "the reference is the drive's zero";
      EXPECT_EQ(Read(drive, 0x6061, 0), "ok " + std::to_string(kModeInterpolated));
    }
    for (const std::uint32_t drive : kPlainDrives) {
      EXPECT_EQ(Read(drive, 0x1800, 2), "ok 1")
          << "drive " << drive << " sends its feedback every SYNC again";
    }
  }

  // Waits (bounded) until `done` holds; false when it never did.
  template <typename Condition>
  bool Await(Condition&& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  os::Process user_;
};

TEST_F(HomingChainTest, AllAxesHomeAndTheGantryPairGoesThroughItsPhases) {
  const fs::path log = folder_ / "frames.log";
  StartDevhost(kHomingMachine, log.string());
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_NO_FATAL_FAILURE(InitialiseAndReset());
  LinkoraMotionControlStatus status;
  ASSERT_EQ(StatusAnswer(status), LINKORA_SUCCESS);
  EXPECT_EQ(status.NeedReferenceRun, 1u) << "no axis has its reference after the reset";

  EXPECT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS);
  ExpectEveryDriveHomed();

  // The pair's master is started, then let through its two phases, on its
  // control PDO: controlword, then the two phase bytes.
  const std::vector<LoggedFrame> frames = ReadFrameLog(log);
  const std::vector<std::string> phases = {"202#1F000000", "202#1F000100", "202#1F000101"};
  auto from = frames.begin();
  for (const std::string& phase : phases) {
    from = std::find_if(from, frames.end(), [&](const LoggedFrame& f) { return f.text == phase; });
    ASSERT_NE(from, frames.end()) << phase << " missing or out of order";
  }

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

// The homing application dies with its request in the kernel: others are
// told that homing runs, a break from this process ends the run and gives
// the channel back, and after a reset the axes home again.
TEST_F(HomingChainTest, AKilledHomingCallerLeavesTheChannelToTheNextOne) {
  StartDevhost(kHomingMachine);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_NO_FATAL_FAILURE(InitialiseAndReset());
  // X searches its switch slowly: the run lasts until it is broken.
  ASSERT_EQ(Control("node can0 1 write 0x6099 1 500"), "ok");

  const fs::path state = folder_ / "homing_user.state";
  auto started = os::Process::Start(kHomingUser, {kSampleIni, state.string(), "7"});
  ASSERT_TRUE(started);
  user_ = started.take();
  ASSERT_TRUE(Await([&] { return Read(1, 0x6061, 0) == "ok " + std::to_string(kModeHoming); }))
      << "X never started homing; the application wrote:\n"
      << ReadText(state);
  // The run holds the standard area; this process's own SDO exchange goes
  // on beside it.
  std::uint8_t answer = 0;
  auto exchange = std::async(std::launch::async, [&] { return ReadModuleDeviceType(answer); });
  const bool answered = exchange.wait_for(kSdoAnswerBound) == std::future_status::ready;
  // Else the break ends the run, and with it the exchange's wait.
  if (!answered) static_cast<void>(mctl_ReferenceBreak());
  ASSERT_TRUE(answered) << "the SDO exchange waited for the homing run";
  EXPECT_EQ(exchange.get(), LINKORA_SUCCESS);
  EXPECT_EQ(answer, 0x43) << "an expedited upload's answer";
  ASSERT_EQ(::kill(static_cast<pid_t>(user_.id()), SIGKILL), 0);
  ASSERT_EQ(os::WaitForOne(user_, 10000).kind, os::WaitKind::Signalled);
  // Its handle would count as something left behind.
  user_.Close();

  LinkoraMotionControlStatus status;
  EXPECT_EQ(StatusAnswer(status), kHomingActive) << "the dead caller's run still goes on";

  EXPECT_EQ(mctl_ReferenceBreak(), LINKORA_SUCCESS);
  EXPECT_TRUE(Await([&] { return StatusAnswer(status) != kHomingActive; }))
      << "the broken run never gave the channel back";
  EXPECT_EQ(StatusAnswer(status), LINKORA_SUCCESS);
  EXPECT_EQ(status.NeedReferenceRun, 1u);
  EXPECT_EQ(Read(1, 0x6040, 0), "ok " + std::to_string(kHalt)) << "X is halted";
  EXPECT_EQ(Read(kGantryMaster, 0x6061, 0), "ok " + std::to_string(kModeInterpolated))
      << "the gantry pair never started";

  ASSERT_EQ(Control("node can0 1 write 0x6099 1 20000"), "ok");
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS);
  ExpectEveryDriveHomed();

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test

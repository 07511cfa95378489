// The whole chain on simulated hardware: the driver host serves a machine,
// channel_probe starts channel 1 through the interface library (which starts
// the real kernel and the watching program), asks the drives for their
// device type and identification text over raw SDO frames, and ends the
// channel with nothing left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "examples/tests/chain_processes.h"
#include "interface/include/linkora.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"

namespace {

using namespace std::chrono_literals;
using vantor::examples_test::ChannelProgramsOfNamespace;
using vantor::examples_test::WriteIniWith;
namespace os = vantor::os;
namespace common = vantor::common;
namespace fs = std::filesystem;

const std::string kProbe = VANTOR_CHANNEL_PROBE;
const std::string kProgramFolder = VANTOR_PROGRAM_FOLDER;
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
const std::string kDualDriveMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/dual_drive_machine.json";
const std::string kCandumpReader = VANTOR_EXAMPLES_FOLDER "/tests/read_candump_log.py";
const std::string kPython = VANTOR_PYTHON;

// What the drives of the machine descriptions answer.
constexpr char kBanner[] = "Vantor CAN-CNC-Control, interface library 01.70.00.13";
constexpr char kChannelUp[] = "channel 1 up on tarnis1 at 500 kbit/s";
constexpr char kChannelEnded[] = "channel 1 ended";
constexpr char kStandardDrive[] = "device type 0x00020192, name \"ZEB11 K905 01.60.03 servo\"";
constexpr char kDualDrive[] =
    "device type 0x00020192, name \"ZEB22/ZEB44 K905 01.62.00 dual power stage, two axis "
    "firmware build 2026\"";

using ProbeRun = vantor::examples_test::ProgramRun;

long long WallClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class ChannelProbeTest : public vantor::examples_test::ChainTest {
 protected:
  ChannelProbeTest() : ChainTest("examples") {}

  ProbeRun RunProbe(const std::vector<std::string>& arguments) { return Run(kProbe, arguments); }
  ProbeRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    return Run(program, arguments);
  }

  // The sample initialisation file with another bit-rate code.
  std::string IniWithBitRateCode(int code) {
    return WriteIniWith(kSampleIni, folder_ / ("rate" + std::to_string(code) + ".ini"),
                        {{"BaudRateForCan", std::to_string(code)}});
  }
};

TEST_F(ChannelProbeTest, ReadsEveryDriveOfTheMachineAndLeavesNothingRunning) {
  StartDevhost(kDualDriveMachine);
  ASSERT_FALSE(HasFatalFailure());
  const ProbeRun run = RunProbe({kSampleIni});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  // The dual drive's text takes more segments than the others.
  const std::vector<std::string> expected = {kBanner,
                                             kChannelUp,
                                             std::string("node 1: ") + kStandardDrive,
                                             std::string("node 2: ") + kDualDrive,
                                             std::string("node 3: ") + kStandardDrive,
                                             kChannelEnded};
  EXPECT_EQ(run.out, expected) << run.err;
  ExpectNothingLeft();
}

TEST_F(ChannelProbeTest, SilentNodeFailsWithTheLibraryTextAndTheChannelStillEnds) {
  StartDevhost();
  ASSERT_FALSE(HasFatalFailure());
  const ProbeRun run = RunProbe({kSampleIni, "1", "5"});
  EXPECT_EQ(run.exitCode, 1u);
  ASSERT_EQ(run.out.size(), 4u) << run.err;
  EXPECT_EQ(run.out[2], std::string("node 1: ") + kStandardDrive);
  EXPECT_EQ(run.out[3], kChannelEnded);
  EXPECT_NE(run.err.find("node 5, object 0x1000: cpctl_ComViaSdo failed:\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("0xC9130006 (3-2323-6):  Time for CAN-message expired!"),
            std::string::npos)
      << run.err;
  ExpectNothingLeft();
}

// The sample machine's bus runs at the file's 500 kbit/s. At any other rate
// the drives never see the kernel's frames: the channel comes up, the first
// request times out, and the channel still ends cleanly. 800 kbit/s has no
// timing at the card's controller clock and fails at the start.
TEST_F(ChannelProbeTest, AChannelAtAnotherBitRateFailsWithTheLibraryTextAndLeavesNothing) {
  struct Case {
    int code;
    const char* channelUp;  // nullptr: the start fails
    const char* failure;
    const char* text;
  };
  const char* const kNodeFailure = "node 1, object 0x1000: cpctl_ComViaSdo failed:\n";
  const char* const kTimeout = "0xC9130006 (3-2323-6):  Time for CAN-message expired!";
  const Case cases[] = {
      {0, "channel 1 up on tarnis1 at 10 kbit/s", kNodeFailure, kTimeout},
      {4, "channel 1 up on tarnis1 at 250 kbit/s", kNodeFailure, kTimeout},
      {7, "channel 1 up on tarnis1 at 1000 kbit/s", kNodeFailure, kTimeout},
      {6, nullptr, "cpctl_CanInitialize failed:\n",
       "0xC910000B (3-2320-11): Wrong initialization-parameter for CAN-interface!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    StartDevhost();
    ASSERT_FALSE(HasFatalFailure());
    const ProbeRun run = RunProbe({IniWithBitRateCode(c.code), "1"});
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    std::vector<std::string> expected = {kBanner};
    if (c.channelUp != nullptr) expected.insert(expected.end(), {c.channelUp, kChannelEnded});
    EXPECT_EQ(run.out, expected) << run.err;
    EXPECT_NE(run.err.find(c.failure), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.text), std::string::npos) << run.err;
    ExpectNothingLeft();
  }
}

// The demo's frame file is a candump log with real times: python-can's
// reader takes every line, with stamps rising from the driver host's start.
TEST_F(ChannelProbeTest, TheDemosFrameLogReadsWithPythonCanFromTheStartTime) {
  const std::string log = (folder_ / "demo.log").string();
  const long long startedAt = WallClockSeconds();
  StartDevhost({}, log);
  ASSERT_FALSE(HasFatalFailure());
  const ProbeRun probe = RunProbe({kSampleIni});
  EXPECT_EQ(probe.exitCode, 0u) << probe.err;
  ExpectNothingLeft();
  const long long endedAt = WallClockSeconds() + 1;

  const ProbeRun read = RunProgram(
      kPython, {kCandumpReader, log, std::to_string(startedAt), std::to_string(endedAt)});
  EXPECT_EQ(read.exitCode, 0u) << read.err;
  ASSERT_FALSE(read.out.empty()) << read.err;
  EXPECT_EQ(read.out.front(), "70A#00") << "the I/O module boots first";
  for (const char* frame :
       {"601#4000100000000000", "581#4300100092010200", "603#400A100000000000"}) {
    EXPECT_NE(std::find(read.out.begin(), read.out.end(), frame), read.out.end()) << frame;
  }
}

TEST_F(ChannelProbeTest, WithoutDriverHostTheStartFailsWithTheLibraryText) {
  const ProbeRun run = RunProbe({kSampleIni});
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_NE(run.err.find("cpctl_CanInitialize failed:\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("0xC9130003 (3-2323-3):  CAN-driver not exist!"), std::string::npos)
      << run.err;
  ExpectNothingLeft();
}

TEST_F(ChannelProbeTest, BadArgumentsAndFilesAreRefused) {
  const ProbeRun missing = RunProbe({(folder_ / "absent.ini").string()});
  EXPECT_EQ(missing.exitCode, 1u);
  EXPECT_NE(
      missing.err.find("cpctl_GetCanInitPar(" + (folder_ / "absent.ini").string() + ") failed:\n"),
      std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("0xC9140001 (3-2324-1): Incorrect initialization-file!"),
            std::string::npos)
      << missing.err;
  for (const std::string& node : std::vector<std::string>{"0", "128", "99999999999"}) {
    const ProbeRun run = RunProbe({kSampleIni, node});
    EXPECT_EQ(run.exitCode, 2u) << node;
    EXPECT_NE(run.err.find("\"" + node + "\" is no CAN node number"), std::string::npos) << run.err;
  }
  const ProbeRun option = RunProbe({"--verbose"});
  EXPECT_EQ(option.exitCode, 2u);
  EXPECT_TRUE(option.out.empty());
}

// While the channel is up, the kernel's cycle toggles the heartbeat of the
// communication block; a second application (the probe) attaches to the
// running channel and leaves it running when it ends.
TEST_F(ChannelProbeTest, HeartbeatTogglesWhileTheChannelIsUpAndTheProbeAttaches) {
  StartDevhost();
  ASSERT_FALSE(HasFatalFailure());
  LinkoraCanHardwareParameters hardware{};
  LinkoraCanInitRecord record{};
  record.HardwareParameters = &hardware;
  ASSERT_EQ(cpctl_GetCanInitPar(&record, sizeof record, kSampleIni.c_str()), LINKORA_SUCCESS);
  std::string device = "tarnis1";
  const std::string kernel = kProgramFolder + "/Motrix";
  const std::string watch = kProgramFolder + "/Vigilo";
  record.DeviceName = device.data();
  record.KernelPath = const_cast<char*>(kernel.c_str());
  record.WatchPath = const_cast<char*>(watch.c_str());
  ASSERT_EQ(cpctl_CanInitialize(&record, sizeof record), LINKORA_SUCCESS);

  {
    auto block = os::Mapping::Open(common::ChannelObjectName(
        common::Channel::CanOne, common::ChannelObject::CommunicationMapping));
    ASSERT_TRUE(block) << os::OsErrorName(block.error());
    ASSERT_GE(block->size(), common::kCommunicationBlockSize);
    namespace cb = common::communication_block;
    std::atomic_ref<std::uint8_t> heartbeat(
        *reinterpret_cast<std::uint8_t*>(block->data() + cb::kHeartbeat.kOffset));
    std::set<std::uint8_t> seen;
    int changes = 0;
    std::uint8_t last = heartbeat.load();
    seen.insert(last);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (changes < 4 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
      const std::uint8_t now = heartbeat.load();
      seen.insert(now);
      if (now != last) ++changes;
      last = now;
    }
    EXPECT_GE(changes, 4);
    EXPECT_EQ(seen, (std::set<std::uint8_t>{cb::kHeartbeatLow, cb::kHeartbeatHigh}));
    block->Close();
  }

  const ProbeRun run = RunProbe({kSampleIni, "3"});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  const std::vector<std::string> expected = {
      kBanner, kChannelUp, std::string("node 3: ") + kStandardDrive, kChannelEnded};
  EXPECT_EQ(run.out, expected) << run.err;
  EXPECT_FALSE(ChannelProgramsOfNamespace(namespace_).empty())
      << "the probe's exit ended a channel it did not start";

  EXPECT_EQ(cpctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

}  // namespace

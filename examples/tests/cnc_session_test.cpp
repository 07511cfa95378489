// CNC mode over the whole chain: cnc_session enters CNC mode on the default
// machine through the interface library, shows the controller's view of the
// axes, writes the I/O module's outputs and reads its inputs through user
// PDOs, and leaves. The driver host's frame log shows what reached the bus;
// its control endpoint sets and reads the module's terminals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "examples/tests/chain_processes.h"
#include "interface/include/linkora.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;

const std::string kSession = VANTOR_CNC_SESSION;
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";

// The default machine: X on drive 1, Y on drive 2 with its gantry slave 3,
// Z on drive 4; the I/O module is node 10, the handwheel gateway node 20.
constexpr std::uint32_t kFirstDrive = 1;
constexpr std::uint32_t kLastDrive = 4;
constexpr char kIoModule[] = "node can0 10 ";
constexpr char kIoModuleStart[] = "000#010A";

const std::vector<std::string> kSessionOutput = {
    "CNC mode on",
    "I/O module 10 started",
    "control initialised: 1",
    "axis 1: node 1",
    "axis 2: node 2, gantry slave node 3",
    "axis 3: node 4",
    "handwheel: node 20, model \"VANTOR_WPN23\"",
    "device \"tarnis1\", driver \"01.70.00.10\", kernel \"01.70.00.13\", library \"01.70.00.13\"",
    "initialised: 1, reference run needed: 1",
    "outputs 0x20A written: 5A C3",
    "inputs 0x18A read: A5 3C",
    "PDO 0x181 of drive node 1: 0xC9130008",
    "CNC mode left",
};

// A frame the master sends to one of the drives: an NMT command naming it
// (or every node), an RPDO, an SDO request or a guarding request.
bool IsFrameToADrive(const LoggedFrame& frame) {
  if (frame.id == 0) {
    // A command without its node byte reaches nobody in particular: count it.
    if (frame.text.size() < 8) return true;
    const std::uint32_t node = std::stoul(frame.text.substr(6, 2), nullptr, 16);
    return node == 0 || (node >= kFirstDrive && node <= kLastDrive);
  }
  const std::uint32_t node = frame.id & 0x7F;
  if (node < kFirstDrive || node > kLastDrive) return false;
  const std::uint32_t function = frame.id & 0x780;
  const bool remote = frame.text.size() > 4 && frame.text[4] == 'R';
  return function == 0x200 || function == 0x300 || function == 0x400 || function == 0x500 ||
         function == 0x600 || (function == 0x700 && remote);
}

class CncSessionTest : public ChainTest {
 protected:
  CncSessionTest() : ChainTest("cnc-session") {}

  // The module's input terminals as the session expects to read them.
  void WireTheInputs() {
    EXPECT_EQ(Control(std::string(kIoModule) + "inputs 0 0xA5"), "ok");
    EXPECT_EQ(Control(std::string(kIoModule) + "inputs 1 0x3C"), "ok");
  }

  // The outputs the module took from the session's PDO.
  void ExpectTheOutputsTaken() {
    EXPECT_EQ(Control(std::string(kIoModule) + "read 0x6200 1"), "ok 90");
    EXPECT_EQ(Control(std::string(kIoModule) + "read 0x6200 2"), "ok 195");
  }
};

TEST_F(CncSessionTest, TheFirstUserEntersCncModeWithoutAFrameToTheDrivesAndLeavesNothing) {
  const fs::path log = folder_ / "frames.log";
  StartDevhost({}, log.string());
  ASSERT_FALSE(HasFatalFailure());
  WireTheInputs();

  const ProgramRun run = Run(kSession, {kSampleIni});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.out, kSessionOutput) << run.err;
  ExpectTheOutputsTaken();
  ExpectNothingLeft();

  // Up to the module's start command, the session's first frame after
  // entering CNC mode, nothing went to a drive.
  const std::vector<LoggedFrame> frames = ReadFrameLog(log);
  const auto start = std::find_if(frames.begin(), frames.end(),
                                  [](const LoggedFrame& f) { return f.text == kIoModuleStart; });
  ASSERT_NE(start, frames.end()) << "the I/O module was never started";
  for (auto frame = frames.begin(); frame != start; ++frame) {
    EXPECT_FALSE(IsFrameToADrive(*frame)) << frame->text;
  }
  const auto after = [&](const std::string& text) {
    return std::any_of(start, frames.end(),
                       [&](const LoggedFrame& f) { return f.text.starts_with(text); });
  };
  EXPECT_TRUE(after("20A#5AC3")) << "the written outputs";
  EXPECT_TRUE(after("18A#R")) << "the kernel asks for the inputs";
  EXPECT_TRUE(after("18A#A53C")) << "the module's answer";
  // The complete status in quick stop reads every drive's error field.
  EXPECT_TRUE(after("601#40031001")) << "drive errors";
}

// A second application joins the running CNC mode, runs the same session
// and leaves it running; its PDOs go with it. The last user's exit ends
// everything.
TEST_F(CncSessionTest, ASecondProcessJoinsCncModeAndLeavesItToTheFirst) {
  StartDevhost();
  ASSERT_FALSE(HasFatalFailure());
  WireTheInputs();
  ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);

  const ProgramRun run = Run(kSession, {kSampleIni});
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.out, kSessionOutput) << run.err;
  ExpectTheOutputsTaken();

  EXPECT_FALSE(ChannelProgramsOfNamespace(namespace_).empty())
      << "the joining process ended a CNC mode it did not start";
  LinkoraMotionControlStatus status{};
  ASSERT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
  EXPECT_EQ(status.IsInitialized, 1u);
  LinkoraPdoData inputs{};
  inputs.CobId = 0x18A;
  EXPECT_EQ(cpctl_ReadPdo(&inputs, sizeof inputs), 0xC9130008u) << "the session cleared its PDOs";

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

// The reset brings the default machine's drives up; the first one after the
// initialisation identifies the modules, a second one does not again.
TEST_F(CncSessionTest, TheFirstResetIdentifiesTheDrivesAndASecondOneDoesNotAgain) {
  const fs::path log = folder_ / "frames.log";
  StartDevhost({}, log.string());
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();

  // The identification text's upload request to drive 1.
  const std::vector<LoggedFrame> frames = ReadFrameLog(log);
  const auto identifications =
      std::count_if(frames.begin(), frames.end(),
                    [](const LoggedFrame& f) { return f.text.rfind("601#400A1000", 0) == 0; });
  EXPECT_EQ(identifications, 1) << "identified once, by the first reset";
  const auto started = std::find_if(frames.begin(), frames.end(), [](const LoggedFrame& f) {
    return f.text.rfind("000#01", 0) == 0;
  });
  EXPECT_NE(started, frames.end()) << "the drives were started";
}

// Refusals end the session before it touches the channel, with the
// library's text, and leave nothing behind.
TEST_F(CncSessionTest, AMissingFileOrDriverHostEndsWithTheLibraryText) {
  struct Case {
    const char* name;
    bool withDevhost;
    std::string file;
    std::string text;
  };
  const Case cases[] = {
      {"missing file", true, (folder_ / "absent.ini").string(),
       "0xC9140001 (3-2324-1): Incorrect initialization-file!"},
      {"no driver host", false, kSampleIni, "0xC9130003 (3-2323-3):  CAN-driver not exist!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.withDevhost) StartDevhost();
    ASSERT_FALSE(HasFatalFailure());
    const ProgramRun run = Run(kSession, {c.file});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.out.empty()) << run.out.front();
    EXPECT_NE(run.err.find("mctl_Initialize failed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.text), std::string::npos) << run.err;
    ExpectNothingLeft();
  }
  EXPECT_EQ(Run(kSession, {"--help"}).exitCode, 2u);
}

}  // namespace
}  // namespace vantor::examples_test

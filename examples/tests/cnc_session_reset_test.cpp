// The reset over the whole chain: cnc_session_reset resets the default
// machine's drives twice through the interface library while this process
// holds CNC mode. The drives' dictionaries, read through the driver host's
// node commands, show the kernel's process-data layout and an enabled
// drive; the frame log shows the start, the cyclic exchange and the time
// stamp's poll; leaving CNC mode disables the drives again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/cnc_init_record.h"
#include "examples/tests/chain_processes.h"
#include "interface/include/linkora.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSessionReset = VANTOR_CNC_SESSION_RESET;
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";

// The program's lines; the durations vary ("<n>": a decimal number).
const std::vector<std::string> kResetOutput = {
    "CNC mode on",
    "reset: 0x09140000 in <n> ms",
    "initialised: 1, communication failure: 0",
    "second reset: 0x09140000 in <n> ms",
    "CNC mode left",
};

bool MatchesLine(const std::string& line, const std::string& pattern) {
  const std::size_t number = pattern.find("<n>");
  if (number == std::string::npos) return line == pattern;
  const std::string prefix = pattern.substr(0, number);
  const std::string suffix = pattern.substr(number + 3);
  if (line.size() <= prefix.size() + suffix.size() || !line.starts_with(prefix) ||
      !line.ends_with(suffix)) {
    return false;
  }
  const std::string digits =
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

// The default machine's drives: X on node 1 (the SYNC node, so the time
// stamp's source), Y on node 2 with its gantry slave 3 as node 2's axis,
// Z on node 4.
constexpr std::uint32_t kDrives[] = {1, 2, 3, 4};
constexpr double kCycleSeconds = 0.003;     // InterruptCycle of machine.ini
constexpr double kPollPeriodSeconds = 0.3;  // TimeForGlobalSynPeriod of machine.ini

// Mapping entries: index, subindex and bit length.
constexpr std::uint32_t Entry(std::uint32_t index, std::uint32_t subindex, std::uint32_t bits) {
  return index << 16 | subindex << 8 | bits;
}

// What a PDO carries and when it goes, apart from its identifier.
struct Layout {
  std::uint32_t transmissionType;
  std::uint32_t inhibitTime;  // transmit PDOs only
  std::vector<std::uint32_t> entries;
};

const Layout kEmptyReceive{0xF1, 0, {}};
const Layout kEmptyTransmit{0xF1, 65000, {}};
const Layout kControlword{0x00, 0, {Entry(0x6040, 0, 16)}};
const Layout kSetpoint{0xFF, 0, {Entry(0x60C1, 1, 32), Entry(0x60C1, 2, 16), Entry(0x60C1, 3, 16)}};
const Layout kTimeStampIn{0xFF, 0, {Entry(0x1013, 0, 32)}};
const Layout kFeedback{0x01, 10, {Entry(0x6064, 0, 32), Entry(0x6041, 0, 16), Entry(0x60FD, 0, 8)}};
// The time stamp object the library names in the CNC initialisation.
const Layout kTimeStampOut{0xFD,
                           0,
                           {Entry(common::cnc_init_record::kGlobalRequestTemplateWordValue,
                                  common::cnc_init_record::kGlobalRequestTemplateByteValue, 32)}};
const Layout kAxisState{0x00, 0, {Entry(0x2043, 6, 32), Entry(0x2043, 5, 16)}};

enum Direction : bool { kReceive = false, kTransmit = true };

struct PdoExpectation {
  std::uint32_t drive;
  Direction direction;
  std::uint32_t pdo;
  std::uint32_t cobId;
  const Layout& layout;
};

// Receive PDOs of the axis (drive 3) take its node's identifiers, its
// transmit PDOs its own; axes get no feedback PDO, and only a node with an
// axis and that axis send the axis state. The time stamp goes out on the
// source's transmit PDO 2 (0x281) and comes in on everybody else's
// receive PDO 3.
const PdoExpectation kPdoLayout[] = {
    {1, kReceive, 1, 0x201, kControlword},    {1, kReceive, 2, 0x301, kSetpoint},
    {1, kReceive, 3, 0x401, kEmptyReceive},   {1, kReceive, 4, 0x501, kEmptyReceive},
    {1, kTransmit, 1, 0x181, kFeedback},      {1, kTransmit, 2, 0x281, kTimeStampOut},
    {1, kTransmit, 3, 0x381, kEmptyTransmit}, {1, kTransmit, 4, 0x481, kEmptyTransmit},

    {2, kReceive, 1, 0x202, kControlword},    {2, kReceive, 2, 0x302, kSetpoint},
    {2, kReceive, 3, 0x281, kTimeStampIn},    {2, kReceive, 4, 0x502, kEmptyReceive},
    {2, kTransmit, 1, 0x182, kFeedback},      {2, kTransmit, 2, 0x282, kEmptyTransmit},
    {2, kTransmit, 3, 0x382, kEmptyTransmit}, {2, kTransmit, 4, 0x482, kAxisState},

    {3, kReceive, 1, 0x202, kControlword},    {3, kReceive, 2, 0x302, kSetpoint},
    {3, kReceive, 3, 0x281, kTimeStampIn},    {3, kReceive, 4, 0x502, kEmptyReceive},
    {3, kTransmit, 1, 0x183, kEmptyTransmit}, {3, kTransmit, 2, 0x283, kEmptyTransmit},
    {3, kTransmit, 3, 0x383, kEmptyTransmit}, {3, kTransmit, 4, 0x483, kAxisState},

    {4, kReceive, 1, 0x204, kControlword},    {4, kReceive, 2, 0x304, kSetpoint},
    {4, kReceive, 3, 0x281, kTimeStampIn},    {4, kReceive, 4, 0x504, kEmptyReceive},
    {4, kTransmit, 1, 0x184, kFeedback},      {4, kTransmit, 2, 0x284, kEmptyTransmit},
    {4, kTransmit, 3, 0x384, kEmptyTransmit}, {4, kTransmit, 4, 0x484, kEmptyTransmit},
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

bool StartsWith(const LoggedFrame& frame, const std::string& text) {
  return frame.text.starts_with(text);
}

bool IsSdoRequestToADrive(const LoggedFrame& frame) {
  return frame.id >= 0x601 && frame.id <= 0x604;
}

// The statusword of a feedback PDO: position (4 bytes), statusword (2,
// little-endian), digital inputs.
std::uint32_t FeedbackStatusword(const LoggedFrame& frame) {
  if (frame.text.size() < 4 + 12) return 0xFFFFFFFFu;
  const std::uint32_t low = std::stoul(frame.text.substr(4 + 8, 2), nullptr, 16);
  const std::uint32_t high = std::stoul(frame.text.substr(4 + 10, 2), nullptr, 16);
  return high << 8 | low;
}

class CncSessionResetTest : public ChainTest {
 protected:
  CncSessionResetTest() : ChainTest("cnc-reset") {}

  std::string Read(std::uint32_t drive, std::uint32_t index, std::uint32_t subindex) {
    return Control("node can0 " + std::to_string(drive) + " read " + Hex(index) + " " +
                   std::to_string(subindex));
  }

  void ExpectObject(std::uint32_t drive, std::uint32_t index, std::uint32_t subindex,
                    std::uint32_t value) {
    EXPECT_EQ(Read(drive, index, subindex), "ok " + std::to_string(value))
        << "drive " << drive << " object " << Hex(index) << " sub " << subindex;
  }

  std::uint32_t Statusword(std::uint32_t drive) {
    const std::string answer = Read(drive, 0x6041, 0);
    if (!answer.starts_with("ok ")) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(std::stoul(answer.substr(3)));
  }

  // Waits (bounded) until the log holds `count` SYNC frames after `from`.
  std::vector<LoggedFrame> AwaitSyncFrames(const fs::path& log, double from, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (true) {
      std::vector<LoggedFrame> frames = ReadFrameLog(log);
      const auto syncs = std::count_if(frames.begin(), frames.end(), [&](const LoggedFrame& f) {
        return f.id == 0x080 && f.seconds > from;
      });
      if (static_cast<std::size_t>(syncs) >= count ||
          std::chrono::steady_clock::now() >= deadline) {
        return frames;
      }
      std::this_thread::sleep_for(50ms);
    }
  }
};

double WallClockSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST_F(CncSessionResetTest, TheResetEnablesTheDrivesWithTheKernelsProcessDataLayout) {
  const fs::path log = folder_ / "frames.log";
  StartDevhost({}, log.string());
  ASSERT_FALSE(HasFatalFailure());
  // This process holds CNC mode, so that the drives stay enabled after the
  // program has left.
  ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);

  const ProgramRun run = Run(kSessionReset, {kSampleIni});
  const double programEnded = WallClockSeconds();
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  ASSERT_EQ(run.out.size(), kResetOutput.size()) << run.err;
  for (std::size_t i = 0; i < kResetOutput.size(); ++i) {
    EXPECT_TRUE(MatchesLine(run.out[i], kResetOutput[i])) << run.out[i];
  }

  // The two resets' SDO requests: the second reset's begin with its first
  // NMT reset command after the first one's start command.
  {
    const std::vector<LoggedFrame> frames = ReadFrameLog(log);
    const auto firstStart = std::find_if(
        frames.begin(), frames.end(), [](const LoggedFrame& f) { return StartsWith(f, "000#01"); });
    ASSERT_NE(firstStart, frames.end()) << "the drives were never started";
    const auto second = std::find_if(firstStart, frames.end(),
                                     [](const LoggedFrame& f) { return StartsWith(f, "000#81"); });
    ASSERT_NE(second, frames.end()) << "the second reset reset no node";
    const auto identifications = [](auto begin, auto end) {
      return std::count_if(begin, end,
                           [](const LoggedFrame& f) { return StartsWith(f, "601#400A1000"); });
    };
    EXPECT_EQ(identifications(frames.begin(), second), 1) << "the first reset identifies";
    EXPECT_EQ(identifications(second, frames.end()), 0) << "the second one does not again";
    const auto firstSdos = std::count_if(frames.begin(), second, IsSdoRequestToADrive);
    const auto secondSdos = std::count_if(second, frames.end(), IsSdoRequestToADrive);
    RecordProperty("first_reset_sdo_requests", std::to_string(firstSdos));
    RecordProperty("second_reset_sdo_requests", std::to_string(secondSdos));
    EXPECT_GT(secondSdos, 0);
    EXPECT_GT(firstSdos, secondSdos) << "the second reset skips the first one's reads";
  }

  // Every drive enabled in interpolated position mode, every PDO as the
  // kernel lays it out.
  for (const std::uint32_t drive : kDrives) {
    EXPECT_EQ(Statusword(drive) & 0x6F, 0x27u) << "drive " << drive << " operation enabled";
    ExpectObject(drive, 0x6061, 0, 7);
  }
  for (const PdoExpectation& pdo : kPdoLayout) {
    SCOPED_TRACE("drive " + std::to_string(pdo.drive) + (pdo.direction ? " transmit" : " receive") +
                 " PDO " + std::to_string(pdo.pdo));
    const std::uint32_t communication = (pdo.direction ? 0x1800 : 0x1400) + pdo.pdo - 1;
    const std::uint32_t mapping = (pdo.direction ? 0x1A00 : 0x1600) + pdo.pdo - 1;
    ExpectObject(pdo.drive, communication, 1, pdo.cobId);
    ExpectObject(pdo.drive, communication, 2, pdo.layout.transmissionType);
    if (pdo.direction == kTransmit) {
      ExpectObject(pdo.drive, communication, 3, pdo.layout.inhibitTime);
      ExpectObject(pdo.drive, communication, 5, 0);
    }
    const auto count = static_cast<std::uint32_t>(pdo.layout.entries.size());
    ExpectObject(pdo.drive, mapping, 0, count);
    for (std::uint32_t sub = 1; sub <= count; ++sub) {
      ExpectObject(pdo.drive, mapping, sub, pdo.layout.entries[sub - 1]);
    }
  }

  // The cyclic exchange once the program has gone: SYNC every cycle, the
  // drives' feedback and the time stamp's poll and answer every poll
  // period. The frames carry simulated time while the driver paces its
  // cycle by the clock, so on a loaded machine SYNC looks sparser or
  // denser; twice per cycle or one in four is wrong all the same.
  constexpr std::size_t kSyncFrames = 400;
  const std::vector<LoggedFrame> frames = AwaitSyncFrames(log, programEnded, kSyncFrames);
  std::vector<LoggedFrame> tail;
  std::copy_if(frames.begin(), frames.end(), std::back_inserter(tail),
               [&](const LoggedFrame& f) { return f.seconds > programEnded; });
  std::vector<double> syncs;
  for (const LoggedFrame& f : tail) {
    if (f.id == 0x080) syncs.push_back(f.seconds);
  }
  ASSERT_GE(syncs.size(), kSyncFrames);
  const double window = syncs.back() - syncs.front();
  const double cycles = window / kCycleSeconds;
  const double intervals = static_cast<double>(syncs.size() - 1);
  EXPECT_LE(intervals, cycles * 1.5 + 2) << "SYNC faster than the cycle over " << window << " s";
  EXPECT_GE(intervals, cycles * 0.25) << "SYNC missing over " << window << " s";

  for (const std::uint32_t drive : {1u, 2u}) {
    SCOPED_TRACE("feedback of drive " + std::to_string(drive));
    std::size_t feedback = 0;
    for (const LoggedFrame& f : tail) {
      if (f.id != 0x180 + drive) continue;
      ++feedback;
      EXPECT_EQ(FeedbackStatusword(f) & 0x6F, 0x27u) << f.text;
    }
    EXPECT_GT(feedback, 0u);
  }
  // Each poll (a remote frame on the source's 0x281) is answered with the
  // 32-bit time stamp before the next one.
  std::size_t polls = 0;
  for (auto frame = tail.begin(); frame != tail.end(); ++frame) {
    if (!StartsWith(*frame, "281#R")) continue;
    ++polls;
    const auto answer = std::find_if(frame + 1, tail.end(), [](const LoggedFrame& f) {
      return f.id == 0x281 && f.text.size() == 4 + 8 && f.text[4] != 'R';
    });
    const auto next = std::find_if(frame + 1, tail.end(),
                                   [](const LoggedFrame& f) { return StartsWith(f, "281#R"); });
    EXPECT_TRUE(answer != tail.end() && (next == tail.end() || answer < next))
        << "the poll at " << frame->seconds << " s is not answered with a 32-bit time stamp";
  }
  const double periods = window / kPollPeriodSeconds;
  EXPECT_GE(polls, 2u) << "the time stamp is polled once, not every period, over " << window
                       << " s";
  EXPECT_GE(static_cast<double>(polls), periods * 0.25) << "polls missing over " << window << " s";
  EXPECT_LE(static_cast<double>(polls), periods * 1.5 + 2)
      << "polls faster than their period over " << window << " s";

  // Leaving CNC mode disables every drive.
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  for (const std::uint32_t drive : kDrives) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((Statusword(drive) & 0x4F) != 0x40 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(Statusword(drive) & 0x4F, 0x40u) << "drive " << drive << " switch-on disabled";
  }
  ExpectNothingLeft();
}

// A drive that does not answer fails the first reset: the program shows
// the kernel's code with the library's text and does not reset again.
// Leaving CNC mode cannot take the silent drive out of operation, which
// the program shows too; it still closes the channel and leaves nothing
// behind.
TEST_F(CncSessionResetTest, ASilentDriveFailsTheResetAndTheProgramStillLeaves) {
  StartDevhost();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(Control("node can0 4 silent on"), "ok");

  const ProgramRun run = Run(kSessionReset, {kSampleIni});
  EXPECT_EQ(run.exitCode, 1u) << run.err;
  ASSERT_EQ(run.out.size(), 2u) << run.err;
  EXPECT_EQ(run.out[0], "CNC mode on");
  EXPECT_TRUE(MatchesLine(run.out[1], "reset: 0xC913000D in <n> ms")) << run.out[1];
  EXPECT_NE(run.err.find("mctl_Reset failed with 0xC913000D"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("mctl_Exit failed with 0xC913000D"), std::string::npos) << run.err;
  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test

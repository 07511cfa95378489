// Homing and the home shift over the whole chain on a machine with both
// gantry roads: X on a compact drive (1, no home shift), Y a gantry pair
// that takes the gantry control PDO (2, slave 3), Z a gantry pair homed by
// SDO alone (4, slave 5). The drives stand a short way above their
// negative limit switches, so a run takes seconds; their dictionaries are
// read through this process's own SDO exchange, the frames from the
// driver host's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <optional>
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
const std::string kRoadsMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/gantry_roads_machine.json";

constexpr std::uint32_t kAllAxes = 0b111;
constexpr std::uint32_t kAxisCount = 3;
constexpr std::uint8_t kDrives[] = {1, 2, 3, 4, 5};
constexpr std::uint8_t kPlainDrive = 1;
constexpr std::uint8_t kGantryDrives[] = {2, 3, 4, 5};
// 0-based axes (node indices) of the two pairs and their drives.
constexpr std::int32_t kCompactAxis = 0;
constexpr std::int32_t kPdoRoadAxis = 1;
constexpr std::int32_t kSdoRoadAxis = 2;
constexpr std::uint8_t kPdoRoadPair[] = {2, 3};
constexpr std::uint8_t kSdoRoadPair[] = {4, 5};
// The drives' position factors (0x6093): the PDO road's pair takes 3/10
// increments per position unit, the SDO road's pair 3.
// The first shift whose increments on the SDO road's pair leave the
// drive's 32-bit range (3 x 715827883 = 2147483649).
constexpr std::int32_t kFirstShiftOutOfRange = 715827883;

constexpr std::uint32_t kKernelSuccess = 0x09130000u;
constexpr std::uint32_t kNodeFailed = 0xC913000Du;
constexpr std::uint32_t kNodeNotReady = 0xC913000Fu;
constexpr std::uint32_t kHomingBroken = 0xC9130015u;
constexpr std::uint32_t kShiftOutOfRange = 0xC9130021u;
constexpr std::uint32_t kAxisInvalid = 0xC9130027u;
constexpr std::uint32_t kNoHomeShift = 0xC9130033u;
constexpr std::int64_t kModeInterpolated = 7;
constexpr std::int64_t kStartHoming = 0x001F;
constexpr std::int64_t kHalt = 0x010F;
// A bound for anything that should take seconds; a hang fails, not a slow machine.
constexpr auto kGenerous = 120s;

class GantryRoadsChainTest : public ChainTest {
 protected:
  GantryRoadsChainTest() : ChainTest("homing-roads") {}

  void TearDown() override {
    if (watcher_.valid()) {
      static_cast<void>(watcher_.Terminate(1));
      static_cast<void>(os::WaitForOne(watcher_, 10000));
    }
    if (!ChannelProgramsOfNamespace(namespace_).empty()) static_cast<void>(mctl_Exit());
    ChainTest::TearDown();
  }

  // machine.ini with Z made a gantry pair on drives 4 and 5.
  std::string Ini() {
    return WriteIniWith(kSampleIni, folder_ / "gantry_roads.ini",
                        {{"Gantry3", "true"}, {"SlaveCanNodeNo3", "5"}});
  }

  // The driver host on the machine, CNC mode on and the drives reset.
  void StartMachine(const std::string& candump = {}) {
    StartDevhost(kRoadsMachine, candump);
    ASSERT_FALSE(HasFatalFailure());
    ini_ = Ini();
    ASSERT_EQ(mctl_Initialize(ini_.c_str()), LINKORA_SUCCESS);
    ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  }

  LinkoraCompleteStatusRecord CompleteStatus() {
    LinkoraCompleteStatusRecord record{};
    EXPECT_EQ(mctl_specfct_GetCompleteStatus(&record, sizeof record), LINKORA_SUCCESS);
    return record;
  }

  // Homed: flag D in both rows of the axis.
  static bool Homed(const LinkoraCompleteStatusRecord& record, std::uint32_t axis) {
    return record.DriveState[axis].HomingError == 1 &&
           record.LatchedDriveState[axis].HomingError == 1;
  }

  static std::uint32_t Shift(std::int32_t axis, std::int32_t shift) {
    const std::int32_t words[2] = {axis, shift};
    return mctl_ChangeHomePosition(words, sizeof words);
  }

  // Waits (bounded) until `done` holds; false when it never did.
  template <typename Condition>
  static bool Await(Condition&& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  std::string ini_;
  os::Process watcher_;
};

// The SDO download 0x6060 := 6 (homing mode) after "60<node id>", which
// either gantry road sends to both drives of its pair.
constexpr const char* kHomingModeWrite = "#2F60600006";

bool Sent(const std::vector<LoggedFrame>& frames, const std::string& text) {
  return std::any_of(frames.begin(), frames.end(),
                     [&](const LoggedFrame& f) { return f.text == text; });
}

TEST_F(GantryRoadsChainTest, EveryAxisHomesOnItsOwnRoad) {
  const fs::path log = folder_ / "frames.log";
  ASSERT_NO_FATAL_FAILURE(StartMachine(log.string()));
  LinkoraCompleteStatusRecord before = CompleteStatus();
  for (std::uint32_t axis = 0; axis < kAxisCount; ++axis) {
    EXPECT_FALSE(Homed(before, axis)) << "axis " << axis << " homed by the reset";
  }

  ASSERT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS);

  const LinkoraCompleteStatusRecord after = CompleteStatus();
  for (std::uint32_t axis = 0; axis < kAxisCount; ++axis) {
    SCOPED_TRACE("axis " + std::to_string(axis));
    EXPECT_TRUE(Homed(after, axis));
    EXPECT_EQ(after.AxisResults[axis].Result, kKernelSuccess);
    EXPECT_EQ(after.AxisResults[axis].SlaveResult, kKernelSuccess);
  }
  for (const std::uint8_t drive : kDrives) {
    SCOPED_TRACE("drive " + std::to_string(drive));
    EXPECT_EQ(ReadSigned(drive, 0x6064, 0), 0) << "the reference is the drive's zero";
    EXPECT_EQ(ReadSigned(drive, 0x6061, 0), kModeInterpolated);
  }
  EXPECT_EQ(ReadSigned(kPlainDrive, 0x1800, 2), 1) << "X sends its feedback every SYNC again";

  // The PDO road lets its master through the phases on its control PDO;
  // the SDO road searches with the pair's search mark (0x2043 sub 9 := 1)
  // written by SDO and sends no phase bytes.
  const std::vector<LoggedFrame> frames = ReadFrameLog(log);
  auto from = frames.begin();
  for (const std::string phase : {"202#1F000000", "202#1F000100", "202#1F000101"}) {
    from = std::find_if(from, frames.end(), [&](const LoggedFrame& f) { return f.text == phase; });
    ASSERT_NE(from, frames.end()) << phase << " missing or out of order";
  }
  for (const std::uint8_t drive : kSdoRoadPair) {
    EXPECT_TRUE(Sent(frames, "60" + std::to_string(drive) + "#2343200901000000"))
        << "drive " << int{drive} << " never searched as a gantry drive";
  }
  for (const std::uint8_t drive : kGantryDrives) {
    EXPECT_TRUE(Sent(frames, "60" + std::to_string(drive) + kHomingModeWrite))
        << "drive " << int{drive} << " never homed";
  }
  EXPECT_FALSE(Sent(frames, "204#1F000100")) << "the SDO road got phase bytes";
  EXPECT_FALSE(Sent(frames, "602#2343200901000000")) << "the PDO road searched by SDO";

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

// A break from another thread of this process while X searches its switch:
// X stops with the break, the pairs never start, and meanwhile another
// application is answered that homing runs while its own SDO exchange
// goes through.
TEST_F(GantryRoadsChainTest, ABreakFromAnotherThreadEndsThePlainRunBeforeThePairs) {
  const fs::path log = folder_ / "frames.log";
  ASSERT_NO_FATAL_FAILURE(StartMachine(log.string()));
  // X searches its switch slowly: the run lasts until it is broken.
  ASSERT_EQ(Control("node can0 1 write 0x6099 1 300"), "ok");
  const fs::path state = folder_ / "watcher.state";
  auto started = os::Process::Start(kHomingUser, {ini_, state.string(), "watch"});
  ASSERT_TRUE(started);
  watcher_ = started.take();
  ASSERT_TRUE(Await([&] { return !Lines(ReadText(state)).empty(); }));
  ASSERT_EQ(Lines(ReadText(state)).front(), "init 09140000");

  auto homing = std::async(std::launch::async, [] { return mctl_Reference(kAllAxes); });
  // X searches once it has its start command (a break before it ends the
  // run without a halt). Looked at through the driver host: an exchange of
  // this process with X would cross the run's own on X's SDO channel.
  const bool searching = Await([&] {
    return Control("node can0 1 read 0x6061 0") == "ok 6" &&
           Control("node can0 1 read 0x6040 0") == "ok " + std::to_string(kStartHoming);
  });
  const bool watched = searching && Await([&] { return Lines(ReadText(state)).size() >= 3; });
  EXPECT_EQ(mctl_ReferenceBreak(), LINKORA_SUCCESS);
  const bool ended = homing.wait_for(kGenerous) == std::future_status::ready;
  // Else the reset ends the run, and with it the wait for the homing thread.
  if (!ended) static_cast<void>(mctl_Reset());
  ASSERT_TRUE(ended) << "the break went unheard";
  EXPECT_TRUE(searching) << "X never started homing";
  EXPECT_TRUE(watched) << "the watcher never saw the run:\n" << ReadText(state);
  EXPECT_EQ(homing.get(), kNodeFailed);

  const LinkoraCompleteStatusRecord record = CompleteStatus();
  EXPECT_EQ(record.AxisResults[kCompactAxis].Result, kHomingBroken);
  for (std::uint32_t axis = 0; axis < kAxisCount; ++axis) {
    EXPECT_FALSE(Homed(record, axis)) << "axis " << axis;
  }
  EXPECT_EQ(ReadSigned(kPlainDrive, 0x6040, 0), kHalt) << "X is halted";
  const std::vector<LoggedFrame> frames = ReadFrameLog(log);
  for (const std::uint8_t drive : kGantryDrives) {
    EXPECT_FALSE(Sent(frames, "60" + std::to_string(drive) + kHomingModeWrite))
        << "the pair of drive " << int{drive} << " started";
    EXPECT_EQ(ReadSigned(drive, 0x6061, 0), kModeInterpolated) << "drive " << int{drive};
  }

  ASSERT_EQ(os::WaitForOne(watcher_, 60000).kind, os::WaitKind::Signalled);
  EXPECT_EQ(watcher_.exitCode(), 0u);
  watcher_.Close();
  const std::vector<std::string> expected = {"init 09140000", "status C9130016", "sdo 09140000",
                                             "status 09140000", "exit 09140000"};
  EXPECT_EQ(Lines(ReadText(state)), expected);
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

TEST_F(GantryRoadsChainTest, TheHomeShiftMovesAHomedPairsZeroByWholeIncrements) {
  ASSERT_NO_FATAL_FAILURE(StartMachine());
  EXPECT_EQ(Shift(kSdoRoadAxis, 1), kNodeNotReady) << "Z has no reference yet";
  ASSERT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS);

  struct Refusal {
    const char* what;
    std::int32_t axis;
    std::int32_t shift;
    std::uint32_t answer;
  };
  const Refusal refusals[] = {
      {"compact drive", kCompactAxis, 1, kNoHomeShift},
      {"beyond the range", kSdoRoadAxis, kFirstShiftOutOfRange, kShiftOutOfRange},
      {"beyond the negative range", kSdoRoadAxis, -kFirstShiftOutOfRange, kShiftOutOfRange},
      {"no such axis", static_cast<std::int32_t>(kAxisCount), 1, kAxisInvalid},
  };
  for (const Refusal& refusal : refusals) {
    EXPECT_EQ(Shift(refusal.axis, refusal.shift), refusal.answer) << refusal.what;
  }
  for (const std::uint8_t drive : kDrives) {
    EXPECT_EQ(ReadSigned(drive, 0x6064, 0), 0) << "a refused shift moved drive " << int{drive};
  }

  // Whole increments: both drives of the pair take the shift at once.
  ASSERT_EQ(Shift(kSdoRoadAxis, -5), LINKORA_SUCCESS);
  for (const std::uint8_t drive : kSdoRoadPair) {
    EXPECT_EQ(ReadSigned(drive, 0x6064, 0), 15) << "drive " << int{drive};
  }

  // A tenth of an increment three times per shift: the increments each
  // shift hands over add up to exactly three per ten shifts.
  std::array<std::int64_t, 2> handedOver{};
  for (int k = 0; k < 10; ++k) {
    ASSERT_EQ(Shift(kPdoRoadAxis, 1), LINKORA_SUCCESS) << "shift " << k;
    for (std::size_t d = 0; d < handedOver.size(); ++d) {
      const std::optional<std::int64_t> increments = ReadSigned(kPdoRoadPair[d], 0x2056, 2);
      ASSERT_TRUE(increments) << "shift " << k;
      handedOver[d] += *increments;
    }
  }
  for (std::size_t d = 0; d < handedOver.size(); ++d) {
    SCOPED_TRACE("drive " + std::to_string(kPdoRoadPair[d]));
    EXPECT_EQ(handedOver[d], 3);
    EXPECT_EQ(ReadSigned(kPdoRoadPair[d], 0x6064, 0), -3);
  }
  EXPECT_EQ(ReadSigned(kPlainDrive, 0x6064, 0), 0) << "X moved with the others' shifts";

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test

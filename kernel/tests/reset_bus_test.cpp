// The whole reset (command 15) over the real channel-1 driver and simulated
// drives, checked against what the drives themselves logged: node 1 on
// drive 1 (it gives the SYNC and the time stamp), node 2 on the dual drive 2
// with its gantry slave on drive 3.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/core/canopen/drive_state_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel {
namespace {

using canopen::testing::BusDrive;
using common::StatusCode;
using testing::KernelBusFixture;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr std::uint16_t kStatusword = 0x6041;
constexpr std::uint16_t kModesDisplay = 0x6061;
constexpr std::uint16_t kControlword = 0x6040;
constexpr std::uint8_t kDualDrive = 2;
constexpr std::uint8_t kSlaveDrive = 3;
// The drives take the guarding values the kernel reads; its cycle does not
// guard them, so they never miss a guard request.
constexpr sim::canopen::GuardingDefaults kGuarding{100, 3};
// The kernel lets a drive boot this long after an NMT reset: real time, in
// which the virtual clock passes the drives' 5 ms boot many times over.
constexpr double kBootWaitMicroseconds = 200000.0;

std::vector<BusDrive> Drives() {
  std::vector<BusDrive> drives(3);
  for (BusDrive& drive : drives) drive.guarding = kGuarding;
  drives[kDualDrive - 1].config.variant = sim::drives::DriveVariant::kDual;
  return drives;
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines joined;
  for (const Lines& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// What each drive must have seen of the first reset, in this order (each
// line the start of a line of its log): the 0x2047 probe, the NMT reset,
// the identification, the guarding values, the second NMT reset and the
// start, the maker-object probes, the axis chain uncoupled, the mode, the
// receive PDOs emptied and mapped, the transmit PDOs emptied before the
// state PDO is mapped, the feedback PDO, the drive parameters read, the
// working values written and the drive enabled.
const Lines kProbeAndReset = {"upload 2047:00", "NMT 0x81"};
const Lines kGuardingAndStart = {"upload 100C:00", "upload 100D:00", "NMT 0x81", "NMT 0x01"};
const Lines kMakerProbes = {"upload 2055:01", "upload 2056:01", "upload 6510:14", "upload 2043:0E",
                            "upload 205C:01"};
const Lines kChainUncoupled = {"upload 2043:01", "download 2043:01 1 0x00"};
const Lines kReceivePdos = {"download 1600:01 4 0x60400010", "download 1601:01 4 0x60C10120"};
const Lines kParameters = {"upload 607F:00", "upload 607E:00", "download 6083:00"};
const Lines kWorkingValues = {"download 60C4:02 1 0x14", "download 60C2:01 2 0x0A00",
                              "download 60C0:00 2 0xFFFF", "download 2054:00 1 0x00"};
const Lines kEnable = {"upload 6041:00", "download 6040:00 2 0x0006", "download 6040:00 2 0x000F",
                       "upload 6041:00 2 0x8627"};

// Drive 1's mode and PDOs.
const Lines kModeAndPdosOfDrive1 = Join({
    {"download 6060:00 1 0x07", "download 1400:01 4 0x00000201"},
    kReceivePdos,
    {"download 1800:01 4 0x00000181", "download 1803:02 1 0xF1", "download 1A00:01 4 0x60640020",
     "download 1A01:01 4 0x20530020"},
});

const Lines kFirstResetOfDrive1 = Join({
    kProbeAndReset,
    {"upload 100A:00 25"},
    kGuardingAndStart,
    kMakerProbes,
    {"upload 6510:12"},
    kChainUncoupled,
    kModeAndPdosOfDrive1,
    kParameters,
    kWorkingValues,
    kEnable,
});
// The dual drive cuts its long text off: the kernel aborts the transfer
// and asks which power stage it is.
const Lines kFirstResetOfDrive2 = Join({
    kProbeAndReset,
    {"upload 100A:00 aborted by client", "upload 6510:0A"},
    kGuardingAndStart,
    kMakerProbes,
    {"upload 6510:12"},
    kChainUncoupled,
    {"download 2054:00 1 0x00", "download 6060:00 1 0x07", "download 1400:01 4 0x00000202"},
    kReceivePdos,
    {"download 1602:01 4 0x10130020", "download 1800:01 4 0x00000182", "download 1803:02 1 0xF1",
     "download 1A03:01 4 0x20430620", "download 1A00:01 4 0x60640020"},
    kParameters,
    {"download 607C:00"},
    kWorkingValues,
    {"download 2043:01 1 0x02"},
    kEnable,
});
// The gantry slave is reached through node 2's slot: its receive PDOs
// carry node 2's identifiers, its transmit PDOs its own.
const Lines kFirstResetOfDrive3 = Join({
    kProbeAndReset,
    {"upload 100A:00 25"},
    kGuardingAndStart,
    kMakerProbes,
    kChainUncoupled,
    {"download 2054:00 1 0x00", "download 6060:00 1 0x07", "download 1400:01 4 0x00000202"},
    kReceivePdos,
    {"download 1602:01 4 0x10130020", "download 1800:01 4 0x00000183", "download 1803:02 1 0xF1",
     "download 1A03:01 4 0x20430620"},
    kParameters,
    {"download 607C:00"},
    kWorkingValues,
    {"download 2043:01 1 0x01"},
    kEnable,
});

// A later reset leaves drive 1 alone where it stands started and enabled:
// no NMT, no enable; the rest it gets again.
const Lines kLaterResetOfDrive1 = Join({
    {"upload 100C:00", "upload 100D:00"},
    kChainUncoupled,
    kModeAndPdosOfDrive1,
    {"download 6083:00"},
    kWorkingValues,
    {"upload 6041:00 2 0x8627"},
});

// What only the first reset after an initialisation asks of the drives.
constexpr std::string_view kFirstResetOnly[] = {
    "upload 2047:",   "upload 100A:",   "upload 6510:0A", "upload 2055:", "upload 2056:",
    "upload 6510:14", "upload 6510:15", "upload 2043:0E", "upload 205C:", "upload 6510:12",
    "upload 607F:",   "upload 6093:",   "upload 607E:",
};

bool StartsWithAny(std::string_view line, std::span<const std::string_view> prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](std::string_view prefix) { return line.starts_with(prefix); });
}

Lines WithoutFirstResetOnly(const Lines& lines) {
  Lines kept;
  for (const std::string& line : lines) {
    if (!StartsWithAny(line, kFirstResetOnly)) kept.push_back(line);
  }
  return kept;
}

// The first of `expected` (in order, each the start of a log line) that
// the log lacks; nothing when all are there in that order.
std::optional<std::string> FirstMissing(const Lines& log, const Lines& expected) {
  auto at = log.begin();
  for (const std::string& wanted : expected) {
    at = std::find_if(at, log.end(), [&](const std::string& l) { return l.starts_with(wanted); });
    if (at == log.end()) return wanted;
    ++at;
  }
  return std::nullopt;
}

class ResetOnTheBusTest : public KernelBusFixture {
 protected:
  ResetOnTheBusTest() : KernelBusFixture(Drives()) {}
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartKernel()); }

  // X on drive 1, Y on the dual drive 2 with its gantry slave on drive 3.
  void Initialise() {
    ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {{1, 0}, {kDualDrive, kSlaveDrive}},
                                          .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    ClearDriveLogs();
  }

  // Initialised, then `resets` resets that get through; the drives' logs
  // hold only what comes after.
  void InitialiseAndReset(int resets) {
    ASSERT_NO_FATAL_FAILURE(Initialise());
    for (int k = 0; k < resets; ++k) ASSERT_EQ(Run(15), kOk) << "reset " << k;
    ClearDriveLogs();
  }

  void ClearDriveLogs() {
    for (std::uint8_t id : {1, 2, 3}) ClearDriveLog(id);
  }

  void SilenceDrive(std::uint8_t id) {
    Models([&](sim::Machine&) {
      DriveNode(id).Faults().SilenceAll(true);
      return 0;
    });
  }

  Lines LogOf(std::uint8_t id) {
    return Models([&](sim::Machine&) { return DriveNode(id).Log().Lines(); });
  }

  // The lines of drive `id`'s log that start with one of `prefixes`.
  Lines LinesStartingWith(std::uint8_t id, std::span<const std::string_view> prefixes) {
    Lines found;
    for (const std::string& line : LogOf(id)) {
      if (StartsWithAny(line, prefixes)) found.push_back(line);
    }
    return found;
  }

  std::uint64_t DriveObject(std::uint8_t id, std::uint16_t index) {
    return Models([&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(index, 0); });
  }

  void ExpectInTheLog(std::uint8_t id, const Lines& expected) {
    const Lines log = LogOf(id);
    const std::optional<std::string> missing = FirstMissing(log, expected);
    if (!missing) return;
    std::string shown;
    for (const std::string& line : log) shown += "\n  " + line;
    ADD_FAILURE() << "drive " << int{id} << " lacks \"" << *missing << "\" in its log:" << shown;
  }

  void ExpectEveryDriveEnabledInInterpolatedPosition() {
    for (std::uint8_t id : {1, 2, 3}) {
      EXPECT_EQ(DriveObject(id, kStatusword) & 0x6F, 0x27u) << "drive " << int{id};
      EXPECT_EQ(DriveObject(id, kModesDisplay), 7u) << "drive " << int{id};
    }
  }

  // Under the kernel's lock, as any handler looks.
  template <typename Look>
  auto UnderLock(Look&& look) {
    KernelDataLock lock(kernel_.data);
    return look(kernel_.data);
  }

  // Whether the reset is still pending, and whether motion is allowed
  // (drive enable and halt) or refused.
  void ExpectResetMarks(bool pending, bool motionAllowed) {
    UnderLock([&](KernelData& data) {
      EXPECT_EQ(data.state.resetPending, pending ? 1u : 0u);
      EXPECT_EQ(data.state.driveEnable, motionAllowed ? 1u : 0u);
      EXPECT_EQ(data.state.haltOk, motionAllowed ? 1u : 0u);
      return 0;
    });
  }

  // Every node's answer record and the global slot's record are armed for
  // the cyclic exchange again. Stops the cycle to look at its record.
  void ExpectRecordsArmed() {
    UnderLock([](KernelData& data) {
      for (std::uint32_t k = 0; k < data.nodeConfiguration.BoundedNodeCount(); ++k) {
        EXPECT_EQ(data.nodeConfiguration.table.nodes[k]->cyclicExchange, 1u) << "node " << k;
      }
      return 0;
    });
    StopTheCycle();
    namespace mr = common::message_record;
    using common::MessageCode;
    const auto codeOf = [&](std::size_t record) {
      return static_cast<MessageCode>(
          common::MessageRecordIn(ExchangeRecord(), record)->Get(mr::kCode));
    };
    for (std::uint8_t id : {1, 2}) {
      const std::size_t answer = 2u * id;
      EXPECT_TRUE(codeOf(answer) == MessageCode::StartAnswerObject ||
                  codeOf(answer) == MessageCode::AnswerObjectActive)
          << "answer record of node " << int{id};
      EXPECT_EQ(common::MessageRecordIn(ExchangeRecord(), answer)->Get(mr::kCobId), 0x180 + id);
    }
    const std::size_t global = kernel_.data.globalSlot.request.record;
    EXPECT_TRUE(codeOf(global) == MessageCode::SynchronisedBufferedStart ||
                codeOf(global) == MessageCode::SynchronisationActive);
  }
};

// ---- A reset that gets through ----------------------------------------------------------

struct ResetCase {
  const char* name;
  // Resets before the one looked at.
  int earlierResets;
  Lines drive1;
  Lines drive2;
  Lines drive3;
};

std::ostream& operator<<(std::ostream& out, const ResetCase& c) { return out << c.name; }

class ResetInTheDrivesLogsTest : public ResetOnTheBusTest,
                                 public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetInTheDrivesLogsTest, BringsEveryDriveUpInTheStartUpOrder) {
  const ResetCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(InitialiseAndReset(c.earlierResets));

  ASSERT_EQ(Run(15), kOk);

  ExpectInTheLog(1, c.drive1);
  ExpectInTheLog(2, c.drive2);
  ExpectInTheLog(3, c.drive3);
  if (c.earlierResets > 0) {
    for (std::uint8_t id : {1, 2, 3}) {
      EXPECT_EQ(LinesStartingWith(id, kFirstResetOnly), Lines{}) << "drive " << int{id};
    }
  }
  ExpectEveryDriveEnabledInInterpolatedPosition();
  ExpectResetMarks(false, true);
  UnderLock([](KernelData& data) {
    // The dual drive's text, cut at 49 characters, still names it.
    EXPECT_STREQ(data.nodeConfiguration.table.nodes[1]->description.data(), "ZEB44_K905_01.62.00");
    EXPECT_STREQ(data.nodeConfiguration.table.nodes[0]->description.data(), "ZEB11_K905_01.60.03");
    return 0;
  });
}

INSTANTIATE_TEST_SUITE_P(Cases, ResetInTheDrivesLogsTest,
                         ::testing::Values(ResetCase{"First", 0, kFirstResetOfDrive1,
                                                     kFirstResetOfDrive2, kFirstResetOfDrive3},
                                           ResetCase{"Second", 1, kLaterResetOfDrive1,
                                                     WithoutFirstResetOnly(kFirstResetOfDrive2),
                                                     WithoutFirstResetOnly(kFirstResetOfDrive3)}),
                         [](const auto& info) { return std::string(info.param.name); });

// The dual drive's long text is cut where the kernel's buffer ends: the
// kernel aborts the transfer after 49 characters.
TEST_F(ResetOnTheBusTest, TheDualDrivesLongTextIsCutAndItsTransferAborted) {
  ASSERT_NO_FATAL_FAILURE(Initialise());
  ASSERT_EQ(Run(15), kOk);
  std::size_t identifications = 0;
  for (const sim::canopen::SdoAccess& access : SdoAccessesOf(kDualDrive)) {
    if (access.index != 0x100A) continue;
    ++identifications;
    EXPECT_TRUE(access.abortedByClient);
    EXPECT_EQ(access.size, 49u) << "bytes the drive sent before the abort";
  }
  EXPECT_EQ(identifications, 1u);
}

// ---- A reset that fails -----------------------------------------------------------------

class FailedResetTest;

struct FailureCase {
  const char* name;
  // Successful resets before the one that fails.
  int earlierResets;
  std::function<void(FailedResetTest&)> disturb;
  StatusCode result;
  // The node (index) whose own result or gantry axis result says why.
  std::uint32_t node;
  std::optional<StatusCode> nodeResult;
  std::optional<StatusCode> axisResult;
  // Whether the reset got as far as the drives' NMT reset (where every
  // drive needs one).
  std::optional<bool> drivesReset;
  bool pendingAfter;
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.name; }

class FailedResetTest : public ResetOnTheBusTest,
                        public ::testing::WithParamInterface<FailureCase> {
 public:
  using ResetOnTheBusTest::SilenceDrive;
  void SetDriveDefault(std::uint8_t id, std::uint16_t index, std::uint8_t sub,
                       std::uint64_t value) {
    ASSERT_TRUE(Models([&](sim::Machine&) {
      return DriveNode(id).Objects().SetDefaultUnsigned(index, sub, value) &&
             DriveNode(id).Objects().SetUnsigned(index, sub, value);
    }));
  }
  // Once the drives are being enabled, drive `id` refuses every controlword.
  void RefuseEnable(std::uint8_t id) {
    // The cycle runs its hooks under this lock: set between two cycles.
    KernelDataLock lock(kernel_.data);
    beforeEveryCycle_ = [this, id, refused = false]() mutable {
      if (refused || !EnableUnderWay()) return;
      refused = true;
      Models([&](sim::Machine&) {
        DriveNode(id).Faults().ForceAbort({kControlword, 0, sim::canopen::SdoAbortCode::kGeneral});
        return 0;
      });
    };
  }
  // On the cycle thread, under the cycle's locks.
  bool EnableUnderWay() {
    const canopen::NodeTable& table = kernel_.data.nodeConfiguration.table;
    for (std::uint32_t k = 0; k < table.Count(); ++k) {
      if (table.nodes[k] != nullptr &&
          table.nodes[k]->request.stepFunction == canopen::DriveEnableStep) {
        return true;
      }
    }
    return false;
  }
};

TEST_P(FailedResetTest, ReArmsTheRecordsAndLeavesMotionRefused) {
  const FailureCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(InitialiseAndReset(c.earlierResets));
  c.disturb(*this);

  EXPECT_EQ(Run(15), c.result);

  ExpectResetMarks(c.pendingAfter, false);
  UnderLock([&](KernelData& data) {
    const canopen::NodeObject& node = *data.nodeConfiguration.table.nodes[c.node];
    if (c.nodeResult) {
      EXPECT_EQ(node.request.lastResult, *c.nodeResult);
    }
    if (c.axisResult) {
      EXPECT_EQ(node.axes[0].axisResult, *c.axisResult);
    }
    return 0;
  });
  if (c.drivesReset) {
    constexpr std::string_view kNmtReset[] = {"NMT 0x81"};
    for (std::uint8_t id : {1, 2, 3}) {
      EXPECT_EQ(!LinesStartingWith(id, kNmtReset).empty(), *c.drivesReset) << "drive " << int{id};
    }
  }
  // No drive stays enabled: none got there, or the enable took them all
  // back to switch on disabled.
  for (std::uint8_t id : {1, 2, 3}) {
    EXPECT_EQ(DriveObject(id, kStatusword) & 0x4F, 0x40u) << "drive " << int{id};
  }
  ExpectRecordsArmed();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedResetTest,
    ::testing::Values(
        FailureCase{"SilentDrive", 0, [](FailedResetTest& t) { t.SilenceDrive(1); },
                    common::kKernelOperationFailed, 0, common::kKernelCanMessageTimeout,
                    std::nullopt, false, true},
        FailureCase{"GuardTimeZero", 0,
                    [](FailedResetTest& t) { t.SetDriveDefault(1, 0x100C, 0, 0); },
                    common::kKernelOperationFailed, 0, common::kKernelNodeParameterInvalid,
                    std::nullopt, true, true},
        FailureCase{"SlaveGearDiffers", 0,
                    [](FailedResetTest& t) { t.SetDriveDefault(kSlaveDrive, 0x6093, 1, 2); },
                    common::kKernelOperationFailed, 1, kOk, common::kKernelNodeParameterInvalid,
                    true, true},
        // The dual drive's node keeps the cause over the disable that
        // follows.
        FailureCase{"EnableRefused", 0, [](FailedResetTest& t) { t.RefuseEnable(kDualDrive); },
                    common::kKernelOperationFailed, 1, common::kKernelCanMessageInvalid,
                    std::nullopt, true, false},
        // Drive 1 stands enabled from the first reset and needs no NMT; the
        // failed enable takes it back all the same, and motion that the
        // first reset allowed is refused again.
        FailureCase{"EnableRefusedOnALaterReset", 1,
                    [](FailedResetTest& t) { t.RefuseEnable(kDualDrive); },
                    common::kKernelOperationFailed, 1, common::kKernelCanMessageInvalid,
                    std::nullopt, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Edges ------------------------------------------------------------------------------

TEST_F(ResetOnTheBusTest, WithoutNodesSucceedsAndLeavesTheDrivesAlone) {
  ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {}}), kOk);
  ClearDriveLogs();

  EXPECT_EQ(Run(15), kOk);

  ExpectResetMarks(false, true);
  for (std::uint8_t id : {1, 2, 3}) EXPECT_EQ(LogOf(id), Lines{}) << "drive " << int{id};
}

// The cycle ends while the drives' parameters are read: every step still
// waiting returns, and the reset answers that the cycle is gone.
TEST_F(ResetOnTheBusTest, ACycleEndingMidResetAnswersCycleGone) {
  ASSERT_NO_FATAL_FAILURE(Initialise());
  {
    KernelDataLock lock(kernel_.data);
    beforeEveryCycle_ = [this] {
      if (SdoReadsOf(1, 0x607F) > 0) EndTheCycle();
    };
  }

  auto reset = std::async(std::launch::async, [this] { return Run(15); });
  if (reset.wait_for(60s) != std::future_status::ready) {
    ADD_FAILURE() << "the reset hangs on a cycle that is gone";
    std::_Exit(EXIT_FAILURE);
  }

  EXPECT_EQ(reset.get(), kCycleNotRunning);
  ExpectResetMarks(true, false);
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.cycleRunning, 0u);
    return 0;
  });
}

// Leaving CNC mode with a drive that no longer answers reports the failure:
// the drive may still be enabled.
TEST_F(ResetOnTheBusTest, LeavingWithADriveThatDoesNotAnswerIsAFailure) {
  ASSERT_NO_FATAL_FAILURE(InitialiseAndReset(1));
  SilenceDrive(1);
  EXPECT_NE(Run(13), kOk);
}

}  // namespace
}  // namespace vantor::kernel

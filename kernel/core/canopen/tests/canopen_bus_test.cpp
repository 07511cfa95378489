// The node services over the real channel-1 driver and simulated DS402
// drives: what reaches the drives is read from their own logs and models.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/drive_state_steps.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/node_services.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using testing::RealBusFixture;
using Words = std::vector<std::uint16_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr std::uint16_t kControlword = 0x6040;
constexpr std::uint16_t kStatusword = 0x6041;
constexpr std::uint16_t kStateMask = 0x6F;

class CanopenBus : public RealBusFixture {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartBus()); }

  common::StatusCode Command(std::uint32_t nodeIndex, std::uint16_t controlword) {
    return SdoDownloadToNode(context_, nodeIndex, kControlword, 0, 2, controlword);
  }

  // Drive 1 in one of the states the kernel meets.
  void PutFirstDriveIn(std::uint16_t state) {
    if (state == 0x2F) {
      Models([this](sim::Machine&) {
        Drive(1).InjectFault(0x5000);
        return 0;
      });
    }
    const Words toReach = state == 0x21   ? Words{0x06}
                          : state == 0x23 ? Words{0x06, 0x07}
                          : state == 0x27 ? Words{0x06, 0x07, 0x0F}
                          : state == 0x07 ? Words{0x06, 0x07, 0x0F, 0x02}
                                          : Words{};
    for (std::uint16_t word : toReach) ASSERT_EQ(Command(0, word), kOk);
    ASSERT_EQ(DriveState(1), state);
    ClearDriveLog(1);
  }

  common::StatusCode RunOnFirstNode(NodeStepFunction step) {
    EXPECT_EQ(RunOnNodes(context_, 1, step, [](NodeObject&, auto) {}), kOk);
    EXPECT_EQ(nodes_[0].request.stepFunction, nullptr);
    return nodes_[0].request.requestResult;
  }
};

TEST_F(CanopenBus, UploadReadsTheDrivesStatuswordAndDownloadMovesItsState) {
  std::uint32_t statusword = 0xFFFFFFFF;
  ASSERT_EQ(SdoUploadFromNode(context_, 0, kStatusword, 0, 2, statusword), kOk);
  EXPECT_EQ(statusword & kStateMask, DriveState(1));
  EXPECT_EQ(statusword & kStateMask, 0x60u);

  ASSERT_EQ(Command(0, 0x06), kOk);
  EXPECT_EQ(LoggedControlwords(1), Words{0x06});
  EXPECT_EQ(DriveState(1), 0x21);
  ASSERT_EQ(SdoUploadFromNode(context_, 0, kStatusword, 0, 2, statusword), kOk);
  EXPECT_EQ(statusword & kStateMask, 0x21u);
  EXPECT_TRUE(LoggedControlwords(2).empty()) << "only the addressed drive is written";
  EXPECT_FALSE(waitedWhileLocked_);
}

TEST_F(CanopenBus, UploadOfAMissingObjectFailsWithoutTouchingTheDrive) {
  std::uint32_t value = 0x12345678;
  EXPECT_NE(SdoUploadFromNode(context_, 0, 0x2FFF, 0x7F, 4, value), kOk);
  EXPECT_EQ(DriveState(1), 0x60);
}

TEST_F(CanopenBus, MaskedUploadReadsOnlyTheMaskedNodes) {
  SdoRecords records{};
  records[0] = MakeSdoRecord(kStatusword, 0, 2);
  records[1] = MakeSdoRecord(kStatusword, 0, 2, 0xABCD);
  records[2] = MakeSdoRecord(0x2FFF, 0x7F, 4, 0xABCD);
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  EXPECT_EQ(SdoUploadFromNodes(context_, 0b101, records), common::kKernelOperationFailed)
      << "the missing object fails the whole";
  EXPECT_EQ(records[0].Get(sdo_request::kValue) & kStateMask, 0x60u);
  EXPECT_EQ(records[1].Get(sdo_request::kValue), 0xABCDu) << "an unmasked record stays";
  EXPECT_EQ(records[2].Get(sdo_request::kValue), 1u) << "a missing object reads as 1";
  EXPECT_EQ(SdoAccessesOf(1).size(), 1u);
  EXPECT_TRUE(SdoAccessesOf(2).empty());
  ASSERT_EQ(SdoAccessesOf(3).size(), 1u);
  EXPECT_NE(SdoAccessesOf(3)[0].abort, sim::canopen::SdoAbortCode::kNone);
}

TEST_F(CanopenBus, MaskedDownloadWritesEachMaskedNodeItsOwnRecord) {
  constexpr std::uint16_t kProfileVelocity = 0x6081;
  SdoRecords records{};
  records[0] = MakeSdoRecord(kProfileVelocity, 0, 4, 1111);
  records[1] = MakeSdoRecord(kProfileVelocity, 0, 4, 2222);
  records[2] = MakeSdoRecord(kProfileVelocity, 0, 4, 3333);
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  EXPECT_EQ(SdoDownloadToNodes(context_, true, 0b011, records), kOk);
  const std::uint64_t expected[] = {1111, 2222};
  for (std::uint8_t id : {1, 2}) {
    const auto accesses = SdoAccessesOf(id);
    ASSERT_EQ(accesses.size(), 1u) << int{id};
    EXPECT_EQ(accesses[0].direction, sim::canopen::SdoDirection::kDownload);
    EXPECT_EQ(accesses[0].index, kProfileVelocity);
    EXPECT_EQ(accesses[0].value, expected[id - 1]);
    EXPECT_EQ(accesses[0].abort, sim::canopen::SdoAbortCode::kNone);
  }
  EXPECT_TRUE(SdoAccessesOf(3).empty());
  std::uint32_t readBack = 0;
  ASSERT_EQ(SdoUploadFromNode(context_, 1, kProfileVelocity, 0, 4, readBack), kOk);
  EXPECT_EQ(readBack, 2222u);
}

struct SequenceCase {
  std::uint16_t startState;
  Words controlwords;
  std::uint16_t endState;
};

class EnableSequence : public CanopenBus, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(EnableSequence, GivesTheControlwordsTheDriveLogs) {
  const SequenceCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(PutFirstDriveIn(c.startState));
  EXPECT_EQ(RunOnFirstNode(DriveEnableStep), kOk);
  EXPECT_EQ(LoggedControlwords(1), c.controlwords);
  EXPECT_EQ(DriveState(1), c.endState);
  EXPECT_EQ(nodes_[0].requestRecord.Get(enable_request::kAlreadyEnabled),
            c.startState == 0x27 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    FromEachState, EnableSequence,
    ::testing::Values(SequenceCase{0x60, {0x06, 0x07, 0x0F}, 0x27},
                      SequenceCase{0x21, {0x07, 0x0F}, 0x27}, SequenceCase{0x23, {0x0F}, 0x27},
                      SequenceCase{0x27, {}, 0x27},
                      SequenceCase{0x07, {0x00, 0x06, 0x07, 0x0F}, 0x27},
                      SequenceCase{0x2F, {0x00, 0x80, 0x06, 0x07, 0x0F}, 0x27}));

class DisableSequence : public CanopenBus, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(DisableSequence, GivesTheControlwordsTheDriveLogs) {
  const SequenceCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(PutFirstDriveIn(c.startState));
  EXPECT_EQ(RunOnFirstNode(DriveDisableStep), kOk);
  EXPECT_EQ(LoggedControlwords(1), c.controlwords);
  EXPECT_EQ(DriveState(1), c.endState);
}

INSTANTIATE_TEST_SUITE_P(
    FromEachState, DisableSequence,
    ::testing::Values(SequenceCase{0x60, {}, 0x60}, SequenceCase{0x21, {0x00}, 0x60},
                      SequenceCase{0x23, {0x00}, 0x60}, SequenceCase{0x27, {0x00}, 0x60},
                      SequenceCase{0x07, {0x00}, 0x60}, SequenceCase{0x2F, {0x00, 0x80}, 0x60}));

TEST_F(CanopenBus, EnableAllWithARefusingDriveDisablesEveryDriveAndFails) {
  Models([this](sim::Machine&) {
    Drive(2).SetEnableRefused(true);
    return 0;
  });
  EXPECT_EQ(EnableAllDrives(context_, false), common::kKernelOperationFailed);
  // Every drive went through the enable sequence (the refusing one stays
  // switched on after enable operation), then every drive was disabled.
  for (std::uint8_t id : testing::kDriveIds) {
    SCOPED_TRACE(::testing::Message() << "drive " << int{id});
    EXPECT_EQ(LoggedControlwords(id), (Words{0x06, 0x07, 0x0F, 0x00}));
    EXPECT_EQ(DriveState(id), 0x60);
  }
}

TEST_F(CanopenBus, EnableAllBringsEveryDriveToOperation) {
  EXPECT_EQ(EnableAllDrives(context_, false), kOk);
  for (std::uint8_t id : testing::kDriveIds) EXPECT_EQ(DriveState(id), 0x27) << int{id};
  EXPECT_EQ(DisableAllDrives(context_), kOk);
  for (std::uint8_t id : testing::kDriveIds) EXPECT_EQ(DriveState(id), 0x60) << int{id};
}

// ---- NMT ------------------------------------------------------------------------

class NmtOverTheBus : public CanopenBus {
 protected:
  // Every node started and enabled, except `notStarted`.
  void MarkStartedExcept(std::size_t notStarted) {
    for (std::size_t k = 0; k < testing::kDriveIds.size(); ++k) {
      for (kernel::NodeStatusRow* row : {&nodes_[k].latched, &nodes_[k].current}) {
        row->SetAll(k != notStarted);
        row->startWord = k != notStarted ? 1 : 0;
      }
    }
  }
  // The NMT commands the drive took (boot-ups left out).
  std::vector<std::uint8_t> NmtCommands(std::uint8_t id) {
    return Models([&](sim::Machine&) {
      std::vector<std::uint8_t> commands;
      for (const sim::canopen::NodeEvent& event : DriveNode(id).Log().Events()) {
        const auto* nmt = std::get_if<sim::canopen::NmtEvent>(&event.detail);
        if (nmt != nullptr && !nmt->fromBoot) {
          commands.push_back(static_cast<std::uint8_t>(nmt->command));
        }
      }
      return commands;
    });
  }
  sim::canopen::NmtState NmtState(std::uint8_t id) {
    return Models([&](sim::Machine&) { return DriveNode(id).State(); });
  }
};

struct NmtCase {
  std::uint8_t command;
  std::optional<std::uint32_t> resetSleepMs;  // the second node's boot time
  sim::canopen::NmtState chosenEndState;
};

class NmtSelection : public NmtOverTheBus, public ::testing::WithParamInterface<NmtCase> {};

TEST_P(NmtSelection, OnlyTheNodeThatNeedsItTakesTheCommand) {
  const NmtCase& c = GetParam();
  MarkStartedExcept(1);
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  EXPECT_EQ(SendNmtCommand(context_, false, c.command), kOk);
  EXPECT_EQ(NmtCommands(1), std::vector<std::uint8_t>{});
  EXPECT_EQ(NmtCommands(2), std::vector<std::uint8_t>{c.command});
  EXPECT_EQ(NmtCommands(3), std::vector<std::uint8_t>{});
  // A reset waits for the chosen node's boot time only (its own, not the
  // other nodes' 100 or 120 ms); the start does not wait.
  EXPECT_EQ(sleeps_.empty(), !c.resetSleepMs.has_value());
  for (std::uint32_t ms : sleeps_) EXPECT_EQ(ms, c.resetSleepMs.value_or(0));
  EXPECT_EQ(NmtState(1), sim::canopen::NmtState::kPreOperational);
  EXPECT_EQ(NmtState(2), c.chosenEndState);
  EXPECT_EQ(NmtState(3), sim::canopen::NmtState::kPreOperational);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, NmtSelection,
    ::testing::Values(NmtCase{0x01, std::nullopt, sim::canopen::NmtState::kOperational},
                      NmtCase{0x81, 110, sim::canopen::NmtState::kPreOperational},
                      NmtCase{0x82, 110, sim::canopen::NmtState::kPreOperational}));

TEST_F(NmtOverTheBus, NoNodeNeedingItSendsNothingAndSleepsNot) {
  MarkStartedExcept(testing::kDriveIds.size());
  for (std::uint8_t id : testing::kDriveIds) ClearDriveLog(id);
  EXPECT_EQ(SendNmtCommand(context_, false, 0x81), kOk);
  for (std::uint8_t id : testing::kDriveIds) EXPECT_TRUE(NmtCommands(id).empty()) << int{id};
  EXPECT_TRUE(sleeps_.empty());
}

// ---- Per-axis services -------------------------------------------------------

// Drive 1 as a node with drive 2 as its axis, drive 3 as a node of its own.
class AxesOverTheBus : public CanopenBus {
 protected:
  AxesOverTheBus() { UseNodes(axisNodes_.table); }

  std::array<SdoAddress, 2> Addressing() {
    return {SdoAddress{axisNodes_[0].sdoRequestCobId, axisNodes_[0].sdoResponseCobId},
            SdoAddress{axisNodes_[1].sdoRequestCobId, axisNodes_[1].sdoResponseCobId}};
  }
  void ExpectOwnAddressing() {
    const auto now = Addressing();
    EXPECT_EQ(now[0].requestCobId, 0x601);
    EXPECT_EQ(now[0].responseCobId, 0x581);
    EXPECT_EQ(now[1].requestCobId, 0x603);
    EXPECT_EQ(now[1].responseCobId, 0x583);
  }

  testing::TestNodes axisNodes_{{1, 3}, {{2}}};
  ServiceContext axisContext_{*this, axisNodes_.table};
};

struct AxisServiceCase {
  std::string name;
  std::function<common::StatusCode(ServiceContext&)> run;
  int axisWait;  // the wait in which node 1's slot points at drive 2
};

void PrintTo(const AxisServiceCase& value, std::ostream* out) { *out << value.name; }

const AxisServiceCase kAxisServices[] = {
    {"enable on axes", [](ServiceContext& c) { return EnableDrivesOnAxes(c); }, 1},
    {"disable on axes", [](ServiceContext& c) { return DisableDrivesOnAxes(c); }, 1},
    {"download to axes",
     [](ServiceContext& c) {
       SdoRecords records{};
       records[0] = MakeSdoRecord(0x6081, 0, 4, 5000);
       return SdoDownloadToAxes(c, true, false, 1, records);
     },
     2},
    {"upload from node axes",
     [](ServiceContext& c) {
       bool supported = false;
       return SdoUploadFromNodeAxes(c, 0, 0x6041, 0, 2, supported);
     },
     2},
    {"check object on node axes",
     [](ServiceContext& c) {
       bool exists = false;
       bool allAgree = false;
       return CheckObjectOnNodeAxes(c, 0, 0x6081, 0, 4, exists, allAgree);
     },
     2},
    {"download to node axes",
     [](ServiceContext& c) { return SdoDownloadToNodeAxes(c, true, 0, 0x6081, 0, 4, 7000); }, 2},
};

class AxisAddressing : public AxesOverTheBus,
                       public ::testing::WithParamInterface<AxisServiceCase> {};

TEST_P(AxisAddressing, NodesKeepTheirIdentifiersAfterTheService) {
  ExpectOwnAddressing();
  EXPECT_EQ(GetParam().run(axisContext_), kOk);
  ExpectOwnAddressing();
}

TEST_P(AxisAddressing, NodesKeepTheirIdentifiersWhenTheCycleEndsMidService) {
  endCycleInWait_ = GetParam().axisWait;
  std::uint16_t requestCobIdAtEnd = 0;
  onCycleEnd_ = [&] { requestCobIdAtEnd = axisNodes_[0].sdoRequestCobId; };
  EXPECT_EQ(GetParam().run(axisContext_), kernel::kCycleNotRunning);
  EXPECT_EQ(requestCobIdAtEnd, 0x602) << "the cycle ended while the axis was addressed";
  ExpectOwnAddressing();
}

INSTANTIATE_TEST_SUITE_P(Services, AxisAddressing, ::testing::ValuesIn(kAxisServices));

TEST_F(AxesOverTheBus, EnableOnAxesReachesTheAxisDriveOnly) {
  ASSERT_EQ(EnableDrivesOnAxes(axisContext_), kOk);
  EXPECT_EQ(LoggedControlwords(2), (Words{0x06, 0x07, 0x0F}));
  EXPECT_EQ(DriveState(2), 0x27);
  EXPECT_TRUE(LoggedControlwords(1).empty());
  EXPECT_TRUE(LoggedControlwords(3).empty());
  ASSERT_EQ(DisableDrivesOnAxes(axisContext_), kOk);
  EXPECT_EQ(DriveState(2), 0x60);
}

TEST_F(CanopenBus, TheCycleEndingMidWaitEndsTheServiceAtOnce) {
  endCycleInWait_ = 1;
  EXPECT_EQ(EnableAllDrives(context_, false), kernel::kCycleNotRunning);
  for (std::size_t k = 0; k < testing::kDriveIds.size(); ++k) {
    EXPECT_EQ(nodes_[k].request.stepFunction, nullptr) << k;
  }
  std::uint32_t value = 0;
  EXPECT_EQ(SdoUploadFromNode(context_, 0, kStatusword, 0, 2, value), kernel::kCycleNotRunning);
}

}  // namespace
}  // namespace vantor::canopen

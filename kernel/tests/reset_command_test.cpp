// The reset's sequence over a table of stand-in steps, its gate, the wait
// for running motion to end, the look at the handling axes and the state
// words a successful reset leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <vector>

#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/kernel_status.h"
#include "kernel/core/motion_end_wait.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/reset_sequence.h"
#include "kernel/tests/kernel_stand_in.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
using namespace std::chrono_literals;
using common::kKernelSuccess;

constexpr common::StatusCode kStepFailure = 0xC913000D;
constexpr auto kGenerous = 10s;

// What the stand-in steps did, and the step that fails.
struct StepLog {
  std::vector<std::uint32_t> ran;
  std::uint32_t failingStep = 0;
  // 1: the global slot's re-arming fails, 2: the node records'.
  std::uint32_t failingClosing = 0;
  std::vector<std::uint32_t> closing;
};
StepLog stepLog;

template <std::uint32_t N>
common::StatusCode Step(ResetRun&) {
  stepLog.ran.push_back(N);
  return stepLog.failingStep == N ? kStepFailure : kKernelSuccess;
}

common::StatusCode ClearPending(ResetRun& run) {
  stepLog.ran.push_back(40);
  ClearResetPending(run.kernel.data);
  return stepLog.failingStep == 40 ? kStepFailure : kKernelSuccess;
}

template <std::uint32_t N>
common::StatusCode Closing(ResetRun&) {
  stepLog.closing.push_back(N);
  return stepLog.failingClosing == N ? kCycleNotRunning : kKernelSuccess;
}

using R = ResetStepRuns;
// The shape of the real table: always, first-reset and later-reset rows,
// the pending flag cleared after the configuration steps, the drives
// enabled behind it.
constexpr ResetStep kSteps[] = {
    {1, R::Always, Step<1>},   {3, R::LaterReset, Step<3>},   {4, R::FirstReset, Step<4>},
    {5, R::Always, Step<5>},   {12, R::LaterReset, Step<12>}, {30, R::FirstReset, Step<30>},
    {39, R::Always, Step<39>}, {40, R::Always, ClearPending}, {41, R::Always, Step<41>},
    {42, R::Always, Step<42>},
};
constexpr ResetClosing kClosing{Closing<1>, Closing<2>};

// A kernel in CNC mode without nodes: its locks, its block, its cycle
// flag.
class ResetKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stepLog = {};
    testing::CreateStandardRequestArea(kernel_);
    KernelData& data = kernel_.data;
    testing::CreateKernelDataLocks(data);
    data.nodeConfiguration.motionDoneEvent =
        os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    data.state.cycleRunning = 1;
    data.state.busOk = 1;
    data.state.SetCncInitialised(true);
  }

  common::StatusCode ResultWord() { return kernel_.Block().Get(cb::kResult); }

  Kernel kernel_;
};

struct SequenceCase {
  const char* name;
  bool firstReset;
  std::uint32_t failingStep;
  std::uint32_t failingClosing;
  std::vector<std::uint32_t> ran;
  common::StatusCode result;
  bool pendingAfter;
};

std::ostream& operator<<(std::ostream& out, const SequenceCase& c) { return out << c.name; }

class ResetSequenceTest : public ResetKernelTest,
                          public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ResetSequenceTest, RunsItsRowsThenTheClosingPart) {
  const SequenceCase& c = GetParam();
  kernel_.data.state.resetPending = c.firstReset ? 1 : 0;
  stepLog.failingStep = c.failingStep;
  stepLog.failingClosing = c.failingClosing;
  KernelServiceHost host(kernel_.data, kernel_.canObjects);
  canopen::ServiceContext context = host.Context();
  ResetRun run{kernel_, context};

  const common::StatusCode result = RunResetSequence(run, kSteps, kClosing);

  EXPECT_EQ(stepLog.ran, c.ran);
  EXPECT_EQ(stepLog.closing, (std::vector<std::uint32_t>{1, 2})) << "the closing part always runs";
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(ResultWord(), c.result);
  EXPECT_EQ(kernel_.data.state.resetPending != 0, c.pendingAfter);
  // Only a reset that got through gives the drives their enable.
  const bool succeeded = c.result == kKernelSuccess;
  EXPECT_EQ(kernel_.data.state.driveEnable != 0, succeeded);
  EXPECT_EQ(kernel_.data.state.haltOk != 0, succeeded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResetSequenceTest,
    ::testing::Values(
        SequenceCase{"FirstResetRunsItsOwnRows",
                     true,
                     0,
                     0,
                     {1, 4, 5, 30, 39, 40, 41, 42},
                     kKernelSuccess,
                     false},
        SequenceCase{"LaterResetRunsItsOwnRows",
                     false,
                     0,
                     0,
                     {1, 3, 5, 12, 39, 40, 41, 42},
                     kKernelSuccess,
                     false},
        SequenceCase{
            "FailureEndsTheListAndKeepsThePendingFlag", true, 5, 0, {1, 4, 5}, kStepFailure, true},
        SequenceCase{"FailureInTheLastConfigurationStepKeepsThePendingFlag",
                     true,
                     39,
                     0,
                     {1, 4, 5, 30, 39},
                     kStepFailure,
                     true},
        SequenceCase{"FailedEnableLeavesThePendingFlagClear",
                     true,
                     41,
                     0,
                     {1, 4, 5, 30, 39, 40, 41},
                     kStepFailure,
                     false},
        SequenceCase{"FailedRestoreOfHeldNodesLeavesThePendingFlagClear",
                     false,
                     42,
                     0,
                     {1, 3, 5, 12, 39, 40, 41, 42},
                     kStepFailure,
                     false},
        SequenceCase{"FailedGlobalSlotRearmingOverridesSuccess",
                     false,
                     0,
                     1,
                     {1, 3, 5, 12, 39, 40, 41, 42},
                     kCycleNotRunning,
                     false},
        SequenceCase{"FailedRecordArmingOverridesAStepFailure",
                     true,
                     5,
                     2,
                     {1, 4, 5},
                     kCycleNotRunning,
                     true}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

common::StatusCode Dispatch(Kernel& kernel, std::uint32_t code) {
  kernel.Block().Set(cb::kCommandCode, code);
  kernel.Block().Set(cb::kResult, kKernelSuccess);
  static_cast<void>(DispatchCommand(kernel));
  return kernel.Block().Get(cb::kResult);
}

TEST_F(ResetKernelTest, TheGateAnswersBeforeAnythingIsPrepared) {
  // A break request that the preparation would clear shows whether it ran.
  kernel_.data.state.motionBreak = 1;
  kernel_.data.state.SetCncInitialised(false);
  EXPECT_EQ(Dispatch(kernel_, 15), common::kKernelCncNotInitialized);
  kernel_.data.state.SetCncInitialised(true);
  kernel_.data.state.cycleRunning = 0;
  EXPECT_EQ(Dispatch(kernel_, 15), kCycleNotRunning);
  EXPECT_EQ(kernel_.data.state.motionBreak, 1u);
  EXPECT_EQ(kernel_.data.state.resetPending, 0u);
}

// Without a cycle thread nothing steps the global slot: the reset's first
// step finds no cycle, the reset fails after its preparation and motion stays
// refused. (A reset over a running cycle: the kernel-over-devhost tests.)
TEST_F(ResetKernelTest, AResetThatFindsNoCycleFailsAndLeavesMotionRefused) {
  KernelStateFlags& s = kernel_.data.state;
  s.resetPending = 1;
  s.driveEnable = 1;
  s.motionBreak = 1;
  kernel_.Block().Set(cb::kConfiguredCoordinateCount, 3u);
  kernel_.Block().Set(cb::kCurrentCoordinateCount, 2u);
  EXPECT_EQ(Dispatch(kernel_, 15), kCycleNotRunning);
  EXPECT_EQ(s.resetPending, 1u) << "the first-reset steps run again next time";
  EXPECT_EQ(s.motionBreak, 0u) << "the preparation ran";
  EXPECT_EQ(s.driveEnable, 0u) << "motion stays refused";
  EXPECT_EQ(kernel_.Block().Get(cb::kCurrentCoordinateCount), 3u);
}

TEST_F(ResetKernelTest, TheKernelStateNeverClaimsACycleThatIsGone) {
  canopen::NodeSetup setup;
  NodeConfiguration& nodes = kernel_.data.nodeConfiguration;
  canopen::NodeObject& node = *nodes.Place(0, setup);
  nodes.table.nodeCount = 1;
  node.latched.SetAll(false);
  node.current.SetAll(false);
  node.latched.Set(StatusFlag::D, true);
  node.current.driveErrorNumber = 7;
  kernel_.data.state.cycleRunning = 0;

  ResetKernelState(kernel_.data, kernel_.canObjects);

  EXPECT_EQ(kernel_.data.state.cycleRunning, 0u) << "waits on the cycle would never end";
  EXPECT_EQ(kernel_.data.state.busOk, 1u);
  for (const NodeStatusRow* row : {&node.latched, &node.current}) {
    for (std::size_t f = 0; f < kStatusFlagCount; ++f) {
      if (static_cast<StatusFlag>(f) != StatusFlag::D) {
        EXPECT_EQ(row->flags[f], 1u) << f;
      }
    }
    EXPECT_EQ(row->driveErrorNumber, 0);
  }
  EXPECT_TRUE(node.latched.Has(StatusFlag::D)) << "homed stays homed";
  EXPECT_FALSE(node.current.Has(StatusFlag::D)) << "and not homed stays so";
}

// ---- The wait for running motion -------------------------------------------------------

class MotionEndTest : public ResetKernelTest {
 protected:
  void SetUp() override {
    ResetKernelTest::SetUp();
    NodeConfiguration& nodes = kernel_.data.nodeConfiguration;
    // Node 0 on the path, node 1 a handling axis.
    nodes.Place(0, canopen::NodeSetup{.nodeId = 1});
    nodes.Place(1, canopen::NodeSetup{.nodeId = 2});
    nodes.table.nodeCount = 2;
    nodes.interpolatedNodeCount = 1;
    for (NodeObject& node : nodes.records) {
      node.requestMutex = os::Mutex::CreateUnnamed(false).take();
      node.accessMutex = os::Mutex::CreateUnnamed(false).take();
    }
  }

  std::future<void> StartWait() {
    return std::async(std::launch::async, [this] { AwaitMotionEnd(kernel_.data, 5); });
  }

  template <typename Edit>
  void Alter(Edit&& change) {
    KernelDataLock lock(kernel_.data);
    change(kernel_.data);
  }

  NodeObject& Handling() { return kernel_.data.nodeConfiguration.records[1]; }
};

TEST_F(MotionEndTest, ReturnsWhenThePathEnds) {
  kernel_.data.state.motionActive = 1;
  auto waiting = StartWait();
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  Alter([](KernelData& data) { data.state.motionActive = 0; });
  EXPECT_EQ(waiting.wait_for(kGenerous), std::future_status::ready);
}

TEST_F(MotionEndTest, ReturnsWhenTheCycleGoesAway) {
  kernel_.data.state.motionActive = 1;
  Handling().motion.standing = 0;
  auto waiting = StartWait();
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  Alter([](KernelData& data) { data.state.cycleRunning = 0; });
  EXPECT_EQ(waiting.wait_for(kGenerous), std::future_status::ready);
}

TEST_F(MotionEndTest, WaitsForAHandlingAxisThatStillMoves) {
  NodeObject& handling = Handling();
  handling.motion.commandedVelocity = 5.0;  // velocity mode with a command
  auto waiting = StartWait();
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  Alter([&](KernelData&) { handling.motion.commandedVelocity = 0.0; });
  EXPECT_EQ(waiting.wait_for(kGenerous), std::future_status::ready);
}

TEST_F(MotionEndTest, DoesNotWaitWhenTheMotionRecordSaysSo) {
  kernel_.data.state.motionActive = 1;
  kernel_.data.state.motionEndNoWait = 1;
  EXPECT_EQ(StartWait().wait_for(kGenerous), std::future_status::ready);
  kernel_.data.state.motionEndNoWait = 0;
  kernel_.data.state.motionEndDrainOnly = 1;
  EXPECT_EQ(StartWait().wait_for(kGenerous), std::future_status::ready);
}

// ---- Handling axes ---------------------------------------------------------------------

struct HandlingCase {
  const char* name;
  std::int32_t handlingMode;
  std::uint32_t standing;
  double measuredVelocity;
  bool stopped;
  bool moving;
};

std::ostream& operator<<(std::ostream& out, const HandlingCase& c) { return out << c.name; }

class HandlingAxisTest : public MotionEndTest,
                         public ::testing::WithParamInterface<HandlingCase> {};

TEST_P(HandlingAxisTest, MovingAsItsModeAndMeasureSay) {
  const HandlingCase& c = GetParam();
  Handling().can->handlingMode = c.handlingMode;
  Handling().motion.standing = c.standing;
  Handling().motion.measuredVelocity = c.measuredVelocity;
  kernel_.data.state.stopped = c.stopped ? 1 : 0;
  // The path node's state never counts.
  kernel_.data.nodeConfiguration.records[0].motion.standing = 0;
  EXPECT_EQ(AnyHandlingAxisMoving(kernel_.data), c.moving);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandlingAxisTest,
    ::testing::Values(HandlingCase{"ProfileModeStanding", 1, 1, 3.0, false, false},
                      HandlingCase{"ProfileModeNotStanding", 1, 0, 0.0, false, true},
                      HandlingCase{"VelocityModeStandingStill", 0, 1, 0.0, false, false},
                      HandlingCase{"VelocityModeStandingWithVelocity", 0, 1, -0.5, false, true},
                      HandlingCase{"VelocityModeNotStanding", 0, 0, 0.0, false, true},
                      HandlingCase{"StoppedDrivesNeverMove", 0, 0, 2.0, true, false}),
    [](const ::testing::TestParamInfo<HandlingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vantor::kernel

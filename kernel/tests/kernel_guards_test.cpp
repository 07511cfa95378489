#include "kernel/core/kernel_guards.h"

#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

using common::kKernelNodeInErrorState;
using common::kKernelNodeWasInErrorState;
using common::kKernelOperationFailed;
using common::kKernelSuccess;

constexpr common::StatusCode kUntouched = 0x12345678;

enum class Row { Latched, Current, Both };

struct NodeStateCase {
  const char* name;
  std::vector<StatusFlag> cleared;
  std::vector<StatusFlag> set = {};  // applied after clearing
  Row row = Row::Latched;
  bool powerOff = false;
  bool testMode = false;
  bool limitSwitchBridge = false;
  bool homingRequired = true;
  common::StatusCode expected = kKernelSuccess;
  common::StatusCode expectedNodeResult = kUntouched;
};

// Two nodes whose rows are all good; the case spoils the second one.
struct TwoNodes {
  NodeConfiguration nodes;
  canopen::NodeObject& good = *nodes.Place(0, canopen::NodeSetup{.nodeId = 1});
  canopen::NodeObject& tested = *nodes.Place(1, canopen::NodeSetup{.nodeId = 2});
  KernelStateFlags state;

  TwoNodes() {
    for (canopen::NodeObject* node : {&good, &tested}) {
      node->latched.SetAll(true);
      node->current.SetAll(true);
      node->request.lastResult = kUntouched;
    }
    nodes.table.nodeCount = 2;
  }

  void Apply(const NodeStateCase& c) {
    auto change = [&](NodeStatusRow& row) {
      for (auto flag : c.cleared) row.Set(flag, false);
      for (auto flag : c.set) row.Set(flag, true);
    };
    if (c.row != Row::Current) change(tested.latched);
    if (c.row != Row::Latched) change(tested.current);
    // With the power off, a good drive is switch-on-disabled.
    if (c.powerOff) {
      good.latched.Set(StatusFlag::H, false);
      good.current.Set(StatusFlag::H, false);
    }
    state.powerOff = c.powerOff ? 1 : 0;
    state.testMode = c.testMode ? 1 : 0;
    state.limitSwitchBridge = c.limitSwitchBridge ? 1 : 0;
  }

  common::StatusCode Check(bool homingRequired, NodeResults results) {
    return homingRequired ? CheckNodeStates(nodes, state, results)
                          : CheckNodeStatesNoHoming(nodes, state, results);
  }
};

void PrintTo(const NodeStateCase& c, std::ostream* out) { *out << c.name; }

class CheckNodeStatesTest : public testing::TestWithParam<NodeStateCase> {};

TEST_P(CheckNodeStatesTest, FlagsEachFailingRow) {
  const auto& c = GetParam();
  TwoNodes fixture;
  fixture.Apply(c);
  EXPECT_EQ(fixture.Check(c.homingRequired, NodeResults::Set), c.expected);
  EXPECT_EQ(fixture.tested.request.lastResult, c.expectedNodeResult);
  EXPECT_EQ(fixture.good.request.lastResult, kUntouched);
}

TEST_P(CheckNodeStatesTest, LeavesNodeResultsAloneWhenNotAsked) {
  const auto& c = GetParam();
  TwoNodes fixture;
  fixture.Apply(c);
  EXPECT_EQ(fixture.Check(c.homingRequired, NodeResults::Keep), c.expected);
  EXPECT_EQ(fixture.tested.request.lastResult, kUntouched);
}

using enum StatusFlag;

std::vector<NodeStateCase> NodeStateCases() {
  std::vector<NodeStateCase> cases = {
      {.name = "all good", .cleared = {}},
      {.name = "both rows fail: current wins",
       .cleared = {A},
       .row = Row::Both,
       .expected = kKernelOperationFailed,
       .expectedNodeResult = kKernelNodeInErrorState},
      // Power off: the drive must be switch-on-disabled, enabled no longer matters.
      {.name = "power off, drive still on",
       .cleared = {},
       .row = Row::Both,
       .powerOff = true,
       .expected = kKernelOperationFailed,
       .expectedNodeResult = kKernelNodeInErrorState},
      {.name = "power off, switch-on-disabled",
       .cleared = {H, G},
       .row = Row::Both,
       .powerOff = true},
      {.name = "power on, switch-on-disabled flag not needed", .cleared = {H}, .row = Row::Both},
      // Limit switches.
      {.name = "negative limit switch",
       .cleared = {E},
       .row = Row::Current,
       .expected = kKernelOperationFailed,
       .expectedNodeResult = kKernelNodeInErrorState},
      {.name = "limit switch in test mode", .cleared = {E, F}, .row = Row::Both, .testMode = true},
      {.name = "limit switch bridged",
       .cleared = {E, F},
       .row = Row::Both,
       .limitSwitchBridge = true},
      // Homing.
      {.name = "not homed, homing not required",
       .cleared = {D},
       .row = Row::Both,
       .homingRequired = false},
      {.name = "not homed, homing not required, other flag",
       .cleared = {D, M},
       .row = Row::Latched,
       .homingRequired = false,
       .expected = kKernelOperationFailed,
       .expectedNodeResult = kKernelNodeWasInErrorState},
  };
  // Every flag the check always requires, in each row.
  for (StatusFlag flag : {A, B, C, I, G, J, K, L, F, E, D, M, N}) {
    cases.push_back({.name = "latched flag",
                     .cleared = {flag},
                     .row = Row::Latched,
                     .expected = kKernelOperationFailed,
                     .expectedNodeResult = kKernelNodeWasInErrorState});
    cases.push_back({.name = "current flag",
                     .cleared = {flag},
                     .row = Row::Current,
                     .expected = kKernelOperationFailed,
                     .expectedNodeResult = kKernelNodeInErrorState});
  }
  return cases;
}

std::string CaseName(const testing::TestParamInfo<NodeStateCase>& info) {
  std::string name = info.param.name;
  for (auto& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(FlagMatrix, CheckNodeStatesTest, testing::ValuesIn(NodeStateCases()),
                         CaseName);

TEST(CheckNodeStatesTest, PassesWithNoNodes) {
  NodeConfiguration none;
  KernelStateFlags state;
  EXPECT_EQ(CheckNodeStates(none, state, NodeResults::Set), kKernelSuccess);
}

// Kernel data with the mutexes that the CNC initialisation creates.
struct InitialisedKernelData {
  KernelData data;
  InitialisedKernelData() {
    data.motionMutex = os::Mutex::CreateUnnamed(false).take();
    data.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
    data.globalRequestMutex = os::Mutex::CreateUnnamed(false).take();
    data.resetMutex = os::Mutex::CreateUnnamed(false).take();
    data.canObjectListMutex = os::Mutex::CreateUnnamed(false).take();
  }
};

struct CanStateCase {
  bool cncInitialised;
  bool cycleRunning;
  bool busOk;
  common::StatusCode expected;
};

TEST(CheckCanStateTest, TestsInitialisationThenCycleThenBus) {
  const CanStateCase cases[] = {
      {false, true, true, common::kKernelCncNotInitialized},
      {false, false, false, common::kKernelCncNotInitialized},
      {true, false, true, kCycleNotRunning},
      {true, false, false, kCycleNotRunning},
      {true, true, false, common::kKernelCanBusDisturbed},
      {true, true, true, kKernelSuccess},
  };
  for (const auto& c : cases) {
    InitialisedKernelData kernel;
    kernel.data.state.SetCncInitialised(c.cncInitialised);
    kernel.data.state.cycleRunning = c.cycleRunning ? 1 : 0;
    kernel.data.state.busOk = c.busOk ? 1 : 0;
    EXPECT_EQ(CheckCanState(kernel.data), c.expected)
        << c.cncInitialised << c.cycleRunning << c.busOk;
    EXPECT_EQ(IsCanBusRunning(kernel.data), c.cycleRunning);

    // The guard leaves the lock free for another thread.
    auto other = std::async(std::launch::async, [&] {
      const bool taken =
          os::WaitForAll({&kernel.data.motionMutex, &kernel.data.nodeConfiguration.mutex}, 2000)
              .acquired();
      if (taken) UnlockKernelData(kernel.data);
      return taken;
    });
    EXPECT_TRUE(other.get());
  }
}

TEST(CheckCanStateTest, DoesNotNeedTheLocksBeforeInitialisation) {
  KernelData data;  // no mutexes exist before the CNC initialisation
  data.state.cycleRunning = 1;
  EXPECT_EQ(CheckCanState(data), common::kKernelCncNotInitialized);
}

TEST(KernelLocksTest, CombinedLockIsAllOrNothing) {
  InitialisedKernelData kernel;
  // Another thread holds only the object list's mutex.
  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&] {
    ASSERT_TRUE(os::WaitForOne(kernel.data.canObjectListMutex, 2000).acquired());
    held.set_value();
    release.get_future().wait();
    static_cast<void>(kernel.data.canObjectListMutex.Release());
  });
  held.get_future().wait();

  // The combined set cannot be had, and no part of it stays held meanwhile.
  EXPECT_EQ(os::WaitForAll({&kernel.data.motionMutex, &kernel.data.nodeConfiguration.mutex,
                            &kernel.data.canObjectListMutex},
                           20)
                .kind,
            os::WaitKind::Timeout);
  auto kernelDataFromOtherThread = std::async(std::launch::async, [&] {
    const bool taken = LockKernelData(kernel.data);
    if (taken) UnlockKernelData(kernel.data);
    return taken;
  });
  EXPECT_TRUE(kernelDataFromOtherThread.get());

  release.set_value();
  holder.join();
  ASSERT_TRUE(LockKernelDataAndObjectList(kernel.data));
  UnlockKernelDataAndObjectList(kernel.data);
  ASSERT_TRUE(LockStatusData(kernel.data));
  UnlockStatusData(kernel.data);
}

TEST(KernelLocksTest, NodeMutexesWithNoNodesFailAtOnce) {
  NodeConfiguration none;
  EXPECT_FALSE(LockNodeRequestMutexes(none).acquired());
  EXPECT_FALSE(LockNodeAccessMutexes(none).acquired());
  UnlockNodeRequestMutexes(none);
  UnlockNodeAccessMutexes(none);
}

}  // namespace
}  // namespace vantor::kernel

namespace vantor::kernel {
namespace {

TEST(NodeQueriesTest, HomedAndReadyLookAtBothRows) {
  TwoNodes fixture;
  EXPECT_TRUE(AllNodesReady(fixture.nodes));
  const auto homed = AllNodesHomed(fixture.nodes);
  EXPECT_TRUE(homed.allHomed);
  EXPECT_EQ(homed.nodeCountOrFirstUnhomed, 2u);

  fixture.tested.current.Set(StatusFlag::D, false);
  const auto notHomed = AllNodesHomed(fixture.nodes);
  EXPECT_FALSE(notHomed.allHomed);
  EXPECT_EQ(notHomed.nodeCountOrFirstUnhomed, 1u);

  fixture.good.latched.Set(StatusFlag::C, false);
  EXPECT_EQ(AllNodesHomed(fixture.nodes).nodeCountOrFirstUnhomed, 0u);

  fixture.tested.latched.Set(StatusFlag::M, false);
  EXPECT_FALSE(AllNodesReady(fixture.nodes));
}

TEST(NodeQueriesTest, NoNodesAreAllHomedAndReady) {
  NodeConfiguration none;
  EXPECT_TRUE(AllNodesReady(none));
  EXPECT_TRUE(AllNodesHomed(none).allHomed);
  EXPECT_EQ(AllNodesHomed(none).nodeCountOrFirstUnhomed, 0u);
}

}  // namespace
}  // namespace vantor::kernel

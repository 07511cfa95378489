#include "kernel/core/canopen/startup_probes.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kernel/core/canopen/tests/gantry_bench.h"

namespace vantor::canopen {
namespace {

using common::StatusCode;

using testing::kOn17;
using testing::kOn5;
using testing::kOn7;
using testing::kOnAll;
using Bench = testing::GantryBench;

class StartupProbes : public ::testing::Test, public Bench {};

struct SupportProbe {
  const char* name;
  std::uint16_t index;
  std::function<StatusCode(ServiceContext&)> probe;
  std::function<std::uint32_t(const NodeObject&)> flag;
};

const SupportProbe kSupportProbes[] = {
    {"analogue", 0x2055, ReadAnalogueSupport, [](const NodeObject& n) { return n.adSupported; }},
    {"home shift", 0x2056, ReadHomeShiftSupport,
     [](const NodeObject& n) { return n.homeShiftCapable; }},
};

TEST_F(StartupProbes, ANodeIsCapableOnlyWhenItsDriveAndEveryAxisHaveTheObject) {
  struct Row {
    unsigned drives;
    std::uint32_t plain;
    std::uint32_t gantry;
  };
  const Row rows[] = {{kOnAll, 1, 1}, {kOn5 | kOn7, 1, 0}, {kOn7 | kOn17, 0, 1}, {0, 0, 0}};
  for (const SupportProbe& probe : kSupportProbes) {
    for (const Row& row : rows) {
      Bench fresh;
      fresh.DefineOn(row.drives, probe.index, 1);
      // A flag left from before must not survive a drive that lacks it.
      fresh.nodes[0].adSupported = fresh.nodes[1].adSupported = 1;
      fresh.nodes[0].homeShiftCapable = fresh.nodes[1].homeShiftCapable = 1;
      const std::string what = std::string(probe.name) + " drives " + std::to_string(row.drives);
      EXPECT_EQ(probe.probe(fresh.context), common::kKernelSuccess) << what;
      EXPECT_EQ(probe.flag(fresh.nodes[0]), row.plain) << what;
      EXPECT_EQ(probe.flag(fresh.nodes[1]), row.gantry) << what;
      EXPECT_EQ(fresh.nodes[1].sdoRequestCobId, 0x607) << what;
    }
  }
}

TEST_F(StartupProbes, TheRunEnableFlagStaysOnlyWhereSubZeroIsAndSubOneIsNot) {
  struct Row {
    const char* what;
    unsigned sub0;
    unsigned sub1;
    std::uint32_t plain;
    std::uint32_t gantry;
  };
  const Row rows[] = {
      {"sub 0 everywhere, no sub 1", kOnAll, 0, 1, 1},
      {"sub 0 and sub 1 everywhere", kOnAll, kOnAll, 0, 0},
      {"the axis lacks sub 0", kOn5 | kOn7, 0, 1, 0},
      {"only the axis has sub 1", kOnAll, kOn17, 1, 1},
      {"no drive has the object", 0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    Bench fresh;
    fresh.DefineOn(row.sub0, 0x2047, 0);
    fresh.DefineOn(row.sub1, 0x2047, 1);
    EXPECT_EQ(ReadMakerObject2047Support(fresh.context), common::kKernelSuccess) << row.what;
    EXPECT_EQ(fresh.nodes[0].has2047, row.plain) << row.what;
    EXPECT_EQ(fresh.nodes[1].has2047, row.gantry) << row.what;
  }
}

TEST_F(StartupProbes, AFailedReadEndsTheProbeWithItsResult) {
  DefineOn(kOnAll, 0x2047, 0);
  DefineOn(kOnAll, 0x2056, 1);
  DefineOn(kOnAll, 0x205C, 1);
  drive17().silent = true;
  EXPECT_EQ(ReadMakerObject2047Support(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[1].axes[0].axisResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(ReadHomeShiftSupport(context), common::kKernelOperationFailed);
  EXPECT_EQ(CheckStopOnInputCapability(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes.table.stopOnInputCapable, 0u);
  EXPECT_EQ(nodes[1].sdoRequestCobId, 0x607);

  host.cycleRunning = false;
  for (auto probe : {ReadMakerObject2047Support, ReadAnalogueSupport, ReadHomeShiftSupport,
                     ReadGantryHomingObjects, CheckStopOnInputCapability, ReadInputCapabilities}) {
    EXPECT_EQ(probe(context), kernel::kCycleNotRunning);
  }
}

TEST_F(StartupProbes, AFailedAnalogueReadFailsTheProbeAfterTheOtherNodesAreRead) {
  DefineOn(kOnAll, 0x2055, 1);
  drive5().silent = true;
  nodes[0].adSupported = 1;
  EXPECT_EQ(ReadAnalogueSupport(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].adSupported, 0u);
  EXPECT_EQ(nodes[1].adSupported, 1u);
}

TEST_F(StartupProbes, StopOnInputNeedsTheObjectOnEveryDriveAndAMissingOneIsNoFailure) {
  struct Row {
    unsigned drives;
    std::uint32_t capable;
  };
  for (const Row row : {Row{kOnAll, 1}, Row{kOn5 | kOn7, 0}, Row{kOn7 | kOn17, 0}}) {
    Bench fresh;
    fresh.DefineOn(row.drives, 0x205C, 1, 0);
    EXPECT_EQ(CheckStopOnInputCapability(fresh.context), common::kKernelSuccess) << row.drives;
    EXPECT_EQ(fresh.nodes.table.stopOnInputCapable, row.capable) << row.drives;
  }
}

TEST_F(StartupProbes, InputPortModeOneGivesInputFourAndOnlyARealFailureFails) {
  drive5().Define(0x6510, 18, 1, 1);
  // Drive 7 lacks the object; its bit from before is cleared.
  nodes[1].inputCapabilities = kInputCapabilityInput4 | 1;
  EXPECT_EQ(ReadInputCapabilities(context), common::kKernelSuccess);
  EXPECT_EQ(nodes[0].inputCapabilities, kInputCapabilityInput4);
  EXPECT_EQ(nodes[1].inputCapabilities, 0u);

  drive5().Define(0x6510, 18, 1, 2);
  drive7().Define(0x6510, 18, 1, 1);
  EXPECT_EQ(ReadInputCapabilities(context), common::kKernelSuccess);
  EXPECT_EQ(nodes[0].inputCapabilities, 0u);
  EXPECT_EQ(nodes[1].inputCapabilities, kInputCapabilityInput4);

  drive5().silent = true;
  EXPECT_EQ(ReadInputCapabilities(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(nodes[1].inputCapabilities, kInputCapabilityInput4);
}

TEST(StartupProbesWithoutNodes, EveryProbeSucceedsOnAnEmptyTable) {
  testing::TestNodes none({});
  testing::FakeBus bus;
  testing::FakeHost host(none.table, bus);
  ServiceContext context{host, none.table};
  for (auto probe : {ReadMakerObject2047Support, ReadAnalogueSupport, ReadHomeShiftSupport,
                     ReadGantryHomingObjects, CheckStopOnInputCapability, ReadInputCapabilities}) {
    EXPECT_EQ(probe(context), common::kKernelSuccess);
  }
  EXPECT_TRUE(bus.frames.empty());
}

}  // namespace
}  // namespace vantor::canopen

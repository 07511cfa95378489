#include "kernel/core/canopen/drive_stop_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/core/canopen/node_services.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
using Words = std::vector<std::uint16_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr std::uint16_t kSdoRequestToNode5 = 0x605;

// One node, with or without its drive on the bus.
struct Bench {
  Bench(std::uint16_t startState, bool driveAnswers)
      : nodes({5}), drive(5, startState), host(nodes.table, bus), context{host, nodes.table} {
    if (driveAnswers) bus.Attach(drive.server());
    nodes[0].latched.SetAll(true);
    nodes[0].current.SetAll(true);
  }

  common::StatusCode Run(NodeStepFunction step) {
    EXPECT_EQ(RunOnNodes(context, nodes.table.AllNodes(), step, [](NodeObject&, auto) {}), kOk);
    EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
    return nodes[0].request.requestResult;
  }

  int SdoRequests() const {
    int count = 0;
    for (const auto& frame : bus.frames) count += frame.cobId == kSdoRequestToNode5 ? 1 : 0;
    return count;
  }

  testing::TestNodes nodes;
  testing::Ds402Drive drive;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST(QuickStopStep, StopsOnlyARunningDrive) {
  const struct {
    std::uint16_t startState;
    Words controlwords;
  } cases[] = {
      {0x27, {0x02}},  // operation enabled: quick stop
      {0x23, {}},      // switched on: nothing to stop
      {0x60, {}},      // switch-on disabled
      {0x0F, {}},      // fault reaction
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "start 0x" << std::hex << c.startState);
    Bench bench(c.startState, true);
    EXPECT_EQ(bench.Run(QuickStopStep), kOk);
    EXPECT_EQ(bench.drive.controlwords(), c.controlwords);
    EXPECT_TRUE(bench.nodes[0].latched.Has(StatusFlag::B));
    EXPECT_TRUE(bench.nodes[0].latched.Has(StatusFlag::C));
  }
}

TEST(EnableOperationStep, WritesEnableOperation) {
  Bench bench(0x23, true);
  EXPECT_EQ(bench.Run(EnableOperationStep), kOk);
  EXPECT_EQ(bench.drive.controlwords(), Words{0x0F});
  EXPECT_EQ(bench.drive.state(), 0x27);
}

// A node with a further axis: its own drive (5) and the axis's drive (6),
// which may be silent.
TEST(MultiAxisEnableOperationStep, EnablesEachAxisDriveAndKeepsTheNodesAddressing) {
  for (const bool axisAnswers : {true, false}) {
    SCOPED_TRACE(axisAnswers ? "axis drive answers" : "axis drive silent");
    Bench bench(0x23, true);
    testing::Ds402Drive axisDrive(6, 0x23);
    if (axisAnswers) bench.bus.Attach(axisDrive.server());
    NodeObject& node = bench.nodes[0];
    node.axisCount = 1;
    node.axes[0].sdoRequestCobId = 0x606;
    node.axes[0].sdoResponseCobId = 0x586;
    const std::uint16_t ownRequest = node.sdoRequestCobId;
    const std::uint16_t ownResponse = node.sdoResponseCobId;
    const common::StatusCode result = bench.Run(MultiAxisEnableOperationStep);
    EXPECT_EQ(result == kOk, axisAnswers);
    EXPECT_EQ(bench.drive.controlwords(), Words{0x0F});
    EXPECT_EQ(axisDrive.controlwords(), axisAnswers ? Words{0x0F} : Words{});
    EXPECT_EQ(node.sdoRequestCobId, ownRequest);
    EXPECT_EQ(node.sdoResponseCobId, ownResponse);
  }
}

TEST(DriveStopSteps, SilentDriveIsAskedThreeTimesAndMarked) {
  for (const NodeStepFunction step : {QuickStopStep, EnableOperationStep}) {
    Bench bench(0x27, false);
    const common::StatusCode result = bench.Run(step);
    EXPECT_NE(result, kOk);
    EXPECT_EQ(bench.SdoRequests(), 3);
    // The failure is in the node's rows: its frames went out unanswered.
    const StatusFlag marked =
        result == common::kKernelCanMessageInvalid ? StatusFlag::C : StatusFlag::B;
    EXPECT_FALSE(bench.nodes[0].latched.Has(marked));
    EXPECT_FALSE(bench.nodes[0].current.Has(marked));
  }
}

TEST(FinishStopStep, MarksTheRowByTheResult) {
  const struct {
    common::StatusCode result;
    bool ok;
    const char* cleared;
  } cases[] = {
      {kOk, true, ""},
      {common::kKernelCanMessageInvalid, false, "C"},
      {common::kKernelQuickStopActive, false, "B"},
  };
  for (const auto& c : cases) {
    testing::TestNodes nodes({5});
    NodeObject& node = nodes[0];
    node.latched.SetAll(true);
    node.current.SetAll(true);
    EXPECT_EQ(FinishStopStep(node, c.result), c.ok);
    EXPECT_EQ(node.request.requestResult, c.result);
    const bool cClear = std::string(c.cleared) == "C";
    const bool bClear = std::string(c.cleared) == "B";
    EXPECT_EQ(node.latched.Has(StatusFlag::C), !cClear);
    EXPECT_EQ(node.current.Has(StatusFlag::C), !cClear);
    EXPECT_EQ(node.latched.Has(StatusFlag::B), !bClear);
    EXPECT_EQ(node.current.Has(StatusFlag::B), !bClear);
  }
}

}  // namespace
}  // namespace vantor::canopen

#include "kernel/core/canopen/nmt_services.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
using testing::LoggedFrame;

constexpr common::StatusCode kOk = common::kKernelSuccess;

LoggedFrame Nmt(std::uint8_t command, std::uint8_t node) {
  return LoggedFrame{0, 2, {command, node, 0, 0, 0, 0, 0, 0}};
}

// Nodes 5 (with axis 6), 7 and 9, all started, enabled and homed; boot
// times 100, 110 and 120 ms.
class NmtServices : public ::testing::Test {
 protected:
  NmtServices()
      : nodes({5, 7, 9}, {{6}}),
        servers{testing::SdoServer(5), testing::SdoServer(7), testing::SdoServer(9),
                testing::SdoServer(6)},
        host(nodes.table, bus),
        context{host, nodes.table} {
    for (std::size_t k = 0; k < 3; ++k) {
      for (kernel::NodeStatusRow* row : {&nodes[k].latched, &nodes[k].current}) {
        row->SetAll(true);
        row->startWord = 1;
      }
    }
    for (auto& server : servers) {
      server.Define(0x2047, 0, 1, 7);
      bus.Attach(server);
    }
  }

  testing::TestNodes nodes;
  std::vector<testing::SdoServer> servers;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

struct SelectionCase {
  std::string name;
  std::function<void(testing::TestNodes&, testing::FakeHost&)> arrange;
  std::vector<std::uint8_t> chosenIds;  // in node order
  bool axisToo;                         // node 5 chosen: its axis 6 follows
};

void PrintTo(const SelectionCase& value, std::ostream* out) { *out << value.name; }

class NmtSelection : public NmtServices, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(NmtSelection, ResetCommunicationGoesToTheNodesThatNeedItAndWaitsForTheirBoot) {
  const SelectionCase& c = GetParam();
  c.arrange(nodes, host);
  EXPECT_EQ(SendNmtCommand(context, false, 0x82), kOk);
  std::vector<LoggedFrame> expected;
  std::uint32_t longestBoot = 0;
  for (const std::uint8_t id : c.chosenIds) {
    expected.push_back(Nmt(0x82, id));
    longestBoot = std::max<std::uint32_t>(longestBoot, id == 5 ? 100 : id == 7 ? 110 : 120);
  }
  if (c.axisToo) expected.push_back(Nmt(0x82, 6));
  EXPECT_EQ(bus.frames, expected);
  if (c.chosenIds.empty()) {
    EXPECT_TRUE(host.sleeps.empty());
  } else {
    // After the nodes, and again after their axes.
    EXPECT_EQ(host.sleeps, (std::vector<std::uint32_t>{longestBoot, longestBoot}));
  }
  EXPECT_EQ(host.lockDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, NmtSelection,
    ::testing::Values(
        SelectionCase{"NoneNeedsIt", [](testing::TestNodes&, testing::FakeHost&) {}, {}, false},
        SelectionCase{"NotStarted",
                      [](testing::TestNodes& n, testing::FakeHost&) {
                        n[1].latched.Set(StatusFlag::A, false);
                      },
                      {7},
                      false},
        SelectionCase{"NotEnabled",
                      [](testing::TestNodes& n, testing::FakeHost&) {
                        n[2].current.Set(StatusFlag::N, false);
                      },
                      {9},
                      false},
        SelectionCase{"StartWordMissing",
                      [](testing::TestNodes& n, testing::FakeHost&) { n[1].current.startWord = 0; },
                      {7},
                      false},
        SelectionCase{"NodeWithAxesNotHomed",
                      [](testing::TestNodes& n, testing::FakeHost&) {
                        n[0].current.Set(StatusFlag::D, false);
                      },
                      {5},
                      true},
        SelectionCase{"AxisFreeNodeNeedsNoHoming",
                      [](testing::TestNodes& n, testing::FakeHost&) {
                        n[2].latched.Set(StatusFlag::D, false);
                      },
                      {},
                      false},
        SelectionCase{"RegulatorActive",
                      [](testing::TestNodes& n, testing::FakeHost&) { n[2].regulatorActive = 1; },
                      {9},
                      false},
        SelectionCase{"StopOnInputInitialised",
                      [](testing::TestNodes&, testing::FakeHost& h) { h.stopOnInput = true; },
                      {5, 7, 9},
                      true}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

TEST_F(NmtServices, FramesGoThroughTheFirstNodesSlot) {
  nodes[2].latched.Set(StatusFlag::A, false);
  nodes[0].request.lastResult = common::kKernelCanMessageTimeout;
  ASSERT_EQ(SendNmtCommand(context, false, 0x82), kOk);
  EXPECT_EQ(nodes[2].request.lastResult, kOk);
  // The first node's own last result is its own again after the axis pass.
  EXPECT_EQ(nodes[0].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(nodes[1].request.stepFunction, nullptr);
  EXPECT_EQ(nodes[2].request.stepFunction, nullptr);
}

TEST_F(NmtServices, StartSleepsNotAndMarksEveryNodeStarted) {
  nodes[1].latched.Set(StatusFlag::A, false);
  nodes[1].current.startWord = 0;
  nodes[2].regulatorActive = 1;
  nodes[2].adActive = 1;
  host.stopOnInput = true;
  EXPECT_EQ(SendNmtCommand(context, false, 0x01), kOk);
  EXPECT_EQ(bus.frames.size(), 4u);
  EXPECT_TRUE(host.sleeps.empty());
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_TRUE(nodes[k].latched.Has(StatusFlag::A));
    EXPECT_EQ(nodes[k].current.startWord, 1u);
    EXPECT_EQ(nodes[k].regulatorActive, 0u);
    EXPECT_EQ(nodes[k].adActive, 0u);
  }
  EXPECT_FALSE(host.stopOnInput);
}

TEST_F(NmtServices, FailedFrameIsTheChosenNodesFailure) {
  nodes[1].latched.Set(StatusFlag::A, false);
  bus.holdSendOnce = true;
  EXPECT_EQ(SendNmtCommand(context, false, 0x01), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_FALSE(nodes[1].latched.Has(StatusFlag::A));
}

TEST_F(NmtServices, ResetNodeTellsFlaggedDrivesWhetherTheyAreReset) {
  nodes[0].has2047 = 1;
  nodes[1].has2047 = 1;
  nodes[1].latched.Set(StatusFlag::A, false);  // only node 7 is reset
  EXPECT_EQ(SendNmtCommand(context, false, 0x81), kOk);
  EXPECT_EQ(servers[0].Value(0x2047, 0), 0u);  // node 5: not reset
  EXPECT_EQ(servers[3].Value(0x2047, 0), 0u);  // its axis 6
  EXPECT_EQ(servers[1].Value(0x2047, 0), 1u);  // node 7: reset
  EXPECT_EQ(servers[2].Value(0x2047, 0), 7u);  // node 9 carries no flag
  EXPECT_EQ(bus.frames.back(), Nmt(0x81, 7));
  EXPECT_EQ(host.sleeps, (std::vector<std::uint32_t>{110, 110}));
}

TEST_F(NmtServices, FailedMakerObjectWriteSendsNoReset) {
  nodes[1].has2047 = 1;
  nodes[1].latched.Set(StatusFlag::A, false);
  servers[1].silent = true;
  EXPECT_EQ(SendNmtCommand(context, false, 0x81), common::kKernelOperationFailed);
  for (const LoggedFrame& frame : bus.frames) EXPECT_NE(frame.cobId, 0);
  EXPECT_TRUE(host.sleeps.empty());
}

}  // namespace
}  // namespace vantor::canopen

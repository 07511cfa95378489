#include "kernel/core/canopen/node_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

TEST(NodeObject, MadeFromTheInitialisationValues) {
  testing::TestSignal signal;
  NodeSetup setup;
  setup.nodeId = 0x21;
  setup.sendRecord = 5;
  setup.answerRecord = 15;
  setup.bootTimeMicroseconds = 2999.9;
  setup.answerTimeoutMicroseconds = -25500.0;
  setup.cycleMicroseconds = 1000;
  setup.axisCount = 12;  // more than a node can carry
  for (std::uint32_t a = 0; a < kMaxNodeAxes; ++a) setup.axisNodeIds[a] = 0x30 + a;
  setup.completionEvent = &signal;
  const NodeObject node(setup);
  EXPECT_EQ(node.nodeId, 0x21);
  EXPECT_EQ(node.sdoRequestCobId, 0x621);
  EXPECT_EQ(node.sdoResponseCobId, 0x5A1);
  EXPECT_EQ(node.bootTimeMs, 2);
  EXPECT_EQ(node.countdownReload, 26);
  EXPECT_EQ(node.axisCount, kMaxNodeAxes);
  EXPECT_EQ(node.axes[7].sdoRequestCobId, 0x637);
  EXPECT_EQ(node.axes[7].sdoResponseCobId, 0x5B7);
  EXPECT_EQ(node.request.requestRecord, &node.requestRecord);
  EXPECT_EQ(node.request.completionEvent, &signal);
  EXPECT_EQ(node.request.stepFunction, nullptr);
}

TEST(NodeObject, CountdownReloadStaysUsableForAnyTimeOut) {
  struct Case {
    double timeoutMicroseconds;
    std::uint32_t cycleMicroseconds;
    std::int32_t reload;
  };
  const Case cases[] = {
      {10000.0, 1000, 11},
      {999.0, 1000, 1},
      {-4000.0, 2000, 3},
      {10000.0, 0, 1},
      {std::numeric_limits<double>::quiet_NaN(), 1000, 1},
      {1e300, 1, std::numeric_limits<std::int32_t>::max()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountdownReloadFor(c.timeoutMicroseconds, c.cycleMicroseconds), c.reload)
        << c.timeoutMicroseconds << " / " << c.cycleMicroseconds;
  }
}

void CountingStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject& node = *cycle.nodes.ByNumber(nodeNumber);
  if (++node.request.step == 3) FinishNodeRequestWith(node, common::kKernelNodeAnswerUnknown);
}

TEST(RequestSlots, CycleStepsArmedSlotsUntilTheyFinish) {
  testing::TestNodes nodes({5, 7});
  common::ExchangeBuffer exchange{};
  CycleContext cycle{exchange, nodes.table, 1000};
  nodes[1].stopFlag = 1;
  ArmNodeRequest(nodes[1], CountingStep);
  EXPECT_EQ(nodes[1].stopFlag, 0u);
  EXPECT_FALSE(nodes.signals[1]->IsSet());
  RunNodeSteps(cycle);
  EXPECT_EQ(nodes[1].request.step, 2);
  RunNodeSteps(cycle);
  EXPECT_EQ(nodes[1].request.step, 0);
  EXPECT_EQ(nodes[1].request.stepFunction, nullptr);
  EXPECT_EQ(nodes[1].request.requestResult, common::kKernelNodeAnswerUnknown);
  EXPECT_TRUE(nodes.signals[1]->IsSet());
  EXPECT_EQ(nodes[0].request.step, 0);
}

TEST(RequestSlots, CycleWayOutCompletesEveryPendingRequest) {
  testing::TestNodes nodes({5, 7});
  testing::TestSignal globalSignal;
  GlobalRequest global;
  global.completionEvent = &globalSignal;
  global.stepFunction = CountingStep;
  global.step = 4;
  global.requestResult = common::kKernelCanMessageTimeout;
  ArmNodeRequest(nodes[0], CountingStep);
  nodes[0].request.requestResult = common::kKernelCanMessageTimeout;
  nodes[1].request.requestResult = common::kKernelCanMessageInvalid;  // idle slot
  CompletePendingRequests(nodes.table, &global);
  EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
  EXPECT_EQ(nodes[0].request.requestResult, common::kKernelSuccess);
  EXPECT_TRUE(nodes.signals[0]->IsSet());
  EXPECT_EQ(nodes[1].request.requestResult, common::kKernelCanMessageInvalid);
  EXPECT_FALSE(nodes.signals[1]->IsSet());
  EXPECT_EQ(global.stepFunction, nullptr);
  EXPECT_EQ(global.step, 0);
  EXPECT_EQ(global.requestResult, common::kKernelSuccess);
  EXPECT_TRUE(globalSignal.IsSet());
}

TEST(RequestSlots, StepOfANumberOutsideTheTableTouchesNothing) {
  testing::TestNodes nodes({5});
  EXPECT_EQ(nodes.table.ByNumber(0), nullptr);
  EXPECT_EQ(nodes.table.ByNumber(2), nullptr);
  EXPECT_EQ(nodes.table.ByAnswerRecord(2), &nodes[0]);
  EXPECT_EQ(nodes.table.ByAnswerRecord(3), nullptr);
  EXPECT_EQ(nodes.table.AllNodes(), 0b1u);
}

}  // namespace
}  // namespace vantor::canopen

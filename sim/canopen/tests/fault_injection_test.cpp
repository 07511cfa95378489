#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "sim/canopen/tests/node_harness.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;

const CanFrame kGuardRequest = Remote(0x705);
const CanFrame kUpload100D = Frame(0x605, {0x40, 0x0D, 0x10, 0x00, 0, 0, 0, 0});
const CanFrame kAnswer100D = Frame(0x585, {0x4F, 0x0D, 0x10, 0x00, 0, 0, 0, 0});

class FaultInjectionTest : public ::testing::Test {
 protected:
  FaultInjectionTest() {
    node.Objects().Add({0x6041, 0, DataType::kUnsigned16, Access::kReadOnly, true, 0x0237});
    node.Boot();
    // TPDO 1: statusword at every SYNC; TPDO 2: statusword on request only.
    Configure(0x1800, 0x1A00, 1);
    Configure(0x1801, 0x1A01, 253);
    node.StartNode();
  }

  void Configure(std::uint16_t comm, std::uint16_t mapping, std::uint8_t type) {
    node.Sdo({0x23, static_cast<std::uint8_t>(mapping), static_cast<std::uint8_t>(mapping >> 8),
              0x01, 0x10, 0x00, 0x41, 0x60});
    node.Sdo({0x2F, static_cast<std::uint8_t>(mapping), static_cast<std::uint8_t>(mapping >> 8),
              0x00, 0x01});
    node.Sdo(
        {0x2F, static_cast<std::uint8_t>(comm), static_cast<std::uint8_t>(comm >> 8), 0x02, type});
  }

  ServiceFaults& Faults(NodeService service) { return node.Core().Faults().For(service); }

  std::vector<CanFrame> Answers(const CanFrame& request) {
    node.sent.clear();
    node.Receive(request);
    return node.Take();
  }

  NodeHarness node;
};

TEST_F(FaultInjectionTest, ASilencedServiceAnswersNothingWhileTheOthersStillDo) {
  struct Case {
    NodeService service;
    CanFrame request;
  };
  const std::vector<Case> cases = {
      {NodeService::kSdo, kUpload100D},
      {NodeService::kGuarding, kGuardRequest},
      {NodeService::kPdo, Remote(0x285)},
      {NodeService::kSync, kSync},
  };
  for (const Case& silenced : cases) {
    SCOPED_TRACE(static_cast<int>(silenced.service));
    Faults(silenced.service).silent = true;
    for (const Case& other : cases) {
      const auto answers = Answers(other.request);
      if (other.service == silenced.service) {
        EXPECT_THAT(answers, IsEmpty());
      } else {
        EXPECT_THAT(answers, ::testing::SizeIs(1));
      }
    }
    Faults(silenced.service).silent = false;
  }
}

TEST_F(FaultInjectionTest, ASilencedSdoServerDoesNotActOnAWriteEither) {
  Faults(NodeService::kSdo).silent = true;
  Answers(Frame(0x605, {0x2F, 0x0D, 0x10, 0x00, 0x09}));
  EXPECT_EQ(node.Objects().Unsigned(0x100D, 0), 0u);
  // A silenced guard does not flip its toggle.
  Faults(NodeService::kGuarding).silent = true;
  Answers(kGuardRequest);
  Faults(NodeService::kGuarding).silent = false;
  EXPECT_THAT(Answers(kGuardRequest), ElementsAre(Frame(0x705, {0x05})));
}

TEST_F(FaultInjectionTest, LateAnswersLeaveAfterTheirDelay) {
  Faults(NodeService::kSdo).answerDelay = 20 * kMs;
  const SimTime asked = node.now;
  EXPECT_THAT(Answers(kUpload100D), IsEmpty());
  EXPECT_EQ(node.Core().NextDeadline(), asked + 20 * kMs);
  // Other services are not held back.
  EXPECT_THAT(Answers(kGuardRequest), ElementsAre(Frame(0x705, {0x05})));
  node.AdvanceTo(asked + 20 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.AdvanceTo(asked + 20 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(kAnswer100D));
}

TEST_F(FaultInjectionTest, DuplicateFramesAreSentTwice) {
  Faults(NodeService::kSdo).duplicate = true;
  Faults(NodeService::kSync).duplicate = true;
  EXPECT_THAT(Answers(kUpload100D), ElementsAre(kAnswer100D, kAnswer100D));
  EXPECT_THAT(Answers(kSync), ElementsAre(Frame(0x185, {0x37, 0x02}), Frame(0x185, {0x37, 0x02})));
}

TEST_F(FaultInjectionTest, AWrongGuardToggleStopsAlternating) {
  Faults(NodeService::kGuarding).wrongToggle = true;
  EXPECT_THAT(Answers(kGuardRequest), ElementsAre(Frame(0x705, {0x05})));
  EXPECT_THAT(Answers(kGuardRequest), ElementsAre(Frame(0x705, {0x05})));
  EXPECT_THAT(Answers(kGuardRequest), ElementsAre(Frame(0x705, {0x05})));
}

TEST_F(FaultInjectionTest, AWrongSegmentToggleInvertsTheToggleOfEverySegmentAnswer) {
  Faults(NodeService::kSdo).wrongToggle = true;
  Answers(Frame(0x605, {0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0}));
  const auto first = Answers(Frame(0x605, {0x60}));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].data[0] & 0x10, 0x10);
  const auto second = Answers(Frame(0x605, {0x70}));
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].data[0] & 0x10, 0x00);
}

TEST_F(FaultInjectionTest, AForcedAbortHitsOnlyItsObject) {
  node.Core().Faults().forcedAborts.push_back({0x100D, 0x00, SdoAbortCode::kGeneral});
  EXPECT_THAT(Answers(kUpload100D),
              ElementsAre(Frame(0x585, {0x80, 0x0D, 0x10, 0x00, 0x00, 0x00, 0x00, 0x08})));
  EXPECT_THAT(Answers(Frame(0x605, {0x2F, 0x0D, 0x10, 0x00, 0x07})),
              ElementsAre(Frame(0x585, {0x80, 0x0D, 0x10, 0x00, 0x00, 0x00, 0x00, 0x08})));
  EXPECT_EQ(node.Objects().Unsigned(0x100D, 0), 0u);
  EXPECT_THAT(Answers(Frame(0x605, {0x40, 0x0C, 0x10, 0x00, 0, 0, 0, 0})),
              ElementsAre(Frame(0x585, {0x4B, 0x0C, 0x10, 0x00, 0, 0, 0, 0})));
}

TEST_F(FaultInjectionTest, AResetDropsAnswersStillHeldBack) {
  Faults(NodeService::kSdo).answerDelay = 20 * kMs;
  Answers(kUpload100D);
  node.Nmt(0x81, 5);
  node.AdvanceTo(node.now + 30 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
}

}  // namespace
}  // namespace vantor::sim::canopen

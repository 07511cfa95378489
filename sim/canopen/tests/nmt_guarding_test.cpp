#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "sim/canopen/tests/node_harness.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;

constexpr std::uint16_t kManufacturerObject = 0x2100;

NodeOptions BootingNode() {
  NodeOptions options = NodeHarness::Defaults();
  options.bootTime = 100 * kMs;
  return options;
}

class NmtTest : public ::testing::Test {
 protected:
  NmtTest() : node(BootingNode()) {
    node.Objects().Add(
        {kManufacturerObject, 0, DataType::kUnsigned32, Access::kReadWrite, false, 0x11});
  }

  std::uint8_t GuardAnswer() {
    node.sent.clear();
    node.Receive(Remote(0x705));
    const auto answer = node.Take();
    EXPECT_EQ(answer.size(), 1u);
    return answer.empty() ? 0xFF : answer[0].data[0];
  }

  NodeHarness node;
};

TEST_F(NmtTest, TheBootUpFrameComesWhenTheBootTimeHasPassed) {
  EXPECT_EQ(node.Core().NextDeadline(), 100 * kMs);
  node.AdvanceTo(100 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  // A booting node hears nothing yet.
  EXPECT_THAT(node.Sdo({0x40, 0x00, 0x10, 0x00}), IsEmpty());
  node.Receive(Remote(0x705));
  EXPECT_THAT(node.Take(), IsEmpty());
  EXPECT_EQ(node.Core().State(), NmtState::kInitialising);

  node.AdvanceTo(100 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
  EXPECT_EQ(node.Core().State(), NmtState::kPreOperational);
  EXPECT_EQ(node.Core().NextDeadline(), kNever);
}

TEST_F(NmtTest, CommandsMoveTheNodeBetweenItsStates) {
  node.Boot();
  struct Step {
    std::uint8_t command;
    std::uint8_t target;
    NmtState expected;
  };
  const std::vector<Step> steps = {
      {0x01, 5, NmtState::kOperational},    {0x02, 5, NmtState::kStopped},
      {0x80, 5, NmtState::kPreOperational}, {0x01, 0, NmtState::kOperational},
      {0x02, 6, NmtState::kOperational},    {0x7E, 5, NmtState::kOperational},
      {0x80, 0, NmtState::kPreOperational},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message()
                 << "command " << int{step.command} << " to " << int{step.target});
    node.Nmt(step.command, step.target);
    EXPECT_EQ(node.Core().State(), step.expected);
    EXPECT_EQ(GuardAnswer() & 0x7F, static_cast<std::uint8_t>(step.expected));
  }
}

TEST_F(NmtTest, ResetNodeRestoresEveryDefaultAndBootsAgain) {
  node.Boot();
  node.StartNode();
  node.Sdo({0x2B, 0x0C, 0x10, 0x00, 0x64, 0x00});
  node.Sdo({0x23, 0x00, 0x21, 0x00, 0x99, 0, 0, 0});
  node.Sdo({0x23, 0x00, 0x18, 0x01, 0x85, 0x02, 0, 0});  // TPDO 1 on 0x285
  GuardAnswer();

  node.sent.clear();
  node.Nmt(0x81, 5);
  EXPECT_EQ(node.Core().State(), NmtState::kInitialising);
  EXPECT_EQ(node.Objects().Unsigned(0x100C, 0), 0u);
  EXPECT_EQ(node.Objects().Unsigned(kManufacturerObject, 0), 0x11u);
  EXPECT_EQ(node.Objects().Unsigned(0x1800, 1), 0x185u);
  node.AdvanceTo(node.now + 100 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.AdvanceTo(node.now + 1);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
  // The toggle starts again at 0.
  EXPECT_EQ(GuardAnswer(), 0x7F);
}

TEST_F(NmtTest, ResetCommunicationRestoresOnlyTheCommunicationObjects) {
  node.Boot();
  node.Sdo({0x2B, 0x0C, 0x10, 0x00, 0x64, 0x00});
  node.Sdo({0x23, 0x00, 0x21, 0x00, 0x99, 0, 0, 0});
  node.Sdo({0x2F, 0x00, 0x1A, 0x00, 0x00});
  node.Sdo({0x23, 0x00, 0x1A, 0x01, 0x20, 0x00, 0x13, 0x10});
  node.Sdo({0x2F, 0x00, 0x1A, 0x00, 0x01});
  GuardAnswer();

  node.Nmt(0x82, 0);
  EXPECT_EQ(node.Objects().Unsigned(0x100C, 0), 0u);
  EXPECT_EQ(node.Objects().Unsigned(0x1A00, 0), 0u);
  EXPECT_EQ(node.Objects().Unsigned(0x1A00, 1), 0u);
  EXPECT_EQ(node.Objects().Unsigned(kManufacturerObject, 0), 0x99u);
  node.AdvanceTo(node.now + 100 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
  EXPECT_EQ(GuardAnswer(), 0x7F);
}

TEST_F(NmtTest, NmtEventsAreLoggedInOrder) {
  node.Boot();
  node.Nmt(0x01, 5);
  node.Nmt(0x02, 0);
  node.Nmt(0x81, 5);
  node.AdvanceTo(node.now + 100 * kMs);
  EXPECT_THAT(node.Core().Log().Lines(),
              ElementsAre("NMT boot-up: initialising -> pre-operational",
                          "NMT 0x01: pre-operational -> operational",
                          "NMT 0x02: operational -> stopped", "NMT 0x81: stopped -> initialising",
                          "NMT boot-up: initialising -> pre-operational"));
}

TEST_F(NmtTest, GuardAnswersCarryTheStateAndAnAlternatingToggle) {
  node.Boot();
  EXPECT_EQ(GuardAnswer(), 0x7F);
  EXPECT_EQ(GuardAnswer(), 0xFF);
  node.Nmt(0x01, 5);
  EXPECT_EQ(GuardAnswer(), 0x05);
  EXPECT_EQ(GuardAnswer(), 0x85);
  node.Nmt(0x02, 5);
  EXPECT_EQ(GuardAnswer(), 0x04);
  EXPECT_EQ(GuardAnswer(), 0x84);
}

TEST_F(NmtTest, LifeGuardingRaisesAnEmergencyWhenTheGuardRequestsStop) {
  node.Boot();
  node.Sdo({0x2B, 0x0C, 0x10, 0x00, 100, 0x00});  // guard time 100 ms
  node.Sdo({0x2F, 0x0D, 0x10, 0x00, 3});          // life time factor 3
  GuardAnswer();
  const SimTime lastGuard = node.now;
  EXPECT_EQ(node.Core().NextDeadline(), lastGuard + 300 * kMs);

  node.AdvanceTo(lastGuard + 300 * kMs - 1);
  EXPECT_THAT(node.Take(), IsEmpty());
  node.AdvanceTo(lastGuard + 300 * kMs);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x085, {0x30, 0x81, 0x11, 0, 0, 0, 0, 0})));
  EXPECT_EQ(node.Objects().Unsigned(0x1003, 1), 0x8130u);
  // It fires once, until guarding resumes.
  EXPECT_EQ(node.Core().NextDeadline(), kNever);
}

// The error behaviour 0x1029 sub 1 after a lost life guarding, from
// operational and from pre-operational.
struct ErrorBehaviourCase {
  std::uint8_t behaviour;
  std::uint8_t startCommand;  // NMT command before guarding starts
  NmtState after;
};

class ErrorBehaviourTest : public NmtTest,
                           public ::testing::WithParamInterface<ErrorBehaviourCase> {};

TEST_P(ErrorBehaviourTest, LostLifeGuardingChangesTheStateAsConfigured) {
  const ErrorBehaviourCase& scenario = GetParam();
  node.Boot();
  EXPECT_EQ(node.Objects().Unsigned(0x1029, 1), 0u);  // to pre-operational by default
  EXPECT_EQ(node.Sdo({0x2F, 0x29, 0x10, 0x01, scenario.behaviour})[0].data[0], 0x60);
  node.Sdo({0x2B, 0x0C, 0x10, 0x00, 100, 0x00});
  node.Sdo({0x2F, 0x0D, 0x10, 0x00, 3});
  node.Nmt(scenario.startCommand, 0x05);
  GuardAnswer();
  node.AdvanceTo(node.now + 300 * kMs);
  EXPECT_EQ(node.Objects().Unsigned(0x1003, 1), 0x8130u);
  EXPECT_EQ(node.Core().State(), scenario.after);
}

INSTANTIATE_TEST_SUITE_P(Nodes, ErrorBehaviourTest,
                         ::testing::Values(ErrorBehaviourCase{0, 0x01, NmtState::kPreOperational},
                                           ErrorBehaviourCase{0, 0x80, NmtState::kPreOperational},
                                           ErrorBehaviourCase{1, 0x01, NmtState::kOperational},
                                           ErrorBehaviourCase{2, 0x01, NmtState::kStopped},
                                           ErrorBehaviourCase{2, 0x80, NmtState::kStopped}));

TEST_F(NmtTest, ErrorBehaviourRefusesUnknownValues) {
  node.Boot();
  const auto answer = node.Sdo({0x2F, 0x29, 0x10, 0x01, 3});
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].data[0], 0x80);
  EXPECT_EQ(node.Objects().Unsigned(0x1029, 1), 0u);
}

TEST_F(NmtTest, LifeGuardingStaysOffWithoutGuardTimeOrFactor) {
  node.Boot();
  node.Sdo({0x2B, 0x0C, 0x10, 0x00, 100, 0x00});
  GuardAnswer();
  EXPECT_EQ(node.Core().NextDeadline(), kNever);
}

TEST_F(NmtTest, EmergenciesFillTheErrorHistoryNewestFirst) {
  node.Boot();
  node.Core().RaiseEmergency(0x7305, 0x80, {1, 2, 3, 4, 5});
  node.Core().RaiseEmergency(0x2320, 0x02);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x085, {0x05, 0x73, 0x81, 1, 2, 3, 4, 5}),
                                       Frame(0x085, {0x20, 0x23, 0x83, 0, 0, 0, 0, 0})));
  EXPECT_THAT(node.Sdo({0x40, 0x03, 0x10, 0x00}),
              ElementsAre(Frame(0x585, {0x4F, 0x03, 0x10, 0x00, 2, 0, 0, 0})));
  EXPECT_THAT(node.Sdo({0x40, 0x03, 0x10, 0x01}),
              ElementsAre(Frame(0x585, {0x43, 0x03, 0x10, 0x01, 0x20, 0x23, 0, 0})));
  EXPECT_THAT(node.Sdo({0x40, 0x03, 0x10, 0x02}),
              ElementsAre(Frame(0x585, {0x43, 0x03, 0x10, 0x02, 0x05, 0x73, 0, 0})));

  node.Core().ClearEmergencies();
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x085, {0, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(node.Objects().Unsigned(0x1001, 0), 0u);

  node.Sdo({0x2F, 0x03, 0x10, 0x00, 0});
  EXPECT_EQ(node.Objects().Unsigned(0x1003, 0), 0u);
  EXPECT_EQ(node.Objects().Unsigned(0x1003, 1), 0u);
}

TEST_F(NmtTest, AStoppedNodeRecordsButDoesNotSendEmergencies) {
  node.Boot();
  node.Nmt(0x02, 5);
  node.sent.clear();
  node.Core().RaiseEmergency(0x5530, 0);
  EXPECT_THAT(node.Take(), IsEmpty());
  EXPECT_EQ(node.Objects().Unsigned(0x1003, 1), 0x5530u);
  EXPECT_EQ(node.Core().Log().Lines().back(), "EMCY 0x5530 register 0x01 (not sent)");
}

TEST(NodeBoot, ABootTimeOfZeroBootsAtOnceAndAResetAnswersAtTheSameInstant) {
  NodeHarness node;
  node.AdvanceTo(0);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
  node.AdvanceTo(7 * kMs);
  node.Nmt(0x81, 0);
  EXPECT_THAT(node.Take(), ElementsAre(Frame(0x705, {0x00})));
}

}  // namespace
}  // namespace vantor::sim::canopen

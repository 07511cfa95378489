// The configuration commands on an in-process kernel: what each answers and
// changes, and that a refusal changes nothing.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "kernel/core/node_status.h"
#include "kernel/services/look_ahead_commands.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel {
namespace {

using common::CommandCode;
using common::StatusCode;
using testing::PathKernel;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr std::int64_t kKeep = common::kNoMoveWireValue;

class ConfigurationCommandsTest : public ::testing::Test {
 protected:
  ConfigurationCommandsTest() : k_(true) {}
  std::int64_t AnswerValue(std::size_t at) {
    return k_.block().Load<std::int64_t>(common::communication_block::PayloadAt(at)).value_or(0);
  }
  PathKernel k_;
};

TEST_F(ConfigurationCommandsTest, SummaryNamesTheNodesTheInterpolatedOnesAndTheLinearCoordinates) {
  k_.state().SetCncInitialised(false);
  EXPECT_EQ(k_.Run(CommandCode::GetConfiguration), common::kKernelCncNotInitialized);
  k_.state().SetCncInitialised(true);
  k_.state().resetPending = 1;  // the summary needs no reset
  k_.data().nodeConfiguration.table.nodeCount = 3;
  k_.data().nodeConfiguration.interpolatedNodeCount = 2;
  k_.data().coordinates[1].settings.linear = 0;
  for (std::size_t at = 0; at < 296; at += 4) k_.Word(at, 0xA5A5A5A5);
  ASSERT_EQ(k_.Run(CommandCode::GetConfiguration), kOk);
  for (std::size_t at = 0; at < 32; at += 4) EXPECT_EQ(k_.AnswerWord(at), 1u) << at;
  EXPECT_EQ(k_.AnswerWord(32), 3u);
  EXPECT_EQ(k_.AnswerWord(36), 2u);
  for (std::uint32_t i = 0; i < 8; ++i) {
    const std::size_t entry = 40 + 32 * i;
    EXPECT_EQ(k_.AnswerWord(entry), i < 3 ? 1u : 0u) << "entry " << i;
    EXPECT_EQ(k_.AnswerWord(entry + 4), i == 0 || i == 2 ? 1u : 0u) << "entry " << i;
    for (std::size_t at = entry + 8; at < entry + 32; at += 4) EXPECT_EQ(k_.AnswerWord(at), 0u);
  }
}

// Stored limits -10 .. 10 on X; Y and Z get 0 .. 1 in every case.
struct LimitCase {
  const char* name;
  std::int64_t negative;
  std::int64_t positive;
  StatusCode result;
  double negativeAfter;
  double positiveAfter;
};

const LimitCase kLimitCases[] = {
    {"Ordered", -5, 5, kOk, -5.0, 5.0},
    {"Equal", 3, 3, common::kKernelSoftwareLimitParameterInvalid, -10.0, 10.0},
    {"Reversed", 5, -5, common::kKernelSoftwareLimitParameterInvalid, -10.0, 10.0},
    {"BothKept", kKeep, kKeep, common::kKernelSoftwareLimitParameterInvalid, -10.0, 10.0},
    {"LowerKeptBelowNewUpper", kKeep, 5, kOk, -10.0, 5.0},
    {"LowerKeptAboveNewUpper", kKeep, -20, common::kKernelSoftwareLimitParameterInvalid, -10.0,
     10.0},
    {"NewLowerAboveKeptUpper", 20, kKeep, common::kKernelSoftwareLimitParameterInvalid, -10.0,
     10.0},
    {"NewLowerBelowKeptUpper", -20, kKeep, kOk, -20.0, 10.0},
};

class SoftwareLimitTest : public ConfigurationCommandsTest,
                          public ::testing::WithParamInterface<LimitCase> {};

TEST_P(SoftwareLimitTest, KeepMarkersStandForTheStoredLimits) {
  const LimitCase& c = GetParam();
  CoordinateSettings& x = k_.data().coordinates[0].settings;
  x.negativeLimit = -10.0;
  x.positiveLimit = 10.0;
  k_.data().motionRuntime.path.axes[0].lowerLimit = -10.0;
  k_.data().motionRuntime.path.axes[0].upperLimit = 10.0;
  k_.Word(0, 0b011);
  k_.Value(8, c.negative);
  k_.Value(72, c.positive);
  for (std::size_t i = 1; i < 3; ++i) {
    k_.Value(8 + 8 * i, 0);
    k_.Value(72 + 8 * i, 1);
  }
  EXPECT_EQ(k_.Run(CommandCode::SetSwls), c.result);
  EXPECT_EQ(x.negativeLimit, c.negativeAfter);
  EXPECT_EQ(x.positiveLimit, c.positiveAfter);
  const motion::PathAxis& watched = k_.data().motionRuntime.path.axes[0];
  EXPECT_EQ(watched.lowerLimit, c.negativeAfter) << "the interpolation watches what is stored";
  EXPECT_EQ(watched.upperLimit, c.positiveAfter);
  const bool set = c.result == kOk;
  EXPECT_EQ(k_.data().motionRuntime.path.axes[1].limitsEnabled, set);
  EXPECT_FALSE(k_.data().motionRuntime.path.axes[2].limitsEnabled);

  ASSERT_EQ(k_.Run(CommandCode::GetSwlsStatus), kOk);
  EXPECT_EQ(k_.AnswerWord(0), set ? 0b011u : 0u);
  EXPECT_EQ(AnswerValue(8), static_cast<std::int64_t>(c.negativeAfter));
  EXPECT_EQ(AnswerValue(72), static_cast<std::int64_t>(c.positiveAfter));
}

INSTANTIATE_TEST_SUITE_P(EachPair, SoftwareLimitTest, ::testing::ValuesIn(kLimitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigurationCommandsTest, ClearingTakesTheConfiguredLimitsBackSwitchedOff) {
  k_.data().savedConfiguration.coordinates[0].negativeLimit = -7.0;
  k_.data().savedConfiguration.coordinates[0].positiveLimit = 7.0;
  CoordinateSettings& x = k_.data().coordinates[0].settings;
  x = {.limitsEnabled = 1, .positiveLimit = 1.0, .negativeLimit = -1.0};
  ASSERT_EQ(k_.Run(CommandCode::ClearSwls), kOk);
  EXPECT_EQ(x.limitsEnabled, 0);
  EXPECT_EQ(x.negativeLimit, -7.0);
  EXPECT_EQ(x.positiveLimit, 7.0);
  EXPECT_FALSE(k_.data().motionRuntime.path.axes[0].limitsEnabled);
}

TEST_F(ConfigurationCommandsTest, EnablingLetsASegmentHeldAtALimitGoOnOnlyWithinTheLimits) {
  k_.state().pathMode = 1;
  ASSERT_EQ(k_.Move({5, 0, 0}), kOk);
  motion::PathSegment* head = k_.queue().head;
  ASSERT_NE(head, nullptr);
  motion::PathMotion& path = k_.data().motionRuntime.path;
  k_.state().pathMode = k_.state().pathStarted = k_.state().motionActive = 1;
  CoordinateSettings& x = k_.data().coordinates[0].settings;
  x.negativeLimit = 0.0;
  x.positiveLimit = 1.0;
  path.axes[0].setPosition = 2.0;  // outside
  head->mayMove = false;
  path.ramp.targetChanged = false;

  // Bits beyond the coordinates change nothing.
  k_.Word(0, 0b1001);
  k_.Word(4, 0b1001);
  ASSERT_EQ(k_.Run(CommandCode::EnableSwls), kOk);
  EXPECT_EQ(x.limitsEnabled, 1);
  EXPECT_FALSE(head->mayMove) << "X stands outside its limits";
  EXPECT_FALSE(path.ramp.targetChanged);

  k_.Word(4, 0);
  ASSERT_EQ(k_.Run(CommandCode::EnableSwls), kOk);
  EXPECT_EQ(x.limitsEnabled, 0);
  EXPECT_TRUE(head->mayMove);
  EXPECT_TRUE(path.ramp.targetChanged);
}

TEST_F(ConfigurationCommandsTest, RampValuesRoundTripAndANegativeOneChangesNothing) {
  const std::array<std::int64_t, 4> values = {100, 0, 3000, 4000};
  for (std::size_t i = 0; i < values.size(); ++i) k_.Value(8 * i, values[i]);
  ASSERT_EQ(k_.Run(CommandCode::SetRamp), kOk);
  k_.Value(16, -1);
  EXPECT_EQ(k_.Run(CommandCode::SetRamp), common::kKernelRampParameterInvalid);
  for (std::size_t i = 0; i < values.size(); ++i) k_.Value(8 * i, -99);
  ASSERT_EQ(k_.Run(CommandCode::GetRamp), kOk);
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(AnswerValue(8 * i), values[i]) << i;
  EXPECT_EQ(k_.data().motion.path.pathJerkLimit, 3000.0);
}

struct CylinderCase {
  const char* name;
  std::uint32_t coordinate;
  std::int64_t radius;
  StatusCode result;
};

// Z is rotational and not on the path.
const CylinderCase kCylinderCases[] = {
    {"RotationalCoordinate", 2, 40, kOk},
    {"ZeroOffThePath", 2, 0, kOk},
    {"Negative", 2, -1, common::kKernelCylinderParameterInvalid},
    {"LinearCoordinate", 0, 40, common::kKernelCylinderParameterInvalid},
    {"NoSuchCoordinate", 3, 40, common::kKernelCylinderParameterInvalid},
};

class CylinderTest : public ConfigurationCommandsTest,
                     public ::testing::WithParamInterface<CylinderCase> {};

TEST_P(CylinderTest, OnlyARotationalCoordinateTakesARadius) {
  const CylinderCase& c = GetParam();
  k_.data().coordinates[2].settings = {.linear = 0, .onPath = 0};
  k_.data().planning.cylinderRadii.fill(7.0);
  k_.Word(0, c.coordinate);
  k_.Value(8, c.radius);
  EXPECT_EQ(k_.Run(CommandCode::SetCylinderPar), c.result);
  const double expected = c.result == kOk ? static_cast<double>(c.radius) : 7.0;
  EXPECT_EQ(k_.data().planning.cylinderRadii[2], expected);
}

INSTANTIATE_TEST_SUITE_P(EachCase, CylinderTest, ::testing::ValuesIn(kCylinderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigurationCommandsTest, ARotationalPathCoordinateKeepsEveryRadius) {
  k_.data().coordinates[1].settings.linear = 0;
  k_.data().coordinates[2].settings = {.linear = 0, .onPath = 0};
  k_.Word(0, 2);
  k_.Value(8, 40);
  EXPECT_EQ(k_.Run(CommandCode::SetCylinderPar), common::kKernelCylinderModeActive);
  EXPECT_EQ(k_.data().planning.cylinderRadii[2], 0.0);
}

TEST_F(ConfigurationCommandsTest, TestModeFollowsTheWordAlsoBeforeTheReset) {
  k_.state().resetPending = 1;
  EXPECT_EQ(k_.SetWord(CommandCode::SetTestMode, 9), kOk);
  EXPECT_EQ(k_.state().testMode, 1u);
  EXPECT_EQ(k_.SetWord(CommandCode::SetTestMode, 0), kOk);
  EXPECT_EQ(k_.state().testMode, 0u);
}

TEST_F(ConfigurationCommandsTest, TimerResolutionsOutsideOneToFiftyChangeNothing) {
  k_.state().SetCncInitialised(false);  // the resolutions need no CNC mode
  KernelSettings& settings = k_.kernel().settings;
  settings.normalTimerResolution = 10;
  settings.pathTimerResolution = 5;
  const std::array<std::array<std::uint32_t, 2>, 4> refused = {{{0, 5}, {5, 0}, {51, 5}, {5, 51}}};
  for (const auto& [normal, path] : refused) {
    k_.Word(0, normal);
    k_.Word(4, path);
    EXPECT_EQ(k_.Run(CommandCode::SetCncTimeLimitation), common::kKernelTimeLimitationOutOfRange)
        << normal << " " << path;
  }
  EXPECT_EQ(settings.normalTimerResolution, 10u);
  EXPECT_EQ(settings.pathTimerResolution, 5u);
  EXPECT_FALSE(settings.normalPeriodActive || settings.pathPeriodActive);

  k_.Word(0, 1);
  k_.Word(4, 50);
  ASSERT_EQ(k_.Run(CommandCode::SetCncTimeLimitation), kOk);
  EXPECT_EQ(settings.normalTimerResolution, 1u);
  EXPECT_EQ(settings.pathTimerResolution, 50u);
  EXPECT_TRUE(settings.normalPeriodActive) << "outside path mode the normal period begins";
  EXPECT_FALSE(settings.pathPeriodActive);
  k_.Word(0, 20);
  ASSERT_EQ(k_.Run(CommandCode::SetCncTimeLimitation), kOk);
  EXPECT_EQ(settings.normalTimerResolution, 20u);
  EXPECT_TRUE(settings.normalPeriodActive);
}

TEST_F(ConfigurationCommandsTest, InPathModeThePathPeriodBegins) {
  k_.state().pathMode = 1;
  KernelSettings& settings = k_.kernel().settings;
  k_.Word(0, 10);
  k_.Word(4, 2);
  ASSERT_EQ(k_.Run(CommandCode::SetCncTimeLimitation), kOk);
  EXPECT_TRUE(settings.pathPeriodActive);
  EXPECT_FALSE(settings.normalPeriodActive);
  EXPECT_EQ(settings.pathTimerResolution, 2u);
}

TEST_F(ConfigurationCommandsTest, ResettingTheHomedFlagsRefusesLaterMoves) {
  canopen::NodeObject& node = *k_.data().nodeConfiguration.records[0].can;
  k_.Word(0, 0xFFFFFFFE);  // every axis but node 0, most of them beyond the table
  ASSERT_EQ(k_.Run(CommandCode::ResetReferenceFlag), kOk);
  EXPECT_TRUE(node.latched.Has(StatusFlag::D) && node.current.Has(StatusFlag::D));
  k_.Word(0, 0);
  EXPECT_EQ(k_.Run(CommandCode::ResetReferenceFlag), kOk) << "no axis is no failure";
  k_.Word(0, 1);
  ASSERT_EQ(k_.Run(CommandCode::ResetReferenceFlag), kOk);
  EXPECT_FALSE(node.latched.Has(StatusFlag::D));
  EXPECT_FALSE(node.current.Has(StatusFlag::D));
  EXPECT_EQ(k_.Move({1, 0, 0}), common::kKernelNodeWasInErrorState);
}

// Nine percentages: velocity, acceleration and jerk of three sets.
void PutPercents(PathKernel& k, std::uint32_t axis, const std::array<std::uint32_t, 9>& percents) {
  k.Word(0, axis);
  for (std::size_t i = 0; i < percents.size(); ++i) k.Word(4 + 4 * i, percents[i]);
}

TEST_F(ConfigurationCommandsTest, RampOverridesOutsideFiveToHundredChangeNothing) {
  for (const std::uint32_t wrong : {4u, 101u}) {
    for (std::size_t field = 0; field < 9; ++field) {
      std::array<std::uint32_t, 9> percents;
      percents.fill(50);
      percents[field] = wrong;
      PutPercents(k_, 0, percents);
      EXPECT_EQ(k_.Run(CommandCode::SetAxisRampOverride), common::kKernelRampParameterInvalid)
          << wrong << " in field " << field;
    }
  }
  k_.Word(0, 0);
  ASSERT_EQ(k_.Run(CommandCode::GetAxisRamp), kOk);
  EXPECT_EQ(k_.AnswerWord(4), 0u) << "no override set yet";
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(k_.AnswerWord(20 + 4 * i), 100u) << i;
}

TEST_F(ConfigurationCommandsTest, RampOverridesReadBackInPercent) {
  const std::array<std::uint32_t, 9> percents = {5, 10, 29, 33, 57, 58, 70, 99, 100};
  PutPercents(k_, 0, percents);
  ASSERT_EQ(k_.Run(CommandCode::SetAxisRampOverride), kOk);
  const motion::NodeLimits& limits = k_.data().planning.nodeLimits[0];
  EXPECT_DOUBLE_EQ(limits.overrides[1].velocityFactor, 0.33);
  EXPECT_DOUBLE_EQ(limits.overrides[2].jerkFactor, 1.0);
  k_.Word(0, 0);
  ASSERT_EQ(k_.Run(CommandCode::GetAxisRamp), kOk);
  EXPECT_EQ(k_.AnswerWord(4), 1u);
  EXPECT_EQ(k_.AnswerWord(8), 100u);
  EXPECT_EQ(k_.AnswerWord(12), 1000u);
  EXPECT_EQ(k_.AnswerWord(16), 10000u);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(k_.AnswerWord(20 + 4 * i), percents[i]) << i;
}

TEST_F(ConfigurationCommandsTest, RampCommandsRefuseAxesOutsideTheirRange) {
  std::array<std::uint32_t, 9> percents;
  percents.fill(50);
  PutPercents(k_, 1, percents);  // interpolated, but node 1 does not exist
  EXPECT_EQ(k_.Run(CommandCode::SetAxisRampOverride), common::kKernelAxisNumberInvalid);
  k_.data().nodeConfiguration.interpolatedNodeCount = 0;
  PutPercents(k_, 0, percents);
  EXPECT_EQ(k_.Run(CommandCode::SetAxisRampOverride), common::kKernelAxisNumberInvalid)
      << "a handling axis has no ramp overrides";
  EXPECT_EQ(k_.data().planning.nodeLimits[0].overrides[0].velocityFactor, 1.0);
  k_.Word(0, 1);
  EXPECT_EQ(k_.Run(CommandCode::GetAxisRamp), common::kKernelAxisNumberInvalid);
}

TEST_F(ConfigurationCommandsTest, GearRatiosAreReadOnlyOfTheirKindOfAxis) {
  canopen::NodeObject& node = *k_.data().nodeConfiguration.records[0].can;
  node.gear = {3, 2, 0};
  k_.Word(0, 0);
  ASSERT_EQ(k_.Run(CommandCode::GetAxisGearRatio), kOk);
  EXPECT_EQ(k_.AnswerWord(4), 3u);
  EXPECT_EQ(k_.AnswerWord(8), 2u);
  EXPECT_EQ(k_.Run(CommandCode::GetSynAxisGearRatio), common::kKernelAxisNumberInvalid);
  k_.Word(0, 1);
  EXPECT_EQ(k_.Run(CommandCode::GetAxisGearRatio), common::kKernelAxisNumberInvalid);

  node.axisCount = 1;
  node.axes[0].gear = {5, 4, 0};
  k_.Word(0, 0);
  EXPECT_EQ(k_.Run(CommandCode::GetAxisGearRatio), common::kKernelAxisNumberInvalid);
  ASSERT_EQ(k_.Run(CommandCode::GetSynAxisGearRatio), kOk);
  EXPECT_EQ(k_.AnswerWord(4), 3u);
  EXPECT_EQ(k_.AnswerWord(8), 2u);
  EXPECT_EQ(k_.AnswerWord(12), 5u);
  EXPECT_EQ(k_.AnswerWord(16), 4u);
}

struct GearCase {
  const char* name;
  CommandCode code;
  std::uint32_t slaveAxes;
  std::vector<std::uint32_t> payload;
  StatusCode result;
};

const GearCase kGearRefusals[] = {
    {"ZeroNumerator", CommandCode::SetAxisGearRatio, 0, {0, 0, 1}, common::kKernelGearRatioInvalid},
    {"ZeroDenominator",
     CommandCode::SetAxisGearRatio,
     0,
     {0, 1, 0},
     common::kKernelGearRatioInvalid},
    {"GantryAxis", CommandCode::SetAxisGearRatio, 1, {0, 1, 1}, common::kKernelAxisNumberInvalid},
    {"NoSuchAxis", CommandCode::SetAxisGearRatio, 0, {1, 1, 1}, common::kKernelAxisNumberInvalid},
    {"PlainAxis",
     CommandCode::SetSynAxisGearRatio,
     0,
     {0, 1, 1, 1, 1},
     common::kKernelAxisNumberInvalid},
    {"ZeroMaster",
     CommandCode::SetSynAxisGearRatio,
     1,
     {0, 1, 0, 1, 1},
     common::kKernelGearRatioInvalid},
    {"NegativeSlave",
     CommandCode::SetSynAxisGearRatio,
     1,
     {0, 1, 1, 0xFFFFFFFF, 1},
     common::kKernelGearRatioInvalid},
    {"ZeroSlaveDenominator",
     CommandCode::SetSynAxisGearRatio,
     1,
     {0, 1, 1, 1, 0},
     common::kKernelGearRatioInvalid},
};

class GearRefusalTest : public ConfigurationCommandsTest,
                        public ::testing::WithParamInterface<GearCase> {};

TEST_P(GearRefusalTest, NothingReachesTheDrives) {
  const GearCase& c = GetParam();
  canopen::NodeObject& node = *k_.data().nodeConfiguration.records[0].can;
  node.axisCount = c.slaveAxes;
  for (std::size_t i = 0; i < c.payload.size(); ++i) k_.Word(4 * i, c.payload[i]);
  EXPECT_EQ(k_.Run(c.code), c.result);
  EXPECT_EQ(node.gear.changed, 0u);
  EXPECT_EQ(node.request.stepFunction, nullptr) << "no request was armed";
}

INSTANTIATE_TEST_SUITE_P(EachCase, GearRefusalTest, ::testing::ValuesIn(kGearRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FillPairTest, EnlargedPairsAreTheLargestTheConfigurationAdmits) {
  const SetPointFill configured{
      .fillLevel = 40, .teachFillLevel = 10, .driveBufferDepth = 16, .teachDriveBufferDepth = 6};
  EXPECT_EQ(ConfiguredFillPair(configured, false), (FillPair{40, 16}));
  EXPECT_EQ(ConfiguredFillPair(configured, true), (FillPair{10, 6}));
  EXPECT_EQ(EnlargedFillPair(configured, false), (FillPair{498, 31}));
  EXPECT_EQ(EnlargedFillPair(configured, true), (FillPair{40, 16}));
}

}  // namespace
}  // namespace vantor::kernel

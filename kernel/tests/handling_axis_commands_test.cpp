// The handling-axis commands: their refusals in order, one condition at a
// time and each before the one tested after it, and the answers that need
// no drive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/tests/command_guard_conditions.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the shared conditions

NodeObject& Record(PathKernel& k) { return k.data().nodeConfiguration.records[0]; }
canopen::NodeObject& Drive(PathKernel& k) { return *Record(k).can; }

// Node 0 is the only handling axis, in position mode (1) or velocity mode.
void AsHandlingAxis(PathKernel& k, std::int32_t mode = 1) {
  k.data().nodeConfiguration.interpolatedNodeCount = 0;
  Drive(k).handlingAxis = 1;
  Drive(k).handlingMode = mode;
}

const Condition kNotHandling{
    "notHandling", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 1; },
    common::kKernelAxisNumberInvalid};
const Condition kHandlingMoving{"handlingMoving",
                                [](PathKernel& k) { Record(k).motion.standing = 0; },
                                common::kKernelSegmentMotionAlreadyActive};
const Condition kStopOnInputSet{"stopOnInputSet",
                                [](PathKernel& k) { k.state().stopOnInputInitialised = 1; },
                                common::kKernelStopOnInputAlreadyInitialized};
const Condition kNoInterpolated{
    "noInterpolated", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 0; },
    common::kKernelAxisNumberInvalid};
const Condition kRotatedPlane{
    "rotatedPlane",
    [](PathKernel& k) { k.data().planeRotation = {.plane = 1, .axisA = 0, .axisB = 1}; },
    common::kKernelAxisNumberInvalid};
const Condition kRegulating{"regulating", [](PathKernel& k) { Drive(k).regulatorActive = 1; },
                            common::kKernelDistanceControlActive};
const Condition kNmtLost{"nmtLost",
                         [](PathKernel& k) { Drive(k).latched.Set(StatusFlag::A, false); },
                         common::kKernelNodeWasInErrorState};
const Condition kVelocityMode{"velocityMode", [](PathKernel& k) { Drive(k).handlingMode = 0; },
                              common::kKernelHandlingSubModeInvalid};
const Condition kPositionMode{"positionMode", [](PathKernel& k) { Drive(k).handlingMode = 1; },
                              common::kKernelHandlingSubModeInvalid};
const Condition kNoVelocity{"noVelocity", [](PathKernel& k) { k.Value(16, 0); },
                            common::kKernelVelocityInvalid};
const Condition kNoAcceleration{"noAcceleration", [](PathKernel& k) { k.Value(8, -1); },
                                common::kKernelRampParameterInvalid};
const Condition kTargetBeyondDrive{"targetBeyondDrive",
                                   [](PathKernel& k) { k.Value(24, 2147483647); },
                                   common::kKernelMovementDataInvalid};

// Before the lock and the cycle: what every drive command tests first.
std::vector<Condition> DriveChain(std::vector<Condition> after) {
  std::vector<Condition> chain = {kUninitialised, kResetBusy, kCycle, kBus,
                                  kSync,          kPdo,       kBreak, kQuickStop};
  chain.insert(chain.end(), after.begin(), after.end());
  return chain;
}

// A move of 67 or a turn of 68 that would be sent.
void MoveValues(PathKernel& k) {
  k.Word(0, 0);
  k.Word(4, 1);
  k.Value(8, 100);
  k.Value(16, 10);
  k.Value(24, 5);
}

const std::vector<Chain>& Chains() {
  static const std::vector<Chain> chains = {
      {"HandlingModeOn", CommandCode::SetHandlingMode,
       [](PathKernel& k) {
         k.data().nodeConfiguration.interpolatedNodeCount = 1;
         k.Word(0, 1);
       },
       DriveChain({kNodes, kMotion, kPathMode, kStarted, kStopOnInputSet, kHandwheel,
                   kNoInterpolated, kRegulating})},
      {"HandlingModeOnRotatedPlane",
       CommandCode::SetHandlingMode,
       [](PathKernel& k) {
         k.data().nodeConfiguration.interpolatedNodeCount = 1;
         k.Word(0, 1);
       },
       {kRotatedPlane, kRegulating}},
      {"HandlingModeOff", CommandCode::SetHandlingMode,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         k.Word(0, 0);
       },
       DriveChain(
           {kNodes, kMotion, kPathMode, kStarted, kStopOnInputSet, kHandwheel, kNotHandling})},
      {"HandlingModeOffMoving",
       CommandCode::SetHandlingMode,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         k.Word(0, 0);
       },
       {kHandlingMoving}},
      {"SetHandlingMoveMode", CommandCode::SetHandlingMoveMode,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         k.Word(0, 0);
         k.Word(4, 0);
       },
       DriveChain({kNodes, kNotHandling, kHandlingMoving})},
      {"GetHandlingAxisMovePar",
       CommandCode::GetHandlingAxisMovePar,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         k.Word(0, 0);
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kNotHandling, kNmtLost}},
      {"HandlingAxisMove", CommandCode::HandlingAxisMove,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         MoveValues(k);
       },
       DriveChain({kPowerOff, kBridge, kMoveOut, kNodes, kNotHandling, kVelocityMode, kNoVelocity,
                   kNoAcceleration, kTargetBeyondDrive})},
      {"HandlingAxisTurn", CommandCode::HandlingAxisTurn,
       [](PathKernel& k) {
         AsHandlingAxis(k, 0);
         MoveValues(k);
       },
       DriveChain(
           {kPowerOff, kBridge, kMoveOut, kNodes, kNotHandling, kPositionMode, kNoAcceleration})},
      {"SetHandlingAxisMotionState", CommandCode::SetHandlingAxisMotionState,
       [](PathKernel& k) {
         AsHandlingAxis(k);
         k.Word(0, 1);
         k.Word(4, 1);
       },
       DriveChain({kNodes, kNotHandling})},
      {"GetExtHandlingAxisPar",
       CommandCode::GetExtHandlingAxisPar,
       [](PathKernel&) {},
       {kUninitialised}},
  };
  return chains;
}

class HandlingAxisCommandGuards : public ::testing::TestWithParam<Chain> {};

TEST_P(HandlingAxisCommandGuards, EachConditionAnswersInItsOrder) { ExpectGuardChain(GetParam()); }

INSTANTIATE_TEST_SUITE_P(EachCode, HandlingAxisCommandGuards, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HandlingAxisCommands, AMotionStateMaskMustNameOnlyHandlingAxes) {
  for (const std::uint32_t mask : {0u, 0b10u, 0b11u, 0x80000000u}) {
    PathKernel k(true);
    AsHandlingAxis(k);
    k.Word(0, mask);
    k.Word(4, 1);
    EXPECT_EQ(k.Run(CommandCode::SetHandlingAxisMotionState), common::kKernelAxisNumberInvalid)
        << mask;
  }
}

TEST(HandlingAxisCommands, TheMoveModeInForceIsKeptWithoutTalkingToTheDrive) {
  PathKernel k(true);
  AsHandlingAxis(k, 0);
  Record(k).motion.commandedVelocity = 5.0;  // turning: a change would be refused
  k.Word(0, 0);
  k.Word(4, 0);
  EXPECT_EQ(k.Run(CommandCode::SetHandlingMoveMode), common::kKernelSuccess);
  EXPECT_EQ(Drive(k).request.stepFunction, nullptr);
  EXPECT_EQ(Drive(k).handlingMode, 0);

  k.Word(4, 1);
  EXPECT_EQ(k.Run(CommandCode::SetHandlingMoveMode), common::kKernelSegmentMotionAlreadyActive)
      << "a turning axis changes no mode";
}

struct MoveParameterCase {
  const char* name;
  std::int32_t mode;
  std::uint32_t inMotion;
  std::uint32_t flag;
  std::int64_t velocity;
  std::int64_t current;
  std::int64_t target;
};

TEST(HandlingAxisCommands, MoveParametersAreGivenRelativeToTheAxisOffset) {
  const MoveParameterCase cases[] = {
      {"position, moving", 1, 1, 1, 40, 12, 300 - 25},
      {"position, standing", 1, 0, 1, 40, 0, 300 - 25},
      {"velocity", 0, 1, 0, -7, 12, 0},
  };
  for (const auto& c : cases) {
    PathKernel k(true);
    AsHandlingAxis(k, c.mode);
    Record(k).zeroPoint = 25.0;
    Record(k).motion = {.inMotion = c.inMotion,
                        .standing = 1,
                        .measuredVelocity = 12.0,
                        .commandedVelocity = -7.0,
                        .targetPosition = 300.0};
    Drive(k).profileAcceleration = 500.0;
    Drive(k).profileVelocity = 40.0;
    k.data().motionRuntime.nodes[0].actual = 125.0;
    k.Word(0, 0);
    ASSERT_EQ(k.Run(CommandCode::GetHandlingAxisMovePar), common::kKernelSuccess) << c.name;
    const auto value = [&](std::size_t at) {
      return k.block().Load<std::int64_t>(cb::PayloadAt(at)).value_or(-1);
    };
    EXPECT_EQ(k.AnswerWord(4), c.flag) << c.name;
    EXPECT_EQ(value(8), 500) << c.name;
    EXPECT_EQ(value(16), c.velocity) << c.name;
    EXPECT_EQ(value(24), c.current) << c.name;
    EXPECT_EQ(value(32), c.target) << c.name;
    EXPECT_EQ(value(40), 100) << c.name;
  }
}

TEST(HandlingAxisCommands, TheExternalAxesAreListedWithTheirNames) {
  PathKernel k(true);
  EXPECT_EQ(k.Run(CommandCode::GetExtHandlingAxisPar), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(0), 0u) << "none configured";

  KernelData& data = k.data();
  data.handlingAxisCount = 2;
  data.handlingAxes[0] = {.nodeId = 40, .deviceTypeFlag = 1, .answerTimeoutMicroseconds = 5000};
  data.handlingAxes[1] = {.nodeId = 41, .deviceTypeFlag = 0, .answerTimeoutMicroseconds = 7000};
  std::memcpy(data.externalAxes[0].description.data(), "Amp 7 V1.2", 11);
  // A name that fills its record, terminator included, stays whole.
  data.externalAxes[1].description.fill('N');
  data.externalAxes[1].description.back() = '\0';
  // Stale bytes of an earlier answer must not show through.
  for (std::size_t at = 4; at < 84; at += 4) k.Word(at, 0xA5A5A5A5);
  ASSERT_EQ(k.Run(CommandCode::GetExtHandlingAxisPar), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(0), 2u);
  const auto name = [&](std::size_t entry) {
    std::array<std::uint8_t, 28> bytes{};
    EXPECT_TRUE(k.block().CopyOut(cb::PayloadAt(4 + 40 * entry + 12), bytes));
    return bytes;
  };
  EXPECT_EQ(k.AnswerWord(4), 40u);
  EXPECT_EQ(k.AnswerWord(8), 1u);
  EXPECT_EQ(k.AnswerWord(12), 5000u);
  std::array<std::uint8_t, 28> first{};
  std::memcpy(first.data(), "Amp 7 V1.2", 10);
  EXPECT_EQ(name(0), first);
  EXPECT_EQ(k.AnswerWord(44), 41u);
  EXPECT_EQ(k.AnswerWord(48), 0u);
  EXPECT_EQ(k.AnswerWord(52), 7000u);
  std::array<std::uint8_t, 28> second{};
  std::fill_n(second.begin(), 25, 'N');
  EXPECT_EQ(name(1), second);
}

}  // namespace
}  // namespace vantor::kernel

// The refusals of the A/D and distance regulator commands in their order,
// one condition at a time and each before the one tested after it; and the
// answers that need no drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/tests/command_guard_conditions.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the shared conditions

canopen::NodeObject& Drive(PathKernel& k) { return *k.data().nodeConfiguration.records[0].can; }

void Half(PathKernel& k, std::size_t at, std::uint16_t value) {
  ASSERT_TRUE(k.block().Store<std::uint16_t>(cb::PayloadAt(at), value));
}

const Condition kNoSuchNode{"noSuchNode", [](PathKernel& k) { k.Word(0, 1); },
                            common::kKernelAxisNumberInvalid};
const Condition kNotInterpolated{
    "notInterpolated", [](PathKernel& k) { k.data().nodeConfiguration.interpolatedNodeCount = 0; },
    common::kKernelAxisNumberInvalid};
const Condition kNoAnalogue{"noAnalogue", [](PathKernel& k) { Drive(k).adSupported = 0; },
                            common::kKernelDriveFirmwareWrong};
const Condition kRegulating{"regulating", [](PathKernel& k) { Drive(k).regulatorActive = 1; },
                            common::kKernelDistanceControlActive};
const Condition kConverting{"converting", [](PathKernel& k) { Drive(k).adActive = 1; },
                            common::kKernelAdConverterActive};
const Condition kNotConverting{"notConverting", [](PathKernel& k) { Drive(k).adActive = 0; },
                               common::kKernelAdConverterNotInitialized};
const Condition kNoArea{"noArea", [](PathKernel& k) { Drive(k).workingAreaSet = 0; },
                        common::kKernelDistanceControlAreaNotSet};
const Condition kZeroDenominator{"zeroDenominator", [](PathKernel& k) { Half(k, 6, 0); },
                                 common::kKernelDistanceControlDataInvalid};
const Condition kBadArea{"badArea", [](PathKernel& k) { Half(k, 6, 0xFFFF); },
                         common::kKernelDistanceControlDataInvalid};
const Condition kNoResponse{"noResponse", [](PathKernel& k) { Half(k, 12, 0); },
                            common::kKernelDistanceControlDataInvalid};
const Condition kRangeTooLarge{"rangeTooLarge", [](PathKernel& k) { k.Word(16, 4161410); },
                               common::kKernelDistanceControlDataInvalid};
// Power off as the drives show it too, so that the node check passes.
const Condition kDrivesPoweredOff{"drivesPoweredOff",
                                  [](PathKernel& k) {
                                    k.state().powerOff = 1;
                                    Drive(k).SetFlagInBothRows(StatusFlag::H, false);
                                  },
                                  common::kKernelManualModeActive};
const Condition kStopOnInputSet{"stopOnInputSet",
                                [](PathKernel& k) { k.state().stopOnInputInitialised = 1; },
                                common::kKernelStopOnInputAlreadyInitialized};
const Condition kHandwheelSet{"handwheelSet",
                              [](PathKernel& k) { k.state().handwheelInitialised = 1; },
                              common::kKernelHandwheelAlreadyInitialized};

// Node 0 has the A/D conversion; the command names it.
void OnNode0(PathKernel& k) {
  Drive(k).adSupported = 1;
  k.Word(0, 0);
}

// What every command tests before it looks at the node's functions.
std::vector<Condition> NodeChain(std::vector<Condition> after) {
  std::vector<Condition> chain = {kUninitialised, kCycle, kBus, kResetBusy, kNoSuchNode};
  chain.insert(chain.end(), after.begin(), after.end());
  return chain;
}

const std::vector<Chain>& Chains() {
  static const std::vector<Chain> chains = {
      {"ConversionOff", CommandCode::StartAdConversion,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).adActive = 1;
         k.Word(4, 0);
       },
       NodeChain({kNoAnalogue, kRegulating})},
      {"GetAdValue", CommandCode::GetAdValue,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).adActive = 1;
       },
       NodeChain({kNotConverting})},
      {"SetAdToDistanceFactor", CommandCode::SetAdToDistanceFactor,
       [](PathKernel& k) {
         OnNode0(k);
         Half(k, 4, 3);
         Half(k, 6, 1);
       },
       NodeChain({kNoAnalogue, kZeroDenominator, kConverting})},
      {"SetDistanceRegulatorArea", CommandCode::SetDistanceRegulatorArea,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).axisCount = 1;
         for (std::size_t at = 4; at <= 12; at += 2) Half(k, at, 5);
         k.Word(16, 100);
       },
       NodeChain({kNoAnalogue, kRegulating, kBadArea})},
      {"AreaResponse", CommandCode::SetDistanceRegulatorArea,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).axisCount = 1;
         for (std::size_t at = 4; at <= 12; at += 2) Half(k, at, 5);
         k.Word(16, 100);
       },
       NodeChain({kNoAnalogue, kNoResponse})},
      {"AreaRange", CommandCode::SetDistanceRegulatorArea,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).axisCount = 1;
         for (std::size_t at = 4; at <= 12; at += 2) Half(k, at, 5);
         k.Word(16, 100);
       },
       NodeChain({kNoAnalogue, kRangeTooLarge})},
      {"RegulatorOn", CommandCode::StartDistanceRegulator,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).adActive = 1;
         Drive(k).workingAreaSet = 1;
         k.Word(4, 1);
       },
       NodeChain({kNotInterpolated, kNoAnalogue, kMotion, kPathMode, kStarted, kNodes,
                  kDrivesPoweredOff, kTeach, kMoveOut, kNotConverting, kNoArea, kStopOnInputSet,
                  kHandwheelSet})},
      {"RegulatorOff", CommandCode::StartDistanceRegulator,
       [](PathKernel& k) {
         OnNode0(k);
         Drive(k).regulatorActive = 1;
         k.Word(4, 0);
       },
       NodeChain({kNotInterpolated, kNoAnalogue, kMotion, kPathMode})},
      {"GetDistanceRegulatorStatus", CommandCode::GetDistanceRegulatorStatus, OnNode0,
       NodeChain({})},
      {"GetDistanceRegulatorPar", CommandCode::GetDistanceRegulatorPar, OnNode0,
       NodeChain({kNoAnalogue})},
  };
  return chains;
}

class DistanceRegulatorGuards : public ::testing::TestWithParam<Chain> {};

TEST_P(DistanceRegulatorGuards, EachConditionAnswersInItsOrder) { ExpectGuardChain(GetParam()); }

INSTANTIATE_TEST_SUITE_P(EachCode, DistanceRegulatorGuards, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

// Without the drive: a state already in force, and the reads of the CAN
// object that polls the A/D PDO.
TEST(DistanceRegulatorCommands, WhatIsInForceAlreadyAnswersWithoutTheDrive) {
  PathKernel k(true);
  OnNode0(k);
  k.Word(4, 0);
  EXPECT_EQ(k.Run(CommandCode::StartAdConversion), common::kKernelSuccess) << "off while off";
  EXPECT_EQ(k.Run(CommandCode::StartDistanceRegulator), common::kKernelSuccess) << "off while off";
  k.Word(4, 0xDEAD);
  EXPECT_EQ(k.Run(CommandCode::GetDistanceRegulatorStatus), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 0u) << "a regulator that is off is not in range";
}

TEST(DistanceRegulatorCommands, TheValueAndStateComeFromTheConversionsObject) {
  PathKernel k(true);
  OnNode0(k);
  Drive(k).adActive = 1;
  Drive(k).regulatorActive = 1;
  canopen::CanObjectList& list = k.kernel().canObjects;
  canopen::CanObjectParameters p;
  p.cobId = 0x381;
  p.length = 4;
  canopen::CanObjectEntry* entry = canopen::AppendCanObject(list, p);
  ASSERT_NE(entry, nullptr);
  list.kernelObjects.peripheralCobIds[0] = 0x381;

  ASSERT_EQ(k.Run(CommandCode::GetAdValue), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 0u) << "not valid before data came";
  EXPECT_EQ(k.AnswerWord(8), 0u) << "no data yet";

  entry->data = {0xFE, 0xFF, 1, 1, 0, 0, 0, 0};
  entry->done = 1;
  ASSERT_EQ(k.Run(CommandCode::GetAdValue), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 1u);
  EXPECT_EQ(k.AnswerWord(8), 1u);
  EXPECT_EQ(k.block().Load<std::uint16_t>(cb::PayloadAt(12)).value_or(0), 0xFFFEu);
  ASSERT_EQ(k.Run(CommandCode::GetDistanceRegulatorStatus), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 1u);

  entry->data[2] = 2;  // only 1 counts
  entry->data[3] = 0;
  ASSERT_EQ(k.Run(CommandCode::GetAdValue), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 0u);
  ASSERT_EQ(k.Run(CommandCode::GetDistanceRegulatorStatus), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(4), 0u);

  entry->result = common::kKernelCanMessageTimeout;
  EXPECT_EQ(k.Run(CommandCode::GetAdValue), common::kKernelCanMessageTimeout);
  EXPECT_EQ(k.Run(CommandCode::GetDistanceRegulatorStatus), common::kKernelCanMessageTimeout);
}

}  // namespace
}  // namespace vantor::kernel

// The refusals of the configuration commands in their order, one condition
// at a time and each before the one tested after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/tests/command_guard_conditions.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the shared conditions

const Condition kHandlingMove{"handlingMove",
                              [](PathKernel& k) {
                                // Node 0 becomes a handling axis that has
                                // not come to a stand.
                                k.data().nodeConfiguration.interpolatedNodeCount = 0;
                                k.data().nodeConfiguration.records[0].motion.standing = 0;
                              },
                              common::kKernelMovementSegmentActive};
const Condition kMotionStop{"motionStop", [](PathKernel& k) { k.state().motionStop = 1; },
                            common::kKernelStopModeActive};
const Condition kDistanceControl{
    "distanceControl",
    [](PathKernel& k) { k.data().nodeConfiguration.records[0].can->regulatorActive = 1; },
    common::kKernelDistanceControlActive};
const Condition kVelocityOutput{"velocityOutput",
                                [](PathKernel& k) { k.state().velocityOutputActive = 1; },
                                common::kKernelVelPropOutputAlreadyActive};
const Condition kPlaneRotation{"planeRotation",
                               [](PathKernel& k) { k.data().planeRotation.plane = 1; },
                               common::kKernelPlaneRotationActive};
const Condition kGearUnknown{"gearUnknown", [](PathKernel& k) { k.state().resetPending = 1; },
                             common::kKernelGearRatioUnavailable};

// Node 0 with a gantry slave drive.
void WithSlave(PathKernel& k) { k.data().nodeConfiguration.records[0].can->axisCount = 1; }

// The cycle checks, the node check and no motion nor path: what every
// command that changes the running configuration tests.
std::vector<Condition> ChangeChain(std::vector<Condition> after = {}) {
  std::vector<Condition> chain = {kUninitialised, kResetBusy, kCycle, kBus,    kSync,     kPdo,
                                  kBreak,         kQuickStop, kNodes, kMotion, kPathMode, kStarted};
  chain.insert(chain.end(), after.begin(), after.end());
  return chain;
}

const std::vector<Chain>& Chains() {
  static const std::vector<Chain> chains = {
      {"SetAxisGearRatio",
       CommandCode::SetAxisGearRatio,
       [](PathKernel& k) {
         k.Word(0, 0);
         k.Word(4, 2);
         k.Word(8, 1);
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kStopped, kNodes, kMotion,
        kHandlingMove, kPathMode}},
      {"SetSynAxisGearRatio",
       CommandCode::SetSynAxisGearRatio,
       [](PathKernel& k) {
         WithSlave(k);
         for (std::size_t at = 0; at < 20; at += 4) k.Word(at, at == 0 ? 0 : 1);
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kNodes, kMotion,
        kHandlingMove, kStarted}},
      {"GetSynAxisGearRatio",
       CommandCode::GetSynAxisGearRatio,
       [](PathKernel& k) {
         WithSlave(k);
         k.Word(0, 0);
       },
       {kUninitialised, kGearUnknown}},
      {"SetRamp", CommandCode::SetRamp, [](PathKernel&) {}, ChangeChain()},
      {"SetCylinderPar", CommandCode::SetCylinderPar,
       [](PathKernel& k) {
         k.data().coordinates[2].settings.linear = 0;
         k.data().coordinates[2].settings.onPath = 0;
         k.Word(0, 2);
         k.Value(8, 5);
       },
       ChangeChain({kPlaneRotation})},
      {"SetSwls", CommandCode::SetSwls,
       [](PathKernel& k) {
         for (std::size_t i = 0; i < 3; ++i) k.Value(72 + 8 * i, 1);
       },
       ChangeChain()},
      {"EnableSwls",
       CommandCode::EnableSwls,
       [](PathKernel& k) {
         k.Word(0, 1);
         k.Word(4, 1);
         k.state().pathMode = k.state().pathStarted = k.state().motionActive = 1;
       },
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kBreak, kQuickStop, kNodes}},
      {"ClearSwls", CommandCode::ClearSwls, [](PathKernel&) {}, ChangeChain()},
      {"ChangeLookAheadBuffer",
       CommandCode::ChangeLookAheadBuffer,
       [](PathKernel& k) { k.Word(0, 0); },
       // A break does not keep the fill level as it is.
       {kUninitialised, kResetBusy, kCycle, kBus, kSync, kPdo, kStopped, kNodes, kMotion, kPathMode,
        kStarted, kVelocityOutput}},
      {"ResetReferenceFlag",
       CommandCode::ResetReferenceFlag,
       [](PathKernel& k) { k.Word(0, 1); },
       {kUninitialised, kCycle, kBus, kResetBusy, kMotionStop, kPathMode, kStarted, kMotion,
        kHandlingMove, kDistanceControl}},
      {"ExchangeInterAxis", CommandCode::ExchangeInterAxis,
       [](PathKernel& k) {
         k.PlaceReadyNode(1);
         k.Word(0, 0);
         k.Word(4, 1);
       },
       ChangeChain({kHandwheel})},
      {"SetAxisRampOverride", CommandCode::SetAxisRampOverride,
       [](PathKernel& k) {
         k.Word(0, 0);
         for (std::size_t at = 4; at <= 36; at += 4) k.Word(at, 50);
       },
       ChangeChain()},
  };
  return chains;
}

class ConfigurationCommandGuards : public ::testing::TestWithParam<Chain> {};

TEST_P(ConfigurationCommandGuards, EachConditionAnswersInItsOrder) { ExpectGuardChain(GetParam()); }

INSTANTIATE_TEST_SUITE_P(EachCode, ConfigurationCommandGuards, ::testing::ValuesIn(Chains()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantor::kernel

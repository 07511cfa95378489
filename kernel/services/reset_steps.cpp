#include "kernel/services/reset_steps.h"

#include <array>

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/gantry_homing_objects.h"
#include "kernel/core/canopen/global_slot.h"
#include "kernel/core/canopen/guarding_setup.h"
#include "kernel/core/canopen/held_positions.h"
#include "kernel/core/canopen/modes_of_operation.h"
#include "kernel/core/canopen/module_identification.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/core/canopen/startup_probes.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/planning_limits.h"
#include "kernel/services/distance_regulator_commands.h"

namespace vantor::kernel {

namespace {

using R = ResetStepRuns;
using common::StatusCode;

// The process-data objects the drives get, by PDO number.
constexpr std::uint16_t kControlwordRpdo = 1;
constexpr std::uint16_t kSetpointRpdo = 2;
constexpr std::uint16_t kTimeStampRpdo = 3;
constexpr std::uint16_t kAxisStateTpdo = 4;
constexpr std::uint16_t kFeedbackTpdo = 1;
constexpr std::uint16_t kTimeStampTpdo = 2;
// The drives take the position option as read at start-up, and the
// buffer depth of path mode.
constexpr std::uint32_t kStartUpPositionOption = 0;
constexpr std::uint32_t kPathModeBufferDepth = 0;

constexpr std::uint8_t kNmtStartRemoteNode = 0x01;
constexpr std::uint8_t kNmtResetNode = 0x81;

StatusCode Nothing(ResetRun&) { return common::kKernelSuccess; }

StatusCode ClearGlobalSlot(ResetRun& run) { return canopen::ArmGlobalSlot(run.context, false); }
StatusCode ClearNodeRecords(ResetRun& run) {
  return canopen::ArmAllNodeRecords(run.context, canopen::RecordArming::Clear, true);
}
StatusCode ReadHoldPositions(ResetRun& run) {
  return canopen::ReadHoldPositions(run.context, run.held);
}
StatusCode Read2047Support(ResetRun& run) {
  return canopen::ReadMakerObject2047Support(run.context);
}
StatusCode ResetNodes(ResetRun& run) {
  return canopen::SendNmtCommand(run.context, true, kNmtResetNode);
}
StatusCode IdentifyModules(ResetRun& run) {
  return canopen::IdentifyModules(run.context, run.kernel.data.ConfiguredExternalAxes());
}
StatusCode ReadGuarding(ResetRun& run) { return canopen::ReadGuardingParameters(run.context); }
StatusCode StartNodes(ResetRun& run) {
  return canopen::SendNmtCommand(run.context, false, kNmtStartRemoteNode);
}
StatusCode StartGuarding(ResetRun& run) {
  // The guarding has no result of its own in the reset.
  static_cast<void>(canopen::StartGuarding(run.context));
  return common::kKernelSuccess;
}
StatusCode ReadAnalogueSupport(ResetRun& run) { return canopen::ReadAnalogueSupport(run.context); }
StatusCode SwitchAnalogueOff(ResetRun& run) {
  return SwitchAnalogueFunctionsOffStep(run.kernel, run.context);
}
StatusCode ReadHomeShiftSupport(ResetRun& run) {
  return canopen::ReadHomeShiftSupport(run.context);
}
StatusCode ReadGantryHoming(ResetRun& run) { return canopen::ReadGantryHomingObjects(run.context); }
StatusCode CheckStopOnInput(ResetRun& run) {
  return canopen::CheckStopOnInputCapability(run.context);
}
StatusCode ReadInputCapabilities(ResetRun& run) {
  return canopen::ReadInputCapabilities(run.context);
}
StatusCode ProbeChain(ResetRun& run) { return canopen::ProbeAxisChain(run.context, true); }
StatusCode UncoupleChains(ResetRun& run) {
  return canopen::SetAxisChainState(run.context, false, true, run.context.nodes.AllNodes());
}
StatusCode ResetGantryHoming(ResetRun& run) {
  return canopen::ResetAllGantryHomingObjects(run.context);
}
StatusCode SetStartModes(ResetRun& run) { return canopen::SetStartModes(run.context); }
StatusCode ResetRpdos(ResetRun& run) { return canopen::ResetAllRpdos(run.context); }
StatusCode MapControlword(ResetRun& run) {
  return canopen::MapControlwordRpdo(run.context, kControlwordRpdo);
}
StatusCode MapSetpoint(ResetRun& run) {
  return canopen::MapSetpointRpdo(run.context, kSetpointRpdo);
}
StatusCode MapTimeStampIn(ResetRun& run) {
  return canopen::MapTimeStampRpdo(run.context, kTimeStampRpdo);
}
StatusCode MapAxisState(ResetRun& run) {
  return canopen::MapStateTpdoOnAxes(run.context, kAxisStateTpdo);
}
StatusCode ResetTpdos(ResetRun& run) { return canopen::ResetAllTpdos(run.context); }
StatusCode MapFeedback(ResetRun& run) {
  return canopen::MapFeedbackTpdo(run.context, kFeedbackTpdo);
}
StatusCode MapTimeStampOut(ResetRun& run) {
  return canopen::MapTimeStampTpdo(run.context, kTimeStampTpdo);
}
// Planning takes the limits of whatever drives answered.
StatusCode ReadDriveParameters(ResetRun& run) {
  const StatusCode result = canopen::ReadDriveParameters(run.context);
  KernelDataLock lock(run.kernel.data);
  TakeDriveLimitsIntoPlanning(run.kernel.data);
  return result;
}
StatusCode WritePositionOption(ResetRun& run) {
  return canopen::WritePositionOption(run.context, kStartUpPositionOption);
}
StatusCode RestoreGearRatios(ResetRun& run) { return canopen::RestoreGearRatios(run.context); }
StatusCode RestoreProfiles(ResetRun& run) { return canopen::RestoreProfileParameters(run.context); }
StatusCode DownloadHoming(ResetRun& run) {
  return canopen::DownloadGantryHomingParameters(run.context);
}
StatusCode WriteBufferDepth(ResetRun& run) {
  return canopen::WriteBufferDepth(run.context, kPathModeBufferDepth);
}
StatusCode WriteInterpolationPeriod(ResetRun& run) {
  return canopen::WriteInterpolationPeriod(run.context);
}
StatusCode WriteInterpolationSubMode(ResetRun& run) {
  return canopen::WriteInterpolationSubMode(run.context);
}
StatusCode ResendBridging(ResetRun& run) {
  bool bridging = false;
  {
    canopen::HostLock lock(run.context.host);
    bridging = run.kernel.data.state.limitSwitchBridge != 0;
  }
  return canopen::SetLimitSwitchBridging(run.context, bridging, true);
}
StatusCode ConfigureChains(ResetRun& run) { return canopen::ConfigureAxisChain(run.context); }
StatusCode ClearPending(ResetRun& run) {
  ClearResetPending(run.kernel.data);
  return common::kKernelSuccess;
}
StatusCode EnableDrives(ResetRun& run) { return canopen::EnableAllDrives(run.context, true); }
StatusCode RestoreHeldPositions(ResetRun& run) {
  return canopen::RestoreHeldPositions(run.context, run.held);
}

StatusCode RearmGlobalSlot(ResetRun& run) { return canopen::ArmGlobalSlot(run.context, true); }
StatusCode ArmNodeRecords(ResetRun& run) {
  return canopen::ArmAllNodeRecords(run.context, canopen::RecordArming::Arm, false);
}

constexpr auto kResetSteps = std::to_array<ResetStep>({
    {1, R::Always, ClearGlobalSlot},
    {2, R::Always, ClearNodeRecords},
    {3, R::LaterReset, ReadHoldPositions},
    {4, R::FirstReset, Read2047Support},
    {5, R::Always, ResetNodes},
    {6, R::FirstReset, IdentifyModules},
    {7, R::Always, ReadGuarding},
    {8, R::Always, ResetNodes},
    {9, R::Always, StartNodes},
    {10, R::Always, StartGuarding},
    {11, R::FirstReset, ReadAnalogueSupport},
    {12, R::LaterReset, SwitchAnalogueOff},
    {13, R::FirstReset, ReadHomeShiftSupport},
    {14, R::FirstReset, ReadGantryHoming},
    {15, R::FirstReset, CheckStopOnInput},
    {16, R::FirstReset, ReadInputCapabilities},
    // The handwheel's link: waits for the handwheel commands.
    {17, R::Always, Nothing},
    {18, R::Always, ProbeChain},
    {19, R::Always, UncoupleChains},
    {20, R::Always, ResetGantryHoming},
    {21, R::Always, SetStartModes},
    {22, R::Always, ResetRpdos},
    {23, R::Always, MapControlword},
    {24, R::Always, MapSetpoint},
    {25, R::Always, MapTimeStampIn},
    // Emptying the transmit PDOs comes first: it would empty the axes'
    // state PDO again.
    {27, R::Always, ResetTpdos},
    {26, R::Always, MapAxisState},
    {28, R::Always, MapFeedback},
    {29, R::Always, MapTimeStampOut},
    {30, R::FirstReset, ReadDriveParameters},
    {31, R::Always, WritePositionOption},
    {32, R::Always, RestoreGearRatios},
    {33, R::Always, RestoreProfiles},
    {34, R::Always, DownloadHoming},
    {35, R::Always, WriteBufferDepth},
    {36, R::Always, WriteInterpolationPeriod},
    {37, R::Always, WriteInterpolationSubMode},
    {38, R::Always, ResendBridging},
    {39, R::Always, ConfigureChains},
    {40, R::Always, ClearPending},
    {41, R::Always, EnableDrives},
    {42, R::Always, RestoreHeldPositions},
});

}  // namespace

std::span<const ResetStep> ResetSteps() noexcept { return kResetSteps; }

ResetClosing ResetClosingSteps() noexcept { return {RearmGlobalSlot, ArmNodeRecords}; }

}  // namespace vantor::kernel

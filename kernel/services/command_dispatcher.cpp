#include "kernel/services/command_dispatcher.h"

#include <array>

#include "common/command_codes.h"
#include "kernel/services/axis_position_commands.h"
#include "kernel/services/cnc_exit.h"
#include "kernel/services/cnc_initialize.h"
#include "kernel/services/complete_status.h"
#include "kernel/services/configuration_commands.h"
#include "kernel/services/distance_regulator_commands.h"
#include "kernel/services/drive_mode_commands.h"
#include "kernel/services/driver_commands.h"
#include "kernel/services/gear_ratio_commands.h"
#include "kernel/services/handling_axis_commands.h"
#include "kernel/services/homing_commands.h"
#include "kernel/services/link_commands.h"
#include "kernel/services/look_ahead_commands.h"
#include "kernel/services/motion_state_command.h"
#include "kernel/services/path_buffer_transfer.h"
#include "kernel/services/path_mode_commands.h"
#include "kernel/services/path_move_commands.h"
#include "kernel/services/path_settings_commands.h"
#include "kernel/services/pdo_commands.h"
#include "kernel/services/request_areas.h"
#include "kernel/services/reset_command.h"
#include "kernel/services/software_limit_commands.h"
#include "kernel/services/stop_on_input_commands.h"
#include "kernel/services/velocity_commands.h"
#include "kernel/services/velocity_output_commands.h"
#include "kernel/services/zero_point_commands.h"

namespace vantor::kernel {

namespace {

using common::CommandCode;

struct CommandEntry {
  CommandCode code;
  CommandHandlerFunction handler;
};

// The codes that have a handler of their own. Every other code of the
// command table (15 to 108) has a handler still to come and is answered
// like an unknown code until then.
constexpr auto kServedCommands = std::to_array<CommandEntry>({
    {CommandCode::Ping, HandlePing},
    {CommandCode::TerminateKernel, HandleTerminateKernel},
    {CommandCode::IdentifyKernel, HandleIdentifyKernel},
    {CommandCode::OpenHardware, HandleOpenHardware},
    {CommandCode::ClaimDevice, HandleClaimDevice},
    {CommandCode::ReleaseDevice, HandleReleaseDevice},
    {CommandCode::DynPortIn, HandleDynPortIn},
    {CommandCode::DynPortOut, HandleDynPortOut},
    {CommandCode::StaPortReport, HandleStaPortReport},
    {CommandCode::StaPortAccess, HandleStaPortAccess},
    {CommandCode::StaPortGetCon, HandleStaPortGetCon},
    {CommandCode::CncExit, HandleCncExit},
    {CommandCode::Reset, HandleReset},
    {CommandCode::Reference, HandleReference},
    {CommandCode::ChangeHomePosition, HandleChangeHomePosition},
    {CommandCode::GetAxisLastOperationError, HandleGetAxisLastOperationError},
    {CommandCode::SetVelocity, HandleSetVelocity},
    {CommandCode::GetVelocity, HandleGetVelocity},
    {CommandCode::GetPosition, HandleGetPosition},
    {CommandCode::GetDestinationPos, HandleGetDestinationPos},
    {CommandCode::GetDesiredPos, HandleGetDesiredPos},
    {CommandCode::GetAxisPosition, HandleGetAxisPosition},
    {CommandCode::SetOverride, HandleSetOverride},
    {CommandCode::GetOverride, HandleGetOverride},
    {CommandCode::SetMotionState, HandleSetMotionState},
    {CommandCode::SetPowerState, HandleSetPowerState},
    {CommandCode::SetTeachMode, HandleSetTeachMode},
    {CommandCode::HwlsBridge, HandleHwlsBridge},
    {CommandCode::SetHwlsMoveOutMode, HandleSetHwlsMoveOutMode},
    {CommandCode::HwlsMoveOut, HandleHwlsMoveOut},
    {CommandCode::SetActPosWnp, HandleSetActPosWnp},
    {CommandCode::SetWnp, HandleSetWnp},
    {CommandCode::GetWnp, HandleGetWnp},
    {CommandCode::GetLatencyTime, HandleGetLatencyTime},
    {CommandCode::GetDataRecord, HandleGetDataRecord},
    {CommandCode::AssignPdo, HandleAssignPdo},
    {CommandCode::ClearPdo, HandleRemovePdo},
    {CommandCode::ReadPdo, HandleReadPdo},
    {CommandCode::WritePdo, HandleWritePdo},
    {CommandCode::CncInitialize, HandleCncInitialize},
    {CommandCode::GetStatus, HandleGetStatus},
    {CommandCode::Move, HandleMove},
    {CommandCode::Circle, HandleCircle},
    {CommandCode::Helix, HandleHelix},
    {CommandCode::PathVelocity, HandlePathVelocity},
    {CommandCode::GetPathCoor, HandleGetPathCoor},
    {CommandCode::SetPathCoor, HandleSetPathCoor},
    {CommandCode::EnablePath, HandleEnablePath},
    {CommandCode::StartPath, HandleStartPath},
    {CommandCode::SetBufferSize, HandleSetBufferSize},
    {CommandCode::GetBufferStatus, HandleGetBufferStatus},
    {CommandCode::EnableDllPathBuffer, HandleEnableDllPathBuffer},
    {CommandCode::TransferDllPathBuffer, HandleTransferDllPathBuffer},
    {CommandCode::EventToSet, HandleEventToSet},
    {CommandCode::SetPlaneRotPar, HandleSetPlaneRotPar},
    {CommandCode::GetPlaneRotPar, HandleGetPlaneRotPar},
    {CommandCode::SetPathVelFac, HandleSetPathVelFac},
    {CommandCode::GetPathVelFac, HandleGetPathVelFac},
    {CommandCode::SetStopOnInputModePar, HandleSetStopOnInputModePar},
    {CommandCode::GetStopOnInputModePar, HandleGetStopOnInputModePar},
    {CommandCode::GetStopOnInputModeLatchedPos, HandleGetStopOnInputLatchedPos},
    {CommandCode::ReadStopOnInputModeBit, HandleReadStopOnInputBit},
    {CommandCode::ReadStopOnInputModePort, HandleReadStopOnInputPort},
    {CommandCode::RunStopOnInputMode, HandleRunStopOnInputMode},
    {CommandCode::ReadMainAmplifyInputBit, HandleReadMainAmplifyInputBit},
    {CommandCode::ActivateVelPropOutputMode, HandleActivateVelPropOutput},
    {CommandCode::DeactivateVelPropOutputMode, HandleDeactivateVelPropOutput},
    {CommandCode::SetVelPropOutputWorkPar, HandleSetVelPropOutputParameters},
    {CommandCode::GetVelPropOutputActPar, HandleGetVelPropOutputParameters},
    {CommandCode::GetConfiguration, HandleGetConfiguration},
    {CommandCode::GetAxisGearRatio, HandleGetAxisGearRatio},
    {CommandCode::SetAxisGearRatio, HandleSetAxisGearRatio},
    {CommandCode::GetRamp, HandleGetRamp},
    {CommandCode::SetRamp, HandleSetRamp},
    {CommandCode::SetCylinderPar, HandleSetCylinderPar},
    {CommandCode::GetSwlsStatus, HandleGetSwls},
    {CommandCode::SetSwls, HandleSetSwls},
    {CommandCode::EnableSwls, HandleEnableSwls},
    {CommandCode::ClearSwls, HandleClearSwls},
    {CommandCode::SetTestMode, HandleSetTestMode},
    {CommandCode::SetHandlingMode, HandleSetHandlingMode},
    {CommandCode::SetHandlingMoveMode, HandleSetHandlingMoveMode},
    {CommandCode::GetHandlingAxisMovePar, HandleGetHandlingAxisMovePar},
    {CommandCode::HandlingAxisMove, HandleHandlingAxisMove},
    {CommandCode::HandlingAxisTurn, HandleHandlingAxisTurn},
    {CommandCode::SetHandlingAxisMotionState, HandleSetHandlingAxisMotionState},
    {CommandCode::ChangeLookAheadBuffer, HandleChangeLookAheadBuffer},
    {CommandCode::GetLookAheadBufferStatus, HandleGetLookAheadBufferStatus},
    {CommandCode::ExchangeInterAxis, HandleExchangeInterAxis},
    {CommandCode::GetSynAxisGearRatio, HandleGetSynAxisGearRatio},
    {CommandCode::SetSynAxisGearRatio, HandleSetSynAxisGearRatio},
    {CommandCode::SetCncTimeLimitation, HandleSetCncTimeLimitation},
    {CommandCode::ResetReferenceFlag, HandleResetReferenceFlag},
    {CommandCode::GetAxisRamp, HandleGetAxisRamp},
    {CommandCode::SetAxisRampOverride, HandleSetAxisRampOverride},
    {CommandCode::StartAdConversion, HandleStartAdConversion},
    {CommandCode::GetAdValue, HandleGetAdValue},
    {CommandCode::SetAdToDistanceFactor, HandleSetAdToDistanceFactor},
    {CommandCode::SetDistanceRegulatorArea, HandleSetDistanceRegulatorArea},
    {CommandCode::StartDistanceRegulator, HandleStartDistanceRegulator},
    {CommandCode::GetDistanceRegulatorStatus, HandleGetDistanceRegulatorStatus},
    {CommandCode::GetDistanceRegulatorPar, HandleGetDistanceRegulatorPar},
    {CommandCode::GetExtHandlingAxisPar, HandleGetExtHandlingAxisPar},
});

const CommandEntry* FindServedCommand(std::uint32_t code) noexcept {
  for (const auto& entry : kServedCommands) {
    if (static_cast<std::uint32_t>(entry.code) == code) return &entry;
  }
  return nullptr;
}

}  // namespace

CommandHandlerFunction CommandHandlerFor(std::uint32_t code) noexcept {
  const CommandEntry* entry = FindServedCommand(code);
  return entry != nullptr ? entry->handler : RejectUnknownCommand;
}

bool IsCommandAwaitingHandler(std::uint32_t code) noexcept {
  return common::IsKnownCommandCode(code) && FindServedCommand(code) == nullptr;
}

AfterCommand RejectUnknownCommand(Kernel& kernel) {
  kernel.Block().Set(common::communication_block::kResult, common::kKernelWrongFunctionNumber);
  return AfterCommand::KeepServing;
}

AfterCommand DispatchCommand(Kernel& kernel) {
  const std::uint32_t code = kernel.Block().Get(common::communication_block::kCommandCode);
  const AfterCommand after = CommandHandlerFor(code)(kernel);
  ReplyToApplication(kernel);
  return after;
}

}  // namespace vantor::kernel

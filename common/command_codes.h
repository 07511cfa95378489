// Command codes of the standard request area: one code per kernel service.
//
// The application writes the code at offset 0x3C of the communication block;
// the kernel serves codes 1 to 108 and 150 and answers every other code with
// kKernelWrongFunctionNumber.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace vantor::common {

enum class CommandCode : std::uint32_t {
  Ping = 1,
  TerminateKernel = 2,
  IdentifyKernel = 3,
  OpenHardware = 4,
  ClaimDevice = 5,
  ReleaseDevice = 6,
  DynPortIn = 7,
  DynPortOut = 8,
  StaPortReport = 9,
  StaPortAccess = 10,
  StaPortGetCon = 11,
  CncInitialize = 12,
  CncExit = 13,
  GetLatencyTime = 14,
  Reset = 15,
  Reference = 16,
  GetAxisLastOperationError = 17,
  SetVelocity = 18,
  GetVelocity = 19,
  GetPosition = 20,
  GetDestinationPos = 21,
  GetDesiredPos = 22,
  GetAxisPosition = 23,
  GetStatus = 24,
  SetOverride = 25,
  GetOverride = 26,
  SetMotionState = 27,
  SetPowerState = 28,
  SetTeachMode = 29,
  HwlsBridge = 30,
  SetHwlsMoveOutMode = 31,
  HwlsMoveOut = 32,
  SetActPosWnp = 33,
  SetWnp = 34,
  GetWnp = 35,
  Move = 36,
  Circle = 37,
  Helix = 38,
  PathVelocity = 39,
  GetPathCoor = 40,
  SetPathCoor = 41,
  EnablePath = 42,
  StartPath = 43,
  SetBufferSize = 44,
  GetBufferStatus = 45,
  GetConfiguration = 46,
  AssignPdo = 47,
  ClearPdo = 48,
  ReadPdo = 49,
  WritePdo = 50,
  EnableDllPathBuffer = 51,
  TransferDllPathBuffer = 52,
  GetAxisGearRatio = 53,
  SetAxisGearRatio = 54,
  GetRamp = 55,
  SetRamp = 56,
  EventToSet = 57,
  SetCylinderPar = 58,
  GetSwlsStatus = 59,
  SetSwls = 60,
  EnableSwls = 61,
  ClearSwls = 62,
  SetTestMode = 63,
  SetHandlingMode = 64,
  SetHandlingMoveMode = 65,
  GetHandlingAxisMovePar = 66,
  HandlingAxisMove = 67,
  HandlingAxisTurn = 68,
  SetHandlingAxisMotionState = 69,
  ChangeLookAheadBuffer = 70,
  GetLookAheadBufferStatus = 71,
  ExchangeInterAxis = 72,
  GetSynAxisGearRatio = 73,
  SetSynAxisGearRatio = 74,
  StartAdConversion = 75,
  GetAdValue = 76,
  SetAdToDistanceFactor = 77,
  SetDistanceRegulatorArea = 78,
  StartDistanceRegulator = 79,
  GetDistanceRegulatorStatus = 80,
  GetDistanceRegulatorPar = 81,
  ChangeHomePosition = 82,
  SetCncTimeLimitation = 83,
  ResetReferenceFlag = 84,
  GetAxisRamp = 85,
  SetAxisRampOverride = 86,
  SetStopOnInputModePar = 87,
  GetStopOnInputModePar = 88,
  GetStopOnInputModeLatchedPos = 89,
  ReadStopOnInputModeBit = 90,
  ReadStopOnInputModePort = 91,
  RunStopOnInputMode = 92,
  ReadMainAmplifyInputBit = 93,
  LinkHandwheel = 94,
  UnlinkHandwheel = 95,
  GetHandwheelPar = 96,
  ActivateHandwheel = 97,
  GetHandwheelData = 98,
  GetHandwheelLatchedPos = 99,
  GetExtHandlingAxisPar = 100,
  ActivateVelPropOutputMode = 101,
  DeactivateVelPropOutputMode = 102,
  SetVelPropOutputWorkPar = 103,
  GetVelPropOutputActPar = 104,
  SetPlaneRotPar = 105,
  GetPlaneRotPar = 106,
  SetPathVelFac = 107,
  GetPathVelFac = 108,
  GetDataRecord = 150,
};

inline constexpr std::size_t kCommandCodeCount = 109;
inline constexpr std::uint32_t kHighestContiguousCommandCode = 108;

// Every command with its name, in code order.
inline constexpr std::array<std::pair<CommandCode, std::string_view>, kCommandCodeCount>
    kCommandNames = {{
        {CommandCode::Ping, "Ping"},
        {CommandCode::TerminateKernel, "TerminateKernel"},
        {CommandCode::IdentifyKernel, "IdentifyKernel"},
        {CommandCode::OpenHardware, "OpenHardware"},
        {CommandCode::ClaimDevice, "ClaimDevice"},
        {CommandCode::ReleaseDevice, "ReleaseDevice"},
        {CommandCode::DynPortIn, "DynPortIn"},
        {CommandCode::DynPortOut, "DynPortOut"},
        {CommandCode::StaPortReport, "StaPortReport"},
        {CommandCode::StaPortAccess, "StaPortAccess"},
        {CommandCode::StaPortGetCon, "StaPortGetCon"},
        {CommandCode::CncInitialize, "CncInitialize"},
        {CommandCode::CncExit, "CncExit"},
        {CommandCode::GetLatencyTime, "GetLatencyTime"},
        {CommandCode::Reset, "Reset"},
        {CommandCode::Reference, "Reference"},
        {CommandCode::GetAxisLastOperationError, "GetAxisLastOperationError"},
        {CommandCode::SetVelocity, "SetVelocity"},
        {CommandCode::GetVelocity, "GetVelocity"},
        {CommandCode::GetPosition, "GetPosition"},
        {CommandCode::GetDestinationPos, "GetDestinationPos"},
        {CommandCode::GetDesiredPos, "GetDesiredPos"},
        {CommandCode::GetAxisPosition, "GetAxisPosition"},
        {CommandCode::GetStatus, "GetStatus"},
        {CommandCode::SetOverride, "SetOverride"},
        {CommandCode::GetOverride, "GetOverride"},
        {CommandCode::SetMotionState, "SetMotionState"},
        {CommandCode::SetPowerState, "SetPowerState"},
        {CommandCode::SetTeachMode, "SetTeachMode"},
        {CommandCode::HwlsBridge, "HwlsBridge"},
        {CommandCode::SetHwlsMoveOutMode, "SetHwlsMoveOutMode"},
        {CommandCode::HwlsMoveOut, "HwlsMoveOut"},
        {CommandCode::SetActPosWnp, "SetActPosWnp"},
        {CommandCode::SetWnp, "SetWnp"},
        {CommandCode::GetWnp, "GetWnp"},
        {CommandCode::Move, "Move"},
        {CommandCode::Circle, "Circle"},
        {CommandCode::Helix, "Helix"},
        {CommandCode::PathVelocity, "PathVelocity"},
        {CommandCode::GetPathCoor, "GetPathCoor"},
        {CommandCode::SetPathCoor, "SetPathCoor"},
        {CommandCode::EnablePath, "EnablePath"},
        {CommandCode::StartPath, "StartPath"},
        {CommandCode::SetBufferSize, "SetBufferSize"},
        {CommandCode::GetBufferStatus, "GetBufferStatus"},
        {CommandCode::GetConfiguration, "GetConfiguration"},
        {CommandCode::AssignPdo, "AssignPdo"},
        {CommandCode::ClearPdo, "ClearPdo"},
        {CommandCode::ReadPdo, "ReadPdo"},
        {CommandCode::WritePdo, "WritePdo"},
        {CommandCode::EnableDllPathBuffer, "EnableDllPathBuffer"},
        {CommandCode::TransferDllPathBuffer, "TransferDllPathBuffer"},
        {CommandCode::GetAxisGearRatio, "GetAxisGearRatio"},
        {CommandCode::SetAxisGearRatio, "SetAxisGearRatio"},
        {CommandCode::GetRamp, "GetRamp"},
        {CommandCode::SetRamp, "SetRamp"},
        {CommandCode::EventToSet, "EventToSet"},
        {CommandCode::SetCylinderPar, "SetCylinderPar"},
        {CommandCode::GetSwlsStatus, "GetSwlsStatus"},
        {CommandCode::SetSwls, "SetSwls"},
        {CommandCode::EnableSwls, "EnableSwls"},
        {CommandCode::ClearSwls, "ClearSwls"},
        {CommandCode::SetTestMode, "SetTestMode"},
        {CommandCode::SetHandlingMode, "SetHandlingMode"},
        {CommandCode::SetHandlingMoveMode, "SetHandlingMoveMode"},
        {CommandCode::GetHandlingAxisMovePar, "GetHandlingAxisMovePar"},
        {CommandCode::HandlingAxisMove, "HandlingAxisMove"},
        {CommandCode::HandlingAxisTurn, "HandlingAxisTurn"},
        {CommandCode::SetHandlingAxisMotionState, "SetHandlingAxisMotionState"},
        {CommandCode::ChangeLookAheadBuffer, "ChangeLookAheadBuffer"},
        {CommandCode::GetLookAheadBufferStatus, "GetLookAheadBufferStatus"},
        {CommandCode::ExchangeInterAxis, "ExchangeInterAxis"},
        {CommandCode::GetSynAxisGearRatio, "GetSynAxisGearRatio"},
        {CommandCode::SetSynAxisGearRatio, "SetSynAxisGearRatio"},
        {CommandCode::StartAdConversion, "StartAdConversion"},
        {CommandCode::GetAdValue, "GetAdValue"},
        {CommandCode::SetAdToDistanceFactor, "SetAdToDistanceFactor"},
        {CommandCode::SetDistanceRegulatorArea, "SetDistanceRegulatorArea"},
        {CommandCode::StartDistanceRegulator, "StartDistanceRegulator"},
        {CommandCode::GetDistanceRegulatorStatus, "GetDistanceRegulatorStatus"},
        {CommandCode::GetDistanceRegulatorPar, "GetDistanceRegulatorPar"},
        {CommandCode::ChangeHomePosition, "ChangeHomePosition"},
        {CommandCode::SetCncTimeLimitation, "SetCncTimeLimitation"},
        {CommandCode::ResetReferenceFlag, "ResetReferenceFlag"},
        {CommandCode::GetAxisRamp, "GetAxisRamp"},
        {CommandCode::SetAxisRampOverride, "SetAxisRampOverride"},
        {CommandCode::SetStopOnInputModePar, "SetStopOnInputModePar"},
        {CommandCode::GetStopOnInputModePar, "GetStopOnInputModePar"},
        {CommandCode::GetStopOnInputModeLatchedPos, "GetStopOnInputModeLatchedPos"},
        {CommandCode::ReadStopOnInputModeBit, "ReadStopOnInputModeBit"},
        {CommandCode::ReadStopOnInputModePort, "ReadStopOnInputModePort"},
        {CommandCode::RunStopOnInputMode, "RunStopOnInputMode"},
        {CommandCode::ReadMainAmplifyInputBit, "ReadMainAmplifyInputBit"},
        {CommandCode::LinkHandwheel, "LinkHandwheel"},
        {CommandCode::UnlinkHandwheel, "UnlinkHandwheel"},
        {CommandCode::GetHandwheelPar, "GetHandwheelPar"},
        {CommandCode::ActivateHandwheel, "ActivateHandwheel"},
        {CommandCode::GetHandwheelData, "GetHandwheelData"},
        {CommandCode::GetHandwheelLatchedPos, "GetHandwheelLatchedPos"},
        {CommandCode::GetExtHandlingAxisPar, "GetExtHandlingAxisPar"},
        {CommandCode::ActivateVelPropOutputMode, "ActivateVelPropOutputMode"},
        {CommandCode::DeactivateVelPropOutputMode, "DeactivateVelPropOutputMode"},
        {CommandCode::SetVelPropOutputWorkPar, "SetVelPropOutputWorkPar"},
        {CommandCode::GetVelPropOutputActPar, "GetVelPropOutputActPar"},
        {CommandCode::SetPlaneRotPar, "SetPlaneRotPar"},
        {CommandCode::GetPlaneRotPar, "GetPlaneRotPar"},
        {CommandCode::SetPathVelFac, "SetPathVelFac"},
        {CommandCode::GetPathVelFac, "GetPathVelFac"},
        {CommandCode::GetDataRecord, "GetDataRecord"},
    }};

constexpr bool IsKnownCommandCode(std::uint32_t code) noexcept {
  return (code >= 1 && code <= kHighestContiguousCommandCode) ||
         code == static_cast<std::uint32_t>(CommandCode::GetDataRecord);
}

// The command for a raw code read from the block, or nothing for a code
// that no handler serves.
constexpr std::optional<CommandCode> CommandCodeFromNumber(std::uint32_t code) noexcept {
  if (!IsKnownCommandCode(code)) return std::nullopt;
  return static_cast<CommandCode>(code);
}

// The command's name ("Ping", "Move", ...), or an empty view for a code that
// no handler serves.
constexpr std::string_view CommandName(std::uint32_t code) noexcept {
  if (!IsKnownCommandCode(code)) return {};
  // Codes 1..108 sit at index code - 1; code 150 is the last entry.
  const std::size_t index =
      code <= kHighestContiguousCommandCode ? code - 1 : kCommandCodeCount - 1;
  return kCommandNames[index].second;
}

constexpr std::string_view CommandName(CommandCode code) noexcept {
  return CommandName(static_cast<std::uint32_t>(code));
}

namespace detail {
constexpr bool CommandTableIsInCodeOrder() noexcept {
  for (std::size_t i = 0; i + 1 < kCommandCodeCount; ++i) {
    if (static_cast<std::uint32_t>(kCommandNames[i].first) != i + 1) return false;
  }
  return kCommandNames[kCommandCodeCount - 1].first == CommandCode::GetDataRecord;
}
}  // namespace detail

static_assert(detail::CommandTableIsInCodeOrder());
static_assert(CommandName(36) == "Move");

}  // namespace vantor::common

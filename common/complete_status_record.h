// The complete status record (2484 bytes) that command 24 writes from block
// offset 0x44: kernel state flags, message state, CAN objects in error, the
// per-coordinate and per-axis state, the handwheel and four version texts.
//
// An "OK" word holds 1 while its condition is absent and 0 while present; a
// flag holds 1 for true. Indexed helpers return kNoOffset for an index out
// of range, so that a Load or Store at it fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

inline constexpr std::size_t kCompleteStatusRecordSize = 2484;
using CompleteStatusRecord = ByteRecord<kCompleteStatusRecordSize>;
static_assert(sizeof(CompleteStatusRecord) == 2484);

namespace complete_status {

inline constexpr std::size_t kMaxAxes = 8;
inline constexpr std::size_t kMaxCoordinates = 8;

// ---- Kernel state flags: 37 words from 0, word i at 4i ------------------------------
enum class StateWord : std::uint8_t {
  CanInterfaceOK = 0,
  CanBusOK = 1,
  AxisOK = 2,
  CoorOK = 3,
  SynObjOK = 4,
  PerPdoOK = 5,
  ControlInit = 6,
  ProcessVec = 7,
  ProcessPath = 8,
  PathStart = 9,
  MoveActive = 10,
  MoveData = 11,
  StopFlag = 12,
  AbortFlag = 13,
  BreakFlag = 14,
  QS_InProcess = 15,
  QuickStopActive = 16,
  Reserved17 = 17,  // 0 after initialisation
  Reserved18 = 18,  // 1 after initialisation
  Reserved19 = 19,  // 1 after initialisation
  InterPreparing = 20,
  AxisLimitError = 21,
  TeachInModus = 22,
  HandModus = 23,
  TestModus = 24,
  EndSwitchBridge = 25,
  EndSwitchMoveOut = 26,
  SoiInit = 27,
  SoiActive = 28,
  SoiInputActive = 29,
  HandwheelInit = 30,
  HandwheelActive = 31,
  HandwheelOK = 32,
  HandwheelLatched = 33,
  HandwheelF1 = 34,
  HandwheelF2 = 35,
  VpoActive = 36,
};
inline constexpr std::size_t kStateWordCount = 37;

constexpr std::size_t StateWordOffset(StateWord word) noexcept {
  const auto index = static_cast<std::size_t>(word);
  return index < kStateWordCount ? 4 * index : kNoOffset;
}

// ---- Message state (OK words) ------------------------------------------------------
// The global request slot's SYNC and time-stamp words (SynObjError,
// TimeStampObjError) and the CAN object list's two words (ErrorCncPDO).
inline constexpr Field<std::uint32_t, 148> kLatchedSynObjOK{};
inline constexpr Field<std::uint32_t, 152> kLatchedTimeStampObjOK{};
inline constexpr Field<std::uint32_t, 156> kCurrentSynObjOK{};
inline constexpr Field<std::uint32_t, 160> kCurrentTimeStampObjOK{};
inline constexpr Field<std::uint32_t, 164> kLatchedCanObjectOK{};
inline constexpr Field<std::uint32_t, 168> kCurrentCanObjectOK{};
static_assert(kLatchedSynObjOK.kOffset == 4 * kStateWordCount);

// ---- CAN objects in error: five 12-byte entries from 172 -----------------------------
inline constexpr std::size_t kCanObjectErrorsOffset = 172;
inline constexpr std::size_t kCanObjectErrorEntrySize = 12;
inline constexpr std::size_t kCanObjectErrorEntryCount = 5;
namespace can_object_error {
inline constexpr Field<std::uint32_t, 0> kDirection{};  // 1 transmit, 0 receive
inline constexpr Field<std::uint8_t, 4> kNodeId{};      // 0 = no entry
inline constexpr Field<std::uint16_t, 6> kCobId{};
inline constexpr Field<std::uint32_t, 8> kResult{};
static_assert(kResult.kEnd == kCanObjectErrorEntrySize);
}  // namespace can_object_error

constexpr std::size_t CanObjectErrorOffset(std::size_t entry) noexcept {
  return entry < kCanObjectErrorEntryCount
             ? kCanObjectErrorsOffset + kCanObjectErrorEntrySize * entry
             : kNoOffset;
}

// ---- Software-limit OK words per coordinate ------------------------------------------
inline constexpr std::size_t kLatchedSoftwareLimitsOffset = 232;
inline constexpr std::size_t kCurrentSoftwareLimitsOffset = 296;
constexpr std::size_t LatchedNegSweWarningOffset(std::size_t coordinate) noexcept {
  return coordinate < kMaxCoordinates ? kLatchedSoftwareLimitsOffset + 8 * coordinate : kNoOffset;
}
constexpr std::size_t LatchedPosSweWarningOffset(std::size_t coordinate) noexcept {
  return coordinate < kMaxCoordinates ? kLatchedSoftwareLimitsOffset + 8 * coordinate + 4
                                      : kNoOffset;
}
constexpr std::size_t CurrentNegSweWarningOffset(std::size_t coordinate) noexcept {
  return coordinate < kMaxCoordinates ? kCurrentSoftwareLimitsOffset + 8 * coordinate : kNoOffset;
}
constexpr std::size_t CurrentPosSweWarningOffset(std::size_t coordinate) noexcept {
  return coordinate < kMaxCoordinates ? kCurrentSoftwareLimitsOffset + 8 * coordinate + 4
                                      : kNoOffset;
}

// ---- Per-axis sections ---------------------------------------------------------------
// Each axis has one fixed-size slot in each section.
struct AxisSection {
  std::size_t offset;
  std::size_t stride;
};

inline constexpr AxisSection kAxisMotionWords{360, 16};
inline constexpr AxisSection kAxisModes{488, 8};
inline constexpr AxisSection kLatchedDriveState{552, 64};
inline constexpr AxisSection kCurrentDriveState{1064, 64};
inline constexpr AxisSection kAxisTable{1576, 12};
inline constexpr AxisSection kCurrentSlaveState{1672, 12};
inline constexpr AxisSection kLatchedSlaveState{1768, 12};
inline constexpr AxisSection kOperationResults{1864, 8};
inline constexpr AxisSection kModuleNames{1928, 26};
inline constexpr AxisSection kSlaveModuleNames{2136, 26};

// Offset of byte `within` of the axis's slot in `section`, or kNoOffset.
constexpr std::size_t AxisOffset(AxisSection section, std::size_t axis,
                                 std::size_t within = 0) noexcept {
  if (axis >= kMaxAxes || within >= section.stride) return kNoOffset;
  return section.offset + section.stride * axis + within;
}

// Inside an axis's motion-word slot.
inline constexpr std::size_t kMoveActiveWord = 0;
inline constexpr std::size_t kTargetReachedWord = 4;  // HL_TargetReached
inline constexpr std::size_t kMotionReservedWord = 8;
inline constexpr std::size_t kHwConnectWord = 12;
// Inside an axis's mode slot.
inline constexpr std::size_t kSingleAxisWord = 0;    // 0 = interpolated axis
inline constexpr std::size_t kPositionModeWord = 4;  // 1 position, 0 velocity mode

// Inside a drive-state block: 14 OK words, then the drive error number.
enum class DriveStateWord : std::uint8_t {
  NmtError = 0,
  TransmitError = 1,
  ReceiveError = 2,
  FaultActive = 3,
  NoOperationEnable = 4,
  SwitchOnDisabled = 5,
  NoAmplifyEnable = 6,
  CurrentLimitError = 7,
  MainVoltageError = 8,
  PosHweError = 9,
  NegHweError = 10,
  HomingError = 11,
  FollowError = 12,
  ParInvalid = 13,
};
inline constexpr std::size_t kDriveStateWordCount = 14;
constexpr std::size_t DriveStateWordOffset(DriveStateWord word) noexcept {
  return 4 * static_cast<std::size_t>(word);
}
inline constexpr std::size_t kDriveErrorNumber = 56;  // i16: 28 slave error, -1 unknown, -2 unread
inline constexpr std::size_t kDriveStateTrailerWord = 60;
inline constexpr std::int16_t kDriveErrorSlaveAxis = 28;
inline constexpr std::int16_t kDriveErrorUnknown = -1;
inline constexpr std::int16_t kDriveErrorUnread = -2;

// Inside an axis-table slot.
inline constexpr std::size_t kNodeIdWord = 0;  // 0 = no axis
inline constexpr std::size_t kSlaveCountWord = 4;
inline constexpr std::size_t kSlaveNodeIdWord = 8;
// Inside a slave-state slot.
inline constexpr std::size_t kSlaveNegativeLimitOKWord = 0;
inline constexpr std::size_t kSlavePositiveLimitOKWord = 4;
inline constexpr std::size_t kSlaveDriveErrorNumber = 8;  // i16, two bytes follow
static_assert(kSlaveDriveErrorNumber + 2 + 2 == kCurrentSlaveState.stride);
// Inside an operation-result slot.
inline constexpr std::size_t kMasterResultWord = 0;
inline constexpr std::size_t kSlaveResultWord = 4;
static_assert(kHwConnectWord + 4 == kAxisMotionWords.stride);
static_assert(kPositionModeWord + 4 == kAxisModes.stride);
static_assert(kSlaveNodeIdWord + 4 == kAxisTable.stride);
static_assert(kSlaveResultWord + 4 == kOperationResults.stride);

// ---- Handwheel and version texts --------------------------------------------------------
inline constexpr Field<std::uint32_t, 2344> kHandwheelConfigured{};
inline constexpr Field<std::uint8_t, 2348> kHandwheelNodeId{};
inline constexpr TextField<2349, 51> kHandwheelModel{};
inline constexpr TextField<2400, 21> kDeviceName{};
inline constexpr TextField<2421, 21> kDriverVersion{};
inline constexpr TextField<2442, 21> kKernelVersion{};
inline constexpr TextField<2463, 21> kLibraryVersion{};

// The sections follow each other without gaps.
static_assert(kCurrentCanObjectOK.kEnd == kCanObjectErrorsOffset);
static_assert(kCanObjectErrorsOffset + kCanObjectErrorEntrySize * kCanObjectErrorEntryCount ==
              kLatchedSoftwareLimitsOffset);
static_assert(kLatchedSoftwareLimitsOffset + 8 * kMaxCoordinates == kCurrentSoftwareLimitsOffset);
static_assert(kCurrentSoftwareLimitsOffset + 8 * kMaxCoordinates == kAxisMotionWords.offset);
static_assert(kAxisMotionWords.offset + kAxisMotionWords.stride * kMaxAxes == kAxisModes.offset);
static_assert(kAxisModes.offset + kAxisModes.stride * kMaxAxes == kLatchedDriveState.offset);
static_assert(kLatchedDriveState.offset + kLatchedDriveState.stride * kMaxAxes ==
              kCurrentDriveState.offset);
static_assert(kCurrentDriveState.offset + kCurrentDriveState.stride * kMaxAxes ==
              kAxisTable.offset);
static_assert(kAxisTable.offset + kAxisTable.stride * kMaxAxes == kCurrentSlaveState.offset);
static_assert(kCurrentSlaveState.offset + kCurrentSlaveState.stride * kMaxAxes ==
              kLatchedSlaveState.offset);
static_assert(kLatchedSlaveState.offset + kLatchedSlaveState.stride * kMaxAxes ==
              kOperationResults.offset);
static_assert(kOperationResults.offset + kOperationResults.stride * kMaxAxes ==
              kModuleNames.offset);
static_assert(kModuleNames.offset + kModuleNames.stride * kMaxAxes == kSlaveModuleNames.offset);
static_assert(kSlaveModuleNames.offset + kSlaveModuleNames.stride * kMaxAxes ==
              kHandwheelConfigured.kOffset);
static_assert(kHandwheelModel.kEnd == kDeviceName.kOffset);
static_assert(kLibraryVersion.kEnd == kCompleteStatusRecordSize);
static_assert(4 * kDriveStateWordCount == kDriveErrorNumber);
static_assert(kDriveStateTrailerWord + 4 == kLatchedDriveState.stride);
static_assert(communication_block::PayloadAt(kCompleteStatusRecordSize) <= kCommunicationBlockSize);

}  // namespace complete_status
}  // namespace vantor::common

// The CANopen wire constants the kernel speaks: identifier bases, SDO
// command specifiers and abort codes, NMT commands, and the DS402 objects,
// controlwords and statuswords of the drive state sequences.
#pragma once

#include <cstdint>

namespace vantor::canopen {

// ---- Predefined identifier bases (node id OR-ed in) -------------------------
namespace cob_base {
inline constexpr std::uint16_t kNmt = 0x000;
inline constexpr std::uint16_t kEmergency = 0x080;
inline constexpr std::uint16_t kTpdo1 = 0x180;
inline constexpr std::uint16_t kRpdo1 = 0x200;
inline constexpr std::uint16_t kPdoStep = 0x100;  // PDO n+1 lies 0x100 above PDO n
inline constexpr std::uint16_t kSdoResponse = 0x580;
inline constexpr std::uint16_t kSdoRequest = 0x600;
inline constexpr std::uint16_t kHeartbeat = 0x700;
}  // namespace cob_base

// ---- SDO frame ----------------------------------------------------------------
namespace sdo {
inline constexpr std::uint8_t kFrameLength = 8;
inline constexpr std::uint8_t kHeaderLength = 4;  // specifier, index, subindex
inline constexpr std::uint8_t kExpeditedCapacity = 4;
inline constexpr std::uint8_t kSegmentCapacity = 7;

// Client requests.
inline constexpr std::uint8_t kDownloadExpedited1 = 0x2F;
inline constexpr std::uint8_t kDownloadExpedited2 = 0x2B;
inline constexpr std::uint8_t kDownloadExpedited3 = 0x27;
inline constexpr std::uint8_t kDownloadExpedited4 = 0x23;
inline constexpr std::uint8_t kUploadInitiate = 0x40;
inline constexpr std::uint8_t kUploadSegment = 0x60;
inline constexpr std::uint8_t kAbort = 0x80;

// Server answers.
inline constexpr std::uint8_t kDownloadInitiateAnswer = 0x60;
inline constexpr std::uint8_t kUploadInitiateAnswer = 0x40;

// Bits of byte 0.
inline constexpr std::uint8_t kSpecifierMask = 0xE0;
inline constexpr std::uint8_t kToggleBit = 0x10;
inline constexpr std::uint8_t kExpeditedBit = 0x02;
inline constexpr std::uint8_t kSizeBit = 0x01;
inline constexpr std::uint8_t kLastSegmentBit = 0x01;
inline constexpr std::uint8_t kInitiateUnusedShift = 2;  // n, bits 2-3
inline constexpr std::uint8_t kInitiateUnusedMask = 0x03;
inline constexpr std::uint8_t kSegmentUnusedShift = 1;  // n, bits 1-3
inline constexpr std::uint8_t kSegmentUnusedMask = 0x07;

// Frame data lengths of the requests.
inline constexpr std::uint8_t kUploadRequestLength = 4;
inline constexpr std::uint8_t kSegmentRequestLength = 1;
inline constexpr std::uint8_t kAbortLength = 8;
}  // namespace sdo

// ---- SDO abort codes --------------------------------------------------------------
namespace sdo_abort {
inline constexpr std::uint32_t kToggleNotAlternated = 0x05030000;
inline constexpr std::uint32_t kCommandInvalid = 0x05040001;
// What the kernel sends when it gives up a transfer of its own.
inline constexpr std::uint32_t kOutOfMemory = 0x05040005;
inline constexpr std::uint32_t kObjectMissing = 0x06020000;
inline constexpr std::uint32_t kSubindexMissing = 0x06090011;
}  // namespace sdo_abort

// ---- NMT ------------------------------------------------------------------------------
namespace nmt {
inline constexpr std::uint8_t kStartRemoteNode = 0x01;
inline constexpr std::uint8_t kResetNode = 0x81;
inline constexpr std::uint8_t kResetCommunication = 0x82;
inline constexpr std::uint8_t kFrameLength = 2;
}  // namespace nmt

// ---- Object dictionary entries the layer itself uses ----------------------------
namespace object {
inline constexpr std::uint16_t kControlword = 0x6040;
inline constexpr std::uint16_t kStatusword = 0x6041;
inline constexpr std::uint16_t kModesOfOperation = 0x6060;
inline constexpr std::uint16_t kPositionDemand = 0x6062;
inline constexpr std::uint16_t kTargetPosition = 0x607A;
inline constexpr std::uint16_t kProfileVelocity = 0x6081;
inline constexpr std::uint16_t kEndVelocity = 0x6082;
inline constexpr std::uint16_t kProfileAcceleration = 0x6083;
inline constexpr std::uint16_t kTargetVelocity = 0x60FF;
inline constexpr std::uint16_t kDigitalInputs = 0x60FD;
inline constexpr std::uint16_t kDigitalOutputs = 0x60FE;
inline constexpr std::uint16_t kDriveOptions = 0x6510;
inline constexpr std::uint8_t kDriveOptionSubindex = 7;
inline constexpr std::uint16_t kMakerRunEnable = 0x2047;
inline constexpr std::uint16_t kErrorHistory = 0x1003;
inline constexpr std::uint16_t kPositionActual = 0x6064;
inline constexpr std::uint16_t kPositionFactor = 0x6093;         // sub 1 numerator, sub 2 divisor
inline constexpr std::uint16_t kSoftwarePositionLimit = 0x607D;  // sub 1 lower, sub 2 upper
// The maker object whose word tells that the drive stops at its own limits.
inline constexpr std::uint16_t kDriveLimitWord = 0x2058;
// The maker object that couples a node's further axes to it.
inline constexpr std::uint16_t kAxisChain = 0x2043;
// Maker objects the first reset probes: the limit-switch bridging of a
// gantry pair, the A/D conversion, the home shift and the stop-on-input
// mode.
inline constexpr std::uint16_t kGantryBridging = 0x2054;
inline constexpr std::uint16_t kAnalogueConversion = 0x2055;
inline constexpr std::uint16_t kHomeShift = 0x2056;
inline constexpr std::uint16_t kStopOnInput = 0x205C;
// The home shift: sub 2 the shift in increments, sub 1 its trigger.
inline constexpr std::uint8_t kHomeShiftTrigger = 1;
inline constexpr std::uint8_t kHomeShiftValue = 2;
inline constexpr std::uint16_t kHomingMethod = 0x6098;
// The first transmit PDO's communication parameters; sub 2 its
// transmission type.
inline constexpr std::uint16_t kTpdo1Communication = 0x1800;
inline constexpr std::uint8_t kTransmissionTypeSubindex = 2;
// Subindices of the drive options object for gantry homing and the input
// port mode.
inline constexpr std::uint8_t kInputPortModeSubindex = 18;
inline constexpr std::uint8_t kGantryPdoHomingSubindex = 20;
inline constexpr std::uint8_t kGantryHomingModeSubindex = 21;
}  // namespace object

// Subindices of the axis chain object and the values of its state.
namespace axis_chain {
inline constexpr std::uint8_t kState = 1;
inline constexpr std::uint8_t kFirstAxis = 2;
inline constexpr std::uint8_t kLastAxis = 3;
inline constexpr std::uint8_t kError = 4;
// 1 while a gantry pair searches its home.
inline constexpr std::uint8_t kGantrySearch = 9;
// 1 when the drive reports the gantry homing phases.
inline constexpr std::uint8_t kGantryWaitReport = 14;
inline constexpr std::uint8_t kUncoupled = 0;
inline constexpr std::uint8_t kFollower = 1;
inline constexpr std::uint8_t kLeader = 2;
}  // namespace axis_chain

// ---- DS402 ------------------------------------------------------------------------------
namespace ds402 {
// The statusword bits that carry the drive state.
inline constexpr std::uint16_t kStateMask = 0x6F;

inline constexpr std::uint16_t kNotReadyToSwitchOn = 0x00;
inline constexpr std::uint16_t kSwitchOnDisabled = 0x60;
inline constexpr std::uint16_t kReadyToSwitchOn = 0x21;
inline constexpr std::uint16_t kSwitchedOn = 0x23;
inline constexpr std::uint16_t kOperationEnabled = 0x27;
inline constexpr std::uint16_t kQuickStopActive = 0x07;
inline constexpr std::uint16_t kFaultReactionActive = 0x0F;
inline constexpr std::uint16_t kFault = 0x2F;
// Seen while the drive is driven by another master or mid-transition.
inline constexpr std::uint16_t kFaultReactionNoVoltage = 0x20;

inline constexpr std::uint16_t kDisableVoltage = 0x0000;
inline constexpr std::uint16_t kShutdown = 0x0006;
inline constexpr std::uint16_t kSwitchOn = 0x0007;
inline constexpr std::uint16_t kEnableOperation = 0x000F;
inline constexpr std::uint16_t kFaultReset = 0x0080;
// Enable operation with the halt bit: the drive stands and keeps its torque.
inline constexpr std::uint16_t kHalt = 0x010F;
// Enable operation with a new set-point, taken at once, absolute.
inline constexpr std::uint16_t kStartAbsoluteMoveNow = 0x003F;
// Enable operation with a new set-point after the running one, absolute.
inline constexpr std::uint16_t kStartAbsoluteMove = 0x001F;
// Enable operation with the maker's bit 11 that ends a profile move.
inline constexpr std::uint16_t kEndProfileMove = 0x080F;

inline constexpr std::uint16_t kTargetReached = 0x0400;
// Profile position mode: following error.
inline constexpr std::uint16_t kFollowingError = 0x2000;

inline constexpr std::uint8_t kProfilePositionMode = 1;
inline constexpr std::uint8_t kProfileVelocityMode = 3;
inline constexpr std::uint8_t kHomingMode = 6;
inline constexpr std::uint8_t kInterpolatedPositionMode = 7;

// Homing mode: the controlword that starts the run, and the statusword's
// run bits.
inline constexpr std::uint16_t kStartHoming = 0x001F;
inline constexpr std::uint16_t kHomingAttained = 0x1000;
inline constexpr std::uint16_t kHomingError = 0x2000;
// The homing method that takes the current position as home, without a
// move.
inline constexpr std::uint8_t kHomeOnCurrentPosition = 34;

// The statusword's low byte with these bits cleared tells whether the drive
// runs; the drive option may only change there.
inline constexpr std::uint8_t kOptionStateIgnoredBits = 0x90;
}  // namespace ds402

}  // namespace vantor::canopen

// CANopen wire constants of the simulated nodes: identifiers of the
// predefined connection set, SDO command specifiers and abort codes, NMT
// commands and states, and the indices of the communication objects.
//
// Every protocol file takes its numbers from here, so that a byte on the
// bus can be traced to one named primitive.
#pragma once

#include <cstdint>

namespace vantor::sim::canopen {

using NodeId = std::uint8_t;
constexpr NodeId kMinNodeId = 1;
constexpr NodeId kMaxNodeId = 127;

constexpr bool IsValidNodeId(unsigned id) { return id >= kMinNodeId && id <= kMaxNodeId; }

// Identifiers of the predefined connection set (the node id is added).
namespace cob {
constexpr std::uint16_t kNmt = 0x000;
constexpr std::uint16_t kSync = 0x080;
constexpr std::uint16_t kEmergencyBase = 0x080;
constexpr std::uint16_t kTpdoBase[4] = {0x180, 0x280, 0x380, 0x480};
constexpr std::uint16_t kRpdoBase[4] = {0x200, 0x300, 0x400, 0x500};
constexpr std::uint16_t kSdoResponseBase = 0x580;   // server to client
constexpr std::uint16_t kSdoRequestBase = 0x600;    // client to server
constexpr std::uint16_t kErrorControlBase = 0x700;  // boot-up, node guarding

// Bits of a PDO, SYNC or EMCY COB-ID object value.
constexpr std::uint32_t kInvalidBit = 0x80000000u;   // object not in use
constexpr std::uint32_t kNoRemoteBit = 0x40000000u;  // no RTR allowed on this PDO
constexpr std::uint32_t kExtendedBit = 0x20000000u;  // 29-bit identifier
constexpr std::uint32_t kIdentifierMask = 0x000007FFu;
}  // namespace cob

// SDO command specifiers and the bits of byte 0.
namespace sdo {
constexpr std::uint8_t kCommandMask = 0xE0;  // upper three bits: the specifier

// Client command specifiers (byte 0 AND kCommandMask).
constexpr std::uint8_t kClientDownloadSegment = 0x00;
constexpr std::uint8_t kClientDownloadInitiate = 0x20;
constexpr std::uint8_t kClientUploadInitiate = 0x40;
constexpr std::uint8_t kClientUploadSegment = 0x60;
constexpr std::uint8_t kAbort = 0x80;

// Server command specifiers.
constexpr std::uint8_t kServerUploadSegment = 0x00;
constexpr std::uint8_t kServerDownloadSegment = 0x20;
constexpr std::uint8_t kServerUploadInitiate = 0x40;
constexpr std::uint8_t kServerDownloadInitiate = 0x60;

// Initiate frames.
constexpr std::uint8_t kExpeditedBit = 0x02;
constexpr std::uint8_t kSizeIndicatedBit = 0x01;
constexpr unsigned kInitiateUnusedShift = 2;  // n: bytes 4..7 that carry nothing
constexpr std::uint8_t kInitiateUnusedMask = 0x0C;

// Segment frames.
constexpr std::uint8_t kToggleBit = 0x10;
constexpr std::uint8_t kLastSegmentBit = 0x01;
constexpr unsigned kSegmentUnusedShift = 1;  // n: bytes 1..7 that carry nothing
constexpr std::uint8_t kSegmentUnusedMask = 0x0E;

constexpr std::uint8_t kFrameLength = 8;
constexpr std::uint8_t kExpeditedCapacity = 4;
constexpr std::uint8_t kSegmentCapacity = 7;
}  // namespace sdo

// SDO abort codes this server sends or recognises.
enum class SdoAbortCode : std::uint32_t {
  kNone = 0,
  kToggleNotAlternated = 0x05030000,
  kTimedOut = 0x05040000,
  kInvalidCommand = 0x05040001,
  kOutOfMemory = 0x05040005,
  kUnsupportedAccess = 0x06010000,
  kWriteOnly = 0x06010001,
  kReadOnly = 0x06010002,
  kObjectMissing = 0x06020000,
  kNotMappable = 0x06040041,
  kPdoLengthExceeded = 0x06040042,
  kSizeMismatch = 0x06070010,
  kSizeTooHigh = 0x06070012,
  kSizeTooLow = 0x06070013,
  kSubindexMissing = 0x06090011,
  kValueRange = 0x06090030,
  kValueTooHigh = 0x06090031,
  kValueTooLow = 0x06090032,
  kGeneral = 0x08000000,
  kDeviceState = 0x08000022,
};

// NMT commands (byte 0 of a frame on identifier 0; byte 1 the node or 0).
enum class NmtCommand : std::uint8_t {
  kStart = 0x01,
  kStop = 0x02,
  kEnterPreOperational = 0x80,
  kResetNode = 0x81,
  kResetCommunication = 0x82,
};

// NMT states, valued as the node guarding answer reports them.
enum class NmtState : std::uint8_t {
  kInitialising = 0x00,  // also the boot-up frame's data byte
  kStopped = 0x04,
  kOperational = 0x05,
  kPreOperational = 0x7F,
};

constexpr std::uint8_t kGuardToggleBit = 0x80;

// Indices of the communication objects served by every node.
namespace object {
constexpr std::uint16_t kDeviceType = 0x1000;
constexpr std::uint16_t kErrorRegister = 0x1001;
constexpr std::uint16_t kPredefinedErrorField = 0x1003;
constexpr std::uint16_t kSyncCobId = 0x1005;
constexpr std::uint16_t kDeviceName = 0x1008;
constexpr std::uint16_t kHardwareVersion = 0x1009;
constexpr std::uint16_t kSoftwareVersion = 0x100A;
constexpr std::uint16_t kGuardTime = 0x100C;  // ms
constexpr std::uint16_t kLifeTimeFactor = 0x100D;
constexpr std::uint16_t kHighResolutionTimeStamp = 0x1013;
constexpr std::uint16_t kEmergencyCobId = 0x1014;
constexpr std::uint16_t kIdentity = 0x1018;
constexpr std::uint16_t kErrorBehaviour = 0x1029;
constexpr std::uint16_t kRpdoCommunicationBase = 0x1400;
constexpr std::uint16_t kRpdoMappingBase = 0x1600;
constexpr std::uint16_t kTpdoCommunicationBase = 0x1800;
constexpr std::uint16_t kTpdoMappingBase = 0x1A00;

// Subindices of a PDO communication parameter record.
constexpr std::uint8_t kPdoCobIdSub = 1;
constexpr std::uint8_t kPdoTransmissionTypeSub = 2;
constexpr std::uint8_t kPdoInhibitTimeSub = 3;  // 100 us units
constexpr std::uint8_t kPdoEventTimerSub = 5;   // ms

// The communication profile area: reset communication restores it.
constexpr std::uint16_t kCommunicationAreaFirst = 0x1000;
constexpr std::uint16_t kCommunicationAreaLast = 0x1FFF;
}  // namespace object

// Subindex and values of the error behaviour object 0x1029: the state a
// node changes to on a serious communication error.
namespace error_behaviour {
constexpr std::uint8_t kCommunicationError = 1;
constexpr std::uint8_t kToPreOperational = 0;  // only from operational
constexpr std::uint8_t kNoStateChange = 1;
constexpr std::uint8_t kToStopped = 2;
}  // namespace error_behaviour

// Emergency error codes the core itself raises.
namespace emergency {
constexpr std::uint16_t kErrorReset = 0x0000;
constexpr std::uint16_t kLifeGuardError = 0x8130;
constexpr std::uint16_t kPdoLengthError = 0x8210;
constexpr std::uint8_t kGenericErrorBit = 0x01;
constexpr std::uint8_t kCommunicationErrorBit = 0x10;
}  // namespace emergency

}  // namespace vantor::sim::canopen

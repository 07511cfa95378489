// Object indices, subindices and bit patterns of the simulated drives, I/O
// module and handwheel gateway: the DS402 objects the kernel reads and
// writes, and the maker objects of our drive firmware.
#pragma once

#include <cstdint>

#include "sim/canopen/canopen_wire.h"

namespace vantor::sim::drives {

namespace object {
constexpr std::uint16_t kManufacturerStatus = 0x1002;

// DS402 device profile.
constexpr std::uint16_t kAbortConnectionOption = 0x6007;
constexpr std::uint16_t kControlword = 0x6040;
constexpr std::uint16_t kStatusword = 0x6041;
constexpr std::uint16_t kQuickStopOptionCode = 0x605A;
constexpr std::uint16_t kModesOfOperation = 0x6060;
constexpr std::uint16_t kModesOfOperationDisplay = 0x6061;
constexpr std::uint16_t kPositionDemand = 0x6062;
constexpr std::uint16_t kPositionActual = 0x6064;
constexpr std::uint16_t kFollowingErrorWindow = 0x6065;
constexpr std::uint16_t kFollowingErrorTimeOut = 0x6066;  // ms
constexpr std::uint16_t kVelocityActual = 0x606C;
constexpr std::uint16_t kTargetPosition = 0x607A;
constexpr std::uint16_t kHomeOffset = 0x607C;
constexpr std::uint16_t kSoftwarePositionLimit = 0x607D;
constexpr std::uint16_t kPolarity = 0x607E;
constexpr std::uint16_t kMaxProfileVelocity = 0x607F;
constexpr std::uint16_t kProfileVelocity = 0x6081;
constexpr std::uint16_t kEndVelocity = 0x6082;
constexpr std::uint16_t kProfileAcceleration = 0x6083;
constexpr std::uint16_t kProfileDeceleration = 0x6084;
constexpr std::uint16_t kQuickStopDeceleration = 0x6085;
constexpr std::uint16_t kVelocityScaling = 0x608A;
constexpr std::uint16_t kPositionFactor = 0x6093;
constexpr std::uint16_t kHomingMethod = 0x6098;
constexpr std::uint16_t kHomingSpeeds = 0x6099;  // sub 1 switch search, sub 2 zero search
constexpr std::uint16_t kHomingAcceleration = 0x609A;
constexpr std::uint16_t kInterpolationSubMode = 0x60C0;
constexpr std::uint16_t kInterpolationData = 0x60C1;    // sub 1 i32, sub 2 and 3 i16 deltas
constexpr std::uint16_t kInterpolationPeriod = 0x60C2;  // sub 1 units, sub 2 power of ten
constexpr std::uint16_t kInterpolationBuffer = 0x60C4;
constexpr std::uint16_t kMaxAcceleration = 0x60C5;
constexpr std::uint16_t kPositionOption = 0x60FB;
constexpr std::uint16_t kDigitalInputs = 0x60FD;
constexpr std::uint16_t kDigitalOutputs = 0x60FE;
constexpr std::uint16_t kTargetVelocity = 0x60FF;
constexpr std::uint16_t kSupportedModes = 0x6502;
constexpr std::uint16_t kDriveOptions = 0x6510;

// Maker objects of the drive firmware.
constexpr std::uint16_t kMaxVelocity = 0x2040;
constexpr std::uint16_t kDirection = 0x2041;
constexpr std::uint16_t kAxisChain = 0x2043;
constexpr std::uint16_t kHomedMark = 0x2047;
// The drive's free-running microsecond clock, the source of the time stamp.
constexpr std::uint16_t kDriveClock = 0x2053;
constexpr std::uint16_t kLimitSwitchBridge = 0x2054;
constexpr std::uint16_t kAnalogueInput = 0x2055;
constexpr std::uint16_t kHomeShift = 0x2056;
constexpr std::uint16_t kHandwheelWordH = 0x2058;
constexpr std::uint16_t kStopOnInput = 0x205C;
constexpr std::uint16_t kHandwheel = 0x205D;

// I/O module and handwheel gateway.
constexpr std::uint16_t kGatewayOutputs = 0x2000;
constexpr std::uint16_t kGatewayInputs = 0x2001;
constexpr std::uint16_t kReadInputs8 = 0x6000;
constexpr std::uint16_t kWriteOutputs8 = 0x6200;
constexpr std::uint16_t kErrorModeOutputs8 = 0x6206;  // 1 bits take their error value
constexpr std::uint16_t kErrorValueOutputs8 = 0x6207;
constexpr std::uint16_t kAnalogueCounter = 0x6401;
}  // namespace object

// Subindices of the axis chain object 0x2043.
namespace chain {
constexpr std::uint8_t kState = 1;  // 0 uncoupled, 1 slave, 2 master
constexpr std::uint8_t kFirstAxis = 2;
constexpr std::uint8_t kLastAxis = 3;
constexpr std::uint8_t kError = 4;
constexpr std::uint8_t kStatuswordMirror = 5;
constexpr std::uint8_t kPositionMirror = 6;
constexpr std::uint8_t kSearchRun = 9;
constexpr std::uint8_t kReportsPhases = 14;
constexpr std::uint8_t kPhaseByteA = 15;
constexpr std::uint8_t kPhaseByteB = 16;
constexpr std::uint8_t kLastSub = 16;
}  // namespace chain

// Subindices of the drive option object 0x6510.
namespace option {
constexpr std::uint8_t kDriveOption = 7;
constexpr std::uint8_t kPowerStageVariant = 10;
constexpr std::uint8_t kHomeSwitchDistance = 13;
constexpr std::uint8_t kInputPortMode = 18;
constexpr std::uint8_t kGantryPdoHoming = 20;
constexpr std::uint8_t kGantryStartUp = 21;
}  // namespace option

// Subindices of the handwheel object 0x205D.
namespace handwheel {
constexpr std::uint8_t kLinked = 1;
constexpr std::uint8_t kSelector = 3;  // button bits that select this axis
constexpr std::uint8_t kVelocityLimit = 4;
constexpr std::uint8_t kAccelerationLimit = 5;
constexpr std::uint8_t kIncrementsPerPulse = 6;  // link word D
constexpr std::uint8_t kButtons = 12;            // from the gateway's transmit PDO
constexpr std::uint8_t kCounter = 13;            // from the gateway's transmit PDO
constexpr std::uint8_t kActive = 18;
constexpr std::uint8_t kFlagByte = 19;
constexpr std::uint8_t kSelectorMask = 0x3F;
// Bits of the flag byte the kernel reads from the cyclic PDO.
constexpr std::uint8_t kFlagSelected = 0x08;
constexpr std::uint8_t kFlagsLinked = 0x70;
}  // namespace handwheel

// Subindices of the stop-on-input object 0x205C. Armed (sub 11, with a
// role in sub 2 and an arming value in sub 1), the drive stops on its own
// when the watched bits of its input byte match: (sub 8 AND sub 9) equals
// (sub 10 AND sub 9). It then decelerates with sub 3 (increments/s^2; 0
// stops at once), latches its position in sub 5, reports the latch in
// sub 12 and takes no set-point until it is disarmed. An input drive's
// input byte follows its own digital inputs.
namespace stop_on_input {
constexpr std::uint8_t kArming = 1;
constexpr std::uint8_t kRole = 2;  // 0 none, 1 stopping drive, 2 input drive
constexpr std::uint8_t kDeceleration = 3;
constexpr std::uint8_t kLatchedPosition = 5;
constexpr std::uint8_t kInputByte = 8;
constexpr std::uint8_t kInputMask = 9;
constexpr std::uint8_t kInputLevels = 10;
constexpr std::uint8_t kArmed = 11;
constexpr std::uint8_t kLatchState = 12;
constexpr std::uint8_t kRoleInputDrive = 2;
constexpr std::uint16_t kLatched = 0x80;
}  // namespace stop_on_input

// Subindices of the A/D converter and distance regulator object 0x2055.
// Sub 12 starts (1) and stops (0) the conversion; sub 13 reports the
// reading in sub 4 valid while it runs; sub 21 reports the regulator (on
// at sub 20) in range while it regulates on a running conversion.
namespace analogue {
constexpr std::uint8_t kValue = 4;
constexpr std::uint8_t kStart = 12;
constexpr std::uint8_t kValid = 13;
constexpr std::uint8_t kRegulatorOn = 20;
constexpr std::uint8_t kInRange = 21;
}  // namespace analogue

// Subindices of the home shift object 0x2056.
namespace homeshift {
constexpr std::uint8_t kTrigger = 1;
constexpr std::uint8_t kIncrements = 2;
}  // namespace homeshift

namespace controlword {
constexpr std::uint16_t kSwitchOn = 0x0001;
constexpr std::uint16_t kEnableVoltage = 0x0002;
constexpr std::uint16_t kQuickStop = 0x0004;  // low = quick stop
constexpr std::uint16_t kEnableOperation = 0x0008;
constexpr std::uint16_t kNewSetPoint =
    0x0010;  // also: start homing, enable interpolation, start leave move
constexpr std::uint16_t kChangeImmediately = 0x0020;
constexpr std::uint16_t kRelative = 0x0040;
constexpr std::uint16_t kFaultReset = 0x0080;
constexpr std::uint16_t kHalt = 0x0100;
// Profile position: the move under way ends (the axis decelerates).
constexpr std::uint16_t kEndMove = 0x0800;
}  // namespace controlword

namespace statusword {
constexpr std::uint16_t kStateMask = 0x006F;  // as the kernel reads the state
constexpr std::uint16_t kSwitchOnDisabled = 0x0060;
constexpr std::uint16_t kReadyToSwitchOn = 0x0021;
constexpr std::uint16_t kSwitchedOn = 0x0023;
constexpr std::uint16_t kOperationEnabled = 0x0027;
constexpr std::uint16_t kQuickStopActive = 0x0007;
constexpr std::uint16_t kFault = 0x002F;
constexpr std::uint16_t kRemote = 0x0200;
constexpr std::uint16_t kTargetReached = 0x0400;
constexpr std::uint16_t kInternalLimit = 0x0800;  // also gantry homing phase 0 done
constexpr std::uint16_t kModeSpecific12 =
    0x1000;  // set-point acknowledged, homing attained, interpolation active
constexpr std::uint16_t kModeSpecific13 = 0x2000;  // following error, homing error
constexpr std::uint16_t kLeaving = 0x4000;         // leave move still under way
// Interpolated position: the buffer holds its buffered depth (0x60C4 sub
// 2) or more; the controller sends no further set-points until it drops.
constexpr std::uint16_t kBufferFull = 0x4000;
constexpr std::uint16_t kBufferEmpty = 0x8000;  // also gantry homing phase 1 done
}  // namespace statusword

// Bits of the digital inputs 0x60FD and of the input byte in the cyclic PDO.
namespace inputs {
constexpr std::uint8_t kNegativeLimit = 0x01;
constexpr std::uint8_t kPositiveLimit = 0x02;
constexpr std::uint8_t kHomeSwitch = 0x04;
// The drive's interlock (enable) input: wired closed on every simulated
// machine, as the controller expects of a drive ready for motion.
constexpr std::uint8_t kInterlock = 0x08;
constexpr std::uint8_t kUserInputsMask = 0xF0;
}  // namespace inputs

enum class OperationMode : std::int8_t {
  kLeaveLimitSwitch = -3,
  kNone = 0,
  kProfilePosition = 1,
  kProfileVelocity = 3,
  kHoming = 6,
  kInterpolatedPosition = 7,
};

// Values of the abort connection option 0x6007: what the drive does when
// the node loses its master (life guarding).
namespace abort_connection {
constexpr std::int16_t kNoAction = 0;
constexpr std::int16_t kFault = 1;
constexpr std::int16_t kDisableVoltage = 2;
constexpr std::int16_t kQuickStop = 3;
}  // namespace abort_connection

// Emergency error codes the drive raises.
namespace emergency {
constexpr std::uint16_t kFollowingError = 0x8611;
constexpr std::uint16_t kSyncLoss = 0x8700;  // the SYNC stayed away too long
constexpr std::uint16_t kParameterError = 0x6320;
using canopen::emergency::kGenericErrorBit;
constexpr std::uint8_t kManufacturerErrorBit = 0x80;
}  // namespace emergency

// The interpolation data header marker: a record that carries no position.
constexpr std::int32_t kSetPointMarker = 0x3FFFFFFF;

}  // namespace vantor::sim::drives

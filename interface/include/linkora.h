/*
 * Linkora: the programming interface of the CAN-CNC control.
 *
 * Every function returns a 32-bit result code: 0x09140000 on success,
 * 0xC914nnnn for the library's own errors, and the kernel's (0xC913nnnn) or
 * the driver's (0xC910nnnn) codes as they come. mctl_GetErrorText turns a
 * code into its German or English text. No function throws.
 *
 * Record-taking functions get a pointer and the record's size as the last
 * argument; any other size gives 0xC914000E. Records that hold pointers use
 * the natural layout of the platform, so their sizes differ between 32- and
 * 64-bit builds; use sizeof on the structures below (the LINKORA_*_SIZE
 * macros name the sizes of the shorter forms).
 */
#ifndef LINKORA_H
#define LINKORA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t LinkoraStatus;

#define LINKORA_SUCCESS ((LinkoraStatus)0x09140000u)

/* CAN hardware parameters (24 bytes). */
typedef struct LinkoraCanHardwareParameters {
  uint8_t CanInterface;   /* 0 parallel-port adapter, 1 PC/104 card, 2 PCI card */
  uint8_t KernelModus;    /* channel 0 (NoCan) .. 4 */
  uint8_t BaudRateForCan; /* 0..7: 10, 20, 50, 125, 250, 500, 800, 1000 kbit/s */
  uint8_t Unused3;
  uint32_t MeasureLatenzTime;
  int16_t LookAheadDesPosiMaxNo;
  uint8_t Unused10[2];
  uint32_t InterruptCycle;
  uint32_t TimeForGlobalSynPeriod;
  uint32_t SynMaxWaitTime;
} LinkoraCanHardwareParameters;

/* CAN initialisation record. The shorter forms hold the leading fields:
 * up to TimerRes fields (LINKORA_CAN_INIT_RECORD_MEDIUM_SIZE) or up to the
 * watch path (LINKORA_CAN_INIT_RECORD_SHORT_SIZE). */
typedef struct LinkoraCanInitRecord {
  uint32_t DeclareMode;  /* non-zero: follower of the application that started the channel */
  uint32_t KernelShared; /* non-zero: a running kernel may be shared */
  LinkoraCanHardwareParameters* HardwareParameters;
  char* DeviceName; /* "Ravund", "Pelmar104", "tarnis1" .. "tarnis4" */
  char* KernelPath;
  char* WatchPath;
  uint32_t WindowsTimerRes; /* 0 = off */
  uint32_t PathWindowsTimerRes;
  uint32_t RealTimeThreadIntWaitTime;
  uint32_t PopupMenuActive;
} LinkoraCanInitRecord;

#define LINKORA_CAN_INIT_RECORD_SIZE (sizeof(LinkoraCanInitRecord))
#define LINKORA_CAN_INIT_RECORD_MEDIUM_SIZE \
  (offsetof(LinkoraCanInitRecord, RealTimeThreadIntWaitTime))
#define LINKORA_CAN_INIT_RECORD_SHORT_SIZE (offsetof(LinkoraCanInitRecord, WindowsTimerRes))

/* Entries of the three lists that a CNC initialisation record points to. */
typedef struct LinkoraCoordinateEntry {
  uint32_t LinearCoor;
  uint32_t PathCoor;
  uint32_t SweEnable;
  uint32_t Unused12;
  double PosSwe;
  double NegSwe;
} LinkoraCoordinateEntry; /* 32 bytes */

typedef struct LinkoraAxisEntry {
  uint32_t CanNodeNo;
  uint32_t Gantry; /* 1 with a gantry slave drive */
  uint32_t SlaveCanNodeNo;
} LinkoraAxisEntry; /* 12 bytes */

typedef struct LinkoraHandlingAxisEntry {
  uint32_t CanNodeNo;
  uint32_t DeviceTypeFlag;  /* 1 when the device type is 1 */
} LinkoraHandlingAxisEntry; /* 8 bytes */

/* CNC initialisation record (880 bytes up to the list pointers). */
typedef struct LinkoraCncInitRecord {
  uint32_t DeclareMode;
  uint32_t CncKernelShared;
  uint32_t Coor32BitFormat;
  uint32_t StartUpMode;
  uint32_t DllPathPufVecMaxNo;
  uint32_t MeasureCncCheckTime;
  uint32_t PathSmooth;
  int32_t CoorNo;
  int32_t InterAxisNo;
  int32_t AxisNo;
  int32_t HandlingAxisNo;
  uint8_t Unused44[4];
  double LinearTeachInVel;
  double RotationTeachInVel;
  double LinearFastVel;
  double RotationFastVel;
  double LinearProcessVel;
  double RotationProcessVel;
  double CircleVelFac;
  double RadiusRoundingError;
  double AngleRoundingError;
  double RadiusError;
  double PathVelFac;
  double CarryAxisVelFac;
  double PathError;
  double MaxOverride;
  double AngleToRadianFac;
  double NoMoveVel;
  double MoveEndMaxWaitTime;
  double MaxTimeForCalAverageVel;
  uint32_t CalFollowError;
  uint8_t Unused196[4];
  double FollowErrorSafetyFac;
  double SafetyDistance;
  int16_t TeachInLookAheadDesPosiMaxNo;
  int16_t AmplifyMaxNoBufferedDesCoor;
  int16_t TeachInAmplifyMaxNoBufferedDesCoor;
  uint8_t Unused222[2];
  uint32_t MaxNoBufferedPathVec;
  uint8_t Unused228[4];
  double CanMsgMaxWaitTime;
  double ResetNodeDelayTime;
  int32_t SynNodeNo;
  uint8_t FixedValues[16]; /* bytes 252..267, set by the library */
  uint32_t HandwheelActive;
  int32_t HandwheelCanNodeNo;
  int32_t HandwheelInhibitTime;
  int32_t HandwheelGuardTime;
  char HandwheelModell[52];
  uint32_t CartesianCoor;
  uint32_t AxisCorrectionEnable;
  char CanMCDLL[260];
  char AxisCorrectionFile[260];
  LinkoraCoordinateEntry* CoordinateList;     /* CoorNo entries, at most 8 */
  LinkoraAxisEntry* AxisList;                 /* AxisNo entries, at most 8 */
  LinkoraHandlingAxisEntry* HandlingAxisList; /* HandlingAxisNo entries, at most 6 */
  uint8_t Unused876[4];
} LinkoraCncInitRecord;

/* Version record of mctl_GetVersion (788 bytes). */
typedef struct LinkoraVersionRecord {
  uint32_t Version[5];
  char ProductText[255];
  char SecondText[255];
  char AddressText[258];
} LinkoraVersionRecord;

/* Trace filter of mctl_InitDebugViewOutput. */
typedef struct LinkoraTraceFilter {
  uint32_t AllFlag;   /* non-zero: trace every export except the named ones */
  const char* Prefix; /* at most 50 characters are used */
  uint32_t NameCount; /* at most 5 names are used */
  const char* const* Names;
} LinkoraTraceFilter;

/* Raw SDO frame of cpctl_ComViaSdo (32 bytes). */
typedef struct LinkoraSdoFrame {
  uint16_t RequestCobId;
  uint8_t RequestData[8];
  uint8_t RequestLength; /* 0..8 */
  uint8_t Unused11;
  uint16_t ResponseCobId;
  uint8_t ResponseData[8]; /* out */
  uint8_t ResponseLength;  /* out */
  uint8_t Unused23;
  uint32_t Timeout;
  uint32_t TimeUsed; /* out: summed over all attempts */
} LinkoraSdoFrame;

/* Complete status of the controller (2484 bytes), as the kernel reports it.
 * An "OK" word holds 1 while the condition it is named after is absent and
 * 0 while it is present; a flag holds 1 for true. */
typedef struct LinkoraCanObjectError {
  uint32_t Direction; /* 1 transmit, 0 receive */
  uint8_t NodeNo;
  uint8_t Unused5;
  uint16_t CobId;
  uint32_t Result;
} LinkoraCanObjectError; /* 12 bytes */

typedef struct LinkoraSoftwareLimitState {
  uint32_t NegSweWarning;    /* OK word */
  uint32_t PosSweWarning;    /* OK word */
} LinkoraSoftwareLimitState; /* 8 bytes */

typedef struct LinkoraAxisMotionWords {
  uint32_t MoveActive;
  uint32_t HL_TargetReached;
  uint32_t Unused8;
  uint32_t HwConnect;
} LinkoraAxisMotionWords; /* 16 bytes */

typedef struct LinkoraAxisModes {
  uint32_t SingleAxis;   /* 0 = interpolated axis */
  uint32_t PositionMode; /* 1 position mode, 0 velocity mode (single axes) */
} LinkoraAxisModes;      /* 8 bytes */

typedef struct LinkoraDriveState {
  uint32_t NmtError; /* OK words from here to ParInvalid */
  uint32_t TransmitError;
  uint32_t ReceiveError;
  uint32_t FaultActive;
  uint32_t NoOperationEnable;
  uint32_t SwitchOnDisabled;
  uint32_t NoAmplifyEnable;
  uint32_t CurrentLimitError;
  uint32_t MainVoltageError;
  uint32_t PosHweError;
  uint32_t NegHweError;
  uint32_t HomingError; /* 0 until homed */
  uint32_t FollowError;
  uint32_t ParInvalid;
  int16_t DriveErrorNo; /* 28: error of the slave axis; -2: the error could not be read */
  uint8_t Unused58[2];
  uint32_t Unused60;
} LinkoraDriveState; /* 64 bytes */

typedef struct LinkoraAxisNodes {
  uint32_t NodeNo;
  uint32_t SlaveAxisNo; /* 0 or 1 */
  uint32_t SlaveNodeNo; /* 0 without a slave axis */
} LinkoraAxisNodes;     /* 12 bytes */

typedef struct LinkoraSlaveAxisState {
  uint32_t NegLimitSwitch; /* OK word */
  uint32_t PosLimitSwitch; /* OK word */
  int16_t DriveErrorNo;
  uint8_t Unused10[2];
} LinkoraSlaveAxisState; /* 12 bytes */

typedef struct LinkoraAxisResults {
  uint32_t Result;
  uint32_t SlaveResult;
} LinkoraAxisResults; /* 8 bytes */

typedef struct LinkoraCompleteStatusRecord {
  /* Controller state, +0 .. +147. */
  uint32_t CanInterfaceOK;
  uint32_t CanBusOK;
  uint32_t AxisOK;
  uint32_t CoorOK;
  uint32_t SynObjOK;
  uint32_t PerPdoOK;
  uint32_t ControlInit;
  uint32_t ProcessVec;
  uint32_t ProcessPath;
  uint32_t PathStart;
  uint32_t MoveActive;
  uint32_t MoveData;
  uint32_t StopFlag;
  uint32_t AbortFlag;
  uint32_t BreakFlag;
  uint32_t QS_InProcess;
  uint32_t QuickStopActive;
  uint32_t Reserved68[3];
  uint32_t InterPreparing;
  uint32_t AxisLimitError;
  uint32_t TeachInModus;
  uint32_t HandModus;
  uint32_t TestModus;
  uint32_t EndSwitchBridge;
  uint32_t EndSwitchMoveOut;
  uint32_t SoiInit;
  uint32_t SoiActive;
  uint32_t SoiInputActive;
  uint32_t HandwheelInit;
  uint32_t HandwheelActive;
  uint32_t HandwheelOK;
  uint32_t HandwheelLatched;
  uint32_t HandwheelF1;
  uint32_t HandwheelF2;
  uint32_t VpoActive;
  /* Message state (OK words), +148 .. +171. */
  uint32_t LatchedSynObjError;
  uint32_t LatchedTimeStampObjError;
  uint32_t SynObjError;
  uint32_t TimeStampObjError;
  uint32_t LatchedErrorCncPDO;
  uint32_t ErrorCncPDO;
  LinkoraCanObjectError CanObjectErrors[5];
  LinkoraSoftwareLimitState LatchedSoftwareLimits[8]; /* per coordinate */
  LinkoraSoftwareLimitState SoftwareLimits[8];
  LinkoraAxisMotionWords AxisMotion[8]; /* per axis from here on */
  LinkoraAxisModes AxisModes[8];
  LinkoraDriveState LatchedDriveState[8];
  LinkoraDriveState DriveState[8];
  LinkoraAxisNodes AxisNodes[8];
  LinkoraSlaveAxisState SlaveAxisState[8];
  LinkoraSlaveAxisState LatchedSlaveAxisState[8];
  LinkoraAxisResults AxisResults[8];
  char ModuleName[8][26];
  char SlaveModuleName[8][26];
  /* Handwheel and versions, +2344 .. +2483. */
  uint32_t HandwheelConfigured;
  uint8_t HandwheelNodeNo;
  char HandwheelModel[51];
  char DeviceName[21];
  char DriverVersion[21];
  char KernelVersion[21];
  char LibraryVersion[21];
} LinkoraCompleteStatusRecord;

/* Status of the controller (116 bytes). Each 0/1 field also has a bit in
 * Flags or Flags2. */
typedef struct LinkoraMotionControlStatus {
  uint32_t Flags;
  uint32_t NegHWLSMask; /* bit i: axis i stands on its negative hardware limit switch */
  uint32_t PosHWLSMask;
  uint32_t NegSWLSMask; /* bit j: coordinate j is past its negative software limit */
  uint32_t PosSWLSMask;
  uint32_t Flags2;
  uint32_t InMotion;
  uint32_t InStopMode;
  uint32_t InTeachMode;
  uint32_t InTestMode;
  uint32_t CurrentOff;
  uint32_t InPathMotion;
  uint32_t IsMoving;
  uint32_t NeedReferenceRun;
  uint32_t BreakError;
  uint32_t HWLSActive;
  uint32_t SWLSActive;
  uint32_t HWLSDuringMotion;
  uint32_t AfterRunError;
  uint32_t PowerFail;
  uint32_t SCFail;
  uint32_t IsBusy;
  uint32_t IsInitialized;
  uint32_t Disabled;
  uint32_t HardwareFail;
  uint32_t CommunicationFail;
  uint32_t DrillCycleActive;
  uint32_t CtrlSpecError;
  uint32_t PathStart;
} LinkoraMotionControlStatus;

/* Status of one axis (92 bytes). */
typedef struct LinkoraAxisStatus {
  uint32_t Flags;
  uint32_t Flags2;
  uint32_t InMotion;
  uint32_t InStopMode;
  uint32_t CurrentOff;
  uint32_t IsMoving;
  uint32_t NeedReferenceRun;
  uint32_t HWLSNegActive;
  uint32_t HWLSPosActive;
  uint32_t HWLSDuringmotion;
  uint32_t SWLSNegActive;
  uint32_t SWLSPosActive;
  uint32_t AfterRunError;
  uint32_t CommunicationFail;
  uint32_t HardwareFail;
  uint32_t PowerFail;
  uint32_t SCFail;
  uint32_t CurrentLimiter;
  uint32_t IsBusy;
  uint32_t Disabled;
  uint32_t IsInitialized;
  uint32_t Ready;
  uint32_t HardwareSpecError;
} LinkoraAxisStatus;

/* User PDO of cpctl_AssignPdo (44 bytes). */
typedef struct LinkoraPdoAssignment {
  uint32_t Direction; /* 0 receive, else transmit */
  uint32_t Guarding;  /* non-zero: node guarding object (receive, 1 byte) */
  uint8_t NodeId;
  uint8_t Unused9;
  uint16_t CobId;
  uint8_t Length; /* 1..8 */
  uint8_t Unused13[3];
  uint32_t Compare; /* non-zero: received data are compared under the mask */
  uint8_t Mask[8];
  uint8_t Expected[8];
  uint32_t AnswerTimeout; /* microseconds */
  uint32_t Period;        /* microseconds */
} LinkoraPdoAssignment;

/* Data of cpctl_ReadPdo and cpctl_WritePdo (16 bytes). */
typedef struct LinkoraPdoData {
  uint16_t CobId;
  uint8_t Data[8];
  uint8_t Length;
  uint8_t Unused11;
  uint32_t Mismatch; /* out: the received data differ from the expected ones */
} LinkoraPdoData;

/* Velocity record of mctl_SetVelocity and mctl_GetVelocity (32 bytes), in
 * the units of the initialisation file's velocity keys. The two current
 * velocities are only read. */
typedef struct LinkoraVelocityRecord {
  int32_t LinearProcessVel;
  int32_t RotationProcessVel;
  int32_t LinearFastVel;
  int32_t RotationFastVel;
  int32_t LinearTeachInVel;
  int32_t RotationTeachInVel;
  int32_t CurrentLinearVel;
  int32_t CurrentRotationVel;
} LinkoraVelocityRecord;

/* Arc by end point of mctl_CircleAbs and mctl_CircleRel (52 bytes). Plane
 * 0 XY, 1 XZ, 2 YZ, 3 XZ with the direction turned. */
typedef struct LinkoraCircleRecord {
  int32_t Plane;
  int32_t Direction;
  int32_t CircleValue[2];
  int32_t EndPosition[9]; /* the first CoorNo are used */
} LinkoraCircleRecord;

/* Arc by sweep angle of mctl_HelixAbs and mctl_HelixRel (56 bytes). Plane
 * 0 XY, 1 XZ, 2 YZ. */
typedef struct LinkoraHelixRecord {
  int32_t Plane;
  int32_t Direction;
  int32_t HelixValue[3];
  int32_t EndPosition[9]; /* the first CoorNo are used */
} LinkoraHelixRecord;

/* Configuration record of mctl_GetConfiguration (188 bytes). */
typedef struct LinkoraConfigurationRecord {
  uint32_t Flags;
  uint32_t EntryCount; /* at most 9 */
  int32_t Entry[9][5];
} LinkoraConfigurationRecord;

/* Positions, zero points and targets travel in arrays of nine values, of
 * which the first CoorNo (axis positions: AxisNo) are used. A coordinate
 * of LINKORA_NO_MOVE is left as it is. */
#define LINKORA_POSITION_ARRAY_SIZE (9 * sizeof(int32_t))
#define LINKORA_NO_MOVE ((int32_t)0x3FFFFFFF)

/* The kernel's path state of mctl_cp_GetBufferStatus (36 bytes). */
typedef struct LinkoraPathBufferStatus {
  uint32_t Flags;           /* bit 0 path mode on, bit 1 path started */
  uint32_t PathBusy;        /* 1 while path mode is on or the path is started */
  uint32_t MaxBuffer;       /* capacity of the kernel's segment queue */
  uint32_t SegmentCount;    /* segments queued */
  uint32_t FreeBuffer;      /* MaxBuffer - SegmentCount, never below 0 */
  uint32_t ActiveSegmentNo; /* always 0 */
  uint32_t PathEnable;      /* 1 while path mode is on */
  uint32_t PathActive;      /* as PathBusy */
  uint32_t Reserved32;      /* always 0 */
} LinkoraPathBufferStatus;

/* The DLL path buffer of mctl_cp_GetDllPathBufferStatus (16 bytes). */
typedef struct LinkoraDllPathBufferStatus {
  uint32_t Enabled;
  uint32_t Capacity; /* records */
  uint32_t Count;    /* records stored */
  uint32_t Free;     /* Capacity - Count */
} LinkoraDllPathBufferStatus;

/* The external handling axes the initialisation configured (244 bytes):
 * the count, then one entry each: node id, device-type flag, message
 * time-out in microseconds and the amplifier's name (zero-terminated). */
typedef struct LinkoraExtHandlingAxis {
  uint32_t NodeId;
  uint32_t DeviceTypeFlag;
  uint32_t MessageTimeout;
  char AmplifyName[28];
} LinkoraExtHandlingAxis; /* 40 bytes */

typedef struct LinkoraExtHandlingAxisList {
  uint32_t Count;
  LinkoraExtHandlingAxis Axes[6];
} LinkoraExtHandlingAxisList;

/* Gear ratio of an axis without slave axes (8 bytes). */
typedef struct LinkoraGearRatio {
  uint32_t Numerator;
  uint32_t Denominator;
} LinkoraGearRatio;

/* Gear ratios of a gantry axis and of its slave axis (16 bytes). */
typedef struct LinkoraSynAxisGearRatio {
  uint32_t Numerator;
  uint32_t Denominator;
  uint32_t SlaveNumerator;
  uint32_t SlaveDenominator;
} LinkoraSynAxisGearRatio;

/* Software limit switches of the coordinates (88 bytes). Bit j of a mask
 * stands for coordinate j; the first CoorNo limits are used. A limit of
 * LINKORA_NO_MOVE keeps the limit in force. mctl_GetSWLSStatus also fills
 * the warning masks and LimitReached from the present status. */
typedef struct LinkoraSwlsRecord {
  uint32_t EnableMask;
  uint32_t NegWarningMask; /* out: coordinates at their negative limit */
  uint32_t PosWarningMask; /* out: coordinates at their positive limit */
  int32_t NegLimit[9];
  int32_t PosLimit[9];
  uint32_t LimitReached; /* out: 1 when any coordinate is at a limit */
} LinkoraSwlsRecord;

/* Ramp of one axis as mctl_GetAxisRamp reads it (52 bytes). */
typedef struct LinkoraAxisRamp {
  uint32_t AxisWord;
  int32_t RampValue[3];
  uint32_t OverridePercent[9]; /* three sets of velocity, acceleration and jerk */
} LinkoraAxisRamp;

/* Ramp overrides of one interpolated axis (36 bytes): nine percentages,
 * each 5 to 100, in the order of LinkoraAxisRamp. */
typedef struct LinkoraAxisRampOverride {
  uint32_t Percent[9];
} LinkoraAxisRampOverride;

/* Velocity-proportional output of mctl_ActivateVelPropOutputMode (52
 * bytes): the output's mode and delay, then the CAN object that carries the
 * value, described as for cpctl_AssignPdo. The unused bytes are not sent. */
typedef struct LinkoraVelPropOutputRecord {
  uint32_t Mode; /* 1 or 2 */
  uint32_t DelayMicroseconds;
  uint32_t Direction; /* not 0 */
  uint32_t Guarding;  /* 0 */
  uint8_t NodeId;
  uint8_t Unused17;
  uint16_t CobId;
  uint8_t DataLength; /* 1..4 */
  uint8_t Unused21[3];
  uint32_t Compare;
  uint8_t Mask[8];
  uint8_t Expected[8];
  uint32_t AnswerTimeout;
  uint32_t Period; /* cycles */
} LinkoraVelPropOutputRecord;

/* Working parameters of the velocity-proportional output (20 bytes): the
 * value sent is the delayed path velocity x Gain / Divisor + Offset. */
typedef struct LinkoraVelPropOutputWorkPar {
  uint32_t Enable;
  int32_t Gain;
  int32_t Divisor; /* not 0 */
  int32_t Offset;
  uint32_t DelayMicroseconds; /* at most the delay it was activated with */
} LinkoraVelPropOutputWorkPar;

/* State of the velocity-proportional output (40 bytes). */
typedef struct LinkoraVelPropOutputActPar {
  uint32_t Active;
  uint32_t Mode;
  uint32_t LargestDelayMicroseconds;
  uint32_t SmallestDelayMicroseconds;
  uint32_t DelayMicroseconds;
  uint32_t Enable;
  int32_t Gain;
  int32_t Divisor;
  int32_t Offset;
  uint32_t EffectiveDelayMicroseconds;
} LinkoraVelPropOutputActPar;

/* Rotation of the working plane (8 bytes): plane 0 (off), 1, 2 or 3 and
 * the angle; angle 0 also switches the rotation off. */
typedef struct LinkoraPlaneRotation {
  uint32_t Plane;
  int32_t Angle;
} LinkoraPlaneRotation;

/* Result codes and texts. */
LinkoraStatus mctl_GetErrorText(uint32_t code, int32_t language, char* text, uint32_t size);

/* Channel start-up and shut-down. */
LinkoraStatus mctl_specfct_CanInitialize(LinkoraCanInitRecord* record, uint32_t size);
LinkoraStatus mctl_specfct_CanExit(void);
LinkoraStatus mctl_specfct_CncInitialize(LinkoraCncInitRecord* record, uint32_t size);
LinkoraStatus mctl_specfct_CncExit(void);
LinkoraStatus mctl_Initialize(const char* initialisationFile);
LinkoraStatus mctl_Exit(void);
LinkoraStatus mctl_Setup(void);
LinkoraStatus mctl_GetVersion(LinkoraVersionRecord* record, uint32_t size);

/* Status. Without a channel or CNC mode mctl_GetStatus and
 * mctl_GetAxisStatus succeed with IsInitialized 0. */
LinkoraStatus mctl_specfct_GetCompleteStatus(LinkoraCompleteStatusRecord* record, uint32_t size);
LinkoraStatus mctl_GetStatus(LinkoraMotionControlStatus* record, uint32_t size);
LinkoraStatus mctl_GetAxisStatus(int32_t axis, LinkoraAxisStatus* record, uint32_t size);

/* Motion. mctl_Reset brings every drive to operation enabled; it also ends
 * a homing run that holds the channel, and on success empties the DLL
 * path buffer. */
LinkoraStatus mctl_Reset(void);
/* mctl_Reference homes the axes of the mask (bit k: axis k) and returns when
 * every one has its reference or the run was broken; other callers of the
 * channel get 0xC9130016 meanwhile. mctl_ReferenceBreak, from another
 * thread or process, breaks the run. mctl_ChangeHomePosition shifts the
 * home of one homed axis: word 0 the axis, word 1 the shift in position
 * units; size 8. */
LinkoraStatus mctl_Reference(uint32_t axisMask);
LinkoraStatus mctl_ReferenceBreak(void);
LinkoraStatus mctl_ChangeHomePosition(const int32_t* homeShift, uint32_t size);
/* Velocities, override and the machine's configuration. */
LinkoraStatus mctl_GetConfiguration(LinkoraConfigurationRecord* record, uint32_t size);
LinkoraStatus mctl_SetVelocity(const LinkoraVelocityRecord* record, uint32_t size);
LinkoraStatus mctl_GetVelocity(LinkoraVelocityRecord* record, uint32_t size);
LinkoraStatus mctl_SetOverride(uint32_t percent);
LinkoraStatus mctl_GetOverride(uint32_t* percent);
/* Positions: actual, destination of the motion, set position, per axis. */
LinkoraStatus mctl_GetPosition(int32_t* position, uint32_t size);
LinkoraStatus mctl_GetDestinationPos(int32_t* position, uint32_t size);
LinkoraStatus mctl_GetDesiredPos(int32_t* position, uint32_t size);
LinkoraStatus mctl_GetAxisPosition(int32_t* position, uint32_t size);
/* Moves. While the DLL path buffer is on, the feed moves, circles and
 * helices are stored in it (0xC914000D when full) and rapid moves are
 * refused. */
LinkoraStatus mctl_MoveRel(const int32_t* position, uint32_t size);
LinkoraStatus mctl_MoveAbs(const int32_t* position, uint32_t size);
LinkoraStatus mctl_FastRel(const int32_t* position, uint32_t size);
LinkoraStatus mctl_FastAbs(const int32_t* position, uint32_t size);
LinkoraStatus mctl_CircleRel(const LinkoraCircleRecord* record, uint32_t size);
LinkoraStatus mctl_CircleAbs(const LinkoraCircleRecord* record, uint32_t size);
LinkoraStatus mctl_HelixRel(const LinkoraHelixRecord* record, uint32_t size);
LinkoraStatus mctl_HelixAbs(const LinkoraHelixRecord* record, uint32_t size);
/* Work zero point. */
LinkoraStatus mctl_SetActPosWNP(void);
LinkoraStatus mctl_SetWNPAbs(const int32_t* zeroPoint, uint32_t size);
LinkoraStatus mctl_SetWNPRel(const int32_t* zeroPoint, uint32_t size);
LinkoraStatus mctl_GetWNP(int32_t* zeroPoint, uint32_t size);
LinkoraStatus mctl_ClearWNP(void);
/* Motion state: 0 continue, 1 stop, 2 break, any other abort; returns when
 * the motion has reached the state. Power: non-zero switches the drives
 * on, 0 off. */
LinkoraStatus mctl_SetMotionState(uint32_t state);
LinkoraStatus mctl_SetPowerState(uint32_t powerOn);
LinkoraStatus mctl_SetTeachMode(uint32_t on);
/* Hardware limit switches: move-out mode, the move out of the axes of the
 * mask, and both in one (mode on, move out, mode off). */
LinkoraStatus mctl_SetHwlsMoveOutMode(uint32_t on);
LinkoraStatus mctl_HwlsMoveOut(uint32_t axisMask);
LinkoraStatus mctl_LeaveHWLS(uint32_t axisMask, uint32_t unused);

/* Machine functions. All need CNC mode (0xC914000B) except
 * mctl_SetCncTimeLimitation, which also works before it and returns the
 * kernel's own success 0x09130000. Those marked "PB" are refused with
 * 0xC914000D while the DLL path buffer is on. Flags count as on when not 0. */
LinkoraStatus mctl_HWLSBridge(uint32_t on);                   /* PB */
LinkoraStatus mctl_GetPathCoor(uint32_t* pathCoordinateMask); /* PB */
LinkoraStatus mctl_SetPathCoor(uint32_t pathCoordinateMask);  /* PB */
LinkoraStatus mctl_GetAxisGearRatio(uint32_t axis, LinkoraGearRatio* ratio, uint32_t size);
LinkoraStatus mctl_SetAxisGearRatio(uint32_t axis, const LinkoraGearRatio* ratio, uint32_t size);
/* The path ramp: four values, 16 bytes. */
LinkoraStatus mctl_GetRamp(int32_t* ramp, uint32_t size);
LinkoraStatus mctl_SetRamp(const int32_t* ramp, uint32_t size);
/* The cylinder radius of a rotational coordinate: one value, 4 bytes. */
LinkoraStatus mctl_SetCylinderPar(uint32_t coordinate, const int32_t* radius, uint32_t size);
LinkoraStatus mctl_GetSWLSStatus(LinkoraSwlsRecord* record, uint32_t size);
LinkoraStatus mctl_SetSWLS(const LinkoraSwlsRecord* record, uint32_t size);
/* Switches the limits of the coordinates in the mask on (bit set in
 * enableBits) or off. */
LinkoraStatus mctl_EnableSWLS(uint32_t coordinateMask, uint32_t enableBits);
LinkoraStatus mctl_ClearSWLS(void);
LinkoraStatus mctl_SetTestMode(uint32_t on);
/* Handling axes: the axes behind the interpolated ones, each moved on its
 * own. The handling mode turns the last interpolated axis into a handling
 * axis (on) and back (off). Move mode 1 is profile position, any other
 * profile velocity. The move parameters are six words, 24 bytes: the
 * position-mode flag, acceleration, velocity, current velocity, target and
 * actual position. A move takes four words, 16 bytes: the absolute flag,
 * acceleration, velocity and target; a turn two, 8 bytes: acceleration and
 * signed velocity. LINKORA_NO_MOVE keeps the last acceleration, velocity
 * or target. The motion state of the axes of the mask: 0 runs, 1 halts,
 * any other ends the moves; halting and ending return once the axes
 * stand. */
LinkoraStatus mctl_SetHandlingMode(uint32_t on); /* PB */
LinkoraStatus mctl_SetHandlingMoveMode(uint32_t axis, uint32_t mode);
LinkoraStatus mctl_GetHandlingAxisMovePar(uint32_t axis, int32_t* parameters, uint32_t size);
LinkoraStatus mctl_HandlingAxisMove(uint32_t axis, const int32_t* move, uint32_t size);
LinkoraStatus mctl_HandlingAxisTurn(uint32_t axis, const int32_t* turn, uint32_t size);
LinkoraStatus mctl_SetHandlingAxisMotionState(uint32_t axisMask, uint32_t state);
LinkoraStatus mctl_GetExtHandlingAxisPar(LinkoraExtHandlingAxisList* list, uint32_t size);
/* The look-ahead fill levels: pairSelect 0 names the teach-in pair of
 * levels, else the normal pair; levelSelect 0 puts the pair's enlarged
 * level in force, else its normal one. The status reads 0 while the named
 * pair's enlarged level is in force, else 1. */
LinkoraStatus mctl_ChangeLookAheadBuffer(uint32_t pairSelect, uint32_t levelSelect); /* PB */
LinkoraStatus mctl_GetLookAheadBufferStatus(uint32_t pairSelect, uint32_t* status);
LinkoraStatus mctl_ExchangeInterAxis(uint32_t axisA, uint32_t axisB); /* PB */
LinkoraStatus mctl_GetSynAxisGearRatio(uint32_t axis, LinkoraSynAxisGearRatio* ratio,
                                       uint32_t size);
LinkoraStatus mctl_SetSynAxisGearRatio(uint32_t axis, const LinkoraSynAxisGearRatio* ratio,
                                       uint32_t size);
/* The kernel's timer periods in milliseconds (1 to 50 each, else
 * 0xC9130039): in ordinary and in path operation. */
LinkoraStatus mctl_SetCncTimeLimitation(uint32_t timerResolution, uint32_t pathTimerResolution);
/* Clears the homed flag of the axes of the mask (bit k: axis k). */
LinkoraStatus mctl_ResetReferenceFlag(uint32_t axisMask); /* PB */
LinkoraStatus mctl_GetAxisRamp(uint32_t axis, LinkoraAxisRamp* ramp, uint32_t size);
LinkoraStatus mctl_SetAxisRampOverride(uint32_t axis, const LinkoraAxisRampOverride* rampOverride,
                                       uint32_t size);
/* A drive's analogue input and distance regulator; the channel is the
 * axis index of the drive. The value read is valid (else nothing more is
 * written) and ready (else the value is left) while the conversion runs;
 * the value is a signed 16-bit reading. The factor from reading to
 * distance is numerator / denominator (denominator at least 1; not while
 * the conversion runs). The working area: four area values (the first
 * -1024 to 1024, the others 0 to 1024), a response value above 0 and the
 * range; only the low 16 bits of the area and response values are sent.
 * The regulator runs on an interpolated axis with the conversion on and
 * the area set; its status reads 1 while it reports itself in range. The
 * parameter record has twelve words, 48 bytes: ten signed 16-bit values
 * (the last two the cycle rate and the response value), then the range
 * limit and the range. */
LinkoraStatus mctl_StartADConversion(uint32_t channel, uint32_t on);
LinkoraStatus mctl_GetADValue(uint32_t channel, uint32_t* valid, uint32_t* ready, int32_t* value);
LinkoraStatus mctl_SetADtoDistanceFactor(uint32_t channel, uint32_t denominator,
                                         uint32_t numerator);
LinkoraStatus mctl_SetDistanceRegulatorArea(uint32_t channel, uint32_t area0, uint32_t area1,
                                            uint32_t area2, uint32_t area3, uint32_t response,
                                            uint32_t range);
LinkoraStatus mctl_StartDistanceRegulator(uint32_t channel, uint32_t on);
LinkoraStatus mctl_GetDistanceRegulatorStatus(uint32_t channel, uint32_t* inRange);
LinkoraStatus mctl_GetDistanceRegulatorPar(uint32_t channel, int32_t* parameters, uint32_t size);
LinkoraStatus mctl_ActivateVelPropOutputMode(const LinkoraVelPropOutputRecord* record,
                                             uint32_t size);
LinkoraStatus mctl_DeactivateVelPropOutputMode(void);
LinkoraStatus mctl_SetVelPropOutputWorkPar(const LinkoraVelPropOutputWorkPar* record,
                                           uint32_t size);
LinkoraStatus mctl_GetVelPropOutputActPar(LinkoraVelPropOutputActPar* record, uint32_t size);
LinkoraStatus mctl_SetPlaneRotPar(const LinkoraPlaneRotation* rotation, uint32_t size);
LinkoraStatus mctl_GetPlaneRotPar(LinkoraPlaneRotation* rotation, uint32_t size);
/* The path velocity factor in percent. */
LinkoraStatus mctl_SetPathVelFac(uint32_t factor);
LinkoraStatus mctl_GetPathVelFac(uint32_t* factor);

/* Continuous path. All need CNC mode (0xC914000B). The argument of the
 * switches is not used. Path moves, mctl_cp_SetVelocity and
 * mctl_cp_EventToSet are stored in the channel's DLL path buffer while it
 * is on (0xC914000D when it is full) and reach the kernel with
 * mctl_cp_TransferDllPathBuffer, which takes as many records as the
 * kernel's queue has room for and keeps the rest in order for the next
 * call (0xC9130022 with record number 0: start the path, transfer again
 * later; with a record number: that record was refused and the buffer is
 * emptied). mctl_cp_EnablePath and mctl_cp_DisablePath are refused while
 * the DLL path buffer is on, mctl_cp_EndPath while it holds records.
 *
 * mctl_cp_SetVelocity takes the eight-word velocity record (32 bytes:
 * linear and rotation processing velocity, rapid velocity, teach-in
 * velocity, two current velocities); the path takes the processing pair.
 * mctl_cp_EventToSet names a manual-reset event (at most 260 bytes are
 * used) that the kernel sets when the path reaches it; applications wait
 * for it with vantor_events.h. */
LinkoraStatus mctl_cp_EnablePath(uint32_t unused);
LinkoraStatus mctl_cp_DisablePath(uint32_t unused);
LinkoraStatus mctl_cp_StartPath(uint32_t unused);
LinkoraStatus mctl_cp_EndPath(uint32_t unused);
LinkoraStatus mctl_cp_SetBufferSize(int32_t size);
LinkoraStatus mctl_cp_GetBufferStatus(LinkoraPathBufferStatus* record, uint32_t size);
LinkoraStatus mctl_cp_SetVelocity(const int32_t* velocity, uint32_t size);
LinkoraStatus mctl_cp_EventToSet(const char* eventName);
LinkoraStatus mctl_cp_EnableDllPathBuffer(uint32_t unused);
LinkoraStatus mctl_cp_DisableDllPathBuffer(uint32_t unused);
LinkoraStatus mctl_cp_TransferDllPathBuffer(uint32_t* recordNumber);
LinkoraStatus mctl_cp_GetDllPathBufferStatus(LinkoraDllPathBufferStatus* record, uint32_t size);

/* Stop-on-input mode: the drives of the interpolated axes stop by
 * themselves when a digital input fires and latch their positions. The
 * record (76 bytes) holds the mode (1 an input of an I/O module for all
 * axes, 2 an input on one drive, 3 the inputs on the drives of an axis
 * mask) and one group of six words per mode, of which only the mode's own
 * is sent and read back. The input fires when its masked bits equal the
 * masked levels. KeepStopValue 0: every linear move started while the mode
 * is armed sets the drives' stop deceleration from its own values. */
typedef struct LinkoraStopOnInputRecord {
  uint32_t Mode;
  /* mode 1 */
  uint32_t ModuleNodeId;
  uint32_t ModuleCobId;
  uint32_t ModuleValid; /* must be 1 */
  uint32_t ModuleInputMask;
  uint32_t ModuleInputLevels;
  uint32_t ModuleKeepStopValue;
  /* mode 2 */
  uint32_t DriveAxis;
  int32_t DriveSlave;   /* -1: the axis's own drive, k: its slave axis k */
  uint32_t DriveOption; /* must be 0 */
  uint32_t DriveInputMask;
  uint32_t DriveInputLevels;
  uint32_t DriveKeepStopValue;
  /* mode 3 */
  uint32_t MaskAxes;   /* bit i: interpolated axis i */
  uint32_t MaskOption; /* must be 0 */
  uint32_t MaskInputMask;
  uint32_t MaskInputLevels;
  uint32_t MaskInputFlag; /* 1: on */
  uint32_t MaskKeepStopValue;
} LinkoraStopOnInputRecord;

/* A drive's input 4 (mctl_ReadMainAmplifyInputBit): axis index, axis 0,
 * input number 4; Bit is the answer. */
typedef struct LinkoraAmplifierInput {
  uint32_t AxisIndex;
  uint32_t Axis;
  uint32_t Input;
  uint32_t Bit; /* out */
} LinkoraAmplifierInput;

LinkoraStatus mctl_SetStopOnInputModePar(const LinkoraStopOnInputRecord* record, uint32_t size);
LinkoraStatus mctl_GetStopOnInputModePar(LinkoraStopOnInputRecord* record, uint32_t size);
/* The latched positions of the first AxisNo axes, in a position array. */
LinkoraStatus mctl_GetStopOnInputModeLatchedPos(int32_t* position, uint32_t size);
LinkoraStatus mctl_ReadStopOnInputModeBit(uint32_t bit, uint32_t* value);
LinkoraStatus mctl_ReadStopOnInputModePort(uint32_t* port);
/* Non-zero arms the drives, 0 disarms them. */
LinkoraStatus mctl_RunStopOnInputMode(uint32_t run);
LinkoraStatus mctl_ReadMainAmplifyInputBit(LinkoraAmplifierInput* record, uint32_t unused);

/* Trace output. */
LinkoraStatus mctl_InitDebugViewOutput(const LinkoraTraceFilter* filter, uint32_t size);

/* CAN-level access. */
LinkoraStatus cpctl_GetCanInitPar(LinkoraCanInitRecord* record, uint32_t size,
                                  const char* initialisationFile);
LinkoraStatus cpctl_CanInitialize(LinkoraCanInitRecord* record, uint32_t size);
LinkoraStatus cpctl_Initialize(const char* initialisationFile);
LinkoraStatus cpctl_Exit(void);
LinkoraStatus cpctl_ComViaSdo(LinkoraSdoFrame* frame, uint32_t size);
LinkoraStatus cpctl_AssignPdo(const LinkoraPdoAssignment* record, uint32_t size);
LinkoraStatus cpctl_ClearPdo(uint16_t cobId);
LinkoraStatus cpctl_ReadPdo(LinkoraPdoData* record, uint32_t size);
LinkoraStatus cpctl_WritePdo(LinkoraPdoData* record, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* LINKORA_H */

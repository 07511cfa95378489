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
  uint8_t CanInterface;    /* 0 parallel-port adapter, 1 PC/104 card, 2 PCI card */
  uint8_t KernelModus;     /* channel 0 (NoCan) .. 4 */
  uint8_t BaudRateForCan;  /* 0..7: 10, 20, 50, 125, 250, 500, 800, 1000 kbit/s */
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
  char* DeviceName;  /* "Ravund", "Pelmar104", "tarnis1" .. "tarnis4" */
  char* KernelPath;
  char* WatchPath;
  uint32_t WindowsTimerRes; /* 0 = off */
  uint32_t PathWindowsTimerRes;
  uint32_t RealTimeThreadIntWaitTime;
  uint32_t PopupMenuActive;
} LinkoraCanInitRecord;

#define LINKORA_CAN_INIT_RECORD_SIZE (sizeof(LinkoraCanInitRecord))
#define LINKORA_CAN_INIT_RECORD_MEDIUM_SIZE (offsetof(LinkoraCanInitRecord, RealTimeThreadIntWaitTime))
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
  uint32_t DeviceTypeFlag; /* 1 when the device type is 1 */
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
  uint8_t ResponseData[8];  /* out */
  uint8_t ResponseLength;   /* out */
  uint8_t Unused23;
  uint32_t Timeout;
  uint32_t TimeUsed; /* out: summed over all attempts */
} LinkoraSdoFrame;

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

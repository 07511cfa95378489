/*
 * cnc_session: puts channel 1 into CNC mode from an initialisation file,
 * shows what the controller reports about its axes, starts the I/O module,
 * writes its outputs and reads its inputs through user PDOs, and leaves CNC
 * mode again.
 *
 *   cnc_session [INI-FILE]
 *
 * Without a file it reads machine.ini next to the program; the kernel and
 * the watching program are taken from the library's folder. When another
 * application already runs CNC mode on the channel, the program joins it
 * and leaves it running. Exit code 0 when every step succeeded, 1
 * otherwise, 2 for bad arguments.
 */
#define _DEFAULT_SOURCE

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "example_support.h"
#include "linkora.h"

static const char kProgram[] = "cnc_session";

enum {
  kMaxAxes = 8,
  /* The machine's I/O module and the PDOs of its two bytes (CiA 401). */
  kIoModuleNode = 10,
  kIoBytes = 2,
  kNmtCobId = 0x000,
  kNmtStartNode = 0x01,
  kNmtTimeoutMicroseconds = 100000,
  kFirstTransmitPdoBase = 0x180,
  kFirstReceivePdoBase = 0x200,
  kPdoPeriodMicroseconds = 50000,
  kPdoAnswerTimeoutMicroseconds = 100000,
  /* How long the first answer of the module's inputs may take. */
  kInputsWaitMilliseconds = 5000,
  kInputsPollMilliseconds = 20
};

/* The user PDO directions, as the kernel sees them. */
enum { kKernelReceives = 0, kKernelTransmits = 1 };

static const uint8_t kOutputs[kIoBytes] = {0x5A, 0xC3};

static void SleepMilliseconds(long milliseconds) {
  struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

/* A text field of the status record, which need not end in a zero. */
static void PrintField(const char* label, const char* field, size_t capacity) {
  printf("%s \"%.*s\"", label, (int)strnlen(field, capacity), field);
}

static int ShowCompleteStatus(LinkoraCompleteStatusRecord* record) {
  memset(record, 0, sizeof *record);
  if (!Succeeded(kProgram, "mctl_specfct_GetCompleteStatus",
                 mctl_specfct_GetCompleteStatus(record, sizeof *record))) {
    return 0;
  }
  printf("control initialised: %u\n", (unsigned)record->ControlInit);
  for (int axis = 0; axis < kMaxAxes && record->AxisNodes[axis].NodeNo != 0; ++axis) {
    const LinkoraAxisNodes* nodes = &record->AxisNodes[axis];
    printf("axis %d: node %u", axis + 1, (unsigned)nodes->NodeNo);
    if (nodes->SlaveAxisNo != 0) printf(", gantry slave node %u", (unsigned)nodes->SlaveNodeNo);
    printf("\n");
  }
  if (record->HandwheelConfigured != 0) {
    printf("handwheel: node %u, ", (unsigned)record->HandwheelNodeNo);
    PrintField("model", record->HandwheelModel, sizeof record->HandwheelModel);
    printf("\n");
  }
  PrintField("device", record->DeviceName, sizeof record->DeviceName);
  PrintField(", driver", record->DriverVersion, sizeof record->DriverVersion);
  PrintField(", kernel", record->KernelVersion, sizeof record->KernelVersion);
  PrintField(", library", record->LibraryVersion, sizeof record->LibraryVersion);
  printf("\n");
  return 1;
}

static int ShowStatus(void) {
  LinkoraMotionControlStatus status;
  memset(&status, 0, sizeof status);
  if (!Succeeded(kProgram, "mctl_GetStatus", mctl_GetStatus(&status, sizeof status))) return 0;
  printf("initialised: %u, reference run needed: %u\n", (unsigned)status.IsInitialized,
         (unsigned)status.NeedReferenceRun);
  return 1;
}

/* An NMT command has no answer: the frame only has to go out. */
static int StartNode(uint8_t node) {
  LinkoraSdoFrame frame;
  memset(&frame, 0, sizeof frame);
  frame.RequestCobId = kNmtCobId;
  frame.RequestData[0] = kNmtStartNode;
  frame.RequestData[1] = node;
  frame.RequestLength = 2;
  frame.Timeout = kNmtTimeoutMicroseconds;
  if (!Succeeded(kProgram, "cpctl_ComViaSdo (start the I/O module)",
                 cpctl_ComViaSdo(&frame, sizeof frame))) {
    return 0;
  }
  printf("I/O module %u started\n", (unsigned)node);
  return 1;
}

static LinkoraStatus AssignPdo(uint32_t direction, uint8_t node, uint16_t cobId, uint8_t length) {
  LinkoraPdoAssignment assignment;
  memset(&assignment, 0, sizeof assignment);
  assignment.Direction = direction;
  assignment.NodeId = node;
  assignment.CobId = cobId;
  assignment.Length = length;
  assignment.AnswerTimeout = kPdoAnswerTimeoutMicroseconds;
  assignment.Period = kPdoPeriodMicroseconds;
  return cpctl_AssignPdo(&assignment, sizeof assignment);
}

static void PrintBytes(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) printf(" %02X", (unsigned)bytes[i]);
  printf("\n");
}

static int WriteOutputs(uint16_t cobId) {
  if (!Succeeded(kProgram, "cpctl_AssignPdo (outputs)",
                 AssignPdo(kKernelTransmits, kIoModuleNode, cobId, kIoBytes))) {
    return 0;
  }
  LinkoraPdoData data;
  memset(&data, 0, sizeof data);
  data.CobId = cobId;
  memcpy(data.Data, kOutputs, kIoBytes);
  data.Length = kIoBytes;
  if (!Succeeded(kProgram, "cpctl_WritePdo", cpctl_WritePdo(&data, sizeof data))) return 0;
  printf("outputs 0x%03X written:", (unsigned)cobId);
  PrintBytes(kOutputs, kIoBytes);
  return 1;
}

/* The kernel asks the module for its inputs once per period; the first
 * answer is waited for, within a bound. */
static int ReadInputs(uint16_t cobId) {
  if (!Succeeded(kProgram, "cpctl_AssignPdo (inputs)",
                 AssignPdo(kKernelReceives, kIoModuleNode, cobId, kIoBytes))) {
    return 0;
  }
  LinkoraPdoData data;
  for (long waited = 0; waited <= kInputsWaitMilliseconds; waited += kInputsPollMilliseconds) {
    memset(&data, 0, sizeof data);
    data.CobId = cobId;
    if (!Succeeded(kProgram, "cpctl_ReadPdo", cpctl_ReadPdo(&data, sizeof data))) return 0;
    if (data.Length == kIoBytes) {
      printf("inputs 0x%03X read:", (unsigned)cobId);
      PrintBytes(data.Data, kIoBytes);
      return 1;
    }
    SleepMilliseconds(kInputsPollMilliseconds);
  }
  fprintf(stderr, "cnc_session: the I/O module's inputs did not come within %d ms\n",
          kInputsWaitMilliseconds);
  return 0;
}

/* A drive's PDOs stay the controller's own. */
static int ExpectDrivePdoRefused(uint8_t driveNode) {
  const uint16_t cobId = (uint16_t)(kFirstTransmitPdoBase + driveNode);
  const LinkoraStatus status = AssignPdo(kKernelReceives, driveNode, cobId, 8);
  printf("PDO 0x%03X of drive node %u: 0x%08X\n", (unsigned)cobId, (unsigned)driveNode,
         (unsigned)status);
  if (IsSuccess(status)) {
    fprintf(stderr, "cnc_session: the controller gave away a drive's PDO\n");
    cpctl_ClearPdo(cobId);
    return 0;
  }
  return 1;
}

static int RunSession(void) {
  LinkoraCompleteStatusRecord record;
  if (!StartNode(kIoModuleNode) || !ShowCompleteStatus(&record) || !ShowStatus()) return 0;
  const uint16_t outputs = (uint16_t)(kFirstReceivePdoBase + kIoModuleNode);
  const uint16_t inputs = (uint16_t)(kFirstTransmitPdoBase + kIoModuleNode);
  int good = WriteOutputs(outputs) && ReadInputs(inputs);
  if (record.AxisNodes[0].NodeNo != 0 &&
      !ExpectDrivePdoRefused((uint8_t)record.AxisNodes[0].NodeNo)) {
    good = 0;
  }
  /* What this program registered goes again; another user's CNC mode goes on. */
  cpctl_ClearPdo(outputs);
  cpctl_ClearPdo(inputs);
  return good;
}

int main(int argc, char** argv) {
  char defaultIni[kPathCapacity];
  const char* iniPath = NULL;
  const int refused =
      IniFileArgument(kProgram, argc, argv, defaultIni, sizeof defaultIni, &iniPath);
  if (refused != 0) return refused;

  const LinkoraStatus status = mctl_Initialize(iniPath);
  if (!IsSuccess(status)) {
    fprintf(stderr, "cnc_session: initialisation file %s\n", iniPath);
    PrintFailure(kProgram, "mctl_Initialize", status);
    return 1;
  }
  printf("CNC mode on\n");
  fflush(stdout);
  const int good = RunSession();
  fflush(stdout);
  if (!LeaveCncMode(kProgram)) return 1;
  return good ? 0 : 1;
}

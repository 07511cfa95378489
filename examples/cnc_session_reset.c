/*
 * cnc_session_reset: puts channel 1 into CNC mode from an initialisation
 * file, brings the drives up with a reset, checks that the controller
 * still talks to every drive, resets a second time and leaves CNC mode.
 *
 *   cnc_session_reset [INI-FILE]
 *
 * Without a file it reads machine.ini next to the program; the kernel and
 * the watching program are taken from the library's folder. Each reset
 * prints the controller's answer and how long it took. The library does
 * not count the frames a reset sends: the driver host's frame log
 * (devhost --candump FILE) shows them. When another application already
 * runs CNC mode on the channel, the program joins it and leaves it
 * running. Exit code 0 when every step succeeded, 1 otherwise, 2 for bad
 * arguments.
 */
#define _DEFAULT_SOURCE

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "example_support.h"
#include "linkora.h"

static const char kProgram[] = "cnc_session_reset";

static long MillisecondsSince(const struct timespec* start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long)(now.tv_sec - start->tv_sec) * 1000L + (now.tv_nsec - start->tv_nsec) / 1000000L;
}

/* One reset with its answer and duration; the answer is printed whatever
 * it is, so that a failing reset shows its code in the output too. */
static int Reset(const char* label) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const LinkoraStatus status = mctl_Reset();
  printf("%s: 0x%08X in %ld ms\n", label, (unsigned)status, MillisecondsSince(&start));
  fflush(stdout);
  if (IsSuccess(status)) return 1;
  PrintFailure(kProgram, "mctl_Reset", status);
  return 0;
}

/* After the reset the controller exchanges process data with every drive:
 * a lost drive or message shows as a communication failure. */
static int CheckCommunication(void) {
  LinkoraMotionControlStatus status;
  memset(&status, 0, sizeof status);
  const LinkoraStatus result = mctl_GetStatus(&status, sizeof status);
  if (!IsSuccess(result)) {
    PrintFailure(kProgram, "mctl_GetStatus", result);
    return 0;
  }
  printf("initialised: %u, communication failure: %u\n", (unsigned)status.IsInitialized,
         (unsigned)status.CommunicationFail);
  if (status.CommunicationFail != 0) {
    fputs("cnc_session_reset: the controller lost a drive after the reset\n", stderr);
    return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  char defaultIni[kPathCapacity];
  const char* iniPath = NULL;
  const int refused =
      IniFileArgument(kProgram, argc, argv, defaultIni, sizeof defaultIni, &iniPath);
  if (refused != 0) return refused;

  const LinkoraStatus status = mctl_Initialize(iniPath);
  if (!IsSuccess(status)) {
    fprintf(stderr, "cnc_session_reset: initialisation file %s\n", iniPath);
    PrintFailure(kProgram, "mctl_Initialize", status);
    return 1;
  }
  printf("CNC mode on\n");
  fflush(stdout);
  /* The second reset runs only after a good first one and status. */
  const int good = Reset("reset") && CheckCommunication() && Reset("second reset");
  fflush(stdout);
  if (!LeaveCncMode(kProgram)) return 1;
  return good ? 0 : 1;
}

/*
 * path_run: runs a small part program on the machine of an initialisation
 * file and logs where the axes were told to be and where they were.
 *
 *   path_run [OUTPUT-FOLDER [INI-FILE]]
 *
 * It puts channel 1 into CNC mode, resets and homes the drives, sets the
 * processing velocity and hands the program (lines, a full circle, a
 * quarter arc, a helix, back to the start) to the controller through the
 * library's path buffer in path mode. While the path runs it prints the
 * controller's status about twice a second and writes one row per kernel
 * cycle period into OUTPUT-FOLDER/path_run.csv: seconds since the path was
 * handed over, the commanded X Y Z, the actual X Y Z. The application does
 * not see the kernel's cycles, so rows may repeat or skip one. At the end it
 * prints the programmed and the reached end point.
 *
 * OUTPUT-FOLDER defaults to the working directory, INI-FILE to machine.ini
 * next to the program. Exit code 0 when every step succeeded, 1 otherwise
 * (after the library's text, and after leaving CNC mode), 2 for bad
 * arguments.
 */
#define _DEFAULT_SOURCE

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "example_support.h"
#include "linkora.h"
#include "part_program.h"

static const char kProgram[] = "path_run";

enum {
  kAllAxes = 0x7, /* X, Y and Z */
  kProcessVelocity = 30000,
  kRapidVelocity = 50000,
  kTeachVelocity = 20000,
  /* The controller's segment queue holds fewer moves than the program. */
  kQueueCapacity = 3,
  kStatusPeriodMs = 500,
  kFeedPeriodMs = 20,
  /* No sane run of the program on the sample machine takes this long. */
  kPathBoundSeconds = 120
};

static const char kLogName[] = "path_run.csv";

static double SecondsSince(const struct timespec* start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)(now.tv_sec - start->tv_sec) + (double)(now.tv_nsec - start->tv_nsec) * 1e-9;
}

static void AddNanoseconds(struct timespec* time, long nanoseconds) {
  time->tv_nsec += nanoseconds;
  while (time->tv_nsec >= 1000000000L) {
    time->tv_nsec -= 1000000000L;
    ++time->tv_sec;
  }
}

static int IsBefore(const struct timespec* a, const struct timespec* b) {
  return a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_nsec < b->tv_nsec);
}

static int ReadPositions(int32_t commanded[9], int32_t actual[9]) {
  return Succeeded(kProgram, "mctl_GetDesiredPos",
                   mctl_GetDesiredPos(commanded, 9 * sizeof(int32_t))) &&
         Succeeded(kProgram, "mctl_GetPosition", mctl_GetPosition(actual, 9 * sizeof(int32_t)));
}

/* The kernel's cycle period from the initialisation file, in ns. */
static int CyclePeriod(const char* iniPath, long* nanoseconds) {
  LinkoraCanHardwareParameters hardware;
  memset(&hardware, 0, sizeof hardware);
  LinkoraCanInitRecord record;
  memset(&record, 0, sizeof record);
  record.HardwareParameters = &hardware;
  if (!Succeeded(kProgram, "cpctl_GetCanInitPar",
                 cpctl_GetCanInitPar(&record, sizeof record, iniPath))) {
    return 0;
  }
  if (hardware.InterruptCycle == 0 || hardware.InterruptCycle > 1000000) {
    fprintf(stderr, "path_run: %s gives no usable InterruptCycle (%u us)\n", iniPath,
            (unsigned)hardware.InterruptCycle);
    return 0;
  }
  *nanoseconds = (long)hardware.InterruptCycle * 1000L;
  return 1;
}

/* The controller's status and the path buffer's, read together. */
static int ReadRunState(LinkoraMotionControlStatus* status, LinkoraPathBufferStatus* path) {
  memset(status, 0, sizeof *status);
  memset(path, 0, sizeof *path);
  return Succeeded(kProgram, "mctl_GetStatus", mctl_GetStatus(status, sizeof *status)) &&
         Succeeded(kProgram, "mctl_cp_GetBufferStatus",
                   mctl_cp_GetBufferStatus(path, sizeof *path));
}

/* The status line: busy, the path flags, the commanded position. */
static int PrintStatus(double seconds, const int32_t commanded[9]) {
  LinkoraMotionControlStatus status;
  LinkoraPathBufferStatus path;
  if (!ReadRunState(&status, &path)) return 0;
  printf("%6.2f s  busy %u, path flags 0x%X, queued %u, commanded (%d, %d, %d)\n", seconds,
         (unsigned)status.IsBusy, (unsigned)path.Flags, (unsigned)path.SegmentCount,
         (int)commanded[0], (int)commanded[1], (int)commanded[2]);
  fflush(stdout);
  return 1;
}

/* Whether the path still moves or holds segments. */
static int PathStillRuns(int* runs) {
  LinkoraMotionControlStatus status;
  LinkoraPathBufferStatus path;
  if (!ReadRunState(&status, &path)) return 0;
  *runs = status.InMotion != 0 || status.IsMoving != 0 || path.SegmentCount != 0;
  return 1;
}

/* Hands the program over while sampling once per cycle period, until the
 * path has run out. */
static int RunPath(const PathMove* moves, size_t count, long cycleNs, FILE* log) {
  PathFeeder feeder;
  StartFeeding(&feeder, moves, count);
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  struct timespec next = start;
  double nextStatus = 0.0;
  double nextFeed = 0.0;
  int handedOver = 0;
  for (;;) {
    const double seconds = SecondsSince(&start);
    int32_t commanded[9];
    int32_t actual[9];
    if (!ReadPositions(commanded, actual)) return 0;
    fprintf(log, "%.6f,%d,%d,%d,%d,%d,%d\n", seconds, (int)commanded[0], (int)commanded[1],
            (int)commanded[2], (int)actual[0], (int)actual[1], (int)actual[2]);

    if (seconds >= nextFeed) {
      nextFeed = seconds + kFeedPeriodMs / 1000.0;
      if (!handedOver) {
        const char* what = "";
        const LinkoraStatus fed = FeedPath(&feeder, &what);
        if (fed != LINKORA_SUCCESS) {
          PrintFailure(kProgram, what, fed);
          if (feeder.failedRecord != 0) {
            fprintf(stderr, "path_run: the controller refused move %u\n",
                    (unsigned)feeder.failedRecord);
          }
          return 0;
        }
        handedOver = AllMovesHandedOver(&feeder);
      } else {
        int runs = 1;
        if (!PathStillRuns(&runs)) return 0;
        if (!runs) return 1;
      }
    }
    if (seconds >= nextStatus) {
      if (!PrintStatus(seconds, commanded)) return 0;
      nextStatus += kStatusPeriodMs / 1000.0;
    }
    if (seconds > kPathBoundSeconds) {
      fprintf(stderr, "path_run: the path did not end within %d s\n", kPathBoundSeconds);
      return 0;
    }
    /* The next cycle; one already past is skipped, not caught up. */
    AddNanoseconds(&next, cycleNs);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (IsBefore(&next, &now)) next = now;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) == EINTR) {
    }
  }
}

static long MillisecondsSince(const struct timespec* start) {
  return (long)(SecondsSince(start) * 1000.0);
}

/* Resets and homes the drives, printing how long each took. */
static int ResetAndHome(void) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (!Succeeded(kProgram, "mctl_Reset", mctl_Reset())) return 0;
  printf("reset in %ld ms\n", MillisecondsSince(&start));
  fflush(stdout);
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (!Succeeded(kProgram, "mctl_Reference", mctl_Reference(kAllAxes))) return 0;
  printf("homed in %ld ms\n", MillisecondsSince(&start));
  fflush(stdout);
  return 1;
}

static int SetProcessVelocity(void) {
  LinkoraVelocityRecord velocity;
  memset(&velocity, 0, sizeof velocity);
  if (!Succeeded(kProgram, "mctl_GetVelocity", mctl_GetVelocity(&velocity, sizeof velocity)))
    return 0;
  velocity.LinearProcessVel = kProcessVelocity;
  velocity.LinearFastVel = kRapidVelocity;
  velocity.LinearTeachInVel = kTeachVelocity;
  return Succeeded(kProgram, "mctl_SetVelocity", mctl_SetVelocity(&velocity, sizeof velocity));
}

/* Path mode with a short segment queue and the library's path buffer, the
 * program handed over and run, and path mode left again. */
static int RunProgram(long cycleNs, FILE* log, const char* logPath) {
  int32_t start[9];
  int32_t actual[9];
  if (!ReadPositions(start, actual)) return 0;
  PathMove moves[kProgramCapacity];
  const size_t count = PartProgram(start, moves, kProgramCapacity);
  printf("path of %zu moves from (%d, %d, %d)\n", count, (int)start[0], (int)start[1],
         (int)start[2]);
  fflush(stdout);
  if (!Succeeded(kProgram, "mctl_cp_EnablePath", mctl_cp_EnablePath(0)) ||
      !Succeeded(kProgram, "mctl_cp_SetBufferSize", mctl_cp_SetBufferSize(kQueueCapacity)) ||
      !Succeeded(kProgram, "mctl_cp_EnableDllPathBuffer", mctl_cp_EnableDllPathBuffer(0)) ||
      !RunPath(moves, count, cycleNs, log) ||
      !Succeeded(kProgram, "mctl_cp_DisableDllPathBuffer", mctl_cp_DisableDllPathBuffer(0)) ||
      !Succeeded(kProgram, "mctl_cp_EndPath", mctl_cp_EndPath(0)) ||
      !Succeeded(kProgram, "mctl_cp_DisablePath", mctl_cp_DisablePath(0))) {
    return 0;
  }
  int32_t commanded[9];
  if (!ReadPositions(commanded, actual)) return 0;
  const int32_t* end = moves[count - 1].end;
  printf("programmed end (%d, %d, %d), reached (%d, %d, %d)\n", (int)end[0], (int)end[1],
         (int)end[2], (int)actual[0], (int)actual[1], (int)actual[2]);
  if (fflush(log) != 0 || ferror(log)) {
    fprintf(stderr, "path_run: cannot write %s: %s\n", logPath, strerror(errno));
    return 0;
  }
  return 1;
}

static void Usage(void) {
  fputs(
      "usage: path_run [OUTPUT-FOLDER [INI-FILE]]\n"
      "  OUTPUT-FOLDER  where path_run.csv goes (default: the working directory)\n"
      "  INI-FILE       initialisation file (default: machine.ini next to the program)\n",
      stderr);
}

int main(int argc, char** argv) {
  if (argc > 3 || (argc > 1 && argv[1][0] == '-') || (argc > 2 && argv[2][0] == '-')) {
    Usage();
    return 2;
  }
  const char* folder = argc > 1 ? argv[1] : ".";
  char defaultIni[kPathCapacity];
  const char* iniPath = argc > 2 ? argv[2] : NULL;
  if (iniPath == NULL) {
    char programFolder[kPathCapacity];
    if (!ProgramFolder(programFolder, sizeof programFolder) ||
        snprintf(defaultIni, sizeof defaultIni, "%smachine.ini", programFolder) >=
            (int)sizeof defaultIni) {
      fputs("path_run: cannot name machine.ini next to the program\n", stderr);
      return 1;
    }
    iniPath = defaultIni;
  }
  char logPath[kPathCapacity];
  if (snprintf(logPath, sizeof logPath, "%s/%s", folder, kLogName) >= (int)sizeof logPath) {
    fputs("path_run: the output folder's name is too long\n", stderr);
    return 1;
  }
  long cycleNs = 0;
  if (!CyclePeriod(iniPath, &cycleNs)) return 1;

  FILE* log = fopen(logPath, "w");
  if (log == NULL) {
    fprintf(stderr, "path_run: cannot write %s: %s\n", logPath, strerror(errno));
    return 1;
  }
  fputs("seconds,commanded_x,commanded_y,commanded_z,actual_x,actual_y,actual_z\n", log);

  const LinkoraStatus initialised = mctl_Initialize(iniPath);
  if (!IsSuccess(initialised)) {
    fprintf(stderr, "path_run: initialisation file %s\n", iniPath);
    PrintFailure(kProgram, "mctl_Initialize", initialised);
    fclose(log);
    return 1;
  }
  printf("CNC mode on\n");
  fflush(stdout);
  int good = ResetAndHome() && SetProcessVelocity() && RunProgram(cycleNs, log, logPath);
  if (fclose(log) != 0) {
    fprintf(stderr, "path_run: cannot write %s: %s\n", logPath, strerror(errno));
    good = 0;
  }
  if (!LeaveCncMode(kProgram)) return 1;
  if (!good) return 1;
  printf("positions: %s\n", logPath);
  return 0;
}

#define _DEFAULT_SOURCE

#include "example_support.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { kEnglish = 1 };

int IsSuccess(LinkoraStatus status) { return (status & 0xC0000000u) == 0; }

void StatusText(LinkoraStatus status, char* text, size_t capacity) {
  if (mctl_GetErrorText(status, kEnglish, text, (unsigned)capacity) != LINKORA_SUCCESS) {
    snprintf(text, capacity, "0x%08X (no text for this code)", (unsigned)status);
  }
}

int ProgramFolder(char* folder, size_t capacity) {
  const ssize_t length = readlink("/proc/self/exe", folder, capacity - 1);
  if (length <= 0) return 0;
  folder[length] = '\0';
  char* slash = strrchr(folder, '/');
  if (slash == NULL) return 0;
  slash[1] = '\0';
  return 1;
}

void PrintFailure(const char* program, const char* what, LinkoraStatus status) {
  char text[kTextCapacity];
  StatusText(status, text, sizeof text);
  fprintf(stderr, "%s: %s failed with 0x%08X:\n%s\n", program, what, (unsigned)status, text);
}

int Succeeded(const char* program, const char* what, LinkoraStatus status) {
  if (IsSuccess(status)) return 1;
  PrintFailure(program, what, status);
  return 0;
}

int LeaveCncMode(const char* program) {
  const LinkoraStatus left = mctl_Exit();
  if (!IsSuccess(left)) {
    PrintFailure(program, "mctl_Exit", left);
    const LinkoraStatus closed = mctl_Exit();
    if (!IsSuccess(closed)) PrintFailure(program, "mctl_Exit", closed);
    return 0;
  }
  printf("CNC mode left\n");
  return 1;
}

int IniFileArgument(const char* program, int argc, char** argv, char* buffer, size_t capacity,
                    const char** path) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    fprintf(stderr,
            "usage: %s [INI-FILE]\n"
            "  INI-FILE  initialisation file (default: machine.ini next to the program)\n",
            program);
    return 2;
  }
  if (argc == 2) {
    *path = argv[1];
    return 0;
  }
  char folder[kPathCapacity];
  if (!ProgramFolder(folder, sizeof folder) ||
      snprintf(buffer, capacity, "%smachine.ini", folder) >= (int)capacity) {
    fprintf(stderr, "%s: cannot name machine.ini next to the program\n", program);
    return 1;
  }
  *path = buffer;
  return 0;
}

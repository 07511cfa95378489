// An application that homes axes, for the tests that kill it mid-run; on
// the public header only. It joins (or starts) CNC mode from an
// initialisation file and homes the axes of a mask:
//
//   homing_user <ini file> <state file> <axis mask>
//
// The state file gets one line per step: "init XXXXXXXX", "homing" just
// before the run starts, "reference XXXXXXXX" with the run's answer and
// "exit XXXXXXXX". Exit code 0 when every step succeeded, 1 otherwise, 2 for
// bad arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "interface/include/linkora.h"

namespace {

void Report(const char* path, const char* what) {
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s\n", what);
    std::fclose(file);
  }
}

void Report(const char* path, const char* what, std::uint32_t code) {
  char line[64];
  std::snprintf(line, sizeof line, "%s %08X", what, static_cast<unsigned>(code));
  Report(path, line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* iniFile = argv[1];
  const char* stateFile = argv[2];
  char* end = nullptr;
  const unsigned long mask = std::strtoul(argv[3], &end, 0);
  if (end == argv[3] || *end != '\0' || mask > 0xFFFFFFFFul) return 2;

  const std::uint32_t initialised = mctl_Initialize(iniFile);
  Report(stateFile, "init", initialised);
  if (initialised != LINKORA_SUCCESS) return 1;
  Report(stateFile, "homing");
  const std::uint32_t homed = mctl_Reference(static_cast<std::uint32_t>(mask));
  Report(stateFile, "reference", homed);
  const std::uint32_t left = mctl_Exit();
  Report(stateFile, "exit", left);
  return homed == LINKORA_SUCCESS && left == LINKORA_SUCCESS ? 0 : 1;
}

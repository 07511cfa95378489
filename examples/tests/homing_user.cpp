// An application that homes axes, for the tests that kill it mid-run, or
// that watches another application's run; on the public header only. It
// joins (or starts) CNC mode from an initialisation file, then
//
//   homing_user <ini file> <state file> <axis mask>
//       homes the axes of the mask;
//   homing_user <ini file> <state file> watch
//       waits until a homing run holds the channel, then exchanges an SDO
//       with the I/O module beside the run, waits for the run's end and
//       leaves.
//
// The state file gets one line per step: "init XXXXXXXX"; when homing,
// "homing" just before the run starts and "reference XXXXXXXX" with the
// run's answer; when watching, "status XXXXXXXX" with the status request's
// first answer during the run, "sdo XXXXXXXX" with the exchange's result
// and "status XXXXXXXX" with the first answer after the run; at last
// "exit XXXXXXXX". Exit code 0 when every step went as planned, 1
// otherwise, 2 for bad arguments. A watcher that sees no run (or no end of
// it) within two minutes reports "status" with the last answer and leaves.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "examples/tests/sdo_reads.h"
#include "interface/include/linkora.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kHomingActive = 0xC9130016u;
constexpr auto kStatusPoll = 5ms;
constexpr auto kWatchBound = 120s;

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

std::uint32_t StatusAnswer() {
  LinkoraMotionControlStatus status{};
  return mctl_GetStatus(&status, sizeof status);
}

// Polls the status until its answer is (`during`) or is no longer the
// homing answer, at most until `deadline`; the last answer.
std::uint32_t AwaitStatus(bool during, std::chrono::steady_clock::time_point deadline) {
  std::uint32_t answer = StatusAnswer();
  while ((answer == kHomingActive) != during && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kStatusPoll);
    answer = StatusAnswer();
  }
  return answer;
}

bool Watch(const char* stateFile) {
  const auto deadline = std::chrono::steady_clock::now() + kWatchBound;
  const std::uint32_t during = AwaitStatus(true, deadline);
  Report(stateFile, "status", during);
  if (during != kHomingActive) return false;
  LinkoraSdoFrame frame;
  const std::uint32_t exchanged =
      vantor::examples_test::UploadObject(vantor::examples_test::kIoModule, 0x1000, 0, frame);
  Report(stateFile, "sdo", exchanged);
  const std::uint32_t after = AwaitStatus(false, deadline);
  Report(stateFile, "status", after);
  return exchanged == LINKORA_SUCCESS && after == LINKORA_SUCCESS;
}

bool Home(const char* stateFile, std::uint32_t mask) {
  Report(stateFile, "homing");
  const std::uint32_t homed = mctl_Reference(mask);
  Report(stateFile, "reference", homed);
  return homed == LINKORA_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* iniFile = argv[1];
  const char* stateFile = argv[2];
  const bool watch = std::strcmp(argv[3], "watch") == 0;
  char* end = nullptr;
  const unsigned long mask = std::strtoul(argv[3], &end, 0);
  if (!watch && (end == argv[3] || *end != '\0' || mask > 0xFFFFFFFFul)) return 2;

  const std::uint32_t initialised = mctl_Initialize(iniFile);
  Report(stateFile, "init", initialised);
  if (initialised != LINKORA_SUCCESS) return 1;
  const bool done = watch ? Watch(stateFile) : Home(stateFile, static_cast<std::uint32_t>(mask));
  const std::uint32_t left = mctl_Exit();
  Report(stateFile, "exit", left);
  return done && left == LINKORA_SUCCESS ? 0 : 1;
}

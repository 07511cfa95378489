// Appends to the DLL path buffer per second: path velocities and events
// stored by the library without a kernel request, through the exports as
// an application calls them, against the scripted kernel.
//
//   path_buffer_bench [rounds]
//
// Each round fills a buffer of 10000 records and empties it by switching
// the buffer off and on (not timed).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "interface/include/linkora.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kFakeKernel = VANTOR_FAKE_KERNEL;
const std::string kVigilo = std::string(VANTOR_PROGRAM_FOLDER) + "/Vigilo";
constexpr std::uint32_t kCapacity = 10000;

bool Check(const char* step, LinkoraStatus result) {
  if (result == LINKORA_SUCCESS) return true;
  std::fprintf(stderr, "%s: 0x%08X\n", step, result);
  return false;
}

bool EnterPathMode() {
  LinkoraCanHardwareParameters hardware{};
  hardware.CanInterface = 2;
  hardware.KernelModus = 1;
  hardware.BaudRateForCan = 5;
  hardware.InterruptCycle = 3000;
  std::string device = "tarnis1";
  LinkoraCanInitRecord can{};
  can.KernelShared = 1;
  can.HardwareParameters = &hardware;
  can.DeviceName = device.data();
  can.KernelPath = const_cast<char*>(kFakeKernel.c_str());
  can.WatchPath = const_cast<char*>(kVigilo.c_str());
  if (!Check("channel", mctl_specfct_CanInitialize(&can, sizeof can))) return false;

  LinkoraCoordinateEntry coordinates[1] = {{1, 1, 0, 0, 1000.0, -1000.0}};
  LinkoraAxisEntry axes[1] = {{1, 0, 0}};
  LinkoraCncInitRecord cnc{};
  cnc.CncKernelShared = 1;
  cnc.DllPathPufVecMaxNo = kCapacity;
  cnc.CoorNo = 1;
  cnc.AxisNo = 1;
  cnc.CoordinateList = coordinates;
  cnc.AxisList = axes;
  return Check("CNC mode", mctl_specfct_CncInitialize(&cnc, sizeof cnc)) &&
         Check("path mode", mctl_cp_EnablePath(0));
}

// Fills the buffer once; the time spent in the appends, or a negative
// value on a failure.
double FillOnce(bool events) {
  if (!Check("buffer on", mctl_cp_EnableDllPathBuffer(0))) return -1;
  std::array<std::int32_t, 8> velocity{100, 200, 300, 400, 500, 600, 0, 0};
  const auto start = Clock::now();
  for (std::uint32_t i = 0; i < kCapacity; ++i) {
    velocity[0] = static_cast<std::int32_t>(i);
    const LinkoraStatus result = events ? mctl_cp_EventToSet("Vantor Automation Test Event 1")
                                        : mctl_cp_SetVelocity(velocity.data(), sizeof velocity);
    if (!Check("append", result)) return -1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return Check("buffer off", mctl_cp_DisableDllPathBuffer(0)) ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  ::setenv("VANTOR_NAMESPACE", ("path-buffer-bench-" + std::to_string(::getpid())).c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!EnterPathMode()) {
    mctl_Exit();
    return 1;
  }
  int status = 0;
  for (const bool events : {false, true}) {
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
      const double seconds = FillOnce(events);
      if (seconds < 0) {
        status = 1;
        break;
      }
      best = std::max(best, kCapacity / seconds);
    }
    std::printf("%-16s %12.0f appends/s (best of %d rounds of %u)\n",
                events ? "events" : "path velocities", best, rounds, kCapacity);
  }
  mctl_cp_DisablePath(0);
  return mctl_Exit() == LINKORA_SUCCESS ? status : 1;
}

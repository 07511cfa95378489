// The real-time cycle against the real driver host on its simulated PCI
// card: the period between two completed exchanges as the cycle thread sees
// them (median, 99th percentile), their deviation from the cycle time the
// driver reports with each exchange (median, p99, max), their deviation
// from the 2560 us cycle and the cycles missed beside those of a real-time
// sleep loop at the same period measured meanwhile (the floor), and the CPU
// time the cycle thread spends per cycle.
//
// Usage: kernel_devhost_cycle_timing_bench [seconds]   (60 by default)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "kernel/tests/bench/cycle_timing.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/process.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

bool AwaitDevice() {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (os::DeviceHandle::Open("\\\\.\\tarnis1").error == os::DeviceOpenError::kNone) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// An interrupt cycle of 2048 us makes a run of five ticks of 512 us.
constexpr double kCycleMicroseconds = 2560.0;
constexpr long kDefaultSeconds = 60;

int Measure(long seconds) {
  const auto cycles = static_cast<std::size_t>(static_cast<double>(seconds) * 1e6 /
                                               kCycleMicroseconds);
  kernel::bench::TimedCycle cycle(cycles, kernel::DriverLinkTimings{});
  // The sample machine's bus at 500 kbit/s, the initialisation file's defaults.
  kernel::testing::StartSettings settings;
  settings.bitRateCode = 5;
  settings.syncPeriod = 300000;
  settings.syncWait = 1000;
  return cycle.Measure(kernel::testing::StartRecord(settings),
                       std::chrono::seconds(2 * seconds + 10), std::nullopt, kCycleMicroseconds);
}

}  // namespace

int main(int argc, char** argv) {
  const long requested = argc > 1 ? std::strtol(argv[1], nullptr, 10) : kDefaultSeconds;
  const long seconds = requested > 0 ? requested : kDefaultSeconds;

  const std::string space = "kernel-devhost-bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", space.c_str(), 1);

  int status = 1;
  auto devhost = os::Process::Start(VANTOR_DEVHOST_PROGRAM, {});
  if (!devhost) {
    std::fprintf(stderr, "the driver host did not start\n");
    return 1;
  }
  if (AwaitDevice()) {
    status = Measure(seconds);
  } else {
    std::fprintf(stderr, "the driver host serves no tarnis1 device\n");
  }
  static_cast<void>(devhost->Terminate(0));
  static_cast<void>(os::WaitForOne(*devhost, 10000));
  devhost->Close();
  if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  return status;
}

// The real-time cycle against the scripted driver pacing it at a fixed
// period: the period between two completed exchanges as the cycle thread
// sees them (median, 99th percentile and the largest deviation from the
// driver's period) and the CPU time the cycle thread spends per cycle.
//
// Usage: kernel_cycle_timing_bench [cycles] [driver period in microseconds]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kernel/tests/bench/cycle_timing.h"
#include "kernel/tests/scripted_can_driver.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/runtime_dir.h"

int main(int argc, char** argv) {
  using namespace vantor;
  const long requestedCycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
  const long requestedPeriod = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2560;
  const std::size_t cycles =
      requestedCycles > 10 ? static_cast<std::size_t>(requestedCycles) : 2000;
  const auto period = std::chrono::microseconds(requestedPeriod > 0 ? requestedPeriod : 2560);

  const std::string space = "kernel-cycle-bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", space.c_str(), 1);

  int status = 1;
  {
    kernel::testing::ScriptedDriverHost host;
    if (!host.started()) {
      std::fprintf(stderr, "the scripted driver could not be served\n");
      return 1;
    }
    kernel::DriverLinkTimings timings;
    timings.startCheckMs = 100;
    kernel::bench::TimedCycle cycle(cycles, timings);
    host.driver().SetCycleMicroseconds(static_cast<std::uint32_t>(period.count()));
    host.driver().StartPacing(period);
    status = cycle.Measure(kernel::testing::StartRecord({}),
                           period * cycles * 4 + std::chrono::seconds(10),
                           static_cast<double>(period.count()),
                           static_cast<double>(period.count()));
  }
  if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  return status;
}

// The cycle-period jitter a client sees: the devhost program runs on the
// real clock in a namespace of this program's own, and the client exchanges
// with tarnis1 on a 2560-microsecond cycle, noting when each exchange
// completes. Prints the median, the 99th percentile and the largest
// deviation of the periods between completions from the cycle, and how many
// cycles the client missed (counted by the driver), beside the same figures
// of a real-time clock_nanosleep loop at the same period measured at the
// same time (the floor).
//
// Usage: host_exchange_jitter_bench [seconds]   (60 by default)
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "drivers/host/tests/devhost_process.h"
#include "drivers/host/tests/run_client.h"
#include "platform/os/bench/period_floor.h"
#include "platform/os/realtime_policy.h"
#include "platform/os/runtime_dir.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kTicksPerCycle = 5;  // 5 ticks of 512 us
constexpr double kCycleMicroseconds = 2560.0;
constexpr long kDefaultSeconds = 60;
// The first cycles after the start settle the pacing and are not counted.
constexpr int kSettlingCycles = 20;

int Run(std::chrono::seconds measured) {
  const std::string nameSpace = "exchange-jitter-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", nameSpace.c_str(), 1);
  host::testing::DevhostProcess devhost;
  if (!devhost.Start(nameSpace, {}) || !devhost.WaitForOutput("serving")) {
    std::fprintf(stderr, "the devhost did not start:\n%s\n", devhost.Output().c_str());
    return 1;
  }
  auto opened = os::DeviceHandle::Open("\\\\.\\tarnis1");
  if (opened.error != os::DeviceOpenError::kNone) {
    std::fprintf(stderr, "cannot open tarnis1\n");
    return 1;
  }
  host::testing::ClientRun run;
  run.cycleDivider = kTicksPerCycle;
  if (host::testing::DriverStatus(opened.handle, common::IOCTL_CAN_CLAIM) !=
          common::kDriverSuccess ||
      host::testing::StartClientRun(opened.handle, run) != common::kDriverSuccess) {
    std::fprintf(stderr, "cannot start the run\n");
    return 1;
  }

  // The client stands in for the kernel's cycle, in its class.
  os::ApplyRealTimeRole(os::RealTimeRole::kKernelCycle);
  host::testing::Exchanger exchanger(opened.handle);
  auto buffer = std::make_unique<common::ExchangeBuffer>();
  std::vector<Clock::time_point> completions;
  completions.reserve(static_cast<std::size_t>(measured.count()) * 1'000'000 /
                          static_cast<std::size_t>(kCycleMicroseconds) +
                      16);
  std::uint64_t missedCycles = 0;
  Clock::time_point end{};
  std::unique_ptr<os::bench::SleepFloor> floor;
  for (int cycle = 0;; ++cycle) {
    if (!exchanger.Exchange(*buffer)) {
      std::fprintf(stderr, "exchange %d failed\n", cycle);
      return 1;
    }
    const Clock::time_point now = Clock::now();
    if (cycle < kSettlingCycles) continue;
    if (cycle == kSettlingCycles) {
      end = now + measured;
      floor = std::make_unique<os::bench::SleepFloor>(kCycleMicroseconds, completions.capacity());
    }
    if (now > end) {
      floor->Stop();
      break;
    }
    completions.push_back(now);
    const std::uint32_t counted = buffer->Get(common::exchange_buffer::kCycleMicroseconds);
    if (counted > kCycleMicroseconds) missedCycles += counted / 2560 - 1;
  }
  host::testing::DriverStatus(opened.handle, common::IOCTL_CAN_STOP_RUN);
  opened.handle.Close();
  devhost.Signal(SIGTERM);
  devhost.WaitForExit();
  if (const auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());

  const std::vector<double>& floorPeriods = floor->Stop();
  std::vector<double> periods;
  for (std::size_t i = 1; i < completions.size(); ++i) {
    periods.push_back(
        std::chrono::duration<double, std::micro>(completions[i] - completions[i - 1]).count());
  }
  os::bench::PeriodFigures exchange = os::bench::FiguresOf(periods, kCycleMicroseconds);
  exchange.missed = missedCycles;
  std::printf("deviation from the %.0f us cycle over %lld s:\n", kCycleMicroseconds,
              static_cast<long long>(measured.count()));
  os::bench::PrintFigures("exchange completion (client):", exchange);
  os::bench::PrintFigures(floor->RealTime() ? "floor, SCHED_FIFO clock_nanosleep:"
                                            : "floor, clock_nanosleep (normal):",
                          os::bench::FiguresOf(floorPeriods, kCycleMicroseconds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : kDefaultSeconds;
  return Run(std::chrono::seconds(seconds > 0 ? seconds : kDefaultSeconds));
}

// The cycle-period jitter a client sees: the devhost program runs on the
// real clock in a namespace of this program's own, and the client exchanges
// with tarnis1 for ten seconds on a 2560-microsecond cycle, noting when each
// exchange completes. Prints the median, the 99th percentile and the largest
// deviation of the periods between completions from the cycle, and how many
// answers counted more than one cycle (cycles the client missed).
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
#include "platform/os/runtime_dir.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kTicksPerCycle = 5;  // 5 ticks of 512 us
constexpr double kCycleMicroseconds = 2560.0;
constexpr auto kMeasured = std::chrono::seconds(10);
// The first cycles after the start settle the pacing and are not counted.
constexpr int kSettlingCycles = 20;

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

int Run() {
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

  host::testing::Exchanger exchanger(opened.handle);
  auto buffer = std::make_unique<common::ExchangeBuffer>();
  std::vector<Clock::time_point> completions;
  std::uint64_t missedCycles = 0;
  Clock::time_point end{};
  for (int cycle = 0;; ++cycle) {
    if (!exchanger.Exchange(*buffer)) {
      std::fprintf(stderr, "exchange %d failed\n", cycle);
      return 1;
    }
    const Clock::time_point now = Clock::now();
    if (cycle < kSettlingCycles) continue;
    if (cycle == kSettlingCycles) end = now + kMeasured;
    if (now > end) break;
    completions.push_back(now);
    const std::uint32_t counted = buffer->Get(common::exchange_buffer::kCycleMicroseconds);
    if (counted > kCycleMicroseconds) missedCycles += counted / 2560 - 1;
  }
  host::testing::DriverStatus(opened.handle, common::IOCTL_CAN_STOP_RUN);
  opened.handle.Close();
  devhost.Signal(SIGTERM);
  devhost.WaitForExit();
  if (const auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());

  std::vector<double> deviations;
  for (std::size_t i = 1; i < completions.size(); ++i) {
    const double period =
        std::chrono::duration<double, std::micro>(completions[i] - completions[i - 1]).count();
    deviations.push_back(std::abs(period - kCycleMicroseconds));
  }
  std::printf("exchange completion seen by a client, cycle %.0f us, %zu periods in %lld s\n",
              kCycleMicroseconds, deviations.size(),
              static_cast<long long>(kMeasured.count()));
  std::printf("  deviation from the cycle: median %.1f us, p99 %.1f us, max %.1f us\n",
              Percentile(deviations, 0.5), Percentile(deviations, 0.99),
              deviations.empty() ? 0.0 : *std::max_element(deviations.begin(), deviations.end()));
  std::printf("  cycles the client missed (counted by the driver): %llu\n",
              static_cast<unsigned long long>(missedCycles));
  return 0;
}

}  // namespace

int main() { return Run(); }

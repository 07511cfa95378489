// The real-time cycle against the scripted driver pacing it at a fixed
// period: the period between two completed exchanges as the cycle thread
// sees them (median, 99th percentile and the largest deviation from the
// driver's period) and the CPU time the cycle thread spends per cycle.
//
// Usage: kernel_cycle_timing_bench [cycles] [driver period in microseconds]
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kernel/core/driver_link.h"
#include "kernel/tests/scripted_can_driver.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/runtime_dir.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

std::int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Runs on the cycle thread once per good exchange; the samples are kept in
// storage reserved before the cycle starts.
class TimingSteps final : public kernel::CycleSteps {
 public:
  explicit TimingSteps(std::size_t cycles) { seen_.reserve(cycles); }

  void ProcessMotion(common::ExchangeBuffer&) noexcept override {
    if (seen_.size() == seen_.capacity()) return;
    if (seen_.empty()) firstCpu_ = ThreadCpuNanoseconds();
    seen_.push_back(Clock::now());
    lastCpu_ = ThreadCpuNanoseconds();
  }

  bool Done() const { return seen_.size() == seen_.capacity(); }
  const std::vector<Clock::time_point>& Seen() const { return seen_; }
  std::int64_t CpuNanoseconds() const { return lastCpu_ - firstCpu_; }

 private:
  std::vector<Clock::time_point> seen_;
  std::int64_t firstCpu_ = 0;
  std::int64_t lastCpu_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  const long requestedCycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
  const long requestedPeriod = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2560;
  const std::size_t cycles =
      requestedCycles > 10 ? static_cast<std::size_t>(requestedCycles) : 2000;
  const auto period = std::chrono::microseconds(requestedPeriod > 0 ? requestedPeriod : 2560);

  const std::string space = "kernel-cycle-bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", space.c_str(), 1);

  int status = 0;
  {
    kernel::testing::ScriptedDriverHost host;
    if (!host.started()) {
      std::fprintf(stderr, "the scripted driver could not be served\n");
      return 1;
    }
    kernel::KernelData data;
    data.motionMutex = os::Mutex::CreateUnnamed(false).take();
    data.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
    data.globalRequestMutex = os::Mutex::CreateUnnamed(false).take();
    data.canObjectListMutex = os::Mutex::CreateUnnamed(false).take();
    data.state.busOk = 1;
    kernel::ApplicationCanRequest request;
    request.completion = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    auto block = os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    TimingSteps steps(cycles);

    kernel::DriverLinkTimings timings;
    timings.startCheckMs = 100;
    kernel::DriverLink link({data, request, block, steps}, timings);
    host.driver().SetCycleMicroseconds(static_cast<std::uint32_t>(period.count()));
    host.driver().StartPacing(period);
    const auto start = kernel::testing::StartRecord({});
    if (link.OpenCanDevice(common::Channel::CanOne, start.View()) != common::kKernelSuccess) {
      std::fprintf(stderr, "the driver link did not open\n");
      return 1;
    }
    data.state.SetCncInitialised(true);
    const auto deadline = Clock::now() + period * cycles * 4 + std::chrono::seconds(10);
    while (!steps.Done() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    data.state.SetCncInitialised(false);
    link.CloseCanDevice();

    const auto& seen = steps.Seen();
    if (seen.size() < 2) {
      std::fprintf(stderr, "the cycle completed no exchanges\n");
      return 1;
    }
    std::vector<double> periods;
    std::vector<double> deviations;
    const double driverPeriod = static_cast<double>(period.count());
    for (std::size_t i = 1; i < seen.size(); ++i) {
      const double microseconds =
          std::chrono::duration<double, std::micro>(seen[i] - seen[i - 1]).count();
      periods.push_back(microseconds);
      deviations.push_back(std::abs(microseconds - driverPeriod));
    }
    std::printf("cycles: %zu, driver period: %.0f us\n", seen.size(), driverPeriod);
    std::printf("period seen by the kernel: median %.1f us, p99 %.1f us\n",
                Percentile(periods, 0.5), Percentile(periods, 0.99));
    std::printf("deviation from the driver's period: median %.1f us, p99 %.1f us, max %.1f us\n",
                Percentile(deviations, 0.5), Percentile(deviations, 0.99),
                *std::max_element(deviations.begin(), deviations.end()));
    std::printf("cycle thread CPU time per cycle: %.1f us\n",
                static_cast<double>(steps.CpuNanoseconds()) / 1000.0 /
                    static_cast<double>(seen.size() - 1));
    if (seen.size() < cycles) status = 1;
  }
  if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  return status;
}

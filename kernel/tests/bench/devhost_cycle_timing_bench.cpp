// The real-time cycle against the real driver host on its simulated PCI
// card: the period between two completed exchanges as the cycle thread sees
// them (median, 99th percentile), their deviation from the cycle time the
// driver reports with each exchange (median, p99, max) and the CPU time the
// cycle thread spends per cycle.
//
// Usage: kernel_devhost_cycle_timing_bench [cycles]
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

#include "common/exchange_buffer.h"
#include "kernel/core/driver_link.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/process.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;
namespace eb = common::exchange_buffer;

std::int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

struct Sample {
  Clock::time_point seen;
  std::uint32_t driverMicroseconds;  // the cycles the driver counted since the last answer
};

// Runs on the cycle thread once per good exchange; the samples are kept in
// storage reserved before the cycle starts.
class TimingSteps final : public kernel::CycleSteps {
 public:
  explicit TimingSteps(std::size_t cycles) { samples_.reserve(cycles); }

  void ProcessMotion(common::ExchangeBuffer& exchange) noexcept override {
    if (samples_.size() == samples_.capacity()) return;
    if (samples_.empty()) firstCpu_ = ThreadCpuNanoseconds();
    samples_.push_back({Clock::now(), exchange.Get(eb::kCycleMicroseconds)});
    lastCpu_ = ThreadCpuNanoseconds();
  }

  bool Done() const { return samples_.size() == samples_.capacity(); }
  const std::vector<Sample>& Samples() const { return samples_; }
  std::int64_t CpuNanoseconds() const { return lastCpu_ - firstCpu_; }

 private:
  std::vector<Sample> samples_;
  std::int64_t firstCpu_ = 0;
  std::int64_t lastCpu_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

bool AwaitDevice() {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (os::DeviceHandle::Open("\\\\.\\tarnis1").error == os::DeviceOpenError::kNone) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int Measure(std::size_t cycles) {
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

  kernel::DriverLink link({data, request, block, steps}, kernel::DriverLinkTimings{});
  // The sample machine's bus at 1 Mbit/s, the initialisation file's defaults.
  kernel::testing::StartSettings settings;
  settings.bitRateCode = 7;
  settings.syncPeriod = 300000;
  settings.syncWait = 1000;
  const auto start = kernel::testing::StartRecord(settings);
  if (link.OpenCanDevice(common::Channel::CanOne, start.View()) != common::kKernelSuccess) {
    std::fprintf(stderr, "the driver link did not open\n");
    return 1;
  }
  data.state.SetCncInitialised(true);
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!steps.Done() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  data.state.SetCncInitialised(false);
  link.CloseCanDevice();

  const auto& samples = steps.Samples();
  if (samples.size() < 2) {
    std::fprintf(stderr, "the cycle completed no exchanges\n");
    return 1;
  }
  std::vector<double> periods;
  std::vector<double> deviations;
  std::vector<double> driverPeriods;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const double microseconds =
        std::chrono::duration<double, std::micro>(samples[i].seen - samples[i - 1].seen).count();
    const double driver = static_cast<double>(samples[i].driverMicroseconds);
    periods.push_back(microseconds);
    driverPeriods.push_back(driver);
    deviations.push_back(std::abs(microseconds - driver));
  }
  std::printf("cycles: %zu, driver cycle time: median %.0f us\n", samples.size(),
              Percentile(driverPeriods, 0.5));
  std::printf("period seen by the kernel: median %.1f us, p99 %.1f us\n", Percentile(periods, 0.5),
              Percentile(periods, 0.99));
  std::printf("deviation from the driver's cycle time: median %.1f us, p99 %.1f us, max %.1f us\n",
              Percentile(deviations, 0.5), Percentile(deviations, 0.99),
              *std::max_element(deviations.begin(), deviations.end()));
  std::printf("cycle thread CPU time per cycle: %.1f us\n",
              static_cast<double>(steps.CpuNanoseconds()) / 1000.0 /
                  static_cast<double>(samples.size() - 1));
  return samples.size() < cycles ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long requestedCycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
  const std::size_t cycles =
      requestedCycles > 10 ? static_cast<std::size_t>(requestedCycles) : 2000;

  const std::string space = "kernel-devhost-bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", space.c_str(), 1);

  int status = 1;
  auto devhost = os::Process::Start(VANTOR_DEVHOST_PROGRAM, {});
  if (!devhost) {
    std::fprintf(stderr, "the driver host did not start\n");
    return 1;
  }
  if (AwaitDevice()) {
    status = Measure(cycles);
  } else {
    std::fprintf(stderr, "the driver host serves no tarnis1 device\n");
  }
  static_cast<void>(devhost->Terminate(0));
  static_cast<void>(os::WaitForOne(*devhost, 10000));
  devhost->Close();
  if (auto folder = os::RuntimeDirectory()) ::rmdir(folder->c_str());
  return status;
}

#include "kernel/tests/bench/cycle_timing.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/os/bench/period_floor.h"

namespace vantor::kernel::bench {

namespace {

namespace eb = common::exchange_buffer;

std::int64_t ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

void PrintFigures(const TimingSteps& steps, std::optional<double> driverPeriodMicroseconds,
                  double cycleMicroseconds, const os::bench::SleepFloor& floor,
                  const std::vector<double>& floorPeriods) {
  const auto& samples = steps.Samples();
  std::vector<double> periods;
  std::vector<double> deviations;
  std::vector<double> driverPeriods;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const double microseconds =
        std::chrono::duration<double, std::micro>(samples[i].seen - samples[i - 1].seen).count();
    const double driver =
        driverPeriodMicroseconds.value_or(static_cast<double>(samples[i].driverMicroseconds));
    periods.push_back(microseconds);
    driverPeriods.push_back(driver);
    deviations.push_back(std::abs(microseconds - driver));
  }
  const char* reference = driverPeriodMicroseconds ? "period" : "cycle time";
  if (driverPeriodMicroseconds) {
    std::printf("cycles: %zu, driver period: %.0f us\n", samples.size(), *driverPeriodMicroseconds);
  } else {
    std::printf("cycles: %zu, driver cycle time: median %.0f us\n", samples.size(),
                Percentile(driverPeriods, 0.5));
  }
  std::printf("period seen by the kernel: median %.1f us, p99 %.1f us\n", Percentile(periods, 0.5),
              Percentile(periods, 0.99));
  std::printf("deviation from the driver's %s: median %.1f us, p99 %.1f us, max %.1f us\n",
              reference, Percentile(deviations, 0.5), Percentile(deviations, 0.99),
              *std::max_element(deviations.begin(), deviations.end()));
  // The driver counts what passed since its last answer: whole cycles.
  os::bench::PeriodFigures cycle = os::bench::FiguresOf(periods, cycleMicroseconds);
  cycle.missed = 0;
  for (const double driver : driverPeriods) {
    const auto counted = std::llround(driver / cycleMicroseconds);
    if (counted > 1) cycle.missed += static_cast<std::uint64_t>(counted - 1);
  }
  std::printf("deviation from the %.0f us cycle:\n", cycleMicroseconds);
  os::bench::PrintFigures("exchange completion (cycle thread):", cycle);
  os::bench::PrintFigures(floor.RealTime() ? "floor, SCHED_FIFO clock_nanosleep:"
                                           : "floor, clock_nanosleep (normal):",
                          os::bench::FiguresOf(floorPeriods, cycleMicroseconds));
  std::printf("cycle thread CPU time per cycle: %.1f us\n",
              static_cast<double>(steps.CpuNanoseconds()) / 1000.0 /
                  static_cast<double>(samples.size() - 1));
}

}  // namespace

void TimingSteps::ProcessMotion(common::ExchangeBuffer& exchange) noexcept {
  if (samples_.size() == samples_.capacity()) return;
  if (samples_.empty()) firstCpu_ = ThreadCpuNanoseconds();
  samples_.push_back({Clock::now(), exchange.Get(eb::kCycleMicroseconds)});
  lastCpu_ = ThreadCpuNanoseconds();
}

TimedCycle::TimedCycle(std::size_t cycles, DriverLinkTimings timings)
    : block_(os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take()),
      steps_(cycles),
      link_({data_, request_, block_, steps_}, timings) {
  data_.motionMutex = os::Mutex::CreateUnnamed(false).take();
  data_.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
  data_.globalRequestMutex = os::Mutex::CreateUnnamed(false).take();
  data_.canObjectListMutex = os::Mutex::CreateUnnamed(false).take();
  data_.state.busOk = 1;
  request_.completion = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
}

int TimedCycle::Measure(const common::CanStartRecord& start, Clock::duration timeout,
                        std::optional<double> driverPeriodMicroseconds, double cycleMicroseconds) {
  if (link_.OpenCanDevice(common::Channel::CanOne, start.View()) != common::kKernelSuccess) {
    std::fprintf(stderr, "the driver link did not open\n");
    return 1;
  }
  os::bench::SleepFloor floor(cycleMicroseconds, steps_.Samples().capacity());
  data_.state.SetCncInitialised(true);
  const auto deadline = Clock::now() + timeout;
  while (!steps_.Done() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  data_.state.SetCncInitialised(false);
  const std::vector<double>& floorPeriods = floor.Stop();
  link_.CloseCanDevice();

  if (steps_.Samples().size() < 2) {
    std::fprintf(stderr, "the cycle completed no exchanges\n");
    return 1;
  }
  PrintFigures(steps_, driverPeriodMicroseconds, cycleMicroseconds, floor, floorPeriods);
  return steps_.Done() ? 0 : 1;
}

}  // namespace vantor::kernel::bench

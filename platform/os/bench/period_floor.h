// The floor beside a cycle benchmark: while the benchmark measures its
// cycle, a thread of the kernel cycle's real-time class (where permitted)
// sleeps to absolute deadlines at the same period with clock_nanosleep, and
// both print the same figures. The floor is what the machine gives a plain
// periodic thread at that moment, under whatever load it carries.
#pragma once

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/os/realtime_policy.h"

namespace vantor::os::bench {

struct PeriodFigures {
  std::size_t periods = 0;
  double medianMicroseconds = 0.0;
  double p99Microseconds = 0.0;
  double maxMicroseconds = 0.0;
  std::uint64_t missed = 0;
};

inline double PercentileOf(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

// Deviations of `periods` (microseconds) from `periodMicroseconds`. A period
// that spans several cycles counts the cycles it skipped as missed.
inline PeriodFigures FiguresOf(const std::vector<double>& periods, double periodMicroseconds) {
  PeriodFigures figures;
  figures.periods = periods.size();
  std::vector<double> deviations;
  deviations.reserve(periods.size());
  for (const double period : periods) {
    deviations.push_back(std::abs(period - periodMicroseconds));
    const auto cycles = std::llround(period / periodMicroseconds);
    if (cycles > 1) figures.missed += static_cast<std::uint64_t>(cycles - 1);
  }
  figures.medianMicroseconds = PercentileOf(deviations, 0.5);
  figures.p99Microseconds = PercentileOf(deviations, 0.99);
  figures.maxMicroseconds =
      deviations.empty() ? 0.0 : *std::max_element(deviations.begin(), deviations.end());
  return figures;
}

inline void PrintFigures(const char* label, const PeriodFigures& figures) {
  std::printf("  %-34s p50 %8.1f us  p99 %8.1f us  max %8.1f us  missed %6llu  (%zu periods)\n",
              label, figures.medianMicroseconds, figures.p99Microseconds, figures.maxMicroseconds,
              static_cast<unsigned long long>(figures.missed), figures.periods);
}

class SleepFloor {
 public:
  // Starts the loop at once; it records at most `maxPeriods` periods.
  SleepFloor(double periodMicroseconds, std::size_t maxPeriods)
      : periodNanoseconds_(static_cast<std::int64_t>(periodMicroseconds * 1000.0)) {
    periods_.reserve(maxPeriods);
    thread_ = std::thread([this] { Run(); });
  }
  ~SleepFloor() { Stop(); }
  SleepFloor(const SleepFloor&) = delete;
  SleepFloor& operator=(const SleepFloor&) = delete;

  // Ends the loop (within one period) and returns its periods.
  const std::vector<double>& Stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
    return periods_;
  }
  bool RealTime() const { return realTime_.load(); }

 private:
  static std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
  }
  static timespec TimeOf(std::int64_t nanoseconds) {
    return timespec{static_cast<time_t>(nanoseconds / 1'000'000'000),
                    static_cast<long>(nanoseconds % 1'000'000'000)};
  }
  static std::int64_t Now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return Nanoseconds(now);
  }

  void Run() {
    realTime_.store(ApplyRealTimeRole(RealTimeRole::kKernelCycle));
    std::int64_t previous = Now();
    std::int64_t next = previous + periodNanoseconds_;
    while (!stopping_.load() && periods_.size() < periods_.capacity()) {
      const timespec deadline = TimeOf(next);
      ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
      const std::int64_t now = Now();
      periods_.push_back(static_cast<double>(now - previous) / 1000.0);
      previous = now;
      next += periodNanoseconds_;
      // Woken a whole period late or more: the periods in between are
      // missed, and the loop goes on from now instead of catching up
      // without sleeping.
      if (next <= now) next = now + periodNanoseconds_;
    }
  }

  const std::int64_t periodNanoseconds_;
  std::vector<double> periods_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> realTime_{false};
  std::thread thread_;
};

}  // namespace vantor::os::bench

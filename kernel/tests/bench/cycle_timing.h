// The real-time cycle timed from its own thread, for the cycle benchmarks:
// the kernel's side of a driver link whose cycle records when each good
// exchange completed, and the figures printed from those records.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/kernel_link_records.h"
#include "kernel/core/driver_link.h"

namespace vantor::kernel::bench {

using Clock = std::chrono::steady_clock;

// One good exchange as the cycle thread saw it.
struct CycleSample {
  Clock::time_point seen;
  std::uint32_t driverMicroseconds;  // the cycles the driver counted since the last answer
};

// Runs on the cycle thread once per good exchange; the samples are kept in
// storage reserved before the cycle starts.
class TimingSteps final : public CycleSteps {
 public:
  explicit TimingSteps(std::size_t cycles) { samples_.reserve(cycles); }

  void ProcessMotion(common::ExchangeBuffer& exchange) noexcept override;

  bool Done() const { return samples_.size() == samples_.capacity(); }
  const std::vector<CycleSample>& Samples() const { return samples_; }
  std::int64_t CpuNanoseconds() const { return lastCpu_ - firstCpu_; }

 private:
  std::vector<CycleSample> samples_;
  std::int64_t firstCpu_ = 0;
  std::int64_t lastCpu_ = 0;
};

// The kernel's records around a driver link whose cycle runs the timing
// steps, made as the kernel makes them.
class TimedCycle {
 public:
  TimedCycle(std::size_t cycles, DriverLinkTimings timings);

  // Opens the link on channel 1 with `start`, lets the cycle run until the
  // steps hold every sample or `timeout` passes, closes the link and prints
  // the figures. The periods the kernel saw are compared with
  // `driverPeriodMicroseconds` where given, otherwise with the cycle time
  // the driver reported with each exchange; beside them the deviations from
  // the nominal `cycleMicroseconds` and those of a real-time sleep loop at
  // that period, measured meanwhile (the floor). 0 when every cycle was seen.
  int Measure(const common::CanStartRecord& start, Clock::duration timeout,
              std::optional<double> driverPeriodMicroseconds, double cycleMicroseconds);

 private:
  KernelData data_;
  ApplicationCanRequest request_;
  os::Mapping block_;
  TimingSteps steps_;
  DriverLink link_;
};

}  // namespace vantor::kernel::bench

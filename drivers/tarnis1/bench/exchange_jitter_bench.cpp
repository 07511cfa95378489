// Cycle-period jitter of the exchange completion on the real clock: the
// channel-1 driver on the simulated card runs the kernel's buffered cycle
// (d = 4, N = 5: 2560 microseconds) for ten seconds while a client keeps
// one exchange request outstanding, and the program prints the median,
// 99th percentile and largest deviation of the completion periods.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "common/driver_requests.h"
#include "common/exchange_buffer.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "drivers/tarnis1/tarnis1_entry.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"

namespace {

using namespace vantor;

constexpr auto kDuration = std::chrono::seconds(10);
constexpr double kCycleMicroseconds = 2560.0;

class WaitingSink final : public devhost::CompletionSink {
 public:
  void Deliver(devhost::IoRequest& request) override {
    std::lock_guard lock(mutex_);
    status_ = request.Status();
    done_ = true;
    condition_.notify_all();
  }
  bool Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, limit, [this] { return done_; }) &&
           status_ == os::kStatusSuccess;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool done_ = false;
  devhost::IoStatus status_ = 0;
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

}  // namespace

int main() {
  devhost::RealClock clock;
  sim::MachineLoadResult loaded = sim::LoadMachineDescription(host::DefaultHostMachineDescription(),
                                                              host::MachineStationKinds());
  if (!loaded) {
    std::fprintf(stderr, "machine: %s\n", loaded.error.c_str());
    return 1;
  }
  host::SimulatedMachine machine(clock, std::move(loaded.machine));
  devhost::DriverHost host(clock);
  std::string error;
  if (!machine.Attach(host, error)) {
    std::fprintf(stderr, "attach: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<host::LoadedDriver> driver;
  if (tarnis1::Tarnis1DriverEntry(host, machine.Resources(), driver) != os::kStatusSuccess) {
    std::fprintf(stderr, "tarnis1 did not load\n");
    return 1;
  }
  std::shared_ptr<devhost::FileObject> file;
  host.OpenForUser("tarnis1", file);

  namespace rr = common::run_record;
  common::RunRecord run;
  run.Set(rr::kInterfaceKind, std::uint8_t{2});
  run.Set(rr::kChannel, std::uint8_t{1});
  run.Set(rr::kTickClockDivider, std::uint8_t{4});
  run.Set(rr::kBitRateCode, std::uint8_t{5});  // the sample machine's 500 kbit/s
  run.Set(rr::kCycleDivider, std::int16_t{5});
  run.Set(rr::kRunMode, std::uint8_t{1});
  run.Set(rr::kFillLimit, std::int16_t{498});
  run.Set(rr::kPollInterval, std::int32_t{1});
  run.Set(rr::kPollBudget, std::int32_t{100});
  auto started = std::make_shared<WaitingSink>();
  host.DispatchUserRequest(file, 1, common::IOCTL_CAN_START_RUN, run.Bytes(), 4, started);
  started->Wait(std::chrono::milliseconds(1000));

  const common::ExchangeBuffer buffer;
  std::vector<double> periods;
  auto last = std::chrono::steady_clock::now();
  const auto end = last + kDuration;
  for (std::uint32_t id = 2; std::chrono::steady_clock::now() < end; ++id) {
    auto sink = std::make_shared<WaitingSink>();
    host.DispatchUserRequest(file, id, common::IOCTL_CAN_CYCLIC_EXCHANGE, buffer.Bytes(),
                             common::kExchangeBufferSize, sink);
    if (!sink->Wait(std::chrono::milliseconds(1500))) {
      std::fprintf(stderr, "an exchange did not complete\n");
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    periods.push_back(std::chrono::duration<double, std::micro>(now - last).count());
    last = now;
  }
  if (!periods.empty()) periods.erase(periods.begin());  // the first waits for the run's start

  std::vector<double> deviations;
  for (const double period : periods) deviations.push_back(std::abs(period - kCycleMicroseconds));
  std::printf("exchange completions: %zu over %lld s, cycle %.0f us\n", periods.size(),
              static_cast<long long>(kDuration.count()), kCycleMicroseconds);
  std::printf("deviation median %.1f us, p99 %.1f us, max %.1f us\n", Percentile(deviations, 0.5),
              Percentile(deviations, 0.99),
              deviations.empty() ? 0.0 : *std::max_element(deviations.begin(), deviations.end()));

  host.CloseFile(file);
  driver.reset();
  machine.Detach();
  return 0;
}

// Host CPU time the tick costs, on the virtual clock over the simulated
// card: a plain tick, and a tick that reaches the exchange point together
// with the deferred completion of the request. Prints its figures.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/driver_requests.h"
#include "drivers/canlayer/tests/card_fixture.h"
#include "drivers/canlayer/tests/simulated_card_host.h"

namespace {

using namespace vantor;

double CpuNanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The card host with the test's front-end loaded on channel 1 and one
// handle open on it.
class Bench : private canlayer::testing::SimulatedCardHost {
 public:
  Bench() {
    driver_ = std::make_unique<canlayer::testing::TestCardDriver>(
        *host_, *card_, canlayer::testing::TestCardDriver::Config{});
    if (host_->OpenForUser("tarnis1", file_) != os::kStatusSuccess) std::abort();
  }

  ~Bench() {
    host_->CloseFile(file_);
    driver_.reset();
  }

  void StartRun(std::int16_t cycleDivider) {
    canlayer::testing::RunRecordFields fields;
    fields.cycleDivider = cycleDivider;
    const common::RunRecord record = canlayer::testing::MakeRunRecord(fields);
    Send(common::IOCTL_CAN_START_RUN, record.Bytes());
  }

  std::shared_ptr<canlayer::testing::ReplySink> Send(std::uint32_t code,
                                                     std::span<const std::uint8_t> input) {
    auto sink = std::make_shared<canlayer::testing::ReplySink>(clock_);
    host_->DispatchUserRequest(file_, 1, code, input, common::FindDriverRequest(code)->outputLength,
                               sink);
    return sink;
  }

  // Moves machine and clock to the next tick edge (not timed).
  void ToNextTick() { StepClockAndModels(sim::kNever); }

  void ServiceTick() { pump_.ServiceRaisedInterrupts(); }
  void WaitDeferredCalls() {
    host_->WaitDeferredCallsIdle(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  }

 private:
  std::unique_ptr<canlayer::testing::TestCardDriver> driver_;
  std::shared_ptr<devhost::FileObject> file_;
};

constexpr int kTicks = 20000;

void PlainTicks() {
  Bench bench;
  bench.StartRun(5);
  double spent = 0;
  for (int i = 0; i < kTicks; ++i) {
    bench.ToNextTick();
    const double before = CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID);
    bench.ServiceTick();
    spent += CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID) - before;
  }
  std::printf("tick without exchange point: %8.0f ns host CPU per tick (%d ticks)\n",
              spent / kTicks, kTicks);
}

void ExchangePoints() {
  Bench bench;
  bench.StartRun(1);
  const common::ExchangeBuffer buffer;
  double tickSpent = 0;
  double processSpent = 0;
  for (int i = 0; i < kTicks; ++i) {
    const auto reply = bench.Send(common::IOCTL_CAN_CYCLIC_EXCHANGE, buffer.Bytes());
    bench.ToNextTick();
    const double processBefore = CpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID);
    const double before = CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID);
    bench.ServiceTick();
    tickSpent += CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID) - before;
    bench.WaitDeferredCalls();
    processSpent += CpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    if (!reply->Done()) std::abort();
  }
  std::printf("tick at an exchange point:   %8.0f ns host CPU in the tick\n", tickSpent / kTicks);
  std::printf("exchange point + completion: %8.0f ns host CPU, all threads (%d exchanges)\n",
              processSpent / kTicks, kTicks);
}

}  // namespace

int main() {
  PlainTicks();
  ExchangePoints();
  return 0;
}

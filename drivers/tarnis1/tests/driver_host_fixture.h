// A driver runtime on the virtual clock with a simulated machine placed in
// its hardware space (the devhost program's own glue), so that a driver
// under test loads from the machine's resources and reaches the models
// exactly as it does in the program. Time moves only when a test steps it;
// after every step the devices' deferred calls are waited for, so each run
// sees the same order of events.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "common/exchange_buffer.h"
#include "drivers/canlayer/tests/card_fixture.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"

namespace vantor::frontends::testing {

using canlayer::testing::MakeRunRecord;
using canlayer::testing::ReplySink;
using canlayer::testing::RunRecordFields;

inline constexpr auto kTestDeadline = std::chrono::seconds(20);
inline constexpr devhost::Ticks kStep = devhost::MicrosecondsToTicks(64);

// One card on can0/can1, a parallel port with its adapter on can2, and an
// I/O module on every bus so that frames find an acknowledge.
inline constexpr std::string_view kTestMachine = R"({
  "buses": [
    { "name": "can0", "stations": [ { "kind": "canopen_io_module", "node_id": 10, "boot_time_ms": 1 } ] },
    { "name": "can1", "stations": [ { "kind": "canopen_io_module", "node_id": 11, "boot_time_ms": 1 } ] },
    { "name": "can2", "stations": [ { "kind": "canopen_io_module", "node_id": 12, "boot_time_ms": 1 } ] }
  ],
  "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7, "adapter": { "bus": "can2" } } ]
})";

// A stand-in for a driver that keeps every request and never answers it,
// until the test lets them go.
class SilentDriver final : public devhost::DeviceDispatch {
 public:
  ~SilentDriver() override { CancelHeld(); }
  void DeviceControl(devhost::IoRequest& request) override {
    std::lock_guard lock(mutex_);
    held_.push_back(request.MarkPending());
  }
  std::size_t HeldCount() {
    std::lock_guard lock(mutex_);
    return held_.size();
  }
  void CancelHeld() {
    std::vector<devhost::PendingRequest> held;
    {
      std::lock_guard lock(mutex_);
      held.swap(held_);
    }
    for (const auto& request : held) request->Complete(os::kStatusCancelled);
  }

 private:
  std::mutex mutex_;
  std::vector<devhost::PendingRequest> held_;
};

class DriverHostFixture : public ::testing::Test {
 protected:
  explicit DriverHostFixture(std::string_view description = kTestMachine) {
    sim::MachineLoadResult loaded =
        sim::LoadMachineDescription(description, host::MachineStationKinds());
    EXPECT_TRUE(loaded) << loaded.error;
    machine_ = std::make_unique<host::SimulatedMachine>(clock_, std::move(loaded.machine));
    host_ = std::make_unique<devhost::DriverHost>(clock_);
    std::string error;
    EXPECT_TRUE(machine_->Attach(*host_, error)) << error;
  }

  // Handles go before their drivers, as in the program, and the pump stops
  // before the host whose interrupt lines it calls.
  // A driver may wait on the clock while a handle closes (the port's
  // set-up after a run), so time keeps moving meanwhile.
  void TearDown() override {
    RunWhileStepping([this] {
      for (const auto& file : openFiles_) host_->CloseFile(file);
      openFiles_.clear();
      UnloadDrivers();
    });
    machine_->Detach();
  }

  // Runs `work` on a helper thread while the test's thread steps the clock.
  void RunWhileStepping(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      work();
      done.store(true);
    });
    const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
      clock_.Advance(devhost::MillisecondsToTicks(5));
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    worker.join();
  }

  // Runs `work`, which sends one request to `silent` and must give up on
  // its time-out, on a helper thread: steps the clock to just before
  // `timeout` after the request arrived, then to it, and returns the clock
  // time `work` took from the request on; nothing when it did not end at
  // the time-out (the held request is then cancelled to let it go).
  std::optional<devhost::Ticks> TimeUntilGivingUp(SilentDriver& silent,
                                                  const std::function<void()>& work,
                                                  devhost::Ticks timeout) {
    constexpr devhost::Ticks kProbeStep = devhost::MillisecondsToTicks(50);
    std::atomic<bool> done{false};
    std::atomic<devhost::Ticks> endedAt{0};
    const devhost::Ticks started = clock_.Now();
    std::thread worker([&] {
      work();
      endedAt.store(clock_.Now());
      done.store(true);
    });
    const auto realDeadline = std::chrono::steady_clock::now() + kTestDeadline;
    const auto waitReal = [&](const std::function<bool()>& condition) {
      while (!condition() && std::chrono::steady_clock::now() < realDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return condition();
    };
    std::optional<devhost::Ticks> took;
    if (waitReal([&] { return silent.HeldCount() > 0 || done.load(); }) && done.load()) {
      took = endedAt.load() - started;  // gave up without waiting at all
    } else if (silent.HeldCount() > 0) {
      const devhost::Ticks sent = clock_.Now();
      // Short steps, each with a moment for a worker woken early to say
      // when: an early time-out shows as a time short of `timeout`.
      while (!done.load() && clock_.Now() < sent + timeout - 1) {
        clock_.Advance(std::min(kProbeStep, sent + timeout - 1 - clock_.Now()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (!done.load()) clock_.Advance(1);
      if (waitReal([&] { return done.load(); })) took = endedAt.load() - sent;
    }
    silent.CancelHeld();
    worker.join();
    return took;
  }

  // The subclass unloads its drivers here, in reverse load order.
  virtual void UnloadDrivers() {}

  devhost::IoStatus TryOpen(std::shared_ptr<devhost::FileObject>& file, const char* link) {
    const devhost::IoStatus status = host_->OpenForUser(link, file);
    if (os::IoSucceeded(status)) openFiles_.push_back(file);
    return status;
  }
  std::shared_ptr<devhost::FileObject> Open(const char* link) {
    std::shared_ptr<devhost::FileObject> file;
    EXPECT_EQ(TryOpen(file, link), os::kStatusSuccess) << link;
    return file;
  }
  void Close(const std::shared_ptr<devhost::FileObject>& file) { host_->CloseFile(file); }

  std::shared_ptr<ReplySink> Send(const std::shared_ptr<devhost::FileObject>& file,
                                  std::uint32_t code, std::span<const std::uint8_t> input = {},
                                  std::optional<std::uint32_t> outputLength = std::nullopt) {
    auto sink = std::make_shared<ReplySink>(clock_);
    SendTo(sink, file, code, input, outputLength);
    return sink;
  }

  // A request that completes without time passing: its status word.
  std::uint32_t Status(const std::shared_ptr<devhost::FileObject>& file, std::uint32_t code,
                       std::span<const std::uint8_t> input = {}) {
    return StatusOf(*Send(file, code, input), code);
  }

  // A request whose handler waits on the clock (port set-up delays): sent
  // from a helper thread while the test steps time until it completes.
  std::uint32_t StatusWhileStepping(const std::shared_ptr<devhost::FileObject>& file,
                                    std::uint32_t code, std::span<const std::uint8_t> input = {}) {
    auto sink = std::make_shared<ReplySink>(clock_);
    RunWhileStepping([&] { SendTo(sink, file, code, input, std::nullopt); });
    EXPECT_TRUE(sink->Done()) << "the request never completed";
    return StatusOf(*sink, code);
  }

  std::uint32_t StartRun(const std::shared_ptr<devhost::FileObject>& file,
                         const RunRecordFields& fields) {
    const common::RunRecord record = MakeRunRecord(fields);
    return Status(file, common::IOCTL_CAN_START_RUN, record.Bytes());
  }

  std::shared_ptr<ReplySink> Exchange(const std::shared_ptr<devhost::FileObject>& file,
                                      const common::ExchangeBuffer& buffer = {}) {
    return Send(file, common::IOCTL_CAN_CYCLIC_EXCHANGE, buffer.Bytes());
  }

  // Steps the clock in small steps, letting deferred calls finish after each.
  void Advance(devhost::Ticks duration) {
    const devhost::Ticks end = clock_.Now() + duration;
    while (clock_.Now() < end) {
      clock_.Advance(std::min(kStep, end - clock_.Now()));
      ASSERT_TRUE(host_->WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kTestDeadline));
    }
  }

  // Steps until `done` holds; false when `limit` of clock time passed first.
  bool AdvanceUntil(const std::function<bool()>& done, devhost::Ticks limit) {
    const devhost::Ticks end = clock_.Now() + limit;
    while (!done()) {
      if (clock_.Now() >= end) return false;
      Advance(kStep);
    }
    return true;
  }

  // Runs `look` on the models with the pump held still.
  template <typename Look>
  auto Models(Look&& look) {
    host::SimulationPump::ModelAccess access(machine_->Pump());
    return look(machine_->Models());
  }

  devhost::VirtualClock clock_;
  std::unique_ptr<host::SimulatedMachine> machine_;
  std::unique_ptr<devhost::DriverHost> host_;
  std::vector<std::shared_ptr<devhost::FileObject>> openFiles_;
  std::atomic<std::uint32_t> requestId_{0};

 private:
  static std::uint32_t StatusOf(const ReplySink& sink, std::uint32_t code) {
    EXPECT_TRUE(sink.Done());
    EXPECT_EQ(sink.Status(), os::kStatusSuccess);
    const common::DriverRequest* row = common::FindDriverRequest(code);
    return row != nullptr && row->HasStatusWord() ? sink.Word(row->statusOffset) : 0xFFFFFFFF;
  }
  void SendTo(const std::shared_ptr<ReplySink>& sink,
              const std::shared_ptr<devhost::FileObject>& file, std::uint32_t code,
              std::span<const std::uint8_t> input, std::optional<std::uint32_t> outputLength) {
    const common::DriverRequest* row = common::FindDriverRequest(code);
    const std::uint32_t length = outputLength ? *outputLength : (row ? row->outputLength : 0);
    host_->DispatchUserRequest(file, ++requestId_, code, input, length, sink);
  }
};

}  // namespace vantor::frontends::testing

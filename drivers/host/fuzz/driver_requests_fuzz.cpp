// Feeds arbitrary requests to the CAN drivers the host carries (both
// channels of the card and the parallel-port adapter, through the shared
// CAN layer) on the sample machine, on the virtual clock: codes of the
// request set and beyond, exact and wrong lengths, any record contents,
// from several handles, with time passing between them.
//
// Every request is completed exactly once (at the latest when its handle
// closes), a refused one returns no data, and none returns more than its
// output length.
//
// Input: records of [handle][code][length choice][time][input...]; the
// code byte picks a function number (0x800..0x85F), the length choice
// either the lengths the device demands (even values) or lengths taken from
// the next input bytes; the time byte steps the clock by up to 2.5 ms.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/driver_requests.h"
#include "common/fuzz_input.h"
#include "drivers/host/driver_loading.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/device_object.h"
#include "platform/devhost/driver_host.h"

namespace {

using vantor::common::FuzzInput;
using vantor::common::FuzzRequire;

using namespace vantor;

class CountingSink final : public devhost::CompletionSink {
 public:
  explicit CountingSink(std::uint32_t outputLength) : outputLength_(outputLength) {}
  void Deliver(devhost::IoRequest& request) override {
    std::lock_guard lock(mutex_);
    ++deliveries_;
    FuzzRequire(request.Information() <= outputLength_);
    if (request.Status() != os::kStatusSuccess) FuzzRequire(request.Information() == 0);
  }
  int Deliveries() const {
    std::lock_guard lock(mutex_);
    return deliveries_;
  }

 private:
  const std::uint32_t outputLength_;
  mutable std::mutex mutex_;
  int deliveries_ = 0;
};

constexpr std::array<const char*, 4> kLinks = {"tarnis1", "tarnis2", "Ravund", "tarnis1"};
constexpr int kMaxRequests = 48;
constexpr devhost::Ticks kTimeStep = 10 * devhost::kTicksPerMicrosecond;
constexpr auto kGrace = std::chrono::seconds(20);

// The devices live as long as the process: loading them is the slow part.
struct Host {
  devhost::VirtualClock clock;
  std::unique_ptr<host::SimulatedMachine> machine;
  std::unique_ptr<devhost::DriverHost> driverHost;
  host::DriverSet drivers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Host* const shared = [] {
    auto* made = new Host;
    sim::MachineLoadResult loaded = host::LoadHostMachine("");
    FuzzRequire(static_cast<bool>(loaded));
    made->machine =
        std::make_unique<host::SimulatedMachine>(made->clock, std::move(loaded.machine));
    made->driverHost = std::make_unique<devhost::DriverHost>(made->clock);
    std::string error;
    FuzzRequire(made->machine->Attach(*made->driverHost, error));
    made->drivers.Load(host::HostDrivers(), *made->driverHost, made->machine->Resources(),
                       [](const std::string&) {});
    return made;
  }();
  devhost::DriverHost& driverHost = *shared->driverHost;

  std::array<std::shared_ptr<devhost::FileObject>, kLinks.size()> files;
  for (std::size_t i = 0; i < kLinks.size(); ++i) {
    (void)driverHost.OpenForUser(kLinks[i], files[i]);
  }
  FuzzInput input(data, size);
  std::vector<std::shared_ptr<CountingSink>> sinks;
  for (int n = 0; n < kMaxRequests && !input.AtEnd(); ++n) {
    const std::size_t handle = input.Byte() % files.size();
    const std::uint32_t code = common::CanControlCode(0x800 + input.Byte() % 0x60);
    const std::uint8_t lengthChoice = input.Byte();
    const std::uint8_t time = input.Byte();
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    const auto& file = files[handle];
    const devhost::RequestSpec* spec = file ? file->Device().FindRequest(code) : nullptr;
    if (spec != nullptr && lengthChoice % 2 == 0) {
      inputLength = spec->inputLength;
      outputLength = spec->outputLength;
    } else {
      inputLength = input.Word() % 0x4000;
      outputLength = input.Word() % 0x4000;
    }
    std::vector<std::uint8_t> bytes(inputLength, 0);
    const auto given = input.Take(inputLength);
    std::copy(given.begin(), given.end(), bytes.begin());
    if (file) {
      auto sink = std::make_shared<CountingSink>(outputLength);
      driverHost.DispatchUserRequest(file, static_cast<std::uint32_t>(n), code, bytes, outputLength,
                                     sink);
      sinks.push_back(sink);
    }
    shared->clock.Advance(kTimeStep * time);
    FuzzRequire(driverHost.WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kGrace));
  }
  for (auto& file : files) {
    if (file) driverHost.CloseFile(file);
  }
  FuzzRequire(driverHost.WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kGrace));
  for (const auto& sink : sinks) FuzzRequire(sink->Deliveries() == 1);
  return 0;
}

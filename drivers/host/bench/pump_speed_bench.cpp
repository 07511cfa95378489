// How fast the virtual clock can run the built-in machine with the card's
// tick going and a handler on it: the ceiling of the devhost's fast clock.
// Prints simulated time per second of wall time and the handler count.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "drivers/host/tests/card_tick.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"

namespace {

using namespace vantor;

using host::testing::kBridgeWindow;
using host::testing::kCardInterrupt;
using host::testing::kControllerWindow;
constexpr devhost::Ticks kStep = devhost::MicrosecondsToTicks(10);
constexpr devhost::Ticks kSimulated = devhost::MillisecondsToTicks(2000);

int Run() {
  sim::MachineLoadResult loaded = host::LoadHostMachine("");
  if (!loaded) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    return 1;
  }
  devhost::VirtualClock clock;
  host::SimulatedMachine machine(clock, std::move(loaded.machine));
  devhost::DriverHost driverHost(clock);
  std::string error;
  if (!machine.Attach(driverHost, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  devhost::RegisterWindow bridge = *driverHost.Hardware().MapIoSpace(kBridgeWindow, 0x80);
  devhost::RegisterWindow controller = *driverHost.Hardware().MapIoSpace(kControllerWindow, 0x200);

  std::uint64_t handled = 0;
  std::shared_ptr<devhost::InterruptObject> connection;
  devhost::InterruptSettings settings;
  settings.vector = kCardInterrupt;
  driverHost.Interrupt(kCardInterrupt)
      .Connect(
          settings,
          [&] {
            ++handled;
            host::testing::ClearCardTickEdge(bridge);
            return true;
          },
          connection);
  host::testing::StartCardTick(controller, bridge);

  const auto started = std::chrono::steady_clock::now();
  for (devhost::Ticks done = 0; done < kSimulated; done += kStep) clock.Advance(kStep);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  connection->Disconnect();
  machine.Detach();
  const double simulated = static_cast<double>(kSimulated) / devhost::kPerformanceFrequency;
  std::printf("simulated %.3f s in %.3f s wall: %.1f x real time\n", simulated, wall,
              simulated / wall);
  std::printf("tick handlers run: %llu (%.0f per wall second)\n",
              static_cast<unsigned long long>(handled), static_cast<double>(handled) / wall);
  return 0;
}

}  // namespace

int main() { return Run(); }

// Feeds arbitrary machine descriptions to the loader with every station
// kind the host offers. A description is either refused with an error that
// says what was wrong, or it builds a machine that runs: the host places it
// in its hardware space (or says why it cannot), its nodes are started and
// the simulation advances without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/fuzz_input.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"
#include "sim/can_frame.h"
#include "sim/hardware/can_bus.h"

namespace {

using vantor::common::FuzzRequire;

using namespace vantor;

// Starts every node on the bus, as the kernel does after its boot-up wait.
sim::CanFrame StartAllNodes() {
  sim::CanFrame frame;
  frame.identifier = 0x000;
  frame.length = 2;
  frame.data[0] = 0x01;
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const sim::StationKinds kinds = host::MachineStationKinds();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::MachineLoadResult loaded = sim::LoadMachineDescription(text, kinds);
  if (!loaded) {
    FuzzRequire(!loaded.error.empty());
    return 0;
  }
  FuzzRequire(loaded.error.empty());
  sim::Machine& machine = *loaded.machine;
  machine.Sim().AdvanceBy(50 * sim::kNanosecondsPerMillisecond);
  for (const auto& bus : machine.Buses()) bus->DeliverNow(StartAllNodes());
  machine.Sim().AdvanceBy(50 * sim::kNanosecondsPerMillisecond);

  devhost::VirtualClock clock;
  host::SimulatedMachine placed(clock, std::move(loaded.machine));
  devhost::DriverHost driverHost(clock);
  std::string error;
  if (placed.Attach(driverHost, error)) {
    clock.Advance(10 * devhost::kTicksPerMillisecond);
    placed.Detach();
  } else {
    FuzzRequire(!error.empty());
  }
  return 0;
}

// Feeds arbitrary lines to the driver host's control endpoint commands (the
// built-in ones and those of the simulated machine and its nodes) on the
// sample machine, on the virtual clock. Node, step, bus-fault and
// adapter-stuck commands answer "ok" or "error: <why>", whatever follows.
//
// Input: up to 32 lines separated by newlines, each run as one message. A
// step beyond a second of virtual time is left out: the simulated machine
// then runs for as long as asked, which tells nothing new and only slows
// the search.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "common/fuzz_input.h"
#include "drivers/host/frame_log.h"
#include "drivers/host/machine_control.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/control_endpoint.h"
#include "platform/devhost/driver_host.h"

namespace {

using vantor::common::FuzzRequire;

using namespace vantor;

constexpr int kMaxLines = 32;
constexpr std::size_t kMaxStepDigits = 6;  // microseconds

bool StepsTooFar(std::string_view command) {
  if (!command.starts_with("step ")) return false;
  const std::string_view number = command.substr(5);
  return number.find_first_not_of(' ') != std::string_view::npos &&
         number.size() - number.find_first_not_of(' ') > kMaxStepDigits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const sim::StationKinds kinds = host::MachineStationKinds();
  sim::MachineLoadResult loaded =
      sim::LoadMachineDescription(host::DefaultHostMachineDescription(), kinds);
  FuzzRequire(static_cast<bool>(loaded));
  devhost::VirtualClock clock;
  host::SimulatedMachine machine(clock, std::move(loaded.machine));
  devhost::DriverHost driverHost(clock);
  std::string error;
  FuzzRequire(machine.Attach(driverHost, error));
  {
    host::FrameLog frames;
    devhost::ControlEndpoint endpoint(driverHost, &clock);
    host::AddMachineControlCommands(driverHost, machine, frames);

    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (int line = 0; line < kMaxLines && !text.empty(); ++line) {
      const auto end = text.find('\n');
      const std::string_view command = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
      if (StepsTooFar(command)) continue;
      const std::string reply = driverHost.RunControlCommand(command);
      if (command.starts_with("node ") || command.starts_with("step ") ||
          command.starts_with("bus-fault ") || command.starts_with("adapter-stuck ")) {
        FuzzRequire(reply.starts_with("ok") || reply.starts_with("error: "));
      }
    }
  }
  machine.Detach();
  return 0;
}

#include "drivers/host/machine_control.h"
#include "drivers/host/node_control.h"
#include "platform/devhost/control_words.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::host {

namespace {

// Counts that a test may ask for at once; more is a typing slip.
constexpr unsigned kMaxInjectedFaults = 1000000;
constexpr unsigned kLargestIdentifier = 0x7FF;

std::string BusFault(SimulatedMachine& machine, std::string_view arguments) {
  const auto words = devhost::ControlWords(arguments);
  unsigned count = 0;
  if (words.size() < 3 || !devhost::ParseControlNumber(words[2], count) ||
      count > kMaxInjectedFaults) {
    return "error: bus-fault needs a bus, a fault and a count";
  }
  SimulationPump::ModelAccess access(machine.Pump());
  sim::CanBus* bus = machine.Models().FindBus(std::string(words[0]));
  if (bus == nullptr) return "error: no bus " + std::string(words[0]);
  if (words[1] == "error-frames" && words.size() <= 4) {
    std::optional<std::uint16_t> identifier;
    if (words.size() == 4) {
      unsigned value = 0;
      if (!devhost::ParseControlNumber(words[3], value) || value > kLargestIdentifier) {
        return "error: bad identifier";
      }
      identifier = static_cast<std::uint16_t>(value);
    }
    bus->InjectErrorFrames(count, identifier);
    return "ok";
  }
  if (words[1] == "no-ack" && words.size() == 3) {
    bus->SuppressAcknowledge(count);
    return "ok";
  }
  return "error: bus-fault takes error-frames <count> [<identifier>] or no-ack <count>";
}

std::string AdapterStuck(SimulatedMachine& machine, std::string_view arguments) {
  const auto words = devhost::ControlWords(arguments);
  if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) {
    return "error: adapter-stuck needs a port and on or off";
  }
  SimulationPump::ModelAccess access(machine.Pump());
  sim::ParallelCanAdapter* adapter = machine.Models().FindParallelAdapter(std::string(words[0]));
  if (adapter == nullptr) return "error: no adapter on " + std::string(words[0]);
  adapter->SetStuckNotReady(words[1] == "on");
  return "ok";
}

std::string TestPortWrites(SimulatedMachine& machine, std::string_view arguments) {
  std::uint16_t address = 0;
  if (!devhost::ParseControlNumber(arguments, address)) return "error: test-port needs an address";
  SimulationPump::ModelAccess access(machine.Pump());
  const sim::TestPort* port = machine.Models().FindTestPort(address);
  if (port == nullptr) return "error: no test port at " + std::string(arguments);
  std::string text;
  for (const sim::TestPort::Write& write : port->Writes()) {
    char value[8];
    std::snprintf(value, sizeof(value), "0x%02x", write.value);
    text += std::to_string(write.time) + " " + value + "\n";
  }
  return text;
}

}  // namespace

void AddMachineControlCommands(devhost::DriverHost& host, SimulatedMachine& machine,
                               FrameLog& frames) {
  {
    SimulationPump::ModelAccess access(machine.Pump());
    for (const auto& bus : machine.Models().Buses()) bus->SetLog(&frames.Stream());
  }
  host.AddControlCommand("frame-log", [&frames](std::string_view arguments) -> std::string {
    if (!arguments.empty()) return "error: frame-log takes nothing";
    std::string text;
    for (const std::string& line : frames.Take()) text += line + "\n";
    return text;
  });
  host.AddControlCommand("sim-now", [&machine](std::string_view) {
    SimulationPump::ModelAccess access(machine.Pump());
    return std::to_string(machine.Models().Sim().Now());
  });
  host.AddControlCommand("test-port", [&machine](std::string_view arguments) {
    return TestPortWrites(machine, arguments);
  });
  host.AddControlCommand(
      "bus-fault", [&machine](std::string_view arguments) { return BusFault(machine, arguments); });
  host.AddControlCommand("adapter-stuck", [&machine](std::string_view arguments) {
    return AdapterStuck(machine, arguments);
  });
  host.AddControlCommand("node", [&machine](std::string_view arguments) {
    return RunNodeCommand(machine, arguments);
  });
}

}  // namespace vantor::host

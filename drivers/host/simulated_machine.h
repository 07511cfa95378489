// A simulated machine placed in the driver runtime's hardware space.
//
// Owns the machine, its pump and the adapters. Attach places every model:
// each card's memory windows as memory ranges, the whole I/O port space (the
// cards' bridge ports, parallel ports, test ports and the configuration
// mechanism at 0xCF8) as one port range, each card's configuration header
// as a PCI function, and wires the cards' and ports' interrupt outputs to
// the runtime's lines of the same number. Then the pump starts.
//
// Lifetime: make it before the DriverHost and Detach it before the host
// goes; the host keeps pointers to the adapters and the pump calls the
// host's interrupt lines. Every look at the models from outside a driver
// (tests, fault injection, logs) takes a SimulationPump::ModelAccess.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivers/host/hardware_adapters.h"
#include "drivers/host/machine_resources.h"
#include "drivers/host/simulation_pump.h"
#include "platform/devhost/driver_host.h"
#include "sim/hardware/machine.h"

namespace vantor::host {

class SimulatedMachine {
 public:
  // `machine` must not be null.
  SimulatedMachine(devhost::Clock& clock, std::unique_ptr<sim::Machine> machine);
  ~SimulatedMachine();
  SimulatedMachine(const SimulatedMachine&) = delete;
  SimulatedMachine& operator=(const SimulatedMachine&) = delete;

  // False (with the reason) when a range collides with one already placed
  // in the host or the machine was attached before.
  bool Attach(devhost::DriverHost& host, std::string& error);
  // Gives the host's counter back to its clock and stops the pump; no
  // handler runs afterwards. Idempotent; while the host still lives.
  void Detach();

  sim::Machine& Models() noexcept { return *machine_; }
  SimulationPump& Pump() noexcept { return pump_; }
  const MachineResources& Resources() const noexcept { return resources_; }

 private:
  bool PlaceCard(devhost::DriverHost& host, sim::PciCard& card, std::string& error);
  void DescribeParallelPort(devhost::DriverHost& host, sim::ParallelPort& port, unsigned number);

  std::unique_ptr<sim::Machine> machine_;
  SimulationPump pump_;
  bool attached_ = false;
  devhost::DriverHost* host_ = nullptr;  // whose counter reads the pump
  MachineResources resources_;
  std::unique_ptr<SimulatedPorts> ports_;
  std::vector<std::unique_ptr<SimulatedRegisters>> windows_;
  std::vector<std::unique_ptr<SimulatedPciConfig>> configs_;
};

}  // namespace vantor::host

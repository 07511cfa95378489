#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/can_station.h"
#include "sim/hardware/can_bus.h"
#include "sim/hardware/parallel_can_adapter.h"
#include "sim/hardware/parallel_port.h"
#include "sim/hardware/pci_card.h"
#include "sim/hardware/port_space.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

// A whole simulated machine: its clock, CAN buses with their stations, PCI
// cards, parallel ports with adapters, test ports and the I/O port space
// through which the driver runtime reaches them. Usually built from a
// machine description (machine_description.h).
class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Simulation& Sim() { return simulation_; }
  PortSpace& Ports() { return ports_; }

  // --- Building ----------------------------------------------------------------
  // Each returns nullptr (and builds nothing) when the name is taken, a bus
  // is unknown or the ports are claimed already.
  CanBus* AddBus(const std::string& name);
  // Channel n's controller goes onto bus_names[n]; an empty name leaves it
  // on no bus.
  PciCard* AddPciCard(PciCard::Config config,
                      const std::array<std::string, PciCard::kChannels>& bus_names);
  ParallelPort* AddParallelPort(ParallelPort::Config config);
  ParallelCanAdapter* AddParallelAdapter(ParallelPort& port, I82527::Config controller,
                                         const std::string& bus_name);
  TestPort* AddTestPort(const std::string& name, std::uint16_t address);
  CanStation* AddStation(const std::string& bus_name, std::unique_ptr<CanStation> station);

  // --- Finding -----------------------------------------------------------------
  CanBus* FindBus(const std::string& name);
  PciCard* FindPciCard(const std::string& name);
  ParallelPort* FindParallelPort(const std::string& name);
  // The adapter on the named port, or nullptr when none is plugged in.
  ParallelCanAdapter* FindParallelAdapter(const std::string& port_name);
  TestPort* FindTestPort(std::uint16_t address);
  // Every interrupt output wired to system interrupt `number`: the PCI cards
  // whose configuration header names it and the parallel ports set to it.
  std::vector<InterruptLine*> InterruptLines(std::uint8_t number);

  const std::vector<std::unique_ptr<CanBus>>& Buses() const { return buses_; }
  const std::vector<std::unique_ptr<PciCard>>& PciCards() const { return pci_cards_; }
  const std::vector<std::unique_ptr<ParallelPort>>& ParallelPorts() const {
    return parallel_ports_;
  }

 private:
  struct Adapter {
    ParallelPort* port = nullptr;
    std::unique_ptr<ParallelCanAdapter> adapter;
  };

  bool NameTaken(const std::string& name) const;

  // Declared first, destroyed last: every model below refers to it.
  Simulation simulation_;
  PortSpace ports_;
  PciConfigPorts pci_config_ports_;
  std::vector<std::unique_ptr<CanBus>> buses_;
  std::vector<std::unique_ptr<PciCard>> pci_cards_;
  std::vector<std::unique_ptr<ParallelPort>> parallel_ports_;
  std::vector<Adapter> adapters_;
  std::vector<std::unique_ptr<TestPort>> test_ports_;
  std::vector<std::unique_ptr<CanStation>> stations_;
};

}  // namespace vantor::sim

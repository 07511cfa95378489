// The simulated hardware as the driver runtime's hardware models.
//
// Each adapter forwards the runtime's accesses to one model surface of the
// simulation, under the pump's model lock, so a driver reaches the simulated
// card or port exactly as it would reach the real one through a mapped
// window, the port space or the PCI configuration space.
#pragma once

#include <cstdint>
#include <optional>

#include "drivers/host/simulation_pump.h"
#include "platform/devhost/hardware_access.h"
#include "sim/hardware/pci_card.h"
#include "sim/hardware/port_space.h"
#include "sim/hardware/register_window.h"

namespace vantor::host {

// A memory range (a card's base address register window). The runtime
// passes offsets from the range's start; so does the window.
class SimulatedRegisters final : public devhost::RegisterModel {
 public:
  SimulatedRegisters(SimulationPump& pump, sim::RegisterWindow& window)
      : pump_(pump), window_(window) {}

  std::uint8_t Read8(std::uint32_t offset) override;
  void Write8(std::uint32_t offset, std::uint8_t value) override;
  std::uint16_t Read16(std::uint32_t offset) override;
  void Write16(std::uint32_t offset, std::uint16_t value) override;
  std::uint32_t Read32(std::uint32_t offset) override;
  void Write32(std::uint32_t offset, std::uint32_t value) override;

 private:
  SimulationPump& pump_;
  sim::RegisterWindow& window_;
};

// A range of I/O ports of the machine's port space, placed at `firstPort`.
// The runtime passes offsets from the range's first port; the port space
// expects port numbers.
class SimulatedPorts final : public devhost::PortModel {
 public:
  SimulatedPorts(SimulationPump& pump, sim::PortSpace& ports, std::uint16_t firstPort)
      : pump_(pump), ports_(ports), firstPort_(firstPort) {}

  std::uint8_t In8(std::uint16_t offset) override;
  void Out8(std::uint16_t offset, std::uint8_t value) override;
  std::uint32_t In32(std::uint16_t offset) override;
  void Out32(std::uint16_t offset, std::uint32_t value) override;

 private:
  // The port an access of `width` bytes at `offset` starts at; none when it
  // would leave the 16-bit port space, and such an access floats like one
  // to an empty port.
  std::optional<std::uint16_t> PortOf(std::uint16_t offset, std::uint32_t width) const;

  SimulationPump& pump_;
  sim::PortSpace& ports_;
  const std::uint16_t firstPort_;
};

// A card's 256-byte PCI configuration header.
class SimulatedPciConfig final : public devhost::PciConfigModel {
 public:
  SimulatedPciConfig(SimulationPump& pump, sim::PciCard& card) : pump_(pump), card_(card) {}

  std::uint8_t ReadConfig8(std::uint8_t offset) override;
  void WriteConfig8(std::uint8_t offset, std::uint8_t value) override;

 private:
  SimulationPump& pump_;
  sim::PciCard& card_;
};

}  // namespace vantor::host

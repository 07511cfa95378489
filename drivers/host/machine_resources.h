// The hardware resources of the machine as the drivers are given them at
// load: what the bus driver and the system's port driver would hand a
// driver on the real machine (base address windows, ports, interrupts).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/devhost/hardware_access.h"
#include "platform/devhost/interrupt_line.h"

namespace vantor::host {

struct BarResource {
  std::uint64_t physical = 0;
  std::uint32_t length = 0;  // 0: the register is not implemented
  bool io = false;           // port range rather than memory
};

inline constexpr int kPciBarCount = 6;

struct PciFunctionResources {
  std::string name;  // the card's name in the machine description
  devhost::PciSlot slot;
  std::uint16_t vendorId = 0;
  std::uint16_t deviceId = 0;
  std::array<BarResource, kPciBarCount> bars{};
  // Level-sensitive and shared, as a PCI line is.
  devhost::InterruptSettings interrupt;
};

struct ParallelPortResources {
  std::string name;
  unsigned number = 0;  // n of the system's parallel-port device n
  std::uint16_t base = 0;
  std::uint16_t span = 0;
  bool epp = false;
  bool extendedControl = false;
  // Latched (edge), as the port's acknowledge interrupt is.
  devhost::InterruptSettings interrupt;
};

struct MachineResources {
  std::vector<PciFunctionResources> pciFunctions;
  std::vector<ParallelPortResources> parallelPorts;
};

}  // namespace vantor::host

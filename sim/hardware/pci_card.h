#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/hardware/clock_out_divider.h"
#include "sim/hardware/i82527.h"
#include "sim/hardware/interrupt_line.h"
#include "sim/hardware/pci_bridge.h"
#include "sim/hardware/register_window.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

// The dual-channel PCI CAN card: a PCI9030-class bridge whose local
// registers answer in base address register 0 (memory) and 1 (I/O), two
// 82527 controllers in base address register 2 at 0x000 and 0x100 (through
// the bridge's chip selects 0 and 1), and one interrupt line for both
// channels. The tick is controller 1's clock output divided by 2048; it
// reaches the bridge's local interrupt input 1 while controller 1's port-2
// bit 2 (the channel-2 line switch) is an output driven low.
class PciCard {
 public:
  static constexpr int kChannels = 2;
  static constexpr int kBarCount = 6;
  static constexpr std::uint16_t kPciConfigSize = 256;
  static constexpr int kChannel2LineBit = 2;

  struct Config {
    std::string name = "pci0";
    std::uint8_t bus_number = 0;
    std::uint8_t device_number = 4;
    std::uint8_t interrupt_line = 11;
    std::uint32_t bar0_address = 0xFEB00000;  // bridge registers, memory
    std::uint32_t bar1_address = 0xE000;      // bridge registers, I/O
    std::uint32_t bar2_address = 0xFEB01000;  // controllers, memory
    std::uint32_t bar2_size = 0x1000;
    std::uint16_t vendor_id = 0x10B5;
    std::uint16_t device_id = 0x9030;
    std::uint16_t subsystem_vendor_id = 0;
    std::uint16_t subsystem_id = 0;
    bool offers_d1_d2 = false;  // power states D1 and D2 in the PM capability
    std::array<I82527::Config, kChannels> controllers{};
  };

  struct Bar {
    std::uint32_t address = 0;
    std::uint32_t size = 0;  // 0: not implemented
    bool io = false;
  };

  PciCard(Simulation& simulation, Config config);
  ~PciCard();
  PciCard(const PciCard&) = delete;
  PciCard& operator=(const PciCard&) = delete;

  const Config& Configuration() const { return config_; }

  // --- Surfaces for the driver runtime ---------------------------------------
  // The register window behind base address register `index`, or nullptr.
  RegisterWindow* BarWindow(int index);
  // Where the window sits and how large it is, as the configuration header
  // tells it.
  Bar BarInfo(int index) const;
  // The bridge registers in I/O space (base address register 1), reached by
  // absolute port number: In8(BarInfo(1).address + offset).
  PortDevice& IoPorts();
  std::uint32_t ReadConfig(std::uint16_t offset, int width) const;
  void WriteConfig(std::uint16_t offset, int width, std::uint32_t value);
  InterruptLine& Interrupt() { return bridge_.PciInterrupt(); }

  // --- Parts, for tests and fault injection ------------------------------------
  I82527& Controller(int channel) { return *controllers_[channel]; }
  PciBridge& Bridge() { return bridge_; }
  const ClockOutDivider& Tick() const { return *tick_; }

 private:
  class ReportedSpace;
  class CardWindow;
  class BridgeWindow;
  class ControllerWindow;
  class BridgePorts;

  void BuildConfigHeader();
  void OnTickEdge();

  Simulation& simulation_;
  Config config_;
  std::array<std::unique_ptr<I82527>, kChannels> controllers_;
  PciBridge bridge_;
  std::unique_ptr<ClockOutDivider> tick_;
  std::unique_ptr<BridgeWindow> bar0_;
  std::unique_ptr<ControllerWindow> bar2_;
  std::unique_ptr<BridgePorts> bar1_ports_;
  std::array<std::uint8_t, kPciConfigSize> config_space_{};
  std::array<std::uint32_t, kBarCount> bar_size_{};
};

}  // namespace vantor::sim

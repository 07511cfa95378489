#pragma once

#include <array>
#include <cstdint>

#include "sim/hardware/interrupt_line.h"

namespace vantor::sim {

// The local configuration registers of the card's PCI bridge (a PCI9030-class
// part), the interrupt logic behind its control/status register, and the
// decoding of local address space 0 into chip selects. The registers start
// with the values the card's serial EEPROM loads at power-up; interrupts
// start disabled.
class PciBridge {
 public:
  static constexpr std::uint32_t kLocalRegisterSize = 0x80;

  // Local configuration register offsets.
  static constexpr std::uint32_t kLocalSpace0Range = 0x00;
  static constexpr std::uint32_t kLocalSpace0Base = 0x14;
  static constexpr std::uint32_t kChipSelect0Base = 0x3C;
  static constexpr std::uint32_t kChipSelectCount = 4;
  static constexpr std::uint32_t kInterruptControl = 0x4C;

  // Interrupt control/status bits.
  static constexpr std::uint32_t kLocal1Enable = 1U << 0;
  static constexpr std::uint32_t kLocal1ActiveHigh = 1U << 1;
  static constexpr std::uint32_t kLocal1Status = 1U << 2;
  static constexpr std::uint32_t kLocal2Enable = 1U << 3;
  static constexpr std::uint32_t kLocal2Status = 1U << 5;
  static constexpr std::uint32_t kPciInterruptEnable = 1U << 6;
  static constexpr std::uint32_t kSoftwareInterrupt = 1U << 7;
  static constexpr std::uint32_t kLocal1EdgeMode = 1U << 8;
  static constexpr std::uint32_t kLocal2EdgeMode = 1U << 9;
  static constexpr std::uint32_t kLocal1ClearEdge = 1U << 10;
  static constexpr std::uint32_t kLocal2ClearEdge = 1U << 11;

  PciBridge();

  std::uint8_t ReadLocal8(std::uint32_t offset) const;
  void WriteLocal8(std::uint32_t offset, std::uint8_t value);
  // Wider accesses, little-endian, applied as one bus cycle.
  std::uint32_t ReadLocal(std::uint32_t offset, int width) const;
  void WriteLocal(std::uint32_t offset, int width, std::uint32_t value);

  // An edge on local interrupt input 1 (the tick).
  void Local1Edge();
  bool Local1EdgeLatched() const { return local1_latched_; }

  // The PCI interrupt (INTA#), level-triggered: asserted while an enabled
  // cause is pending.
  InterruptLine& PciInterrupt() { return pci_interrupt_; }
  const InterruptLine& PciInterrupt() const { return pci_interrupt_; }

  // Where an offset into local space 0 (the card's second window) lands:
  // the chip select that claims it and the offset inside that chip select's
  // range; no chip select when space 0 is off or nothing claims it.
  struct LocalTarget {
    int chip_select = -1;
    std::uint32_t offset = 0;
  };
  LocalTarget DecodeSpace0(std::uint32_t window_offset) const;

 private:
  std::uint32_t Register(std::uint32_t offset) const;
  std::uint32_t InterruptControl() const;
  void UpdateInterrupt();

  std::array<std::uint8_t, kLocalRegisterSize> registers_{};
  bool local1_latched_ = false;
  InterruptLine pci_interrupt_;
};

}  // namespace vantor::sim

#include "sim/hardware/pci_bridge.h"

namespace vantor::sim {
namespace {

struct EepromValue {
  std::uint32_t offset;
  std::uint32_t value;
};

// What the card's EEPROM loads: local space 0 of 1 MiB at local address 0
// on an 8-bit bus, chip select 0 for the first controller at 0x000 and chip
// select 1 for the second at 0x100, interrupts off.
constexpr EepromValue kEepromValues[] = {
    {0x00, 0x0FF00000}, {0x14, 0x00000001}, {0x28, 0xFC397C80}, {0x2C, 0x00800000},
    {0x30, 0x00800000}, {0x34, 0x00800000}, {0x10, 0xFFFF0000}, {0x24, 0x00100000},
    {0x3C, 0x00000081}, {0x40, 0x00000181}, {0x4C, 0x00000000}, {0x50, 0x18780000},
    {0x54, 0x00249000},
};

}  // namespace

PciBridge::PciBridge() {
  for (const EepromValue& entry : kEepromValues) WriteLocal(entry.offset, 4, entry.value);
}

std::uint32_t PciBridge::Register(std::uint32_t offset) const {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < 4; ++i) value |= std::uint32_t{registers_[offset + i]} << (8 * i);
  return value;
}

std::uint32_t PciBridge::InterruptControl() const {
  std::uint32_t value = Register(kInterruptControl) & ~(kLocal1Status | kLocal2Status);
  // The input reaches the bridge as an edge only, so the status shows a
  // latched edge; in level mode the input never stays active.
  if ((value & kLocal1EdgeMode) && local1_latched_) value |= kLocal1Status;
  return value;
}

std::uint8_t PciBridge::ReadLocal8(std::uint32_t offset) const {
  if (offset >= kLocalRegisterSize) return 0xFF;
  if (offset >= kInterruptControl && offset < kInterruptControl + 4) {
    return static_cast<std::uint8_t>(InterruptControl() >> (8 * (offset - kInterruptControl)));
  }
  return registers_[offset];
}

std::uint32_t PciBridge::ReadLocal(std::uint32_t offset, int width) const {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint32_t{ReadLocal8(offset + i)} << (8 * i);
  return value;
}

void PciBridge::WriteLocal8(std::uint32_t offset, std::uint8_t value) {
  WriteLocal(offset, 1, value);
}

void PciBridge::WriteLocal(std::uint32_t offset, int width, std::uint32_t value) {
  bool touches_interrupt_control = false;
  std::uint32_t clear_bits = 0;
  for (int i = 0; i < width; ++i) {
    const std::uint32_t address = offset + i;
    if (address >= kLocalRegisterSize) continue;
    std::uint8_t byte = static_cast<std::uint8_t>(value >> (8 * i));
    if (address >= kInterruptControl && address < kInterruptControl + 4) {
      touches_interrupt_control = true;
      const int shift = 8 * static_cast<int>(address - kInterruptControl);
      // The clear bits act when written as 1 and always read 0.
      clear_bits |= (std::uint32_t{byte} << shift) & (kLocal1ClearEdge | kLocal2ClearEdge);
      byte = static_cast<std::uint8_t>(byte & ~((kLocal1ClearEdge | kLocal2ClearEdge) >> shift));
    }
    registers_[address] = byte;
  }
  if (!touches_interrupt_control) return;
  if (clear_bits & kLocal1ClearEdge) local1_latched_ = false;
  UpdateInterrupt();
}

void PciBridge::Local1Edge() {
  if ((Register(kInterruptControl) & kLocal1EdgeMode) == 0) return;
  local1_latched_ = true;
  UpdateInterrupt();
}

void PciBridge::UpdateInterrupt() {
  const std::uint32_t control = InterruptControl();
  const bool cause = ((control & kLocal1Enable) && (control & kLocal1Status)) ||
                     ((control & kLocal2Enable) && (control & kLocal2Status)) ||
                     (control & kSoftwareInterrupt);
  pci_interrupt_.Set((control & kPciInterruptEnable) != 0 && cause);
}

PciBridge::LocalTarget PciBridge::DecodeSpace0(std::uint32_t window_offset) const {
  const std::uint32_t space_base = Register(kLocalSpace0Base);
  if ((space_base & 1U) == 0) return {};
  const std::uint32_t local_address = (space_base & 0x0FFFFFF0U) + window_offset;
  for (std::uint32_t select = 0; select < kChipSelectCount; ++select) {
    const std::uint32_t chip_select = Register(kChipSelect0Base + 4 * select);
    if ((chip_select & 1U) == 0) continue;
    // The lowest set bit above the enable bit is half the range's size.
    const std::uint32_t size_bits = chip_select & 0x0FFFFFFEU;
    if (size_bits == 0) continue;
    const std::uint32_t size = (size_bits & (~size_bits + 1)) << 1;
    const std::uint32_t base = chip_select & ~(size - 1) & 0x0FFFFFFEU;
    if (local_address >= base && local_address - base < size) {
      return LocalTarget{static_cast<int>(select), local_address - base};
    }
  }
  return {};
}

}  // namespace vantor::sim

// The card's PCI bridge: its local configuration registers as this driver
// programs them at start, and the interrupt control bits it uses later.
#pragma once

#include <array>
#include <cstdint>

#include "platform/devhost/hardware_access.h"
#include "platform/devhost/interrupt_line.h"

namespace vantor::tarnis1 {

struct BridgeRegisterWrite {
  std::uint32_t offset;
  std::uint32_t value;
};

// Local address space 0 decodes the controller window into the two chip
// selects (controller 1 at 0x000, controller 2 at 0x100); spaces 1 to 3 and
// chip selects 2 and 3 are off. Written in exactly this order: the bridge
// must never decode a space whose range and descriptor do not match yet.
inline constexpr std::array<BridgeRegisterWrite, 22> kBridgeStartSequence = {{
    {0x00, 0x0FF00000},  // local address space 0 range
    {0x14, 0x00000001},  // local address space 0 base
    {0x28, 0xFC397C80},  // local address space 0 bus region descriptor
    {0x04, 0x00000000},  // local address space 1 range
    {0x18, 0x00000000},  // local address space 1 base
    {0x2C, 0x00800000},  // local address space 1 bus region descriptor
    {0x08, 0x00000000},  // local address space 2 range
    {0x1C, 0x00000000},  // local address space 2 base
    {0x30, 0x00800000},  // local address space 2 bus region descriptor
    {0x0C, 0x00000000},  // local address space 3 range
    {0x20, 0x00000000},  // local address space 3 base
    {0x34, 0x00800000},  // local address space 3 bus region descriptor
    {0x10, 0xFFFF0000},  // expansion ROM range
    {0x24, 0x00100000},  // expansion ROM base
    {0x38, 0x00000000},  // expansion ROM bus region descriptor
    {0x3C, 0x00000081},  // chip select 0 base
    {0x40, 0x00000181},  // chip select 1 base
    {0x44, 0x00000000},  // chip select 2 base
    {0x48, 0x00000000},  // chip select 3 base
    {0x4C, 0x00000003},  // interrupt control/status
    {0x50, 0x18780000},  // control
    {0x54, 0x00249000},  // general-purpose I/O control
}};

inline constexpr std::uint32_t kBridgeInterruptControl = 0x4C;
// Local configuration registers read once after start (32 double words).
inline constexpr std::uint32_t kBridgeLocalRegisterCount = 32;

// Interrupt control/status bits.
inline constexpr std::uint32_t kLocal1EnabledActiveHighEdge = 0x103;
inline constexpr std::uint32_t kLocal1ClearEdge = 0x400;
inline constexpr std::uint32_t kPciInterruptEnable = 0x40;

// new := (old OR set) AND NOT clear, with the card raised so that the
// other channel's handler never sees half a change. Both channel drivers
// use it (each through its own mapping of the bridge window).
inline void ModifyBridgeRegister(const devhost::RegisterWindow& bridge, devhost::CardLock& card,
                                 std::uint32_t offset, std::uint32_t set, std::uint32_t clear) {
  const auto raised = card.Raise();
  const std::uint32_t value = bridge.Read32(offset);
  bridge.Write32(offset, (value | set) & ~clear);
}

// Writes the start sequence in order.
void ProgramBridge(const devhost::RegisterWindow& bridge, devhost::CardLock& card);

}  // namespace vantor::tarnis1

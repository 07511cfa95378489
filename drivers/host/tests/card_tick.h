// The card's tick started by hand, as the channel-1 driver starts it, for
// tests and benches that run the simulated card without the driver.
#pragma once

#include <cstdint>

namespace vantor::host::testing {

// Where the description's defaults place the card.
inline constexpr std::uint64_t kBridgeWindow = 0xFEB00000;
inline constexpr std::uint64_t kControllerWindow = 0xFEB01000;
inline constexpr std::uint32_t kCardInterrupt = 11;
// The bridge's interrupt control register and what the driver writes there.
inline constexpr std::uint32_t kInterruptControl = 0x4C;
inline constexpr std::uint32_t kLocal1EdgeActiveHigh = 0x103;
inline constexpr std::uint32_t kClearLocal1Edge = 0x400;
inline constexpr std::uint32_t kPciInterruptEnable = 0x40;

// Controller 1's clock output on and undivided, port-2 bit 2 an output
// driven low (the line switch), the bridge's local interrupt 1
// edge-latched and the PCI interrupt enabled. `Window` is a register
// window of the models or of the driver runtime.
template <typename Window>
void StartCardTick(Window& controller, Window& bridge) {
  controller.Write8(0x00, 0x41);
  controller.Write8(0x02, 0x41);
  controller.Write8(0x1F, 0x20);
  controller.Write8(0xEF, 0xFB);
  controller.Write8(0xAF, 0x3F);
  controller.Write8(0x00, 0x00);
  bridge.Write32(kInterruptControl, kLocal1EdgeActiveHigh);
  bridge.Write32(kInterruptControl, kLocal1EdgeActiveHigh | kClearLocal1Edge | kPciInterruptEnable);
}

// What a tick handler does first: clear the latched edge.
template <typename Window>
void ClearCardTickEdge(Window& bridge) {
  bridge.Write32(kInterruptControl, bridge.Read32(kInterruptControl) | kClearLocal1Edge);
}

}  // namespace vantor::host::testing

#pragma once

#include <gtest/gtest.h>

#include "sim/hardware/frame_timing.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/tests/controller_sequences.h"

namespace vantor::sim::testing {

// Controller `channel` (1 at 0x000, 2 at 0x100) of a PCI card, reached
// through the card's controller window.
inline ControllerAccess ChannelInWindow(RegisterWindow* window, int channel) {
  const std::uint32_t base = channel == 1 ? 0x000 : 0x100;
  return ControllerAccess(
      [window, base](std::uint8_t address) { return window->Read8(base + address); },
      [window, base](std::uint8_t address, std::uint8_t value) {
        window->Write8(base + address, value);
      });
}

// A machine with one PCI card whose two controllers share bus "can0";
// everything goes through the card's controller window, as the drivers see it.
struct CardOnBus {
  CardOnBus()
      : bus(machine.AddBus("can0")),
        card(machine.AddPciCard(PciCard::Config{}, {"can0", "can0"})),
        window(card->BarWindow(2)) {}

  ControllerAccess Channel(int channel) const { return ChannelInWindow(window, channel); }

  Machine machine;
  CanBus* bus = nullptr;
  PciCard* card = nullptr;
  RegisterWindow* window = nullptr;
};

// The card on its bus as a test fixture, with the set-up a run start does.
class CardFixture : public ::testing::Test, protected CardOnBus {
 protected:
  static constexpr std::uint8_t kMegabitTiming0 = 0x40;
  static constexpr std::uint8_t kMegabitTiming1 = 0x23;
  static constexpr SimTime kMegabitBitTime = 1000;

  // Detection and bus set-up as a run start does them, masks open.
  void StartChannel(int channel, std::uint8_t timing0 = kMegabitTiming0,
                    std::uint8_t timing1 = kMegabitTiming1) {
    ControllerAccess access = Channel(channel);
    ASSERT_TRUE(access.Detect());
    if (channel == 1) access.InitClock(4);
    access.InitBus(timing0, timing1);
    access.SetGlobalStandardMask(0x7FF);
  }

  Simulation& Sim() { return machine.Sim(); }
};

}  // namespace vantor::sim::testing

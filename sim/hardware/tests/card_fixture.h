#pragma once

#include <gtest/gtest.h>

#include "sim/hardware/frame_timing.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/tests/controller_sequences.h"

namespace vantor::sim::testing {

// A machine with one PCI card whose two controllers share bus "can0";
// everything goes through the card's controller window, as the drivers see it.
class CardFixture : public ::testing::Test {
 protected:
  static constexpr std::uint8_t kMegabitTiming0 = 0x40;
  static constexpr std::uint8_t kMegabitTiming1 = 0x23;
  static constexpr SimTime kMegabitBitTime = 1000;

  CardFixture() {
    bus_ = machine_.AddBus("can0");
    card_ = machine_.AddPciCard(PciCard::Config{}, {"can0", "can0"});
    window_ = card_->BarWindow(2);
  }

  ControllerAccess Channel(int channel) {
    const std::uint32_t base = channel == 1 ? 0x000 : 0x100;
    RegisterWindow* window = window_;
    return ControllerAccess(
        [window, base](std::uint8_t address) { return window->Read8(base + address); },
        [window, base](std::uint8_t address, std::uint8_t value) {
          window->Write8(base + address, value);
        });
  }

  // Detection and bus set-up as a run start does them, masks open.
  void StartChannel(int channel, std::uint8_t timing0 = kMegabitTiming0,
                    std::uint8_t timing1 = kMegabitTiming1) {
    ControllerAccess access = Channel(channel);
    ASSERT_TRUE(access.Detect());
    if (channel == 1) access.InitClock(4);
    access.InitBus(timing0, timing1);
    access.SetGlobalStandardMask(0x7FF);
  }

  Simulation& Sim() { return machine_.Sim(); }

  Machine machine_;
  CanBus* bus_ = nullptr;
  PciCard* card_ = nullptr;
  RegisterWindow* window_ = nullptr;
};

}  // namespace vantor::sim::testing

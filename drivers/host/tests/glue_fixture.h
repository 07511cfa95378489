// A driver runtime on the virtual clock with a simulated machine placed in
// its hardware space, as a driver under test would find it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string_view>

#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "drivers/host/tests/card_tick.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"

namespace vantor::host::testing {

// One card (bridge windows at the description's defaults, interrupt 11),
// two buses, a parallel port with its adapter and a test port.
inline constexpr std::string_view kGlueMachine = R"({
  "buses": [ { "name": "can0" }, { "name": "can1" }, { "name": "can2" } ],
  "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7, "adapter": { "bus": "can2" } } ],
  "test_ports": [ { "name": "marks", "address": "0x300" } ]
})";

class GlueFixture : public ::testing::Test {
 protected:
  explicit GlueFixture(std::string_view description = kGlueMachine) {
    sim::MachineLoadResult loaded = sim::LoadMachineDescription(description, MachineStationKinds());
    EXPECT_TRUE(loaded) << loaded.error;
    machine_ = std::make_unique<SimulatedMachine>(clock_, std::move(loaded.machine));
    host_ = std::make_unique<devhost::DriverHost>(clock_);
    std::string error;
    EXPECT_TRUE(machine_->Attach(*host_, error)) << error;
  }

  ~GlueFixture() override {
    // The pump calls into the host's interrupt lines: it stops first.
    machine_->Detach();
  }

  sim::PciCard& Card() { return *machine_->Models().FindPciCard("pci0"); }
  sim::Simulation& Sim() { return machine_->Models().Sim(); }

  devhost::RegisterWindow MapWindow(std::uint64_t physical, std::uint32_t length) {
    auto window = host_->Hardware().MapIoSpace(physical, length);
    EXPECT_TRUE(window.has_value());
    return window.value_or(devhost::RegisterWindow{});
  }

  devhost::VirtualClock clock_;
  std::unique_ptr<SimulatedMachine> machine_;
  std::unique_ptr<devhost::DriverHost> host_;
};

}  // namespace vantor::host::testing

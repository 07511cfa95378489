// A driver host on the virtual clock over one simulated PCI card on can0,
// made of the devhost program's own glue: the card's windows are placed
// through its register adapters and the card's interrupt output is wired
// through its simulation pump. Nothing starts the pump: the owner steps
// clock and models by hand, so time moves only when a test or benchmark
// says so. No driver is loaded here.
#pragma once

#include <cstdint>
#include <memory>

#include "drivers/host/hardware_adapters.h"
#include "drivers/host/simulation_pump.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/driver_host.h"
#include "sim/hardware/machine.h"

namespace vantor::canlayer::testing {

inline constexpr std::uint32_t kCardVector = 11;

// Holds the models still for a look from outside a driver.
using ModelAccess = host::SimulationPump::ModelAccess;

class SimulatedCardHost {
 protected:
  SimulatedCardHost();
  // Unwires the card's interrupt; the owner unloads its drivers first.
  ~SimulatedCardHost();
  SimulatedCardHost(const SimulatedCardHost&) = delete;
  SimulatedCardHost& operator=(const SimulatedCardHost&) = delete;

  // One step: the clock to the counter value of the models' next deadline
  // (or of `limit`, whichever comes first), then the models to that moment,
  // so that a handler running for the step stamps the step's own moment.
  // The handlers are left to the caller (the pump's ServiceRaisedInterrupts).
  // Returns the simulated time reached.
  sim::SimTime StepClockAndModels(sim::SimTime limit);
  sim::SimTime Now();

  sim::Machine machine_;
  sim::PciCard* card_ = nullptr;
  devhost::VirtualClock clock_;
  host::SimulationPump pump_{clock_, machine_.Sim()};
  std::unique_ptr<host::SimulatedRegisters> bridgeRegisters_;
  std::unique_ptr<host::SimulatedRegisters> controllerRegisters_;
  std::unique_ptr<devhost::DriverHost> host_;
};

}  // namespace vantor::canlayer::testing

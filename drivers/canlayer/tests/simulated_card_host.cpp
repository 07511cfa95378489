#include "drivers/canlayer/tests/simulated_card_host.h"

#include <algorithm>

namespace vantor::canlayer::testing {

SimulatedCardHost::SimulatedCardHost() {
  machine_.AddBus("can0");
  card_ = machine_.AddPciCard(sim::PciCard::Config{}, {"can0", "can0"});
  bridgeRegisters_ = std::make_unique<host::SimulatedRegisters>(pump_, *card_->BarWindow(0));
  controllerRegisters_ = std::make_unique<host::SimulatedRegisters>(pump_, *card_->BarWindow(2));
  host_ = std::make_unique<devhost::DriverHost>(clock_);
  host_->Hardware().AddMemoryRange(card_->BarInfo(0).address, card_->BarInfo(0).size,
                                   *bridgeRegisters_);
  host_->Hardware().AddMemoryRange(card_->BarInfo(2).address, card_->BarInfo(2).size,
                                   *controllerRegisters_);
  // The model only marks the line; the handlers run when the owner steps.
  pump_.WireInterrupt(card_->Interrupt(), host_->Interrupt(kCardVector));
}

SimulatedCardHost::~SimulatedCardHost() { pump_.Stop(); }

sim::SimTime SimulatedCardHost::StepClockAndModels(sim::SimTime limit) {
  sim::SimTime next;
  {
    const ModelAccess models(pump_);
    next = std::clamp(machine_.Sim().NextDeadline(), machine_.Sim().Now(), limit);
  }
  const auto counter = static_cast<devhost::Ticks>(next / host::kNanosecondsPerTick);
  if (counter > clock_.Now()) clock_.Advance(counter - clock_.Now());
  return pump_.StepModels(next);
}

sim::SimTime SimulatedCardHost::Now() {
  const ModelAccess models(pump_);
  return machine_.Sim().Now();
}

}  // namespace vantor::canlayer::testing

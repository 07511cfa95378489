#include "drivers/host/simulated_machine.h"

namespace vantor::host {

namespace {
constexpr std::uint32_t kWholePortSpace = 0x10000;
}  // namespace

SimulatedMachine::SimulatedMachine(devhost::Clock& clock, std::unique_ptr<sim::Machine> machine)
    : machine_(std::move(machine)), pump_(clock, machine_->Sim()) {}

// The host may be gone already: only the pump stops.
SimulatedMachine::~SimulatedMachine() { pump_.Stop(); }

bool SimulatedMachine::Attach(devhost::DriverHost& host, std::string& error) {
  if (attached_) {
    error = "the machine is attached already";
    return false;
  }
  attached_ = true;
  ports_ = std::make_unique<SimulatedPorts>(pump_, machine_->Ports(), 0);
  if (!host.Hardware().AddPortRange(0, kWholePortSpace, *ports_)) {
    error = "the port space is taken already";
    return false;
  }
  for (const auto& card : machine_->PciCards()) {
    if (!PlaceCard(host, *card, error)) return false;
  }
  unsigned number = 0;
  for (const auto& port : machine_->ParallelPorts()) DescribeParallelPort(host, *port, number++);
  pump_.Start();
  // The drivers time the card's bus by the counter: it reads the models'
  // time, which a loaded computer lets fall behind the clock.
  host.SetHardwareTime(&pump_);
  host_ = &host;
  return true;
}

bool SimulatedMachine::PlaceCard(devhost::DriverHost& host, sim::PciCard& card,
                                 std::string& error) {
  const sim::PciCard::Config& config = card.Configuration();
  PciFunctionResources resources;
  resources.name = config.name;
  resources.slot = devhost::PciSlot{config.bus_number, config.device_number, 0};
  resources.vendorId = config.vendor_id;
  resources.deviceId = config.device_id;
  for (int index = 0; index < kPciBarCount; ++index) {
    const sim::PciCard::Bar bar = card.BarInfo(index);
    resources.bars[static_cast<std::size_t>(index)] = BarResource{bar.address, bar.size, bar.io};
    // I/O windows are part of the port space placed as a whole.
    if (bar.size == 0 || bar.io) continue;
    sim::RegisterWindow* window = card.BarWindow(index);
    if (window == nullptr) continue;
    windows_.push_back(std::make_unique<SimulatedRegisters>(pump_, *window));
    if (!host.Hardware().AddMemoryRange(bar.address, bar.size, *windows_.back())) {
      error = config.name + ": window " + std::to_string(index) +
              " overlaps a memory range placed already";
      return false;
    }
  }
  configs_.push_back(std::make_unique<SimulatedPciConfig>(pump_, card));
  if (!host.Hardware().AddPciFunction(resources.slot, *configs_.back())) {
    error = config.name + ": its PCI slot is taken already";
    return false;
  }
  resources.interrupt.vector = config.interrupt_line;
  resources.interrupt.level = config.interrupt_line;
  resources.interrupt.mode = devhost::InterruptMode::kLevelSensitive;
  resources.interrupt.shared = true;
  pump_.WireInterrupt(card.Interrupt(), host.Interrupt(config.interrupt_line));
  resources_.pciFunctions.push_back(std::move(resources));
  return true;
}

void SimulatedMachine::DescribeParallelPort(devhost::DriverHost& host, sim::ParallelPort& port,
                                            unsigned number) {
  const sim::ParallelPort::Config& config = port.Configuration();
  ParallelPortResources resources;
  resources.name = config.name;
  resources.number = number;
  resources.base = config.base;
  resources.span = sim::ParallelPort::kSpan;
  resources.epp = config.epp;
  resources.extendedControl = config.extended_control;
  resources.interrupt.vector = config.irq;
  resources.interrupt.level = config.irq;
  resources.interrupt.mode = devhost::InterruptMode::kLatched;
  resources.interrupt.shared = true;
  pump_.WireInterrupt(port.Interrupt(), host.Interrupt(config.irq));
  resources_.parallelPorts.push_back(std::move(resources));
}

void SimulatedMachine::Detach() {
  if (host_ != nullptr) host_->SetHardwareTime(nullptr);
  host_ = nullptr;
  pump_.Stop();
}

}  // namespace vantor::host

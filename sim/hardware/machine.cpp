#include "sim/hardware/machine.h"

#include <algorithm>

namespace vantor::sim {

Machine::Machine() : ports_(simulation_), pci_config_ports_(simulation_) {
  ports_.Map(PciConfigPorts::kAddressPort, PciConfigPorts::kPortCount, &pci_config_ports_);
}

Machine::~Machine() {
  // The buses stop running before the stations they point to are freed.
  for (auto& bus : buses_) simulation_.Remove(bus.get());
}

bool Machine::NameTaken(const std::string& name) const {
  const auto named = [&name](const auto& item) { return item->Name() == name; };
  return std::any_of(buses_.begin(), buses_.end(), named) ||
         std::any_of(parallel_ports_.begin(), parallel_ports_.end(), named) ||
         std::any_of(pci_cards_.begin(), pci_cards_.end(),
                     [&name](const auto& card) { return card->Configuration().name == name; });
}

CanBus* Machine::AddBus(const std::string& name) {
  if (name.empty() || NameTaken(name)) return nullptr;
  buses_.push_back(std::make_unique<CanBus>(name));
  simulation_.Add(buses_.back().get());
  return buses_.back().get();
}

PciCard* Machine::AddPciCard(PciCard::Config config,
                             const std::array<std::string, PciCard::kChannels>& bus_names) {
  if (config.name.empty() || NameTaken(config.name)) return nullptr;
  std::array<CanBus*, PciCard::kChannels> buses{};
  for (int channel = 0; channel < PciCard::kChannels; ++channel) {
    if (bus_names[channel].empty()) continue;
    buses[channel] = FindBus(bus_names[channel]);
    if (buses[channel] == nullptr) return nullptr;
  }
  for (const auto& card : pci_cards_) {
    if (card->Configuration().bus_number == config.bus_number &&
        card->Configuration().device_number == config.device_number) {
      return nullptr;
    }
  }
  auto card = std::make_unique<PciCard>(simulation_, std::move(config));
  const PciCard::Bar io = card->BarInfo(1);
  if (!ports_.Map(static_cast<std::uint16_t>(io.address), io.size, &card->IoPorts()))
    return nullptr;
  for (int channel = 0; channel < PciCard::kChannels; ++channel) {
    if (buses[channel] != nullptr) buses[channel]->Attach(&card->Controller(channel));
  }
  pci_config_ports_.AddCard(card.get());
  pci_cards_.push_back(std::move(card));
  return pci_cards_.back().get();
}

ParallelPort* Machine::AddParallelPort(ParallelPort::Config config) {
  if (config.name.empty() || NameTaken(config.name)) return nullptr;
  auto port = std::make_unique<ParallelPort>(simulation_, std::move(config));
  const std::uint16_t base = port->Configuration().base;
  if (!ports_.Map(base, ParallelPort::kSpan, port.get())) return nullptr;
  if (port->Configuration().extended_control &&
      !ports_.Map(static_cast<std::uint16_t>(base + ParallelPort::kExtendedBase),
                  ParallelPort::kExtendedSpan, port.get())) {
    return nullptr;
  }
  parallel_ports_.push_back(std::move(port));
  return parallel_ports_.back().get();
}

ParallelCanAdapter* Machine::AddParallelAdapter(ParallelPort& port, I82527::Config controller,
                                                const std::string& bus_name) {
  if (FindParallelAdapter(port.Name()) != nullptr) return nullptr;
  CanBus* bus = nullptr;
  if (!bus_name.empty()) {
    bus = FindBus(bus_name);
    if (bus == nullptr) return nullptr;
  }
  if (controller.name == I82527::Config{}.name) controller.name = port.Name() + ".controller";
  auto adapter = std::make_unique<ParallelCanAdapter>(simulation_, port, std::move(controller));
  if (bus != nullptr) bus->Attach(&adapter->Controller());
  adapters_.push_back(Adapter{&port, std::move(adapter)});
  return adapters_.back().adapter.get();
}

TestPort* Machine::AddTestPort(const std::string& name, std::uint16_t address) {
  auto port = std::make_unique<TestPort>(simulation_, name, address);
  if (!ports_.Map(address, 1, port.get())) return nullptr;
  test_ports_.push_back(std::move(port));
  return test_ports_.back().get();
}

CanStation* Machine::AddStation(const std::string& bus_name, std::unique_ptr<CanStation> station) {
  CanBus* bus = FindBus(bus_name);
  if (bus == nullptr || station == nullptr) return nullptr;
  bus->Attach(station.get());
  stations_.push_back(std::move(station));
  return stations_.back().get();
}

CanBus* Machine::FindBus(const std::string& name) {
  for (auto& bus : buses_) {
    if (bus->Name() == name) return bus.get();
  }
  return nullptr;
}

PciCard* Machine::FindPciCard(const std::string& name) {
  for (auto& card : pci_cards_) {
    if (card->Configuration().name == name) return card.get();
  }
  return nullptr;
}

ParallelPort* Machine::FindParallelPort(const std::string& name) {
  for (auto& port : parallel_ports_) {
    if (port->Name() == name) return port.get();
  }
  return nullptr;
}

ParallelCanAdapter* Machine::FindParallelAdapter(const std::string& port_name) {
  for (auto& entry : adapters_) {
    if (entry.port->Name() == port_name) return entry.adapter.get();
  }
  return nullptr;
}

TestPort* Machine::FindTestPort(std::uint16_t address) {
  for (auto& port : test_ports_) {
    if (port->Address() == address) return port.get();
  }
  return nullptr;
}

std::vector<InterruptLine*> Machine::InterruptLines(std::uint8_t number) {
  constexpr std::uint16_t kConfigInterruptLine = 0x3C;
  std::vector<InterruptLine*> lines;
  for (auto& card : pci_cards_) {
    if (card->ReadConfig(kConfigInterruptLine, 1) == number) lines.push_back(&card->Interrupt());
  }
  for (auto& port : parallel_ports_) {
    if (port->Configuration().irq == number) lines.push_back(&port->Interrupt());
  }
  return lines;
}

}  // namespace vantor::sim

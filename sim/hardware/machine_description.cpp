// A machine description is one JSON object:
//
// {
//   "register_access_ns": 250,                 // optional, default 0
//   "buses": [
//     { "name": "can0", "bit_rate": 500000,
//       "stations": [ { "kind": "<registered kind>", ...fields of that kind... } ] }
//   ],
//   "pci_cards": [
//     { "name": "pci0", "bus_number": 0, "device_number": 4, "interrupt_line": 11,
//       "bar0": "0xFEB00000", "bar1": "0xE000", "bar2": "0xFEB01000", "bar2_size": "0x1000",
//       "vendor_id": "0x10B5", "device_id": "0x9030",
//       "subsystem_vendor_id": 0, "subsystem_id": 0, "offers_d1_d2": false,
//       "channels": [ { "bus": "can0" }, { "bus": "can1", "crystal_hz": 16000000, "port2_pins":
//       "0xBF" } ] }
//   ],
//   "parallel_ports": [
//     { "name": "lpt0", "base": "0x378", "irq": 7, "epp": true, "extended_control": true,
//       "bidirectional": true,
//       "adapter": { "bus": "can2", "crystal_hz": 16000000, "port2_pins": "0xBF" } }
//   ],
//   "test_ports": [ { "name": "testport", "address": "0x300" } ]
// }
//
// Every field but the names is optional. Numbers may be JSON integers or
// strings in decimal or "0x" hexadecimal. A channel or adapter without
// "bus" sits on no bus; a port without "adapter" has nothing plugged in.
//
// A bus is named like a network interface (up to 15 letters, digits, '_',
// '-' or '.'), the name its frames carry in a candump log. Its "bit_rate"
// (bits per second, 1 to 1000000) goes to every station entry that names
// none of its own, so one node can run at another rate than its bus. Two
// stations with one "node_id" on a bus are refused.
#include "sim/hardware/machine_description.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace vantor::sim {

using nlohmann::json;

bool StationKinds::Register(const std::string& kind, StationFactory factory) {
  if (kind.empty() || !factory) return false;
  return factories_.emplace(kind, std::move(factory)).second;
}

const StationFactory* StationKinds::Find(const std::string& kind) const {
  const auto it = factories_.find(kind);
  return it == factories_.end() ? nullptr : &it->second;
}

namespace {

// Failures while reading carry the path of the entry, e.g.
// "pci_cards[0].channels[1].bus: unknown bus \"can7\"".
struct DescriptionError {
  std::string message;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw DescriptionError{path + ": " + what};
}

void CheckKeys(const json& object, const std::string& path,
               std::initializer_list<const char*> allowed) {
  if (!object.is_object()) Fail(path, "must be an object");
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* key : allowed) known = known || item.key() == key;
    if (!known) Fail(path, "unknown field \"" + item.key() + "\"");
  }
}

std::uint64_t ParseUnsigned(const json& value, const std::string& path, std::uint64_t maximum) {
  std::uint64_t number = 0;
  if (value.is_number_unsigned()) {
    number = value.get<std::uint64_t>();
  } else if (value.is_number_integer()) {
    Fail(path, "must not be negative");
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 16) Fail(path, "is not a number: \"" + text + "\"");
    for (char c : digits) {
      const bool ok = hex ? std::isxdigit(static_cast<unsigned char>(c))
                          : std::isdigit(static_cast<unsigned char>(c));
      if (!ok) Fail(path, "is not a number: \"" + text + "\"");
    }
    try {
      number = std::stoull(digits, nullptr, hex ? 16 : 10);
    } catch (const std::exception&) {
      Fail(path, "is out of range");
    }
  } else {
    Fail(path, "must be a number");
  }
  if (number > maximum) Fail(path, "is out of range (at most " + std::to_string(maximum) + ")");
  return number;
}

template <typename T>
void ReadNumber(const json& object, const char* key, const std::string& path, T& field,
                std::uint64_t maximum = std::numeric_limits<T>::max()) {
  if (object.contains(key))
    field = static_cast<T>(ParseUnsigned(object.at(key), path + "." + key, maximum));
}

void ReadBool(const json& object, const char* key, const std::string& path, bool& field) {
  if (!object.contains(key)) return;
  if (!object.at(key).is_boolean()) Fail(path + "." + key, "must be true or false");
  field = object.at(key).get<bool>();
}

std::string ReadName(const json& object, const std::string& path) {
  if (!object.contains("name") || !object.at("name").is_string() ||
      object.at("name").get<std::string>().empty()) {
    Fail(path + ".name", "must be a non-empty text");
  }
  return object.at("name").get<std::string>();
}

std::string ReadBusName(const json& object, const std::string& path, Machine& machine) {
  if (!object.contains("bus") || object.at("bus").is_null()) return {};
  if (!object.at("bus").is_string()) Fail(path + ".bus", "must be a bus name");
  const std::string bus = object.at("bus").get<std::string>();
  if (machine.FindBus(bus) == nullptr) Fail(path + ".bus", "unknown bus \"" + bus + "\"");
  return bus;
}

const json& ReadArray(const json& object, const char* key, const std::string& path) {
  static const json kEmpty = json::array();
  if (!object.contains(key)) return kEmpty;
  if (!object.at(key).is_array()) Fail(path + key, "must be a list");
  return object.at(key);
}

I82527::Config ReadController(const json& entry, const std::string& path) {
  I82527::Config controller;
  ReadNumber(entry, "crystal_hz", path, controller.crystal_hz);
  if (controller.crystal_hz == 0) Fail(path + ".crystal_hz", "must not be 0");
  ReadNumber(entry, "port2_pins", path, controller.port2_pins);
  return controller;
}

// What a bus could not be on a real machine: a name no interface can carry
// or a rate beyond what CAN runs at.
void CheckBusCanExist(const json& entry, const std::string& path, const std::string& name) {
  constexpr std::size_t kLongestInterfaceName = 15;
  const bool fits =
      name.size() <= kLongestInterfaceName && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
      });
  if (!fits) {
    Fail(path + ".name",
         "\"" + name + "\" is no interface name (up to 15 letters, digits, '_', '-' or '.')");
  }
  if (!entry.contains("bit_rate")) return;
  constexpr std::uint64_t kFastestCanBitRate = 1000000;
  if (ParseUnsigned(entry.at("bit_rate"), path + ".bit_rate", kFastestCanBitRate) == 0)
    Fail(path + ".bit_rate", "must not be 0");
}

void ReadBus(const json& entry, const std::string& path, Machine& machine) {
  CheckKeys(entry, path, {"name", "bit_rate", "stations"});
  const std::string name = ReadName(entry, path);
  CheckBusCanExist(entry, path, name);
  if (machine.AddBus(name) == nullptr) Fail(path + ".name", "name \"" + name + "\" is used twice");
}

// A station entry as its kind gets it: with the bus's bit rate unless it
// names its own.
json WithBusBitRate(const json& station, const json& bus) {
  if (!bus.contains("bit_rate") || station.contains("bit_rate")) return station;
  json copy = station;
  copy["bit_rate"] = bus.at("bit_rate");
  return copy;
}

// Two stations answering to one node id would both take every request to
// it, and every answer would collide on the bus.
void CheckNodeIdsUnique(const json& stations, const std::string& path, const std::string& bus) {
  std::map<std::uint64_t, std::size_t> first_with_id;
  for (std::size_t i = 0; i < stations.size(); ++i) {
    const json& station = stations[i];
    if (!station.is_object() || !station.contains("node_id")) continue;
    const std::string station_path = path + ".stations[" + std::to_string(i) + "]";
    const std::uint64_t id = ParseUnsigned(station.at("node_id"), station_path + ".node_id",
                                           std::numeric_limits<std::uint64_t>::max());
    const auto [earlier, inserted] = first_with_id.emplace(id, i);
    if (!inserted) {
      Fail(station_path + ".node_id", "node id " + std::to_string(id) + " is used twice on bus \"" +
                                          bus + "\" (also stations[" +
                                          std::to_string(earlier->second) + "])");
    }
  }
}

void ReadStations(const json& entry, const std::string& path, Machine& machine,
                  const StationKinds& kinds) {
  const std::string bus = entry.at("name").get<std::string>();
  const json& stations = ReadArray(entry, "stations", path + ".");
  CheckNodeIdsUnique(stations, path, bus);
  for (std::size_t i = 0; i < stations.size(); ++i) {
    const std::string station_path = path + ".stations[" + std::to_string(i) + "]";
    const json& station = stations[i];
    if (!station.is_object() || !station.contains("kind") || !station.at("kind").is_string()) {
      Fail(station_path + ".kind", "must name a station kind");
    }
    const std::string kind = station.at("kind").get<std::string>();
    const StationFactory* factory = kinds.Find(kind);
    if (factory == nullptr) Fail(station_path + ".kind", "unknown station kind \"" + kind + "\"");
    std::string error;
    std::unique_ptr<CanStation> built =
        (*factory)(WithBusBitRate(station, entry), machine.Sim(), error);
    if (built == nullptr) Fail(station_path, error.empty() ? "station could not be built" : error);
    machine.AddStation(bus, std::move(built));
  }
}

void ReadPciCard(const json& entry, const std::string& path, Machine& machine) {
  CheckKeys(entry, path,
            {"name", "bus_number", "device_number", "interrupt_line", "bar0", "bar1", "bar2",
             "bar2_size", "vendor_id", "device_id", "subsystem_vendor_id", "subsystem_id",
             "offers_d1_d2", "channels"});
  PciCard::Config config;
  config.name = ReadName(entry, path);
  ReadNumber(entry, "bus_number", path, config.bus_number);
  ReadNumber(entry, "device_number", path, config.device_number, 31);
  ReadNumber(entry, "interrupt_line", path, config.interrupt_line);
  ReadNumber(entry, "bar0", path, config.bar0_address);
  ReadNumber(entry, "bar1", path, config.bar1_address, 0xFFFF);
  ReadNumber(entry, "bar2", path, config.bar2_address);
  ReadNumber(entry, "bar2_size", path, config.bar2_size);
  ReadNumber(entry, "vendor_id", path, config.vendor_id);
  ReadNumber(entry, "device_id", path, config.device_id);
  ReadNumber(entry, "subsystem_vendor_id", path, config.subsystem_vendor_id);
  ReadNumber(entry, "subsystem_id", path, config.subsystem_id);
  ReadBool(entry, "offers_d1_d2", path, config.offers_d1_d2);

  // The window must be a power of two that holds both controllers, and
  // every window must sit on its own size.
  constexpr std::uint32_t kSmallestBar2 = 0x200;
  constexpr std::uint32_t kBridgeWindow = PciBridge::kLocalRegisterSize;
  if (config.bar2_size < kSmallestBar2 || (config.bar2_size & (config.bar2_size - 1)) != 0) {
    Fail(path + ".bar2_size", "must be a power of two of at least 0x200");
  }
  if (config.bar0_address == 0 || config.bar0_address % kBridgeWindow != 0)
    Fail(path + ".bar0", "must be a nonzero multiple of 0x80");
  if (config.bar1_address == 0 || config.bar1_address % kBridgeWindow != 0)
    Fail(path + ".bar1", "must be a nonzero multiple of 0x80");
  if (config.bar2_address == 0 || config.bar2_address % config.bar2_size != 0) {
    Fail(path + ".bar2", "must be a nonzero multiple of the window size");
  }
  const std::uint64_t bar0_end = std::uint64_t{config.bar0_address} + kBridgeWindow;
  const std::uint64_t bar2_end = std::uint64_t{config.bar2_address} + config.bar2_size;
  if (config.bar0_address < bar2_end && config.bar2_address < bar0_end)
    Fail(path + ".bar2", "overlaps bar0");

  std::array<std::string, PciCard::kChannels> buses;
  const json& channels = ReadArray(entry, "channels", path + ".");
  if (channels.size() > PciCard::kChannels) Fail(path + ".channels", "a card has two channels");
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const std::string channel_path = path + ".channels[" + std::to_string(i) + "]";
    CheckKeys(channels[i], channel_path, {"bus", "crystal_hz", "port2_pins"});
    buses[i] = ReadBusName(channels[i], channel_path, machine);
    config.controllers[i] = ReadController(channels[i], channel_path);
  }
  if (machine.AddPciCard(config, buses) == nullptr) {
    Fail(path, "name, PCI slot or I/O ports (bar1) already in use");
  }
}

void ReadParallelPort(const json& entry, const std::string& path, Machine& machine) {
  CheckKeys(entry, path,
            {"name", "base", "irq", "epp", "extended_control", "bidirectional", "adapter"});
  ParallelPort::Config config;
  config.name = ReadName(entry, path);
  ReadNumber(entry, "base", path, config.base,
             0xFFFF - ParallelPort::kExtendedBase - ParallelPort::kExtendedSpan);
  ReadNumber(entry, "irq", path, config.irq);
  ReadBool(entry, "epp", path, config.epp);
  ReadBool(entry, "extended_control", path, config.extended_control);
  ReadBool(entry, "bidirectional", path, config.bidirectional);
  if (config.base == 0) Fail(path + ".base", "must not be 0");
  ParallelPort* port = machine.AddParallelPort(config);
  if (port == nullptr) Fail(path, "name or ports already in use");
  if (!entry.contains("adapter") || entry.at("adapter").is_null()) return;
  const std::string adapter_path = path + ".adapter";
  const json& adapter = entry.at("adapter");
  CheckKeys(adapter, adapter_path, {"bus", "crystal_hz", "port2_pins"});
  const std::string bus = ReadBusName(adapter, adapter_path, machine);
  machine.AddParallelAdapter(*port, ReadController(adapter, adapter_path), bus);
}

void ReadTestPort(const json& entry, const std::string& path, Machine& machine) {
  CheckKeys(entry, path, {"name", "address"});
  const std::string name = ReadName(entry, path);
  if (!entry.contains("address")) Fail(path + ".address", "is missing");
  std::uint16_t address = 0;
  ReadNumber(entry, "address", path, address);
  if (machine.AddTestPort(name, address) == nullptr) Fail(path + ".address", "port already in use");
}

std::unique_ptr<Machine> Build(const json& description, const StationKinds& kinds) {
  CheckKeys(description, "machine",
            {"register_access_ns", "buses", "pci_cards", "parallel_ports", "test_ports"});
  auto machine = std::make_unique<Machine>();
  SimTime access_cost = 0;
  ReadNumber(description, "register_access_ns", "machine", access_cost, kNanosecondsPerMillisecond);
  machine->Sim().SetRegisterAccessCost(access_cost);

  const json& buses = ReadArray(description, "buses", "");
  for (std::size_t i = 0; i < buses.size(); ++i)
    ReadBus(buses[i], "buses[" + std::to_string(i) + "]", *machine);
  const json& cards = ReadArray(description, "pci_cards", "");
  for (std::size_t i = 0; i < cards.size(); ++i)
    ReadPciCard(cards[i], "pci_cards[" + std::to_string(i) + "]", *machine);
  const json& ports = ReadArray(description, "parallel_ports", "");
  for (std::size_t i = 0; i < ports.size(); ++i) {
    ReadParallelPort(ports[i], "parallel_ports[" + std::to_string(i) + "]", *machine);
  }
  const json& test_ports = ReadArray(description, "test_ports", "");
  for (std::size_t i = 0; i < test_ports.size(); ++i) {
    ReadTestPort(test_ports[i], "test_ports[" + std::to_string(i) + "]", *machine);
  }
  // Stations last, so a node may find every bus and card in place.
  for (std::size_t i = 0; i < buses.size(); ++i) {
    ReadStations(buses[i], "buses[" + std::to_string(i) + "]", *machine, kinds);
  }
  return machine;
}

}  // namespace

MachineLoadResult LoadMachineDescription(std::string_view json_text, const StationKinds& kinds) {
  MachineLoadResult result;
  try {
    const json description = json::parse(json_text.begin(), json_text.end());
    result.machine = Build(description, kinds);
  } catch (const DescriptionError& error) {
    result.error = error.message;
  } catch (const json::exception& error) {
    result.error = std::string("machine description: ") + error.what();
  }
  return result;
}

MachineLoadResult LoadMachineDescriptionFile(const std::string& path, const StationKinds& kinds) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return MachineLoadResult{nullptr, path + ": cannot be read"};
  std::ostringstream text;
  text << file.rdbuf();
  MachineLoadResult result = LoadMachineDescription(text.str(), kinds);
  if (!result) result.error = path + ": " + result.error;
  return result;
}

std::string_view DefaultMachineDescription() {
  return R"({
  "buses": [ { "name": "can0" }, { "name": "can1" } ],
  "pci_cards": [
    { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] }
  ]
})";
}

}  // namespace vantor::sim

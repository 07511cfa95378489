#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "sim/can_station.h"
#include "sim/hardware/machine.h"

namespace vantor::sim {

// Builds a station of one kind from its entry in a machine description. On
// a bad entry it returns nullptr and says why in `error`.
using StationFactory = std::function<std::unique_ptr<CanStation>(
    const nlohmann::json& entry, Simulation& simulation, std::string& error)>;

// The station kinds a machine description may name ("kind" of a bus's
// station entry). The simulated nodes register theirs here.
class StationKinds {
 public:
  // False when the kind is registered already.
  bool Register(const std::string& kind, StationFactory factory);
  const StationFactory* Find(const std::string& kind) const;

 private:
  std::map<std::string, StationFactory> factories_;
};

struct MachineLoadResult {
  std::unique_ptr<Machine> machine;  // null on failure
  std::string error;                 // what was wrong, with the path of the entry

  explicit operator bool() const { return machine != nullptr; }
};

// Reads a machine description (JSON, format in the comment of
// machine_description.cpp) and builds the machine. Every field is checked;
// unknown fields are errors, so a typing slip does not pass unnoticed.
MachineLoadResult LoadMachineDescription(std::string_view json_text, const StationKinds& kinds);
MachineLoadResult LoadMachineDescriptionFile(const std::string& path, const StationKinds& kinds);

// The small machine that runs when no description is given: one PCI card
// with its two channels on buses "can0" and "can1", no nodes.
std::string_view DefaultMachineDescription();

}  // namespace vantor::sim

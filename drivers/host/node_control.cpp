#include "drivers/host/node_control.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "drivers/host/object_value_text.h"
#include "platform/devhost/control_words.h"
#include "sim/canopen/node_station.h"
#include "sim/drives/drive_model.h"
#include "sim/drives/handwheel_gateway.h"
#include "sim/drives/io_module.h"

namespace vantor::host {

namespace {

using sim::canopen::NodeStation;
using Words = std::span<const std::string_view>;

constexpr unsigned kLargestNodeId = 127;
// The gateway's counter wraps at 16 bits and a drive reads the difference
// of two counts as signed: a longer turn at once would read backwards.
constexpr std::int32_t kLargestWheelTurn = 32767;
// Words echoed in an answer are cut to this and kept printable.
constexpr std::size_t kLongestEcho = 32;

std::string Echo(std::string_view word) {
  std::string text;
  for (const char c : word.substr(0, kLongestEcho)) {
    const auto byte = static_cast<unsigned char>(c);
    text += byte < 0x20 || byte >= 0x7F ? '?' : c;
  }
  if (word.size() > kLongestEcho) text += "...";
  return text;
}

std::string ObjectName(std::uint16_t index, std::uint8_t subindex) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%04X:%02X", index, subindex);
  return text;
}

// The node a command addresses, with the words after its id.
struct Target {
  NodeStation& station;
  std::string name;  // "node 3 on can0", for answers
  Words words;       // from the command's name on

  sim::canopen::CanopenNode& Node() { return station.Node(); }
  template <typename Device>
  Device* As() {
    return dynamic_cast<Device*>(station.Application());
  }
  std::string Error(const std::string& why) const { return "error: " + name + " " + why; }
};

bool ParseOnOff(std::string_view word, bool& on) {
  on = word == "on";
  return on || word == "off";
}

// An existing entry of the target named by two words, or the answer why not.
const sim::canopen::ObjectEntry* FindObject(Target& target, std::string_view indexWord,
                                            std::string_view subindexWord, std::string& answer) {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  if (!devhost::ParseControlNumber(indexWord, index) ||
      !devhost::ParseControlNumber(subindexWord, subindex)) {
    answer = "error: an object is an index (16 bits) and a subindex (8 bits)";
    return nullptr;
  }
  const sim::canopen::ObjectEntry* entry = target.Node().Objects().Find(index, subindex);
  if (entry == nullptr) answer = target.Error("has no object " + ObjectName(index, subindex));
  return entry;
}

// ---- any node -----------------------------------------------------------------

std::string Read(Target& target) {
  if (target.words.size() != 3) return "error: read needs an index and a subindex";
  std::string answer;
  const auto* entry = FindObject(target, target.words[1], target.words[2], answer);
  if (entry == nullptr) return answer;
  target.Node().RefreshReadings();
  return "ok " + FormatObjectValue(*entry);
}

// `text` is the rest of the line from the value on: a visible string may
// hold blanks.
std::string Write(Target& target, std::string_view text) {
  if (target.words.size() < 4) return "error: write needs an index, a subindex and a value";
  std::string answer;
  const auto* entry = FindObject(target, target.words[1], target.words[2], answer);
  if (entry == nullptr) return answer;
  const std::string object = ObjectName(entry->Key().index, entry->Key().subindex);
  if (entry->Type() != sim::canopen::DataType::kVisibleString) {
    if (target.words.size() != 4) return "error: " + object + " takes one value";
    text = target.words[3];
  }
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (!ParseObjectValue(*entry, text, bytes, why)) return "error: " + object + " " + why;
  if (!target.Node().Objects().Set(entry->Key().index, entry->Key().subindex, bytes)) {
    return "error: " + object + " did not take the value";
  }
  return "ok";
}

std::string Fault(Target& target) {
  std::uint16_t code = 0;
  if (target.words.size() != 2 || !devhost::ParseControlNumber(target.words[1], code) ||
      code == 0) {
    // Code 0 means "no error" and would clear, not raise, a fault.
    return "error: fault needs an emergency code from 0x0001 to 0xFFFF";
  }
  if (auto* drive = target.As<sim::drives::DriveModel>()) {
    drive->InjectFault(code);
  } else {
    target.Node().RaiseEmergency(code, sim::canopen::emergency::kGenericErrorBit);
  }
  return "ok";
}

std::string Silent(Target& target) {
  bool on = false;
  if (target.words.size() != 2 || !ParseOnOff(target.words[1], on)) {
    return "error: silent needs on or off";
  }
  target.Node().Faults().SilenceAll(on);
  return "ok";
}

std::string SdoAbort(Target& target) {
  if (target.words.size() != 4) {
    return "error: sdo-abort needs an index, a subindex and an abort code or off";
  }
  std::string answer;
  const auto* entry = FindObject(target, target.words[1], target.words[2], answer);
  if (entry == nullptr) return answer;
  sim::canopen::FaultInjection& faults = target.Node().Faults();
  if (target.words[3] == "off") {
    faults.ClearForcedAbort(entry->Key().index, entry->Key().subindex);
    return "ok";
  }
  std::uint32_t code = 0;
  if (!devhost::ParseControlNumber(target.words[3], code) || code == 0) {
    return "error: an abort code is a 32-bit number other than 0";
  }
  faults.ForceAbort(
      {entry->Key().index, entry->Key().subindex, static_cast<sim::canopen::SdoAbortCode>(code)});
  return "ok";
}

// ---- drives ---------------------------------------------------------------------

std::string FollowingError(Target& target) {
  if (target.words.size() != 1) return "error: following-error takes nothing";
  auto* drive = target.As<sim::drives::DriveModel>();
  if (drive == nullptr) return target.Error("is not a drive");
  drive->InjectFollowingError();
  return "ok";
}

std::string RefuseEnable(Target& target) {
  bool on = false;
  if (target.words.size() != 2 || !ParseOnOff(target.words[1], on)) {
    return "error: refuse-enable needs on or off";
  }
  auto* drive = target.As<sim::drives::DriveModel>();
  if (drive == nullptr) return target.Error("is not a drive");
  drive->SetEnableRefused(on);
  return "ok";
}

std::optional<sim::drives::DriveSwitch> ParseSwitch(std::string_view word) {
  if (word == "negative-limit") return sim::drives::DriveSwitch::kNegativeLimit;
  if (word == "positive-limit") return sim::drives::DriveSwitch::kPositiveLimit;
  if (word == "home") return sim::drives::DriveSwitch::kHome;
  return std::nullopt;
}

std::string Switch(Target& target) {
  const std::optional<sim::drives::DriveSwitch> which =
      target.words.size() == 3 ? ParseSwitch(target.words[1]) : std::nullopt;
  std::int32_t position = 0;
  const bool none = target.words.size() == 3 && target.words[2] == "none";
  if (!which || (!none && !devhost::ParseControlNumber(target.words[2], position))) {
    return "error: switch needs negative-limit, positive-limit or home and a 32-bit position or "
           "none";
  }
  auto* drive = target.As<sim::drives::DriveModel>();
  if (drive == nullptr) return target.Error("is not a drive");
  if (!drive->SetSwitchPosition(*which,
                                none ? std::nullopt : std::optional<std::int32_t>(position))) {
    return target.Error("would have its negative limit at or above its positive limit");
  }
  return "ok";
}

std::string Analogue(Target& target) {
  std::uint16_t value = 0;
  if (target.words.size() != 2 || !devhost::ParseControlNumber(target.words[1], value)) {
    return "error: analogue needs a 16-bit value";
  }
  auto* drive = target.As<sim::drives::DriveModel>();
  if (drive == nullptr) return target.Error("is not a drive");
  if (!drive->SetAnalogueValue(value)) return target.Error("has no A/D converter");
  return "ok";
}

// ---- I/O module and handwheel gateway ---------------------------------------------

// A drive's user inputs (bits 4 to 7 of its digital inputs).
std::string DriveInputs(Target& target, sim::drives::DriveModel& drive) {
  std::uint8_t value = 0;
  if (!devhost::ParseControlNumber(target.words[1], value) ||
      (value & ~sim::drives::inputs::kUserInputsMask) != 0) {
    return "error: a drive's inputs are bits 4 to 7 (a value of 0x00 to 0xF0)";
  }
  drive.SetUserInputs(value);
  return "ok";
}

std::string Inputs(Target& target) {
  if (target.words.size() == 2) {
    if (auto* drive = target.As<sim::drives::DriveModel>()) return DriveInputs(target, *drive);
  }
  std::uint8_t byte = 0;
  std::uint8_t value = 0;
  if (target.words.size() != 3 || !devhost::ParseControlNumber(target.words[1], byte) ||
      byte >= sim::drives::kIoModuleBytes || !devhost::ParseControlNumber(target.words[2], value)) {
    return "error: inputs needs an input byte (0 or 1) and its 8-bit value";
  }
  auto* module = target.As<sim::drives::IoModule>();
  if (module == nullptr) return target.Error("is not an I/O module");
  module->SetInputs(byte, value);
  return "ok";
}

std::string Wheel(Target& target) {
  std::int32_t pulses = 0;
  if (target.words.size() != 2 || !devhost::ParseControlNumber(target.words[1], pulses) ||
      pulses > kLargestWheelTurn || pulses < -kLargestWheelTurn) {
    return "error: wheel needs pulses from -32767 to 32767";
  }
  auto* gateway = target.As<sim::drives::HandwheelGateway>();
  if (gateway == nullptr) return target.Error("is not a handwheel gateway");
  gateway->TurnWheel(pulses);
  return "ok";
}

std::string Buttons(Target& target) {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  if (target.words.size() != 3 || !devhost::ParseControlNumber(target.words[1], first) ||
      !devhost::ParseControlNumber(target.words[2], second)) {
    return "error: buttons needs two 8-bit values";
  }
  auto* gateway = target.As<sim::drives::HandwheelGateway>();
  if (gateway == nullptr) return target.Error("is not a handwheel gateway");
  gateway->PressButtons(first, second);
  return "ok";
}

// ---- dispatch -------------------------------------------------------------------

struct NodeCommand {
  std::string_view name;
  std::string (*run)(Target& target);
};

constexpr NodeCommand kNodeCommands[] = {
    {"read", &Read},
    {"fault", &Fault},
    {"silent", &Silent},
    {"sdo-abort", &SdoAbort},
    {"following-error", &FollowingError},
    {"refuse-enable", &RefuseEnable},
    {"switch", &Switch},
    {"analogue", &Analogue},
    {"inputs", &Inputs},
    {"wheel", &Wheel},
    {"buttons", &Buttons},
};

NodeStation* FindNode(sim::CanBus& bus, unsigned id) {
  for (sim::CanStation* station : bus.Stations()) {
    auto* node = dynamic_cast<NodeStation*>(station);
    if (node != nullptr && node->Node().Id() == id) return node;
  }
  return nullptr;
}

}  // namespace

std::string RunNodeCommand(SimulatedMachine& machine, std::string_view arguments) {
  const std::vector<std::string_view> words = devhost::ControlWords(arguments);
  if (words.size() < 3) return "error: node needs a bus, a node id and a command";
  unsigned id = 0;
  if (!devhost::ParseControlNumber(words[1], id) || id == 0 || id > kLargestNodeId) {
    return "error: a node id runs from 1 to 127";
  }
  const std::string_view name = words[2];
  const NodeCommand* command = nullptr;
  for (const NodeCommand& candidate : kNodeCommands) {
    if (candidate.name == name) command = &candidate;
  }
  if (command == nullptr && name != "write") {
    return "error: no node command " + Echo(name) +
           " (read, write, fault, silent, sdo-abort, following-error, refuse-enable, switch, "
           "analogue, inputs, wheel, buttons)";
  }

  SimulationPump::ModelAccess access(machine.Pump());
  sim::CanBus* bus = machine.Models().FindBus(std::string(words[0]));
  if (bus == nullptr) return "error: no bus " + Echo(words[0]);
  NodeStation* station = FindNode(*bus, id);
  if (station == nullptr) return "error: no node " + std::to_string(id) + " on " + bus->Name();
  Target target{*station, "node " + std::to_string(id) + " on " + bus->Name(),
                Words(words).subspan(2)};
  if (command != nullptr) return command->run(target);
  // A visible string runs to the end of the line, blanks and all.
  const std::string_view value =
      words.size() > 5
          ? arguments.substr(static_cast<std::size_t>(words[5].data() - arguments.data()))
          : std::string_view{};
  return Write(target, value);
}

}  // namespace vantor::host

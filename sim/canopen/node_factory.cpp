#include "sim/canopen/node_factory.h"

#include <charconv>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantor::sim::canopen {

namespace {

using nlohmann::json;

constexpr std::uint64_t kDefaultBitRate = 1000000;
constexpr std::uint64_t kNanosecondsPerSecond = 1000000000;

const std::set<std::string, std::less<>> kCommonOptions = {
    "boot_time_ms",
    "bit_rate",
    "short_expedited_upload",
    "short_sdo_requests",
    "pdo_changes_while_valid",
    "device_type",
    "vendor_id",
    "product_code",
    "revision",
    "serial_number",
    "device_name",
    "hardware_version",
    "software_version",
    "guard_time_ms",
    "life_time_factor",
    "absent_objects",
};

struct AbsentObject {
  std::uint16_t index = 0;
  std::optional<std::uint8_t> subindex;
};

struct ParsedOptions {
  NodeOptions node;
  SimTime bitTime = kDefaultBitTime;
  std::vector<AbsentObject> absent;
};

std::optional<std::uint64_t> ParseNumber(std::string_view text, int base) {
  std::uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint64_t> ParseHex(std::string_view text) { return ParseNumber(text, 16); }
std::optional<std::uint64_t> ParseDecimal(std::string_view text) { return ParseNumber(text, 10); }

// An unsigned option no larger than `maximum`: a JSON number, or a string
// in decimal or "0x" hexadecimal, as everywhere in a machine description.
bool ReadUnsigned(const json& options, const char* key, std::uint64_t maximum, std::uint64_t& value,
                  std::string& error) {
  const auto found = options.find(key);
  if (found == options.end()) return true;
  std::optional<std::uint64_t> parsed;
  if (found->is_number_unsigned()) {
    parsed = found->get<std::uint64_t>();
  } else if (found->is_number_integer()) {
    const auto number = found->get<std::int64_t>();
    if (number >= 0) parsed = static_cast<std::uint64_t>(number);
  } else if (found->is_string()) {
    const std::string_view text = found->get_ref<const std::string&>();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      parsed = ParseHex(text.substr(2));
    } else {
      parsed = ParseDecimal(text);
    }
  }
  if (!parsed || *parsed > maximum) {
    error = std::string("option '") + key + "' must be an unsigned integer up to " +
            std::to_string(maximum);
    return false;
  }
  value = *parsed;
  return true;
}

bool ReadText(const json& options, const char* key, std::string& value, std::string& error) {
  const auto found = options.find(key);
  if (found == options.end()) return true;
  if (!found->is_string()) {
    error = std::string("option '") + key + "' must be a string";
    return false;
  }
  value = found->get<std::string>();
  return true;
}

bool ReadSwitch(const json& options, const char* key, bool& value, std::string& error) {
  const auto found = options.find(key);
  if (found == options.end()) return true;
  if (!found->is_boolean()) {
    error = std::string("option '") + key + "' must be true or false";
    return false;
  }
  value = found->get<bool>();
  return true;
}

bool ReadAbsentObjects(const json& options, std::vector<AbsentObject>& absent, std::string& error) {
  const auto found = options.find("absent_objects");
  if (found == options.end()) return true;
  const std::string message =
      "option 'absent_objects' must be an array of \"IIII\" or \"IIII:SS\" (hexadecimal)";
  if (!found->is_array()) {
    error = message;
    return false;
  }
  for (const json& item : *found) {
    if (!item.is_string()) {
      error = message;
      return false;
    }
    const std::string_view text = item.get_ref<const std::string&>();
    const std::size_t colon = text.find(':');
    const auto index = ParseHex(text.substr(0, colon));
    AbsentObject object;
    if (!index || *index > 0xFFFF || colon == 0) {
      error = message;
      return false;
    }
    object.index = static_cast<std::uint16_t>(*index);
    if (colon != std::string_view::npos) {
      const auto sub = ParseHex(text.substr(colon + 1));
      if (!sub || *sub > 0xFF) {
        error = message;
        return false;
      }
      object.subindex = static_cast<std::uint8_t>(*sub);
    }
    absent.push_back(object);
  }
  return true;
}

bool BuildGenericNode(NodeStation& /*station*/, const json& /*options*/, std::string& /*error*/) {
  return true;
}

// A deque, so that a kind found under the lock stays where it is while
// later registrations append: kinds are never changed or removed.
struct KindTable {
  KindTable() { kinds.push_back({"generic", {}, &BuildGenericNode}); }
  std::mutex mutex;
  std::deque<NodeKindDefinition> kinds;
};

KindTable& Kinds() {
  static KindTable table;
  return table;
}

const NodeKindDefinition* FindKind(std::string_view name) {
  KindTable& table = Kinds();
  const std::lock_guard lock(table.mutex);
  for (const NodeKindDefinition& kind : table.kinds) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

bool ParseCommonOptions(const json& options, const NodeKindDefinition& kind, ParsedOptions& parsed,
                        std::string& error) {
  if (!options.is_null() && !options.is_object()) {
    error = "node options must be a JSON object";
    return false;
  }
  if (options.is_null()) return true;
  for (const auto& item : options.items()) {
    if (!kCommonOptions.contains(item.key()) && !kind.options.contains(item.key())) {
      error = "unknown node option '" + item.key() + "'";
      return false;
    }
  }
  constexpr auto kU32 = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t bootTimeMs = 0;
  std::uint64_t bitRate = kDefaultBitRate;
  std::uint64_t guardTime = parsed.node.guarding.guardTimeMs;
  std::uint64_t lifeTimeFactor = parsed.node.guarding.lifeTimeFactor;
  NodeIdentity& identity = parsed.node.identity;
  std::uint64_t deviceType = identity.deviceType;
  std::uint64_t vendorId = identity.vendorId;
  std::uint64_t productCode = identity.productCode;
  std::uint64_t revision = identity.revision;
  std::uint64_t serialNumber = identity.serialNumber;
  // A day of boot time is far past any device; it keeps the sums in range.
  const bool ok = ReadUnsigned(options, "boot_time_ms", 86400000, bootTimeMs, error) &&
                  ReadUnsigned(options, "bit_rate", 1000000, bitRate, error) &&
                  ReadUnsigned(options, "guard_time_ms", 0xFFFF, guardTime, error) &&
                  ReadUnsigned(options, "life_time_factor", 0xFF, lifeTimeFactor, error) &&
                  ReadUnsigned(options, "device_type", kU32, deviceType, error) &&
                  ReadUnsigned(options, "vendor_id", kU32, vendorId, error) &&
                  ReadUnsigned(options, "product_code", kU32, productCode, error) &&
                  ReadUnsigned(options, "revision", kU32, revision, error) &&
                  ReadUnsigned(options, "serial_number", kU32, serialNumber, error) &&
                  ReadText(options, "device_name", identity.deviceName, error) &&
                  ReadText(options, "hardware_version", identity.hardwareVersion, error) &&
                  ReadText(options, "software_version", identity.softwareVersion, error) &&
                  ReadAbsentObjects(options, parsed.absent, error);
  if (!ok) return false;
  if (bitRate == 0) {
    error = "option 'bit_rate' must be above 0";
    return false;
  }
  if (!ReadSwitch(options, "short_expedited_upload", parsed.node.shortExpeditedUpload, error) ||
      !ReadSwitch(options, "short_sdo_requests", parsed.node.shortSdoRequests, error) ||
      !ReadSwitch(options, "pdo_changes_while_valid", parsed.node.pdoChangesWhileValid, error)) {
    return false;
  }
  parsed.node.bootTime = bootTimeMs * kNanosecondsPerMillisecond;
  parsed.bitTime = kNanosecondsPerSecond / bitRate;
  parsed.node.guarding.guardTimeMs = static_cast<std::uint16_t>(guardTime);
  parsed.node.guarding.lifeTimeFactor = static_cast<std::uint8_t>(lifeTimeFactor);
  identity.deviceType = static_cast<std::uint32_t>(deviceType);
  identity.vendorId = static_cast<std::uint32_t>(vendorId);
  identity.productCode = static_cast<std::uint32_t>(productCode);
  identity.revision = static_cast<std::uint32_t>(revision);
  identity.serialNumber = static_cast<std::uint32_t>(serialNumber);
  return true;
}

void RemoveAbsentObjects(ObjectDictionary& dictionary, const std::vector<AbsentObject>& absent) {
  for (const AbsentObject& object : absent) {
    if (object.subindex) {
      dictionary.Remove(object.index, *object.subindex);
    } else {
      dictionary.RemoveIndex(object.index);
    }
  }
}

}  // namespace

bool RegisterNodeKind(NodeKindDefinition kind) {
  if (kind.name.empty() || kind.build == nullptr) return false;
  KindTable& table = Kinds();
  const std::lock_guard lock(table.mutex);
  for (const NodeKindDefinition& known : table.kinds) {
    if (known.name == kind.name) return false;
  }
  table.kinds.push_back(std::move(kind));
  return true;
}

NodeCreation CreateNode(std::string_view kindName, unsigned nodeId, const nlohmann::json& options) {
  NodeCreation creation;
  const NodeKindDefinition* kind = FindKind(kindName);
  if (kind == nullptr) {
    creation.error = "unknown node kind '" + std::string(kindName) + "'";
    return creation;
  }
  if (!IsValidNodeId(nodeId)) {
    creation.error = "node id " + std::to_string(nodeId) + " is outside 1..127";
    return creation;
  }
  ParsedOptions parsed;
  parsed.node.nodeId = static_cast<NodeId>(nodeId);
  if (!ParseCommonOptions(options, *kind, parsed, creation.error)) return creation;

  auto station = std::make_unique<NodeStation>(parsed.node, parsed.bitTime);
  if (!kind->build(*station, options, creation.error)) {
    // The description's author always learns why.
    if (creation.error.empty()) {
      creation.error = "node kind '" + kind->name + "' refused its options";
    }
    return creation;
  }
  // Last, so that a variant can also leave out objects its kind adds.
  RemoveAbsentObjects(station->Node().Objects(), parsed.absent);
  creation.station = std::move(station);
  return creation;
}

NodeCreation CreateNodeFromEntry(std::string_view kind, const nlohmann::json& entry) {
  NodeCreation creation;
  if (!entry.is_object()) {
    creation.error = "a node entry must be a JSON object";
    return creation;
  }
  std::uint64_t nodeId = 0;
  if (!entry.contains("node_id")) {
    creation.error = "option 'node_id' is missing";
    return creation;
  }
  if (!ReadUnsigned(entry, "node_id", kMaxNodeId, nodeId, creation.error)) return creation;
  json options = entry;
  options.erase("kind");
  options.erase("node_id");
  return CreateNode(kind, static_cast<unsigned>(nodeId), options);
}

std::vector<std::string_view> NodeKindNames() {
  KindTable& table = Kinds();
  const std::lock_guard lock(table.mutex);
  std::vector<std::string_view> names;
  for (const NodeKindDefinition& kind : table.kinds) names.push_back(kind.name);
  return names;
}

}  // namespace vantor::sim::canopen

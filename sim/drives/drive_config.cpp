#include "sim/drives/drive_config.h"

#include <charconv>
#include <limits>

#include <nlohmann/json.hpp>

namespace vantor::sim::drives {

namespace {

using nlohmann::json;

// An integer option in the signed 32-bit range: a JSON number, or a string
// in decimal or "0x" hexadecimal, as everywhere in a machine description.
bool ReadInt32(const json& options, const char* key, std::optional<std::int32_t>& value,
               std::string& error) {
  const auto found = options.find(key);
  if (found == options.end() || found->is_null()) return true;
  std::optional<std::int64_t> parsed;
  if (found->is_number_integer()) {
    parsed = found->get<std::int64_t>();
  } else if (found->is_string()) {
    std::string_view text = found->get_ref<const std::string&>();
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
      negative = true;
      text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      text.remove_prefix(2);
    }
    std::int64_t number = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (!text.empty() && result.ec == std::errc{} && result.ptr == text.data() + text.size()) {
      parsed = negative ? -number : number;
    }
  }
  if (!parsed || *parsed < std::numeric_limits<std::int32_t>::min() ||
      *parsed > std::numeric_limits<std::int32_t>::max()) {
    error = std::string("option '") + key + "' must be a signed 32-bit integer";
    return false;
  }
  value = static_cast<std::int32_t>(*parsed);
  return true;
}

bool ReadBool(const json& options, const char* key, bool& value, std::string& error) {
  const auto found = options.find(key);
  if (found == options.end()) return true;
  if (!found->is_boolean()) {
    error = std::string("option '") + key + "' must be true or false";
    return false;
  }
  value = found->get<bool>();
  return true;
}

}  // namespace

std::optional<DriveVariant> ParseDriveVariant(std::string_view name) {
  if (name == "standard") return DriveVariant::kStandard;
  if (name == "compact") return DriveVariant::kCompact;
  if (name == "dual") return DriveVariant::kDual;
  return std::nullopt;
}

std::string_view ModuleText(DriveVariant variant) {
  switch (variant) {
    case DriveVariant::kStandard:
      return "ZEB11 K905 01.60.03 servo";
    case DriveVariant::kCompact:
      return "PWK 01.41.00.01";
    case DriveVariant::kDual:
      return "ZEB22/ZEB44 K905 01.62.00 dual power stage, two axis firmware build 2026";
  }
  return "";
}

const std::set<std::string, std::less<>>& DriveOptionNames() {
  static const std::set<std::string, std::less<>> names = [] {
    std::set<std::string, std::less<>> all = {"variant",
                                              "negative_limit",
                                              "positive_limit",
                                              "home_switch",
                                              "index_spacing",
                                              "index_offset",
                                              "start_position",
                                              "reports_gantry_phases",
                                              "gantry_pdo_homing",
                                              "position_factor_numerator",
                                              "position_factor_divisor",
                                              "max_acceleration"};
    all.insert(DriveBehaviourOptionNames().begin(), DriveBehaviourOptionNames().end());
    return all;
  }();
  return names;
}

const std::set<std::string, std::less<>>& DriveBehaviourOptionNames() {
  static const std::set<std::string, std::less<>> names = {
      "quick_stop_option_code", "missed_sync_limit", "enable_from_ready_to_switch_on"};
  return names;
}

bool IsSupportedQuickStopOptionCode(std::int64_t code) {
  return code == 1 || code == 2 || code == 5 || code == 6;
}

bool ParseDriveBehaviour(const json& options, DriveBehaviour& behaviour, std::string& error) {
  std::optional<std::int32_t> quickStop = behaviour.quickStopOptionCode;
  std::optional<std::int32_t> missedSyncs = static_cast<std::int32_t>(behaviour.missedSyncLimit);
  const bool ok = ReadInt32(options, "quick_stop_option_code", quickStop, error) &&
                  ReadInt32(options, "missed_sync_limit", missedSyncs, error) &&
                  ReadBool(options, "enable_from_ready_to_switch_on",
                           behaviour.enableFromReadyToSwitchOn, error);
  if (!ok) return false;
  if (!IsSupportedQuickStopOptionCode(*quickStop)) {
    error = "option 'quick_stop_option_code' must be 1, 2, 5 or 6";
    return false;
  }
  if (*missedSyncs <= 0) {
    error = "option 'missed_sync_limit' must be above 0";
    return false;
  }
  behaviour.quickStopOptionCode = static_cast<std::int16_t>(*quickStop);
  behaviour.missedSyncLimit = static_cast<std::uint32_t>(*missedSyncs);
  return true;
}

bool ParseDriveConfig(const json& options, DriveConfig& config, std::string& error) {
  if (options.is_null()) return true;
  if (!options.is_object()) {
    error = "node options must be a JSON object";
    return false;
  }
  if (const auto found = options.find("variant"); found != options.end()) {
    const auto variant =
        found->is_string() ? ParseDriveVariant(found->get_ref<const std::string&>()) : std::nullopt;
    if (!variant) {
      error = "option 'variant' must be \"standard\", \"compact\" or \"dual\"";
      return false;
    }
    config.variant = *variant;
  }
  std::optional<std::int32_t> spacing = config.indexSpacing;
  std::optional<std::int32_t> offset = config.indexOffset;
  std::optional<std::int32_t> start = config.startPosition;
  std::optional<std::int32_t> numerator = static_cast<std::int32_t>(config.positionFactorNumerator);
  std::optional<std::int32_t> divisor = static_cast<std::int32_t>(config.positionFactorDivisor);
  std::optional<std::int32_t> acceleration = static_cast<std::int32_t>(config.maxAcceleration);
  const bool ok = ReadInt32(options, "negative_limit", config.negativeLimit, error) &&
                  ReadInt32(options, "positive_limit", config.positiveLimit, error) &&
                  ReadInt32(options, "home_switch", config.homeSwitch, error) &&
                  ReadInt32(options, "index_spacing", spacing, error) &&
                  ReadInt32(options, "index_offset", offset, error) &&
                  ReadInt32(options, "start_position", start, error) &&
                  ReadBool(options, "reports_gantry_phases", config.reportsGantryPhases, error) &&
                  ReadBool(options, "gantry_pdo_homing", config.gantryPdoHoming, error) &&
                  ReadInt32(options, "position_factor_numerator", numerator, error) &&
                  ReadInt32(options, "position_factor_divisor", divisor, error) &&
                  ReadInt32(options, "max_acceleration", acceleration, error) &&
                  ParseDriveBehaviour(options, config.behaviour, error);
  if (!ok) return false;
  if (*spacing <= 0) {
    error = "option 'index_spacing' must be above 0";
    return false;
  }
  if (*numerator <= 0 || *divisor <= 0) {
    error = "options 'position_factor_numerator' and 'position_factor_divisor' must be above 0";
    return false;
  }
  if (*acceleration <= 0) {
    error = "option 'max_acceleration' must be above 0";
    return false;
  }
  if (config.negativeLimit && config.positiveLimit &&
      *config.negativeLimit >= *config.positiveLimit) {
    error = "option 'negative_limit' must lie below 'positive_limit'";
    return false;
  }
  config.indexSpacing = *spacing;
  config.indexOffset = *offset;
  config.startPosition = *start;
  config.positionFactorNumerator = static_cast<std::uint32_t>(*numerator);
  config.positionFactorDivisor = static_cast<std::uint32_t>(*divisor);
  config.maxAcceleration = static_cast<std::uint32_t>(*acceleration);
  return true;
}

}  // namespace vantor::sim::drives

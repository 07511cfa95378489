#include "sim/drives/drive_kinds.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/canopen/node_factory.h"
#include "sim/canopen/node_station.h"
#include "sim/drives/drive_config.h"
#include "sim/drives/drive_model.h"
#include "sim/drives/handwheel_gateway.h"
#include "sim/drives/io_module.h"

namespace vantor::sim::drives {

namespace {

using canopen::Access;
using canopen::DataType;

constexpr std::uint32_t kServoDriveDeviceType = 0x00020192;

bool HasOption(const nlohmann::json& options, const char* key) {
  return options.is_object() && options.contains(key);
}

// A text of the device's own, unless the machine description names one.
void SetIdentityText(canopen::ObjectDictionary& objects, std::uint16_t index,
                     const nlohmann::json& options, const char* key, std::string_view text) {
  if (HasOption(options, key)) return;
  objects.Add({index, 0, DataType::kVisibleString, Access::kConst, false, 0, text, text.size()});
}

bool BuildDriveNode(canopen::NodeStation& station, const nlohmann::json& options,
                    std::string& error) {
  DriveConfig config;
  if (!ParseDriveConfig(options, config, error)) return false;
  canopen::ObjectDictionary& objects = station.Node().Objects();
  if (!HasOption(options, "device_type")) {
    objects.SetDefaultUnsigned(canopen::object::kDeviceType, 0, kServoDriveDeviceType);
  }
  SetIdentityText(objects, canopen::object::kSoftwareVersion, options, "software_version",
                  ModuleText(config.variant));
  station.AdoptApplication(std::make_unique<DriveModel>(station.Node(), config));
  return true;
}

bool BuildIoModuleNode(canopen::NodeStation& station, const nlohmann::json& /*options*/,
                       std::string& /*error*/) {
  station.AdoptApplication(std::make_unique<IoModule>(station.Node()));
  return true;
}

bool BuildHandwheelGatewayNode(canopen::NodeStation& station, const nlohmann::json& options,
                               std::string& /*error*/) {
  canopen::ObjectDictionary& objects = station.Node().Objects();
  SetIdentityText(objects, canopen::object::kDeviceName, options, "device_name",
                  kGatewayDeviceName);
  SetIdentityText(objects, canopen::object::kSoftwareVersion, options, "software_version",
                  kGatewaySoftwareVersion);
  station.AdoptApplication(std::make_unique<HandwheelGateway>(station.Node()));
  return true;
}

bool RegisterEachKind() {
  bool all = true;
  for (canopen::NodeKindDefinition& kind : std::vector<canopen::NodeKindDefinition>{
           {"ds402_drive", DriveOptionNames(), &BuildDriveNode},
           {"io_module", {}, &BuildIoModuleNode},
           {"handwheel_gateway", {}, &BuildHandwheelGatewayNode}}) {
    all = canopen::RegisterNodeKind(std::move(kind)) && all;
  }
  return all;
}

}  // namespace

bool RegisterDeviceNodeKinds() {
  // A function-local static: the registration runs once, even when two
  // threads ask at the same time.
  static const bool registered = RegisterEachKind();
  return registered;
}

}  // namespace vantor::sim::drives

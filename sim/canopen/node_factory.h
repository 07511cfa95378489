// Creation of simulated nodes from a machine description's node entry:
// kind, node id and the kind's options as JSON.
//
// Options every kind understands (all optional):
//   "boot_time_ms"            power-on / reset to boot-up frame (default 0)
//   "bit_rate"                bits per second, up to 1000000 (the default)
//   "short_expedited_upload"  true: expedited upload answers end after their data
//   "device_type", "vendor_id", "product_code", "revision", "serial_number"
//                             unsigned 32-bit
//   "device_name", "hardware_version", "software_version"   strings
//   "guard_time_ms"           unsigned 16-bit default of 0x100C
//   "life_time_factor"        unsigned 8-bit default of 0x100D
//   "absent_objects"          array of "IIII" (whole object) or "IIII:SS" (one
//                             subindex), hexadecimal: objects this node
//                             variant leaves out
// Numbers are JSON integers or strings in decimal or "0x" hexadecimal.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/canopen/node_station.h"

namespace vantor::sim::canopen {

struct NodeCreation {
  std::unique_ptr<NodeStation> station;  // null on failure
  std::string error;                     // why, for the description's author
};

// Kinds: "generic" (a node with the communication objects only).
NodeCreation CreateNode(std::string_view kind, unsigned nodeId, const nlohmann::json& options);

// A node entry of a machine description: "node_id" and the kind's options
// ("kind" itself is skipped; the caller has resolved it to `kind`).
NodeCreation CreateNodeFromEntry(std::string_view kind, const nlohmann::json& entry);

std::vector<std::string_view> NodeKindNames();

}  // namespace vantor::sim::canopen

// Creation of simulated nodes from a machine description's node entry:
// kind, node id and the kind's options as JSON.
//
// Options every kind understands (all optional):
//   "boot_time_ms"            power-on / reset to boot-up frame (default 0)
//   "bit_rate"                bits per second, up to 1000000 (the default)
//   "short_expedited_upload"  true: expedited upload answers end after their data
//   "short_sdo_requests"      leniency, true by default: SDO requests that end
//                             after their last meaningful byte are served (an
//                             initiate upload of 4 bytes, an expedited download
//                             of 4 + n, segment requests of 1 + n); false: every
//                             request must carry all 8 bytes. Shorter frames
//                             are ignored either way and the node log shows them
//   "pdo_changes_while_valid" leniency, true by default: a valid PDO's COB-ID,
//                             transmission type, inhibit time and mapping may be
//                             rewritten in place, the order the kernel's PDO
//                             set-up writes them in; false: the CiA 301 order,
//                             the PDO made invalid (COB-ID bit 31) before they
//                             change, else the write is aborted (0x06090030 for
//                             a new identifier, 0x08000022 for the others)
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

#include <functional>
#include <memory>
#include <set>
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

// A node kind: the options it adds to the common ones, and how it turns a
// core node into a device of its kind. `build` returns false, with the
// reason in `error`, when the kind's own options cannot be used; the
// creation then fails with that reason.
struct NodeKindDefinition {
  std::string name;
  std::set<std::string, std::less<>> options;
  bool (*build)(NodeStation& station, const nlohmann::json& options, std::string& error) = nullptr;
};

// Adds a kind to the factory. False, and nothing changed, when the name is
// empty or taken or `build` is missing. Kinds are meant to be registered at
// start-up, before any node is created or NodeKindNames() is read: a kind
// registered later is unknown to whoever listed the names earlier (such as
// a station-kind table). Registration and lookup are guarded all the same.
bool RegisterNodeKind(NodeKindDefinition kind);

// Built in: "generic" (a node with the communication objects only); the
// other kinds are those registered.
NodeCreation CreateNode(std::string_view kind, unsigned nodeId, const nlohmann::json& options);

// A node entry of a machine description: "node_id" and the kind's options
// ("kind" itself is skipped; the caller has resolved it to `kind`).
NodeCreation CreateNodeFromEntry(std::string_view kind, const nlohmann::json& entry);

// In order of registration, "generic" first. The views stay valid for the
// life of the program: kinds are never removed.
std::vector<std::string_view> NodeKindNames();

}  // namespace vantor::sim::canopen

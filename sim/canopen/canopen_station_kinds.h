// The simulated CANopen nodes as station kinds of a machine description:
// every node kind K is offered as "canopen_K", e.g.
//   { "kind": "canopen_generic", "node_id": 5, "boot_time_ms": 100 }
#pragma once

#include "sim/hardware/machine_description.h"

namespace vantor::sim::canopen {

// False when one of the kinds was registered already.
bool RegisterCanopenStationKinds(StationKinds& kinds);

}  // namespace vantor::sim::canopen

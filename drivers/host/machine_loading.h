// Loading the machine that the host serves: every station kind a machine
// description may name, and the machine that runs when none is given.
#pragma once

#include <string>
#include <string_view>

#include "sim/hardware/machine_description.h"

namespace vantor::host {

// The simulated nodes of every kind (generic CANopen nodes, DS402 drives,
// I/O modules, the handwheel gateway) as station kinds. Call it before any
// node is made elsewhere in the program: it completes the node factory.
sim::StationKinds MachineStationKinds();

// The machine of a fresh installation, the simulation's sample machine: one
// PCI card whose channel 1 carries the sample drives, an I/O module and a
// handwheel gateway on bus "can0"; channel 2 sits on the empty bus "can1".
std::string_view DefaultHostMachineDescription();

// The described machine from `path`, or the default one when `path` is
// empty; on failure the machine is null and the error says what was wrong.
sim::MachineLoadResult LoadHostMachine(const std::string& path);

}  // namespace vantor::host

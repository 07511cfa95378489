#include "drivers/host/machine_loading.h"

#include "drivers/host/sample_machine.h"
#include "sim/canopen/canopen_station_kinds.h"
#include "sim/drives/drive_kinds.h"

namespace vantor::host {

sim::StationKinds MachineStationKinds() {
  // The drives, the I/O module and the gateway join the node factory first,
  // so that the station kinds offer them too. Registering is done once for
  // the program; a second call only repeats the first one's answer.
  sim::drives::RegisterDeviceNodeKinds();
  sim::StationKinds kinds;
  // A fresh table cannot hold any of these names yet.
  sim::canopen::RegisterCanopenStationKinds(kinds);
  return kinds;
}

std::string_view DefaultHostMachineDescription() { return kSampleMachineDescription; }

sim::MachineLoadResult LoadHostMachine(const std::string& path) {
  const sim::StationKinds kinds = MachineStationKinds();
  if (path.empty()) {
    sim::MachineLoadResult result =
        sim::LoadMachineDescription(DefaultHostMachineDescription(), kinds);
    if (!result) result.error = "the built-in machine: " + result.error;
    return result;
  }
  return sim::LoadMachineDescriptionFile(path, kinds);
}

}  // namespace vantor::host

#include "drivers/ravund/ravund_entry.h"

namespace vantor::ravund {

devhost::IoStatus SystemParallelPortDriverEntry(devhost::DriverHost& host,
                                                const host::MachineResources& resources,
                                                std::unique_ptr<host::LoadedDriver>& driver) {
  auto loaded = std::make_unique<LoadedSystemParallelPorts>();
  for (const host::ParallelPortResources& port : resources.parallelPorts) {
    SystemParallelPortConfig config;
    config.number = port.number;
    config.base = port.base;
    config.span = port.span;
    config.interrupt = port.interrupt;
    auto device = std::make_unique<SystemParallelPort>(host);
    const devhost::IoStatus status = device->Create(config);
    if (status != os::kStatusSuccess) return status;
    loaded->ports.push_back(std::move(device));
  }
  driver = std::move(loaded);
  return os::kStatusSuccess;
}

devhost::IoStatus RavundDriverEntry(devhost::DriverHost& host, const host::MachineResources&,
                                    std::unique_ptr<host::LoadedDriver>& driver) {
  auto ravund = std::make_unique<RavundDriver>(host);
  const devhost::IoStatus status = ravund->Load();
  if (status != os::kStatusSuccess) return status;
  driver = std::make_unique<LoadedRavund>(std::move(ravund));
  return os::kStatusSuccess;
}

}  // namespace vantor::ravund

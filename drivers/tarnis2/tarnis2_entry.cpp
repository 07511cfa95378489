#include "drivers/tarnis2/tarnis2_entry.h"

namespace vantor::tarnis2 {

devhost::IoStatus Tarnis2DriverEntry(devhost::DriverHost& host, const host::MachineResources&,
                                     std::unique_ptr<host::LoadedDriver>& driver) {
  auto tarnis2 = std::make_unique<Tarnis2Driver>(host);
  const devhost::IoStatus status = tarnis2->Load();
  if (status != os::kStatusSuccess) return status;
  driver = std::make_unique<LoadedTarnis2>(std::move(tarnis2));
  return os::kStatusSuccess;
}

}  // namespace vantor::tarnis2

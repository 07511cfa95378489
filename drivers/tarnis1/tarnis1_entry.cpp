#include "drivers/tarnis1/tarnis1_entry.h"

namespace vantor::tarnis1 {

PciStartResources StartResourcesOf(const host::PciFunctionResources& function) {
  PciStartResources start;
  start.slot = function.slot;
  for (const host::BarResource& bar : function.bars) {
    if (bar.length == 0) continue;
    start.ranges.push_back(TranslatedRange{bar.physical, bar.length, bar.io});
  }
  if (function.interrupt.vector != 0) {
    start.interrupt = TranslatedInterrupt{
        function.interrupt.vector, function.interrupt.level, function.interrupt.affinity,
        function.interrupt.mode == devhost::InterruptMode::kLatched};
  }
  return start;
}

const host::PciFunctionResources* FindCard(const host::MachineResources& resources) {
  for (const host::PciFunctionResources& function : resources.pciFunctions) {
    if (function.vendorId == kCardVendorId && function.deviceId == kCardDeviceId) return &function;
  }
  return nullptr;
}

devhost::IoStatus Tarnis1DriverEntry(devhost::DriverHost& host,
                                     const host::MachineResources& resources,
                                     std::unique_ptr<host::LoadedDriver>& driver) {
  const host::PciFunctionResources* card = FindCard(resources);
  if (card == nullptr) return os::kStatusNoSuchDevice;
  auto tarnis1 = std::make_unique<Tarnis1Driver>(host);
  devhost::IoStatus status = tarnis1->AddDevice();
  if (status != os::kStatusSuccess) return status;
  status = tarnis1->StartDevice(StartResourcesOf(*card));
  if (status != os::kStatusSuccess) return status;
  driver = std::make_unique<LoadedTarnis1>(std::move(tarnis1));
  return os::kStatusSuccess;
}

}  // namespace vantor::tarnis1

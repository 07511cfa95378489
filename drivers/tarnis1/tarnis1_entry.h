// How the devhost program loads tarnis1: the driver comes up, adds the
// device of the machine's card and starts it with the card's resources, as
// the Plug and Play manager would on the real machine.
#pragma once

#include <memory>

#include "drivers/host/driver_loading.h"
#include "drivers/host/machine_resources.h"
#include "drivers/tarnis1/start_resources.h"
#include "drivers/tarnis1/tarnis1_driver.h"

namespace vantor::tarnis1 {

// The resource list the bus driver hands the card's driver at start.
PciStartResources StartResourcesOf(const host::PciFunctionResources& function);

// The first function with the card's vendor and device identifiers, or null.
const host::PciFunctionResources* FindCard(const host::MachineResources& resources);

// kStatusNoSuchDevice when the machine has no such card; the start's
// failure otherwise. On success `driver` holds the loaded driver.
devhost::IoStatus Tarnis1DriverEntry(devhost::DriverHost& host,
                                     const host::MachineResources& resources,
                                     std::unique_ptr<host::LoadedDriver>& driver);

// The loaded driver as the host keeps it; its destruction is the unload.
class LoadedTarnis1 final : public host::LoadedDriver {
 public:
  explicit LoadedTarnis1(std::unique_ptr<Tarnis1Driver> driver) : driver_(std::move(driver)) {}
  Tarnis1Driver& Driver() noexcept { return *driver_; }

 private:
  std::unique_ptr<Tarnis1Driver> driver_;
};

}  // namespace vantor::tarnis1

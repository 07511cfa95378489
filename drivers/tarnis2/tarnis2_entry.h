// How the devhost program loads tarnis2: after tarnis1 has started the card.
#pragma once

#include <memory>

#include "drivers/host/driver_loading.h"
#include "drivers/host/machine_resources.h"
#include "drivers/tarnis2/tarnis2_driver.h"

namespace vantor::tarnis2 {

// The machine's resources are not used: the card's come from channel 1.
devhost::IoStatus Tarnis2DriverEntry(devhost::DriverHost& host,
                                     const host::MachineResources& resources,
                                     std::unique_ptr<host::LoadedDriver>& driver);

class LoadedTarnis2 final : public host::LoadedDriver {
 public:
  explicit LoadedTarnis2(std::unique_ptr<Tarnis2Driver> driver) : driver_(std::move(driver)) {}
  Tarnis2Driver& Driver() noexcept { return *driver_; }

 private:
  std::unique_ptr<Tarnis2Driver> driver_;
};

}  // namespace vantor::tarnis2

// How the devhost program loads the system's parallel-port devices and
// ravund after them.
#pragma once

#include <memory>
#include <vector>

#include "drivers/host/driver_loading.h"
#include "drivers/host/machine_resources.h"
#include "drivers/ravund/ravund_driver.h"
#include "drivers/ravund/system_parallel_port.h"

namespace vantor::ravund {

// One `\Device\ParallelPort<n>` per parallel port of the machine; loads
// (with no device) on a machine without one.
devhost::IoStatus SystemParallelPortDriverEntry(devhost::DriverHost& host,
                                                const host::MachineResources& resources,
                                                std::unique_ptr<host::LoadedDriver>& driver);

// The machine's resources are not used: the port's come from the port's
// driver or from the service key.
devhost::IoStatus RavundDriverEntry(devhost::DriverHost& host,
                                    const host::MachineResources& resources,
                                    std::unique_ptr<host::LoadedDriver>& driver);

class LoadedSystemParallelPorts final : public host::LoadedDriver {
 public:
  std::vector<std::unique_ptr<SystemParallelPort>> ports;
};

class LoadedRavund final : public host::LoadedDriver {
 public:
  explicit LoadedRavund(std::unique_ptr<RavundDriver> driver) : driver_(std::move(driver)) {}
  RavundDriver& Driver() noexcept { return *driver_; }

 private:
  std::unique_ptr<RavundDriver> driver_;
};

}  // namespace vantor::ravund

// Loading and unloading the drivers that the host carries.
//
// A driver is known by its entry function. The entry creates the driver's
// devices and links in the host from the machine's resources, connects
// nothing to hardware that is not in the resources, and hands back an
// object whose destruction is the driver's unload. A driver whose entry
// fails is not loaded; the others still are, as a system still starts when
// one driver refuses to load.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/host/machine_resources.h"
#include "platform/devhost/driver_host.h"

namespace vantor::host {

// A loaded driver; destroying it unloads the driver.
class LoadedDriver {
 public:
  virtual ~LoadedDriver() = default;

 protected:
  LoadedDriver() = default;
};

using DriverEntry = devhost::IoStatus (*)(devhost::DriverHost& host,
                                          const MachineResources& resources,
                                          std::unique_ptr<LoadedDriver>& driver);

struct DriverRegistration {
  std::string_view name;
  DriverEntry entry;
};

// The drivers in the order they load (a driver that opens another's device
// at load comes after it).
class DriverSet {
 public:
  using Log = std::function<void(const std::string& line)>;

  DriverSet() = default;
  ~DriverSet();
  DriverSet(const DriverSet&) = delete;
  DriverSet& operator=(const DriverSet&) = delete;

  // Runs every entry in table order and reports each outcome to `log`.
  void Load(std::span<const DriverRegistration> drivers, devhost::DriverHost& host,
            const MachineResources& resources, const Log& log);
  // Unloads in the reverse order of loading. Idempotent.
  void UnloadAll();

  std::vector<std::string> LoadedNames() const;

 private:
  struct Loaded {
    std::string name;
    std::unique_ptr<LoadedDriver> driver;
  };
  std::vector<Loaded> loaded_;
};

// The drivers of the devhost program.
std::span<const DriverRegistration> HostDrivers();

}  // namespace vantor::host

#include "drivers/host/driver_loading.h"

#include <cstdio>

namespace vantor::host {

namespace {

std::string StatusText(devhost::IoStatus status) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
  return text;
}

}  // namespace

DriverSet::~DriverSet() { UnloadAll(); }

void DriverSet::Load(std::span<const DriverRegistration> drivers, devhost::DriverHost& host,
                     const MachineResources& resources, const Log& log) {
  for (const DriverRegistration& registration : drivers) {
    const std::string name(registration.name);
    if (registration.entry == nullptr) {
      log(name + ": no entry, not loaded");
      continue;
    }
    std::unique_ptr<LoadedDriver> driver;
    const devhost::IoStatus status = registration.entry(host, resources, driver);
    if (!os::IoSucceeded(status)) {
      log(name + ": load failed with " + StatusText(status));
      continue;
    }
    if (driver == nullptr) {
      log(name + ": its entry succeeded but left no driver, not loaded");
      continue;
    }
    log(name + ": loaded");
    loaded_.push_back(Loaded{name, std::move(driver)});
  }
}

void DriverSet::UnloadAll() {
  while (!loaded_.empty()) {
    loaded_.back().driver.reset();
    loaded_.pop_back();
  }
}

std::vector<std::string> DriverSet::LoadedNames() const {
  std::vector<std::string> names;
  for (const Loaded& entry : loaded_) names.push_back(entry.name);
  return names;
}

}  // namespace vantor::host

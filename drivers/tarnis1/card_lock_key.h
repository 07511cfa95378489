// The name of a card's lock in the driver host. Both channel drivers of one
// card must raise the same lock around their register accesses, and the
// channel-2 driver knows the card only by the resources that channel 1
// hands it, so the key derives from the controller window's address.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vantor::tarnis1 {

inline std::string CardLockKey(std::uint64_t controllerWindowPhysical) {
  char key[40];
  std::snprintf(key, sizeof(key), "pci-card@%llx",
                static_cast<unsigned long long>(controllerWindowPhysical));
  return key;
}

}  // namespace vantor::tarnis1

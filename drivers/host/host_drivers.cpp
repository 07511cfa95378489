// The drivers the devhost program loads, in load order: the card's channel-1
// driver starts the card before the channel-2 driver takes its resources;
// the system's parallel-port driver comes up before the CAN adapter's
// driver that attaches to it.
#include <array>

#include "drivers/host/driver_loading.h"
#include "drivers/ravund/ravund_entry.h"
#include "drivers/tarnis1/tarnis1_entry.h"
#include "drivers/tarnis2/tarnis2_entry.h"

namespace vantor::host {

std::span<const DriverRegistration> HostDrivers() {
  static constexpr std::array<DriverRegistration, 4> kDrivers = {{
      {"tarnis1", &tarnis1::Tarnis1DriverEntry},
      {"tarnis2", &tarnis2::Tarnis2DriverEntry},
      {"parport", &ravund::SystemParallelPortDriverEntry},
      {"ravund", &ravund::RavundDriverEntry},
  }};
  return kDrivers;
}

}  // namespace vantor::host

// The drivers the devhost program loads, in load order: the card's channel-1
// driver starts the card before the channel-2 driver takes its resources,
// and the parallel-port driver comes last. Each front-end joins by adding a
// registration (its name and its entry function) to a table here and its
// library to the program's link; until then the program serves no devices
// but runs the machine and its control endpoint all the same.
#include "drivers/host/driver_loading.h"

namespace vantor::host {

std::span<const DriverRegistration> HostDrivers() { return {}; }

}  // namespace vantor::host

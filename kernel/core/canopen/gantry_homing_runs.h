// Homing of a gantry pair (a node and its one slave drive, coupled by the
// maker's axis chain object): both drives are uncoupled, brought into
// homing mode and run together, then coupled again and given back their
// configured values. Two roads: by SDO polls of both statuswords, or with
// the gantry control PDO whose extra bytes lead the drives through their
// phases. Both run on the server thread and block it for the whole run.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/home_axes.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The homing method a gantry drive runs its search with: the switch
// methods 1, 2, 3 and 6 become their counterparts that stop on the switch
// (17, 18, 19, 21); the configured method runs again in the offset run.
std::uint8_t GantrySearchMethod(std::uint8_t configured) noexcept;

// The pair of 1-based node `nodeNumber` by the road its gantry PDO homing
// flag chooses. kKernelSuccess, the first failure, kKernelHomingBroken or
// kCycleNotRunning; the drives' results hold the causes.
common::StatusCode RunGantryHoming(ServiceContext& context, std::uint32_t nodeNumber,
                                   const HomingRun& run) noexcept;
common::StatusCode RunHoming(ServiceContext& context, std::uint32_t nodeNumber,
                             const HomingRun& run) noexcept;
common::StatusCode RunHomingWithGantryPdo(ServiceContext& context, std::uint32_t nodeNumber,
                                          const HomingRun& run) noexcept;

// Both drives' statuswords at the start: kKernelSuccess, or
// kKernelOperationFailed with each drive's cause in its result.
common::StatusCode CheckGantryDriveStates(ServiceContext& context,
                                          std::uint32_t nodeNumber) noexcept;

}  // namespace vantor::canopen

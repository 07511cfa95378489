// The gantry pairs' homing objects as the reset leaves them: coupling and
// search marks off, and each drive's own homing values written back.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// 0x2054 := 0 (bridging off), then 0x2043 sub 9 := 0 (no search) on the
// node with the 1-based number and on its axes. Both writes are made; the
// answer is the first failure (kKernelOperationFailed, the drives' results
// holding the cause), kCycleNotRunning at once.
common::StatusCode ResetGantryHomingObjects(ServiceContext& context,
                                            std::uint32_t nodeNumber) noexcept;

// The same on every node with axes; kKernelOperationFailed when any
// failed, kCycleNotRunning at once.
common::StatusCode ResetAllGantryHomingObjects(ServiceContext& context) noexcept;

// For every node with axes, in table order, on node and each axis: home
// offset (0x607C), homing method (0x6098), homing speeds (0x6099 sub 1 and
// 2) and homing acceleration (0x609A) := the drive's kept values. Stops at
// the first object that failed.
common::StatusCode DownloadGantryHomingParameters(ServiceContext& context) noexcept;

}  // namespace vantor::canopen

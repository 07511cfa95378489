// Freeing drives from their limit switches: nodes without further axes with
// the drive's own leave move, nodes with axes by the kernel's multi-axis
// move-out; afterwards the process-data layout is rebuilt and the nodes'
// positions read again.
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Moves the nodes of `mask` (bit k = node k) off their limit switches.
// kKernelSuccess, kKernelOperationFailed (the nodes' and axes' results tell
// why) or kCycleNotRunning at once.
common::StatusCode MoveOutOfLimitSwitches(ServiceContext& context, NodeMask mask) noexcept;

}  // namespace vantor::canopen

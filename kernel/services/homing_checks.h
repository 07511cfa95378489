// What commands 16 (homing) and 82 (home shift) require of the kernel
// before they touch a drive, each condition with its own answer, in the
// order they are looked at. The caller holds the kernel data lock.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// The cycle, bus, SYNC and peripheral PDOs in order, no motion and no stop,
// break or manual mode.
common::StatusCode CheckHomingPreconditions(KernelData& data);

// Command 16 after its gate: test mode, the preconditions, the selected
// nodes' readiness (kKernelNodeWasInErrorState), move-out, handling axes
// in velocity mode, distance control, stop on input and handwheel.
common::StatusCode CheckReferenceRequest(KernelData& data, canopen::NodeMask mask);

// Command 82 up to its range check: reset, cycle and bus, the node index
// and its home shift, its flags A to D in both rows, stop on input,
// handwheel, the node's motion, and the shift in drive increments of node
// and slave within the 32-bit range (a zero gear term: out of range).
common::StatusCode CheckHomeShiftRequest(KernelData& data, std::int32_t nodeIndex, double shift);

}  // namespace vantor::kernel

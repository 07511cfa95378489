// Result codes the kernel's own code gives beyond those of the shared table's
// kernel facility.
#pragma once

#include "common/status_code.h"

namespace vantor::kernel {

// The kernel reports a real-time cycle that does not run (never started or
// ended at an exchange time-out) with the driver's "no controller" code, as
// the library and the applications expect it.
inline constexpr common::StatusCode kCycleNotRunning = common::kDriverNoController;

}  // namespace vantor::kernel

// The complete status's reads of the gantry slave drives: their error
// numbers and their limit-switch inputs, each through the owning node's
// slot pointed at the slave for the time of the read.
#pragma once

#include "common/status_code.h"
#include "kernel/core/kernel_data.h"
#include "kernel/services/kernel_service_host.h"

namespace vantor::kernel {

// Reads of a slave's inputs that may fail in a row before the slave is no
// longer asked.
inline constexpr std::uint32_t kMaxFailedInputReads = 3;

// Each slave's error number from its drive into the slave's state; the
// node keeps its own number. kKernelSuccess or kCycleNotRunning.
common::StatusCode ReadSlaveDriveErrors(KernelData& data, KernelServiceHost& host) noexcept;

// Each slave's limit-switch inputs into its OK words; a slave whose reads
// failed kMaxFailedInputReads times in a row is skipped and shows the
// node's result as its own. kKernelSuccess or kCycleNotRunning.
common::StatusCode ReadSlaveLimitInputs(KernelData& data, KernelServiceHost& host) noexcept;

}  // namespace vantor::kernel

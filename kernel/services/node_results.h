// Every node's and every axis's last result back to success, before a
// command that reports them afresh.
#pragma once

#include "kernel/core/canopen/service_host.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// Under the kernel data lock.
void ResetNodeResults(KernelData& data, canopen::ServiceContext& context);

}  // namespace vantor::kernel

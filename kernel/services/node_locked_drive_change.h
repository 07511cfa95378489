// The frame of a command that changes a setting on every drive: every
// node mutex, then under the kernel data lock the node results reset, the
// guards and the command's own check (which may take the new setting
// over); the drives are written with the lock released and their records
// armed again (path_drive_switch.h); `after` runs under the lock taken
// again, whatever the write gave.
#pragma once

#include <span>

#include "common/status_code.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/motion_command_guards.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"
#include "kernel/services/path_drive_switch.h"

namespace vantor::kernel {

template <typename Check, typename Write, typename After>
common::StatusCode ChangeOnDrives(Kernel& kernel, std::span<const MotionGuard> guards, Check check,
                                  Write write, After after) {
  KernelData& data = kernel.data;
  if (const common::StatusCode refused = CheckCommandPreconditions(data);
      refused != common::kKernelSuccess) {
    return refused;
  }
  const AllNodeLocks nodes(data);
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    // The CNC exit closed the locks between the test and the wait.
    if (!lock.held()) return common::kKernelCncNotInitialized;
    ResetNodeResults(data, context);
    if (const common::StatusCode refused = CheckMotionGuards(data, guards);
        refused != common::kKernelSuccess) {
      return refused;
    }
    if (const common::StatusCode refused = check(data); refused != common::kKernelSuccess) {
      return refused;
    }
  }
  const common::StatusCode written = SwitchDrives(context, write);
  KernelDataLock lock(data);
  if (lock.held()) after(data);
  return written;
}

}  // namespace vantor::kernel

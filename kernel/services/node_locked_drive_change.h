// The frame of a command that talks to the drives: every node mutex, then
// under the kernel data lock the node results reset, the guards and the
// command's own check (which may take the new setting over); the drives
// are talked to with the lock released; the end runs under the lock taken
// again, whatever the talk gave. A change of a setting on every drive
// arms every node record again after the write (path_drive_switch.h).
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

// The frame itself: `check(data)` under the lock after the guards,
// `talk(context)` with the lock released, `after(data, result)` under the
// lock taken again (skipped when the CNC exit took the locks meanwhile,
// and the talk's result stands).
template <typename Check, typename Talk, typename After>
common::StatusCode OnLockedNodes(Kernel& kernel, std::span<const MotionGuard> guards, Check check,
                                 Talk talk, After after) {
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
  const common::StatusCode result = talk(context);
  KernelDataLock lock(data);
  return lock.held() ? after(data, result) : result;
}

template <typename Check, typename Write, typename After>
common::StatusCode ChangeOnDrives(Kernel& kernel, std::span<const MotionGuard> guards, Check check,
                                  Write write, After after) {
  return OnLockedNodes(
      kernel, guards, check,
      [&](canopen::ServiceContext& context) { return SwitchDrives(context, write); },
      [&](KernelData& data, common::StatusCode written) {
        after(data);
        return written;
      });
}

}  // namespace vantor::kernel

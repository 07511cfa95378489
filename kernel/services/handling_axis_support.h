// What the handling-axis commands share: which nodes are handling axes,
// when one is idle, the move values of the payload, and the frame in which
// a command talks to the drives.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/motion_command_guards.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"

namespace vantor::kernel {

// Node `index` is a handling axis: behind the interpolated ones and in the
// table. The caller holds the kernel data lock.
bool IsHandlingAxis(const KernelData& data, std::uint32_t index);

// Every bit of `mask` names a handling axis (an empty mask names none).
bool AreHandlingAxes(const KernelData& data, canopen::NodeMask mask);

// In position mode: its target reached; in velocity mode also no target
// velocity.
bool IsHandlingAxisIdle(const NodeObject& node);

// The four software-limit OK words of coordinate `index` := 1.
void FreeCoordinateLimits(KernelData& data, std::uint32_t index);

// The frame of a command that talks to handling drives: every node mutex,
// then under the kernel data lock the node results reset, the `guards`
// and `check`, which names the nodes to re-arm and may find nothing to do;
// `talk` runs with the lock released, the named node records are armed
// again (a failure there: kCycleNotRunning) and `after` runs under the
// lock with the talk's result.
template <typename Check, typename Talk, typename After>
common::StatusCode OnHandlingDrives(Kernel& kernel, std::span<const MotionGuard> guards,
                                    Check check, Talk talk, After after) {
  KernelData& data = kernel.data;
  if (const common::StatusCode refused = CheckCommandPreconditions(data);
      refused != common::kKernelSuccess) {
    return refused;
  }
  const AllNodeLocks nodes(data);
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  canopen::NodeMask rearm = 0;
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    ResetNodeResults(data, context);
    if (const common::StatusCode refused = CheckMotionGuards(data, guards);
        refused != common::kKernelSuccess) {
      return refused;
    }
    bool nothingToDo = false;
    if (const common::StatusCode refused = check(data, rearm, nothingToDo);
        refused != common::kKernelSuccess || nothingToDo) {
      return refused;
    }
  }
  const common::StatusCode result = talk(context);
  if (result == kCycleNotRunning) return result;
  if (canopen::ArmNodeRecordsMasked(context, false, rearm) != common::kKernelSuccess) {
    return kCycleNotRunning;
  }
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  return after(data, result);
}

}  // namespace vantor::kernel

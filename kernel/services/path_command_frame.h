// The frame of the path commands: the CNC initialisation and the reset
// before the kernel data lock, then the work under the lock, after the
// segments that the cycle retired are freed.
#pragma once

#include "common/status_code.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/motion_command_guards.h"
#include "kernel/services/path_segments.h"

namespace vantor::kernel {

template <typename Work>
common::StatusCode UnderPathLock(Kernel& kernel, Work work) {
  if (const common::StatusCode refused = CheckCommandPreconditions(kernel.data);
      refused != common::kKernelSuccess) {
    return refused;
  }
  KernelDataLock lock(kernel.data);
  // The CNC exit closed the locks between the test and the wait.
  if (!lock.held()) return common::kKernelCncNotInitialized;
  FreeFinishedSegments(kernel.data);
  return work(kernel.data);
}

// Writes the result; the server goes on serving.
inline AfterCommand AnswerPathCommand(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(common::communication_block::kResult, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

#include "kernel/services/reset_sequence.h"

#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {

namespace {

// Read afresh before each step: the sequence itself clears the flag once
// the configuration steps are through.
bool StepTakesPart(KernelData& data, ResetStepRuns runs) {
  if (runs == ResetStepRuns::Always) return true;
  KernelDataLock lock(data);
  const bool firstReset = data.state.resetPending != 0;
  return (runs == ResetStepRuns::FirstReset) == firstReset;
}

void Publish(Kernel& kernel, common::StatusCode result) {
  kernel.Block().Set(common::communication_block::kResult, result);
}

}  // namespace

common::StatusCode RunResetSequence(ResetRun& run, std::span<const ResetStep> steps,
                                    const ResetClosing& closing) {
  Kernel& kernel = run.kernel;
  common::StatusCode result = common::kKernelSuccess;
  for (const ResetStep& step : steps) {
    if (!StepTakesPart(kernel.data, step.runs)) continue;
    result = step.run(run);
    Publish(kernel, result);
    if (result != common::kKernelSuccess) break;
  }
  for (ResetStepFunction rearm : {closing.armGlobalSlot, closing.armNodeRecords}) {
    if (rearm(run) != common::kKernelSuccess) {
      result = kCycleNotRunning;
      Publish(kernel, result);
    }
  }
  if (result == common::kKernelSuccess) ResetKernelState(kernel.data, kernel.canObjects);
  return result;
}

}  // namespace vantor::kernel

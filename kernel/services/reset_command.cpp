#include "kernel/services/reset_command.h"

#include "kernel/core/kernel_guards.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/motion_end_wait.h"
#include "kernel/core/velocity_output_control.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_results.h"
#include "kernel/services/reset_sequence.h"
#include "kernel/services/reset_steps.h"
#include "kernel/services/timer_periods.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;

// Nothing here is tested for a result, and nothing stops the sequence.
// The stop-on-input and handwheel objects that a later reset removes first
// come with the commands that install them.
void PrepareReset(Kernel& kernel, canopen::ServiceContext& context) {
  KernelData& data = kernel.data;
  AwaitMotionEnd(data);
  // A running velocity output ends with its object, before the configured
  // fill level comes back.
  StopVelPropOutput(data, kernel.canObjects);
  RestoreConfiguredRecords(data);
  // The path's coordinates are the configured ones again, also where
  // handling commands took coordinates off the path.
  kernel.Block().Set(cb::kCurrentCoordinateCount,
                     kernel.Block().Get(cb::kConfiguredCoordinateCount));
  EndTimerPeriods(kernel.settings, kernel.savedSettings);
  ResetNodeResults(data, context);
  ClearMotionModeFlags(data);
}

// Held from the preparation to the reply, so that no other service uses a
// node slot meanwhile. With no nodes the node waits fail at once and there
// is nothing to hold.
class ResetLocks {
 public:
  explicit ResetLocks(KernelData& data)
      : data_(data),
        requests_(LockNodeRequestMutexes(data.nodeConfiguration).acquired()),
        reset_(LockResetMutex(data)),
        access_(LockNodeAccessMutexes(data.nodeConfiguration).acquired()) {}
  ResetLocks(const ResetLocks&) = delete;
  ResetLocks& operator=(const ResetLocks&) = delete;
  ~ResetLocks() {
    if (access_) UnlockNodeAccessMutexes(data_.nodeConfiguration);
    if (reset_) UnlockResetMutex(data_);
    if (requests_) UnlockNodeRequestMutexes(data_.nodeConfiguration);
  }

 private:
  KernelData& data_;
  bool requests_;
  bool reset_;
  bool access_;
};

}  // namespace

AfterCommand HandleReset(Kernel& kernel) {
  const common::StatusCode gate = CheckCanState(kernel.data);
  if (gate != common::kKernelSuccess) {
    kernel.Block().Set(cb::kResult, gate);
    return AfterCommand::KeepServing;
  }
  KernelServiceHost host(kernel.data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  PrepareReset(kernel, context);
  {
    const ResetLocks locks(kernel.data);
    SelectTimerPeriod(kernel.settings, false);
    ResetRun run{kernel, context};
    static_cast<void>(RunResetSequence(run, ResetSteps(), ResetClosingSteps()));
  }
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel

// The kernel state that the reset (code 15) puts back: the configured
// records, the mode flags it clears before it starts, the state words of a
// running kernel once it has succeeded, and the look at the handling axes
// that tells whether one still moves.
#pragma once

#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// Brings the live records back to the configuration that the CNC
// initialisation saved: motion and coordinate settings, the node settings
// with their addressing and handling roles, the handling axes, the global
// slot and the handwheel. What the kernel learned or keeps at run time
// (handles, slots, status rows, measured values) stays. Takes the node
// request mutexes, the node access mutexes and the kernel data lock.
void RestoreConfiguredRecords(KernelData& data);

// Under the kernel data lock: the path-mode and operating-mode flags, the
// stop, abort and break requests, the limit-switch leave flag, the drive
// enable and halt permissions, and every node's three enable words (its
// run enable in both rows).
void ClearMotionModeFlags(KernelData& data);

// The reset got through its configuration steps: the first-reset steps
// are not run again until the next initialisation.
void ClearResetPending(KernelData& data);

// After a successful reset, under the cycle's lock set: the state words of
// a running kernel, every motion and mode word cleared with the drives
// enabled and allowed to halt, every node standing with good status rows
// (the homed flag kept), the limits free and the periphery in order.
// `cycleRunning` is the cycle's own word and is left as the cycle has it.
void ResetKernelState(KernelData& data, canopen::CanObjectList& canObjects);

// True when a handling axis (a node after the interpolated ones) is not
// standing; never while the drives are quick-stopping or stopped. The
// caller holds the kernel data lock.
bool AnyHandlingAxisMoving(const KernelData& data);

// True while the handling node's move is not finished, or it is in
// velocity mode with a commanded velocity: what the reset waits for.
bool HandlingNodeStillMoving(const NodeObject& node);

}  // namespace vantor::kernel

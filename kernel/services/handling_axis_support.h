// What the handling-axis commands share: which nodes are handling axes,
// when one is idle, the move values of the payload, and the frame in which
// a command talks to the drives.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_data.h"
#include "kernel/services/node_locked_drive_change.h"

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

// C and N of the commands that talk to handling drives: the cycle, bus,
// synchronisation, periphery, break and quick stop, then the nodes.
inline constexpr MotionGuard kHandlingDriveGuards[] = {
    MotionGuard::CycleRunning,        MotionGuard::BusInOrder, MotionGuard::SyncInOrder,
    MotionGuard::PeripheryPdoInOrder, MotionGuard::NoBreak,    MotionGuard::NoQuickStop,
    MotionGuard::NodesReady,
};

// The frame of a command that talks to handling drives
// (node_locked_drive_change.h): `check(data, rearm, nothingToDo)` names
// the nodes whose records are armed again after the talk and may find
// nothing to do; a failing re-arm answers kCycleNotRunning; `after(data,
// result)` ends it, with a failed result too.
template <typename Check, typename Talk, typename After>
common::StatusCode OnHandlingDrives(Kernel& kernel, std::span<const MotionGuard> guards,
                                    Check check, Talk talk, After after) {
  canopen::NodeMask rearm = 0;
  bool nothingToDo = false;
  return OnLockedNodes(
      kernel, guards, [&](KernelData& data) { return check(data, rearm, nothingToDo); },
      [&](canopen::ServiceContext& context) {
        if (nothingToDo) return common::kKernelSuccess;
        const common::StatusCode result = talk(context);
        if (result == kCycleNotRunning) return result;
        if (canopen::ArmNodeRecordsMasked(context, false, rearm) != common::kKernelSuccess) {
          return kCycleNotRunning;
        }
        return result;
      },
      [&](KernelData& data, common::StatusCode result) {
        // Even a cycle that ended lets the command undo what it changed.
        return nothingToDo ? result : after(data, result);
      });
}

}  // namespace vantor::kernel

// What the axis commands share: the coordinate count of a payload list, the
// 64-bit values of the payload, the no-move marker, and the frame that
// tests a command's guards under the kernel data lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/motion_command_guards.h"

namespace vantor::kernel {

// The configured coordinates, bounded by the records the kernel has.
std::uint32_t ConfiguredCoordinateCount(const KernelData& data);

// How many values a coordinate list of the payload holds: the count the
// library keeps in the block header, bounded by the configured coordinates.
std::uint32_t PayloadCoordinateCount(const Kernel& kernel);

// The 32-bit word at payload byte `offset`.
std::uint32_t PayloadWord(const Kernel& kernel, std::size_t offset);
// The signed 64-bit value at payload byte `offset`.
std::int64_t PayloadWireValue(const Kernel& kernel, std::size_t offset);
// `value` truncated to the 64-bit value at payload byte `offset`.
void PutPayloadWireValue(const Kernel& kernel, std::size_t offset, double value);

// A coordinate value that leaves its coordinate as it is: the 64-bit marker,
// or its 32-bit value while the command values are 32-bit integers.
bool IsNoMoveValue(std::int64_t value, bool int32Values);

void AnswerCommand(Kernel& kernel, common::StatusCode result);

// Whether a command also refuses while a reset is pending.
enum class ResetGate { Skip, Check };

// The CNC initialisation (and the reset) before the lock, then under the
// kernel data lock the guards in order; `work` runs, with the lock held,
// once all passed and gives the result.
template <typename Work>
common::StatusCode UnderKernelLock(Kernel& kernel, ResetGate reset,
                                   std::span<const MotionGuard> guards, Work&& work) {
  KernelData& data = kernel.data;
  const common::StatusCode gate = reset == ResetGate::Check ? CheckCommandPreconditions(data)
                                  : data.state.IsCncInitialised()
                                      ? common::kKernelSuccess
                                      : common::kKernelCncNotInitialized;
  if (gate != common::kKernelSuccess) return gate;
  KernelDataLock lock(data);
  // The CNC exit closed the locks between the test and the wait.
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (const common::StatusCode refused = CheckMotionGuards(data, guards);
      refused != common::kKernelSuccess) {
    return refused;
  }
  return work(data);
}

}  // namespace vantor::kernel

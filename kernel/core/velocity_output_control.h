// Switching the velocity-proportional output on and off, setting its
// working parameters and reading them back: the work of commands 101 to
// 104 once their checks have passed, and the stop that the reset and the
// CNC exit make without checks.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/kernel_data.h"
#include "kernel/core/velocity_output_check.h"

namespace vantor::kernel {

// The caller holds the kernel data and object list locks and has checked
// the request. Appends the output's CAN object (inactive until the working
// parameters enable it) behind the list's last entry, fills the record
// (gain and divisor 1, offset 0, ring empty), keeps the fill level aside
// and sets it to the delay in cycles, and sets `velocityOutputActive`.
// kKernelOutOfResources, with nothing changed, when the list is full.
common::StatusCode StartVelocityOutput(const VelocityOutputStart& start, KernelData& data,
                                       canopen::CanObjectList& canObjects) noexcept;

// The caller holds the kernel data and object list locks. Removes the
// output's CAN object, puts the fill level back, zeroes the record and
// clears `velocityOutputActive`. Nothing happens while the output is off.
void StopVelocityOutput(KernelData& data, canopen::CanObjectList& canObjects) noexcept;

// The stop of the reset and of freeing the node objects: takes the kernel
// data and object list locks itself and stops a running output unless a
// reset is still pending. Where the locks are gone already (the CNC exit
// closing them) it stops without them: nobody else can reach the record
// then.
void StopVelPropOutput(KernelData& data, canopen::CanObjectList& canObjects) noexcept;

struct VelocityOutputParameters {
  std::uint32_t enable = 0;
  std::int32_t gain = 0;
  std::int32_t divisor = 0;  // not 0: the handler refuses 0
  std::int32_t offset = 0;
  std::uint32_t delayMicroseconds = 0;
};

// The caller holds the kernel data and object list locks, the output runs
// and the divisor is not 0. Enables or disables the object; the delay is at
// most the start delay.
void SetVelocityOutputParameters(const VelocityOutputParameters& parameters, KernelData& data,
                                 canopen::CanObjectList& canObjects) noexcept;

// What command 104 answers; everything but the delay bounds is 0 while the
// output is off.
struct VelocityOutputState {
  std::uint32_t active = 0;
  std::uint32_t mode = 0;
  std::uint32_t largestDelayMicroseconds = 0;
  std::uint32_t smallestDelayMicroseconds = 0;  // from the configured fill level
  std::uint32_t delayMicroseconds = 0;
  std::uint32_t enable = 0;
  std::int32_t gain = 0;
  std::int32_t divisor = 0;
  std::int32_t offset = 0;
  std::uint32_t effectiveDelay = 0;
};

// The caller holds the kernel data and object list locks.
VelocityOutputState ReadVelocityOutput(const KernelData& data,
                                       const canopen::CanObjectList& canObjects) noexcept;

}  // namespace vantor::kernel

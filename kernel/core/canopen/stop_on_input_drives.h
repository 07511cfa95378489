// The stop-on-input mode on the bus: configuring, arming and reading the
// drives' stop-on-input object (0x205C) over the all-node SDO services,
// pass by pass (own drives, then each slave axis with the nodes' SDO
// identifiers pointed at it and put back after the pass).
//
// Every service runs without the kernel data lock, with the node mutexes
// held by the calling handler. A failed download answers
// kKernelOperationFailed, a stopped cycle kCycleNotRunning.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/canopen/stop_on_input_plan.h"

namespace vantor::canopen {

// The interpolated axes as the decisions see them, read under the lock.
StopOnInputMachine ReadStopOnInputMachine(ServiceContext& context) noexcept;

// Every pass's writes of `StopOnInputPassWrites`.
common::StatusCode ConfigureStopOnInputDrives(ServiceContext& context,
                                              const StopOnInputParameters& parameters,
                                              bool on) noexcept;

// Subindex 11 := 1 (arm) or 0 on every drive of every pass.
common::StatusCode ArmStopOnInputDrives(ServiceContext& context, bool arm) noexcept;

// Modes 2 and 3: the input drives' port mode (0x6510 sub 18) must be 1;
// kKernelInputPortModeInvalid otherwise, or the read's failure.
common::StatusCode CheckStopOnInputPortModes(ServiceContext& context,
                                             const StopOnInputParameters& parameters) noexcept;

// Every interpolated axis's own drive has latched (subindex 12's low byte
// 128 or more); kKernelStopOnInputNotLatched otherwise.
common::StatusCode AreStopOnInputPositionsLatched(ServiceContext& context) noexcept;

// Subindex 5 of every interpolated axis's own drive, in increments.
struct LatchedPositions {
  std::array<std::int32_t, kMaxNodes> increments{};
  std::uint32_t count = 0;
};
common::StatusCode ReadStopOnInputLatchedPositions(ServiceContext& context,
                                                   LatchedPositions& positions) noexcept;

// After the drives stopped on their input: every interpolated axis's
// position and set position take its drive's position demand (0x6062),
// and the axes are set up in profile mode there.
common::StatusCode ResynchroniseAxisPositions(ServiceContext& context) noexcept;

// Before a linear move while the mode is armed: subindex 3 of every drive
// := truncate(|perAxis[a]| x scale), or the axis's maximum acceleration
// where perAxis[a] is 0.
common::StatusCode UpdateStopOnInputStopValue(ServiceContext& context,
                                              const std::array<double, kMaxNodes>& perAxis,
                                              double scale) noexcept;

// The value `UpdateStopOnInputStopValue` writes for one axis.
std::uint32_t StopOnInputStopValue(double perAxis, double scale,
                                   std::uint32_t maxAcceleration) noexcept;

}  // namespace vantor::canopen

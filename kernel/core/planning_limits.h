// The limits that path planning reads of each coordinate's drive, taken
// from what the reset read of the drives.
#pragma once

#include "kernel/core/canopen/node_object.h"
#include "kernel/core/motion/motion_inputs.h"

namespace vantor::kernel {

struct KernelData;

// The velocity gain of the drives' position loop that planning assumes:
// a drive lags its set-point by velocity / gain.
inline constexpr double kAssumedPositionLoopGain = 25.0;  // 1/s

// Node `node`'s limits in units: the drive's maximum velocity and
// acceleration (drive increments divided by the node's scaling divisor
// while scaling is on), a jerk that reaches the full acceleration in the
// time the full acceleration takes to reach the full velocity, and the
// assumed loop gain. `overrides` are kept as given.
motion::NodeLimits DriveLimitsOfNode(const canopen::NodeObject& node,
                                     const motion::NodeLimits& previous) noexcept;

// Under the kernel data lock: every coordinate that moves a configured
// node takes that node's limits; the others have none, so no move plans
// with them.
void TakeDriveLimitsIntoPlanning(KernelData& data) noexcept;

}  // namespace vantor::kernel

// Settings that a node's further axes take with their node: holding a
// handling axis, its halted velocity mode, and the position factor (gear
// ratio) written to a node and its axes and restored on them.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Each axis of the node: halt, profile-position mode, and the position it
// demands now made its target. A failing axis keeps its result and the
// next axis is still held. kKernelOperationFailed when any failed.
common::StatusCode HoldHandlingAxisPositionOnAxes(ServiceContext& context,
                                                  std::uint32_t nodeIndex) noexcept;

// Each axis of the node: halt, target velocity 0, profile-velocity mode;
// the first write that fails on any axis ends the sequence.
common::StatusCode SetVelocityModeHaltedOnAxes(ServiceContext& context,
                                               std::uint32_t nodeIndex) noexcept;

struct PositionFactor {
  std::uint32_t numerator = 1;
  std::uint32_t divisor = 1;
};

// Writes one position factor to the node (`factors[0]`) and one to each of
// its axes, with the axis chain uncoupled meanwhile; each drive written is
// marked as holding a changed gear. On success the node's scaling divisor
// becomes the node's numerator / divisor and its stored positions,
// velocities and accelerations are rescaled by old / new divisor; any
// failure clears its run enable. A node without axes, a zero in any
// factor, or fewer factors than drives is refused before anything is sent.
common::StatusCode WritePositionFactorOnAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                             std::span<const PositionFactor> factors) noexcept;

// Every axis whose gear was changed gets its kept ratio back, one axis
// index at a time; an axis whose ratio went back is no longer marked.
common::StatusCode RestoreGearRatiosOnAxes(ServiceContext& context) noexcept;

}  // namespace vantor::canopen

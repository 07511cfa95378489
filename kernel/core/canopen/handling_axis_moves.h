// Moves of a handling axis that its commands start through the node's slot:
// a profile-position move, a profile-velocity move and the halted velocity
// mode in which a handling axis waits.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Halt, profile-position mode, and the position the drive demands now
// made its target, on the drive the node's slot points at; `demand` takes
// the position read. The first failing exchange ends the sequence.
common::StatusCode HoldAtPositionDemand(ServiceContext& context, std::uint32_t nodeIndex,
                                        std::uint32_t& demand) noexcept;

// Halt, target velocity 0, profile-velocity mode. The first failing write
// ends the sequence with its result.
common::StatusCode SetVelocityModeHalted(ServiceContext& context, std::uint32_t nodeIndex) noexcept;

// Acceleration, velocity, end velocity 0 and target, then enable operation
// and the start of the move; the start's result is the answer.
common::StatusCode StartProfilePositionMove(ServiceContext& context, std::uint32_t nodeIndex,
                                            std::uint32_t acceleration, std::uint32_t velocity,
                                            std::int32_t target) noexcept;

// Acceleration and target velocity, then enable operation.
common::StatusCode StartProfileVelocityMove(ServiceContext& context, std::uint32_t nodeIndex,
                                            std::uint32_t acceleration,
                                            std::int32_t velocity) noexcept;

}  // namespace vantor::canopen

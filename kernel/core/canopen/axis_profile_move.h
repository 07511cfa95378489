// A profile-position move of a set of nodes and their axes to given
// positions, waited for, and the drives then put back into the mode they
// work in. Used to bring a node's further axes to where the node stands.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// How long a move may take beyond its plan: the wait ends at twice the
// longest planned move time plus this, or after this alone when no move
// could be planned (no velocity, or its position unread).
inline constexpr std::uint64_t kProfileMoveSlackMs = 5000;
// The pause between two looks at the moving drives.
inline constexpr std::uint32_t kProfileMovePollMs = 10;

// The longest wait on a move planned to take `plannedSeconds`: twice the
// plan plus the slack, or the slack alone without a plan (a value of 0 or
// below).
std::uint64_t MoveTimeLimitMs(double plannedSeconds) noexcept;

// Seconds a trapezoidal move over `distance` takes with this velocity and
// acceleration (an acceleration of 0: at once to speed); a negative value
// when no velocity is given.
double PlannedMoveSeconds(double distance, double velocity, double acceleration) noexcept;

// Moves the nodes of `mask` (with `includeNode`) and their axes to
// `positions` (one per node, in table order; an axis goes where its node
// goes) with their own profile velocity and acceleration. A drive that
// faults, leaves operation enabled or has not arrived when the time is up
// is halted and ends the move with kKernelGantryCompensationFailed; a
// failed write ends that drive's part with kKernelOperationFailed. The
// drives that arrived return to their working mode. Results go to the
// nodes' last results and the axes' results.
common::StatusCode SetupAxesProfileMode(ServiceContext& context, bool includeNode, NodeMask mask,
                                        std::span<const std::int32_t> positions) noexcept;

}  // namespace vantor::canopen

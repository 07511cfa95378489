// The axis chain: a node with further axes leads them through its maker
// object 0x2043 (sub 1 state: 0 uncoupled, 1 follower, 2 leader; sub 2 and
// 3 the first and last follower's node id; sub 4 the chain's error flag).
// Only drives that the probe found to carry the object are ever written.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Reads the chain state on every node and notes which have the object. A
// node with axes that lacks it gets kKernelDriveFirmwareWrong as its last
// result; a node without axes that has it is uncoupled. With `probeAxes`
// the axes are read the same way (an axis without it: kKernelDriveFirmware
// Wrong as its result); else an axis counts as having it when its node
// does. Any failure: kKernelOperationFailed.
common::StatusCode ProbeAxisChain(ServiceContext& context, bool probeAxes) noexcept;

// Couples (`on`: nodes leaders, their axes followers) or uncouples the
// masked nodes with axes (`allNodes`: every node) and their axes. Coupling
// then reports the axes' errors of every such node.
common::StatusCode SetAxisChainState(ServiceContext& context, bool on, bool allNodes,
                                     NodeMask mask) noexcept;

// Writes every chain from scratch: each node with axes learns its first
// and last axis, becomes leader, and its axes, once their error flag is
// cleared, followers. Nothing when no node has axes.
common::StatusCode ConfigureAxisChain(ServiceContext& context) noexcept;

// Reads the newest error (0x1003 sub 1) of each axis of the node in turn;
// the first failed read or error ends the reads and sets the node's chain
// error flag. The node's last result and identifiers stay as they were.
// A failed read or flag write: kKernelOperationFailed.
common::StatusCode ReportAxisErrors(ServiceContext& context, std::uint32_t nodeIndex) noexcept;

}  // namespace vantor::canopen

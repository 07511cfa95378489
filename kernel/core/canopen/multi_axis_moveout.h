// The kernel's own way off a limit switch for nodes that lead further axes
// (a gantry): reference where needed, a velocity move off the switch on the
// whole chain, the synchronised axes brought together, and a position move
// to a safe distance.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// What the drives of each node (node level and every axis) report of their
// limit switches, one bit per node. Every bit starts set; any drive of the
// node clears it.
struct LimitSwitchStates {
  NodeMask readOk = 0;          // cleared by a failed read
  NodeMask enabled = 0;         // cleared by a fault bit or a state other than enabled
  NodeMask freeOfPositive = 0;  // cleared by the positive input alone
  NodeMask freeOfNegative = 0;  // cleared by the negative input (both inputs count so)

  NodeMask OnSwitch() const noexcept { return ~(freeOfPositive & freeOfNegative); }
  // The nodes whose move leaves in negative direction.
  NodeMask OnPositiveSwitch() const noexcept { return ~freeOfPositive & freeOfNegative; }
};

// Reads statusword and digital inputs of the masked nodes and their axes.
// kKernelSuccess (failed reads only show in the states and the drives'
// results) or kCycleNotRunning.
common::StatusCode ReadLimitSwitchStates(ServiceContext& context, NodeMask mask,
                                         LimitSwitchStates& states) noexcept;

// The actual positions of the masked nodes and their axes: per node the
// smallest where it sits on the positive switch, else the largest. `mask`
// comes back holding the nodes whose drives all answered.
common::StatusCode ReadExtremePositions(ServiceContext& context, NodeMask& mask,
                                        NodeMask onPositive,
                                        std::array<std::int32_t, kMaxNodes>& positions) noexcept;

// Waits until every drive of the masked nodes reports target reached, at
// most `limitMs`, then gives each the controlword `finalControlword`. A
// drive that faults, leaves operation enabled or runs out of time (it is
// halted) gets kKernelGantryCompensationFailed, one whose read fails the
// read's result. `mask` comes back holding the nodes whose drives all
// arrived.
common::StatusCode CompensateSynchronisedAxes(ServiceContext& context, NodeMask& mask,
                                              std::uint16_t finalControlword,
                                              std::uint64_t limitMs) noexcept;

// The value of larger magnitude; a tie gives the second.
double LargerMagnitude(double first, double second) noexcept;

// Moves the masked nodes with further axes off their limit switches. A
// node that fails a phase takes no part in the later ones and the result
// becomes kKernelOperationFailed; a stopped cycle gives kCycleNotRunning at
// once. kKernelSuccess at once when no node has axes.
common::StatusCode MoveMultiAxisNodesOut(ServiceContext& context, NodeMask mask) noexcept;

}  // namespace vantor::canopen

// What the handling-axis commands ask of a handling drive beyond its moves:
// holding it where it stands, taking its own position limits over, and
// the controlword that changes the motion state of a set of them.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Halt, profile-position mode, the demanded position as target; the node's
// position then takes that position in kernel units and the kernel's axis
// record of the node follows it.
common::StatusCode HoldHandlingAxisPosition(ServiceContext& context,
                                            std::uint32_t nodeIndex) noexcept;

// The drive's software position limits (0x607D sub 1 and 2) and its limit
// word (0x2058) read into the node and written to its axes.
// kKernelDriveFirmwareWrong when the node or an axis lacks 0x607D.
common::StatusCode SyncHandlingAxisLimits(ServiceContext& context,
                                          std::uint32_t nodeIndex) noexcept;

// The motion states a handling drive is switched to.
enum class HandlingMotionState : std::uint32_t {
  Run = 0,   // the set-point taken (position mode), or enable operation
  Halt = 1,  // halt bit
  End = 3,   // the move ended (position mode), else halted
};

// The controlword a node takes for `state` in its mode.
std::uint16_t MotionStateControlword(HandlingMotionState state, bool positionMode) noexcept;

// The masked nodes' control PDOs carry the controlword again; then each
// node takes the controlword of `state`: a node with axes whose node and
// axis results are all good as one frame on its control PDO (its axes take
// its frames), one with a failed result is left out, a node without axes
// by SDO. kKernelOperationFailed on any failure, else the mapping's
// result.
common::StatusCode WriteMotionStateControlword(ServiceContext& context, NodeMask mask,
                                               HandlingMotionState state) noexcept;

}  // namespace vantor::canopen

// The node steps of the drive stop and resumption: the quick stop of a
// drive that runs, and the enabling of operation before a move. Both send
// each SDO three times at most and end through `FinishStopStep`.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// Reads the statusword; a drive in operation enabled gets controlword
// 0x0002 (quick stop), any other is left as it is.
void QuickStopStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Writes controlword 0x000F (enable operation).
void EnableOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Enables operation on the node's own drive and then, one after the other,
// on the drive of each of its further axes, the node's SDO identifiers
// pointed at that axis for its write and back at the node after it. The
// first failure ends the step.
void MultiAxisEnableOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Ends the node's stop step with `result`: an invalid message clears the
// node's answer flags (C), any other failure its send flags (B), both
// rows. True for success.
bool FinishStopStep(NodeObject& node, common::StatusCode result) noexcept;

}  // namespace vantor::canopen

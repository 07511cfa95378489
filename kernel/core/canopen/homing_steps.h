// The homing of a node without further axes, run by the cycle in the node's
// request slot so that every selected node homes at the same time, and the
// two steps around it that take the drive's first transmit PDO out of the
// cyclic exchange (the run polls it) and give it back.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// What a drive's state at the start of homing means: success for
// operation enabled; kKernelNodeInErrorState for quick stop, fault,
// switched off or switch-on disabled; kKernelExternalNodeControlForbidden
// while another master drives it; kKernelNodeAnswerUnknown otherwise.
common::StatusCode HomingStartStateResult(std::uint16_t statusword) noexcept;

// The drive's homing sequence: its state from the first transmit PDO,
// enable operation, homing mode (in test mode with home on the current
// position, the drive's own method kept in the request record), the start,
// the watch of the run on the transmit PDO, and the working mode back. A
// drive that fails after the start is halted unless in test mode. Ends
// with `FinishHomingDone` or `FinishHomingFailed`.
void HomingStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The first transmit PDO's transmission type := 253 (on request only), or
// := 1 (every SYNC).
void DisableCyclicTpdoStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
void EnableCyclicTpdoStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The ends of a homing sequence. Done: position 0, homed in both status
// rows, limit switches free in the current row, home-shift remainder 0 and
// the test mode recorded; the break stays for the others to see. Failed:
// not homed, the request result kept, the break reset.
void FinishHomingDone(CycleContext& cycle, NodeObject& node) noexcept;
void FinishHomingFailed(CycleContext& cycle, NodeObject& node) noexcept;

}  // namespace vantor::canopen

// The drive's own way off a limit switch: its leave mode (mode of
// operation -3), entered on the nodes without further axes and started
// there with the new-set-point bit.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The leave move's record (`LeaveSwitchStep`).
namespace leave_request {
// The driver's elapsed time since the leave move started, microseconds.
inline constexpr common::Field<std::uint32_t, 0> kElapsedMicroseconds{};
// Why the move was halted; the request ends with it.
inline constexpr common::Field<std::uint32_t, 4> kHaltCause{};
static_assert(kHaltCause.kEnd == 8);
}  // namespace leave_request

// The leave mode's value of 0x6060 (-3).
inline constexpr std::uint8_t kLeaveLimitSwitchMode = 0xFD;
// Enable operation with halt and the maker's bit 11: stops a leave move
// that went wrong.
inline constexpr std::uint16_t kLeaveHalt = 0x093F;

// Clears the new-set-point bit of the controlword and selects the leave
// mode. A failed exchange ends the request with its result.
void EnterLeaveModeStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Starts the leave move (controlword bit 4 set) and polls the statusword
// until the drive reports target reached without the leaving bit. A failed
// read or a drive out of operation enabled is halted with `kLeaveHalt` and
// ends the request with the read's result or kKernelNodeInErrorState; a
// drive still leaving after `kOffSwitchLimitMs` is halted the same way and
// ends with kKernelCanMessageTimeout.
void LeaveSwitchStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Every node without further axes enters its leave mode. Each node's last
// result takes its request's; any failure: kKernelOperationFailed; a
// stopped cycle: kCycleNotRunning.
common::StatusCode EnterLeaveMode(ServiceContext& context) noexcept;

// The masked nodes without further axes run their leave move, all at once.
// Results as `EnterLeaveMode`.
common::StatusCode LeaveLimitSwitches(ServiceContext& context, NodeMask mask) noexcept;

}  // namespace vantor::canopen

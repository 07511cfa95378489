// The modes of operation the drives work in: interpolated position for the
// interpolated axes, profile position or profile velocity for the handling
// axes, each left standing where it is, with operation enabled.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

namespace mode_request {
inline constexpr common::Field<std::uint8_t, 0> kMode{};
// The position demand read before a profile-position target is set.
inline constexpr common::Field<std::uint32_t, 4> kPositionDemand{};
static_assert(kPositionDemand.kEnd <= kRequestRecordSize);
}  // namespace mode_request

// Writes the mode (0x6060) from the request record; profile position then
// takes the position demand (0x6062) as its target (0x607A), profile
// velocity gets target velocity 0 (0x60FF), and every mode ends with
// enable operation (0x000F).
void ModeOfOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The mode a node works in: 7 for an interpolated axis, 1 for a handling
// axis with a positive sub-mode, else 3.
std::uint8_t WorkingModeOf(const NodeObject& node) noexcept;

// Every node (its axes after it) set to its working mode. Each node's last
// result takes its result; a failing node loses its run enable.
// kKernelOperationFailed on any failure, kCycleNotRunning when the cycle
// stopped.
common::StatusCode SetAllModesOfOperation(ServiceContext& context) noexcept;
common::StatusCode SetAllModesOfOperationOnAxes(ServiceContext& context) noexcept;
// The same on one node and its axes.
common::StatusCode SetNodeModeOfOperation(ServiceContext& context,
                                          std::uint32_t nodeIndex) noexcept;
common::StatusCode SetNodeModeOfOperationOnAxes(ServiceContext& context,
                                                std::uint32_t nodeIndex) noexcept;

// The modes a reset starts in: the nodes behind the interpolated ones
// become handling axes in profile position, every mode is set, and the
// nodes that were handling axes before take their position demand as
// position (their axis record too while homed).
common::StatusCode SetStartModes(ServiceContext& context) noexcept;

}  // namespace vantor::canopen

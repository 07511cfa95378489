// Homing a set of axes: the nodes without further axes home side by side in
// their slots (their first transmit PDO taken out of the cyclic exchange
// meanwhile), then the gantry pairs one after the other through both
// drives, unless a plain node saw the break.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/homing_cycle_state.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// What a homing run reads of the kernel beyond the node table.
struct HomingRun {
  // Polled by the gantry roads, never waited on; null: never set.
  HomingBreakSignal* breakSignal = nullptr;
  std::uint32_t testMode = 0;

  bool BreakSet() const noexcept { return breakSignal != nullptr && breakSignal->IsSet(); }
};

// Homes the nodes of `mask` (bits beyond the table ignored). kKernelSuccess;
// kKernelOperationFailed when a plain node failed (its last result tells
// why); kKernelHomingBroken or the code of the last failing gantry node;
// kCycleNotRunning at once when the cycle stopped. The caller holds every
// node's request and access mutex.
common::StatusCode HomeAxes(ServiceContext& context, NodeMask mask, const HomingRun& run) noexcept;

}  // namespace vantor::canopen

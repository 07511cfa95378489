// The global request slot's record: the synchronised buffered start that
// the cycle's SYNC and time-stamp poll run on, or the record released.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

namespace global_slot_mode {
inline constexpr std::int32_t kRelease = 1;
inline constexpr std::int32_t kSynchronisedStart = 2;
}  // namespace global_slot_mode

// The global record zeroed, then (mode 2) set to the synchronised buffered
// start; in both modes it carries the SYNC identifier and the time stamp's
// identifier to poll. Ends the global request with success.
void GlobalSlotStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Cycle step: the global slot's installed step, if any. The caller holds
// the global request lock.
void RunGlobalSlotStep(CycleContext& cycle) noexcept;

// Arms `GlobalSlotStep` (the synchronised start with `start`, else the
// release) and waits for it. The request's result, or kCycleNotRunning
// when the cycle does not run or stopped meanwhile.
common::StatusCode ArmGlobalSlot(ServiceContext& context, bool start) noexcept;

}  // namespace vantor::canopen

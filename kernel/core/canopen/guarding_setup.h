// Node guarding set up by the reset: each drive's guard time and life-time
// factor are read, each node and axis gets (or loses) its guarding entry in
// the CAN object list, and after the NMT start the entries become active.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

namespace guarding_request {
inline constexpr common::Field<std::uint16_t, 0> kGuardTime{};  // milliseconds
inline constexpr common::Field<std::uint8_t, 2> kLifeTimeFactor{};
}  // namespace guarding_request

// Reads 0x100C and 0x100D into the record; either of them 0 ends the
// request with kKernelNodeParameterInvalid.
void GuardingParameterStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Every node's and axis's guarding parameters, then their guarding entries
// brought in line with them.
common::StatusCode ReadGuardingParameters(ServiceContext& context) noexcept;
common::StatusCode ReadGuardingParametersOnAxes(ServiceContext& context) noexcept;

// The guarding entry of drive `nodeId` (identifier 0x700 + id) after its
// parameters: both non-zero lists it (or updates its times), either zero
// takes it out. `guarded` follows; `node`, when given, has its flags A and D
// cleared in both rows whenever the entry is new or taken out. The caller
// holds the kernel data and object list locks.
void UpdateGuardingEntry(CanObjectList& list, std::uint8_t nodeId, std::uint16_t guardTimeMs,
                         std::uint8_t lifeTimeFactor, std::uint32_t& guarded,
                         NodeObject* node) noexcept;

// After the NMT start: every guarded node's and axis's entry becomes active
// and starts without failures; a node not yet started expects the first
// toggle afresh.
common::StatusCode StartGuarding(ServiceContext& context) noexcept;

}  // namespace vantor::canopen

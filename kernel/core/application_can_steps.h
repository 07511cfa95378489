// The cycle's side of the raw CAN request of the SDO area: framing it into
// the exchange record's message records and collecting its end.
//
// Before the CNC configuration exists the frame goes out in record 14 and an
// answer comes back in record 15, the driver's receive store. Once the CAN
// object list exists, the records come from its free table: the frame takes
// the lowest free of 1 to 14, the answer record 15 when free, else the
// lowest free of 1 to 14. A request that finds no record waits for a later
// cycle, and its time only runs once it is framed.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/application_can_request.h"
#include "kernel/core/cycle_steps.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// The records a raw request uses while the kernel is not in CNC mode.
inline constexpr std::uint8_t kRawFrameRecord = 14;
inline constexpr std::uint8_t kRawAnswerRecord = 15;

// How long a raw request to a node tries for the nodes' access mutexes.
inline constexpr std::uint32_t kNodeAccessTryMs = 1;

struct RawRequestCycle {
  ApplicationCanRequest& request;
  common::ExchangeBuffer& exchange;
  // The nodes whose access mutexes a request to a node holds.
  const NodeConfiguration& nodes;
  // Null outside CNC mode or while no object list exists.
  FreeRecordTable* freeRecords = nullptr;
  bool nodesStopping = false;
};

// Frames a request that the server thread handed over (its completion event
// reset, not yet busy).
void StartApplicationCanRequest(RawRequestCycle& cycle) noexcept;

// Each cycle while the request is busy: counts its time down by the
// exchange's elapsed microseconds and ends it when the answer came, the send
// failed, the driver failed or the time ran out.
void CompleteApplicationCanRequest(RawRequestCycle& cycle) noexcept;

// The cycle's way out: gives back the nodes' access mutexes that a request
// to a node holds, so no handler waits for them after the cycle ended.
void ReleaseApplicationCanRequestMutexes(ApplicationCanRequest& request,
                                         const NodeConfiguration& nodes) noexcept;

}  // namespace vantor::kernel

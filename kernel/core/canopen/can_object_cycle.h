// The CAN object list's work in the real-time cycle: collecting the answers
// of the objects that owned a message record, handing the free records to
// the most overdue objects, and judging whether every peripheral object is
// in order.
//
// All three run on the cycle thread with the list's mutex held; none
// allocates or waits, and each walks the list at most once per record.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/canopen/can_object_list.h"

namespace vantor::canopen {

// Before scheduling, after the raw request's end: records marked to clear
// get code 0, then every scheduled entry's exchange is judged and, when it
// has ended, its record goes back to the free table.
void ServeCanObjectList(CanObjectList& list, common::ExchangeBuffer& exchange) noexcept;

// Idle entries count down; the free records 1 to 14 go to the due entries,
// guarding entries first, then the most overdue relative to their period.
void ScheduleCanObjects(CanObjectList& list, common::ExchangeBuffer& exchange) noexcept;

// Recomputes the list's in-order words; clears `peripheryObjectsInOrder`
// when either is 0.
void CheckCanObjectStates(std::uint32_t& peripheryObjectsInOrder, CanObjectList& list) noexcept;

// A receive entry that is not a guarding entry and has received data whose
// bytes (up to its length) differ from the expected ones under the mask.
bool ReceivedDataDiffers(const CanObjectEntry& entry) noexcept;

// The driver's elapsed time of the last exchange as the list counts it.
std::int32_t ElapsedTime(const common::ExchangeBuffer& exchange) noexcept;

}  // namespace vantor::canopen

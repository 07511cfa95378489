// How long the real-time cycle waits for the driver's exchange, as the CAN
// start record asks for it. The driver link waits that long and command 3
// reports it, both from this one rule.
#pragma once

#include <cstdint>

#include "common/kernel_link_records.h"

namespace vantor::kernel {

// The exchange time-out in milliseconds; 0 means the default 1500 ms, since
// a cycle that gave the driver no time at all would end at its first wait.
// Longer ones are cut to `kLongestExchangeTimeoutMs`: the field's largest
// value would otherwise be a wait without end, and a cycle on a driver that
// stopped answering would hold every waiting request for good.
inline constexpr std::uint32_t kLongestExchangeTimeoutMs = 10000;
std::uint32_t ExchangeTimeoutFromStartRecord(
    common::ConstByteView<common::kCanStartRecordSize> start) noexcept;

}  // namespace vantor::kernel

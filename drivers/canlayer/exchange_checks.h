// Checks of an exchange record before the driver acts on any of it. A
// refused record completes at once and leaves the driver unchanged.
#pragma once

#include <cstdint>

#include "common/driver_status.h"
#include "common/exchange_buffer.h"
#include "drivers/canlayer/run_settings.h"

namespace vantor::canlayer {

// The most set-point objects (records with code 10 or 11) one exchange may
// carry: a set-point entry has six columns.
inline constexpr int kMaxSetpointObjects = 6;

// Record contents that would make the driver write past a message object's
// eight data bytes (a length above 8 on a sending code or in a start
// frame) or drive more set-point axes than an entry has; in the buffered
// cycle also start codes mixed with active codes. kDriverBufferedRunRefused
// for any of them.
common::DriverStatus CheckExchangeRecords(common::ConstExchangeBufferView exchange,
                                          RunMode mode) noexcept;

// The number of new set-point entries the request brings, checked against
// the record's room (0..500) and against what the ring may still take.
common::DriverStatus CheckSetpointCount(common::ConstExchangeBufferView exchange, int queuedEntries,
                                        std::int16_t fillLimit) noexcept;

}  // namespace vantor::canlayer

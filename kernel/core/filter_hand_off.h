// Hands a setting of the CAN acceptance masks from the server thread to the
// real-time cycle, which writes it into the next exchange.
//
// The event is the hand-off: signalled means nothing is pending. The server
// thread writes the values only while the event is set and resets it last;
// the cycle reads them only while it is reset and sets it last. Set, reset
// and wait are full memory barriers, so the values need no lock.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

struct FilterSetting {
  std::uint8_t globalMaskRequest = 0;
  std::uint16_t globalStandardMask = 0;
  std::uint8_t receiveObjectMaskRequest = 0;
  std::uint16_t receiveObjectMask = 0;
};

// Every one of the 11 identifier bits must match, in both masks.
inline constexpr FilterSetting kAllIdentifierBitsMatch{1, 0x7FF, 1, 0x7FF};

class FilterHandOff {
 public:
  // Creates the event, signalled. False when it cannot be made.
  bool Create();
  void Close();

  // Server thread: queues the setting and waits until the cycle took it
  // (true) or the cycle thread ended first (false).
  bool Queue(const FilterSetting& setting, const os::Waitable& cycleThread);

  // Cycle thread, once per cycle: a pending setting goes into the mask
  // request bytes of the exchange.
  void TakeInto(common::ExchangeBuffer& exchange);

 private:
  os::Event handedOver_;
  FilterSetting pending_;
};

}  // namespace vantor::kernel

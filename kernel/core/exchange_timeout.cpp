#include "kernel/core/exchange_timeout.h"

#include <algorithm>

namespace vantor::kernel {

std::uint32_t ExchangeTimeoutFromStartRecord(
    common::ConstByteView<common::kCanStartRecordSize> start) noexcept {
  namespace sr = common::can_start_record;
  const std::uint32_t timeout = start.Get(sr::kRealTimeThreadIntWaitTime);
  if (timeout == 0) return sr::kDefaultRealTimeThreadIntWaitTime;
  return std::min(timeout, kLongestExchangeTimeoutMs);
}

}  // namespace vantor::kernel

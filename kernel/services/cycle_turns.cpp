#include "kernel/services/cycle_turns.h"

#include <thread>

#include "platform/os/timing.h"

namespace vantor::kernel {

CycleTurns::CycleTurns() noexcept : lastTurn_us_(os::MonotonicMicroseconds()) {}

void CycleTurns::BetweenHolds() noexcept {
  if (os::MonotonicMicroseconds() - lastTurn_us_ <
      static_cast<std::uint64_t>(kHoldBudget.count())) {
    return;
  }
  std::this_thread::sleep_for(kStepAside);
  lastTurn_us_ = os::MonotonicMicroseconds();
}

}  // namespace vantor::kernel

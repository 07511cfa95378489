// Long commands drop the kernel data lock now and then so that the cycle
// gets it. The cycle takes the lock with its whole set of mutexes, and a
// free set goes to whoever asks first: a lock retaken at once would leave
// the cycle waiting all the same. So once the holds since the last turn
// have lasted the budget, the server steps aside briefly before it takes
// the lock again.
#pragma once

#include <chrono>
#include <cstdint>

namespace vantor::kernel {

class CycleTurns {
 public:
  static constexpr std::chrono::microseconds kHoldBudget{250};
  static constexpr std::chrono::microseconds kStepAside{50};

  CycleTurns() noexcept;

  // Called with the lock released, before it is taken again.
  void BetweenHolds() noexcept;

 private:
  std::uint64_t lastTurn_us_;
};

}  // namespace vantor::kernel

#pragma once

#include <cstdint>
#include <functional>

#include "sim/hardware/i82527.h"
#include "sim/hardware/timed_model.h"

namespace vantor::sim {

// A counter on the board that divides a controller's clock output and gives
// one edge per `divisor` clock-out cycles: the tick interrupt of the card
// and of the parallel-port adapter (divisor 2048). It follows the
// controller's divider and enable, restarting its count when they change.
class ClockOutDivider : public TimedModel {
 public:
  static constexpr std::uint32_t kTickDivisor = 2048;

  using EdgeHandler = std::function<void(SimTime now)>;

  ClockOutDivider(const I82527& controller, std::uint32_t divisor, EdgeHandler on_edge)
      : controller_(controller), divisor_(divisor), on_edge_(std::move(on_edge)) {}

  // Time between two edges as the controller is set now; 0 while stopped.
  SimTime Period() const { return controller_.ClockOutPeriodTimes(divisor_); }

  std::uint64_t Edges() const { return edges_; }

  SimTime NextDeadline() const override;
  void AdvanceTo(SimTime now) override;

 private:
  // Stops a jump over a long stretch of time from firing without end.
  static constexpr std::uint64_t kMaxEdgesPerAdvance = 10'000'000;

  const I82527& controller_;
  std::uint32_t divisor_;
  EdgeHandler on_edge_;
  std::uint64_t generation_seen_ = ~std::uint64_t{0};
  SimTime next_edge_ = 0;
  std::uint64_t edges_ = 0;
};

}  // namespace vantor::sim

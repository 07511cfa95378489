#include "sim/hardware/clock_out_divider.h"

namespace vantor::sim {

SimTime ClockOutDivider::NextDeadline() const {
  const SimTime period = Period();
  if (period == 0) return kNever;
  if (controller_.ClockOutGeneration() != generation_seen_)
    return controller_.ClockOutChangedAt() + period;
  return next_edge_;
}

void ClockOutDivider::AdvanceTo(SimTime now) {
  const SimTime period = Period();
  if (controller_.ClockOutGeneration() != generation_seen_) {
    generation_seen_ = controller_.ClockOutGeneration();
    next_edge_ = controller_.ClockOutChangedAt() + period;
  }
  if (period == 0) return;
  for (std::uint64_t fired = 0; next_edge_ <= now && fired < kMaxEdgesPerAdvance; ++fired) {
    const SimTime edge = next_edge_;
    next_edge_ += period;
    ++edges_;
    if (on_edge_) on_edge_(edge);
  }
}

}  // namespace vantor::sim

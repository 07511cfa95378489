#pragma once

#include "sim/can_station.h"
#include "sim/sim_time.h"

namespace vantor::sim {

// Anything that changes state by itself as simulated time passes: a bus with
// a frame on the wire, a clock divider that raises a tick. The simulation
// asks every model for its next deadline and lets it run up to that time.
class TimedModel {
 public:
  virtual ~TimedModel() = default;

  // The earliest time at which the model changes state by itself, or kNever.
  virtual SimTime NextDeadline() const = 0;

  // Runs the model's own events up to and including `now`.
  virtual void AdvanceTo(SimTime now) = 0;
};

}  // namespace vantor::sim

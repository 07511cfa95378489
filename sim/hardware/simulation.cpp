#include "sim/hardware/simulation.h"

#include <algorithm>

namespace vantor::sim {

void Simulation::Add(TimedModel* model) {
  if (model != nullptr && std::find(models_.begin(), models_.end(), model) == models_.end()) {
    models_.push_back(model);
  }
}

void Simulation::Remove(TimedModel* model) {
  models_.erase(std::remove(models_.begin(), models_.end(), model), models_.end());
}

SimTime Simulation::NextDeadline() const {
  SimTime next = kNever;
  for (const TimedModel* model : models_) next = std::min(next, model->NextDeadline());
  return next;
}

void Simulation::AdvanceTo(SimTime target) {
  if (advancing_) {
    deferred_target_ = std::max(deferred_target_, target);
    return;
  }
  advancing_ = true;
  deferred_target_ = target;
  while (true) {
    RunEventsUpTo(deferred_target_);
    if (deferred_target_ <= now_) break;
  }
  advancing_ = false;
}

void Simulation::RunEventsUpTo(SimTime target) {
  int events_at_this_instant = 0;
  SimTime instant = now_;
  while (true) {
    const SimTime next = NextDeadline();
    if (next > target) break;
    const SimTime event_time = std::max(now_, next);
    if (event_time == instant) {
      if (++events_at_this_instant > kMaxEventsPerInstant) break;
    } else {
      instant = event_time;
      events_at_this_instant = 0;
    }
    now_ = event_time;
    AdvanceAllTo(now_);
  }
  // Models only run when there is something for them to do: time moved on,
  // or an event fell due above. A call that neither moves time nor finds
  // anything due (a free register access) costs no model a step.
  if (target > now_) {
    now_ = target;
    AdvanceAllTo(now_);
  }
}

// Models may join or leave while others run, so walk by index.
void Simulation::AdvanceAllTo(SimTime now) {
  for (std::size_t i = 0; i < models_.size(); ++i) models_[i]->AdvanceTo(now);
}

}  // namespace vantor::sim

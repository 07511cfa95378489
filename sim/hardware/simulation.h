#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "sim/hardware/timed_model.h"
#include "sim/sim_time.h"

namespace vantor::sim {

// One register or port access as the driver runtime made it, for the
// register-access log and for tests that want to act between two accesses.
struct RegisterAccess {
  enum class Kind : std::uint8_t { kRead, kWrite };

  SimTime time = 0;
  std::string_view device;   // the model's name, e.g. "pci0.bar2" or "lpt0"
  std::uint32_t offset = 0;  // window offset or port address
  std::uint8_t width = 1;    // bytes
  Kind kind = Kind::kRead;
  std::uint32_t value = 0;  // value read or written
};

// The simulation clock and its scheduler. Every model that changes state by
// itself registers here; AdvanceTo runs their events in time order. Nothing
// here reads the wall clock: the owner steps time (a test) or follows the
// real clock (the devhost program).
//
// Not thread-safe: the driver runtime serialises every access to the models.
class Simulation {
 public:
  using AccessObserver = std::function<void(const RegisterAccess&)>;

  SimTime Now() const { return now_; }

  void Add(TimedModel* model);
  void Remove(TimedModel* model);

  // Runs every model's events due up to `target` in order and leaves the
  // clock at `target` (never backwards). Models are run only when time
  // moves or one of them has an event due. Called again while it runs (from
  // a listener), it only moves the target; the outer call catches up.
  void AdvanceTo(SimTime target);
  void AdvanceBy(SimTime duration) { AdvanceTo(now_ + duration); }

  // The earliest deadline of all models, or kNever.
  SimTime NextDeadline() const;

  // What one register access costs on the simulated bus (0 by default).
  void SetRegisterAccessCost(SimTime cost) { access_cost_ = cost; }
  SimTime RegisterAccessCost() const { return access_cost_; }

  // Called by every device surface before it serves an access: time moves on
  // by the access cost, so frames that end meanwhile land first.
  void ChargeRegisterAccess() { AdvanceTo(now_ + access_cost_); }

  // Told of every access after it was served.
  void SetAccessObserver(AccessObserver observer) { access_observer_ = std::move(observer); }
  void NotifyAccess(const RegisterAccess& access) const {
    if (access_observer_) access_observer_(access);
  }

 private:
  // Events at one instant may cause further events at the same instant (a
  // frame ends, the next starts at once); this caps a model that keeps
  // asking for the present without changing state.
  static constexpr int kMaxEventsPerInstant = 100000;

  void RunEventsUpTo(SimTime target);
  void AdvanceAllTo(SimTime now);

  SimTime now_ = 0;
  SimTime access_cost_ = 0;
  std::vector<TimedModel*> models_;
  AccessObserver access_observer_;
  bool advancing_ = false;
  SimTime deferred_target_ = 0;
};

}  // namespace vantor::sim

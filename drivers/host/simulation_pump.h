// Keeps the simulated machine in step with the driver runtime's clock.
//
// The runtime counts 100 ns ticks on its own clock (real in the devhost
// program, virtual in tests); the models run on simulated nanoseconds and are
// not thread-safe. The pump joins the two:
//
//  - One lock (the model lock) serialises everything that touches a model:
//    register, port and configuration accesses from driver threads and the
//    pump's own advancing of time. Every access goes through a ModelAccess.
//  - Time moves on in clock timers that the pump arms at the simulation's
//    next deadline (and at a steady follow period, so simulated time keeps
//    up with the clock when nothing is due). A timer's pass advances the
//    simulation one deadline at a time up to the clock's now, and after each
//    step runs the handlers of every interrupt line that a model raised
//    meanwhile. So a handler runs once per edge, with the models standing at
//    the edge's time, and never from inside model code.
//  - A model's interrupt output only notes the edge, which the pump hands to
//    the runtime's line when it runs the handlers; a level line that is
//    still asserted after its handlers ran is marked again, as a level
//    interrupt fires again after its end-of-interrupt.
//
// An access made between two passes first brings the simulation up to the
// clock's now, but only when no event lies in between: an event (and the
// interrupt it may raise) is left to the pump, which is the one place that
// may run handlers. Inside a handler the pump runs, the hardware goes on as
// the processor works: each of the handler's accesses after its first moves
// the models on by the time since the one before (at most what one access
// takes, never past the clock), through the events on the way, a bounded
// number of steps each. So a handler that spins on a controller's register
// sees the frame it waits for leave, and a handler that runs late (or is
// kept waiting) does not swallow the ticks it was late by. Such a step
// stops at the first edge it raises; that edge's handlers run before
// anything moves the models on, so no two edges merge into one handler
// call. A pump that is stepped by hand (never started)
// does not follow its handlers either.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/devhost/clock.h"
#include "platform/devhost/hardware_time.h"
#include "platform/devhost/interrupt_line.h"
#include "sim/hardware/interrupt_line.h"
#include "sim/hardware/simulation.h"
#include "sim/sim_time.h"

namespace vantor::host {

using devhost::Ticks;
using sim::SimTime;

inline constexpr SimTime kNanosecondsPerTick = 100;

constexpr SimTime TicksToSimTime(Ticks ticks) noexcept {
  return ticks <= 0 ? 0 : static_cast<SimTime>(ticks) * kNanosecondsPerTick;
}

// The first counter value at or after `time`.
constexpr Ticks SimTimeToTicksCeil(SimTime time) noexcept {
  constexpr SimTime kLargestTime =
      static_cast<SimTime>(devhost::kWaitForever / 2) * kNanosecondsPerTick;
  if (time >= kLargestTime) return devhost::kWaitForever;
  return static_cast<Ticks>((time + kNanosecondsPerTick - 1) / kNanosecondsPerTick);
}

// The models' time as the counter reads it: the last counter value they
// have reached.
constexpr Ticks SimTimeToTicksFloor(SimTime time) noexcept {
  return static_cast<Ticks>(time / kNanosecondsPerTick);
}

class SimulationPump : public devhost::HardwareTime {
 public:
  // Passes run at least this often, so simulated time follows the clock
  // also while no model has anything due.
  static constexpr Ticks kFollowPeriod = devhost::MillisecondsToTicks(1);
  // Rounds of handlers one pass gives a level line that stays asserted;
  // the rest waits for the next pass, so a line that nobody clears cannot
  // hold the pump.
  static constexpr int kMaxLevelRepeats = 8;
  // Deadline steps in one pass; a pass that falls far behind the real clock
  // hands the rest to an immediate next pass.
  static constexpr int kMaxStepsPerPass = 100000;
  // The most simulated time one pass catches up. A pump the system let wait
  // (a loaded machine, a long handler) does not replay the whole lag in one
  // burst on the clock's thread: it hands the rest to the next pass, so the
  // clock's other timers run in between.
  static constexpr SimTime kLongestCatchUpPerPass = 20'000'000;
  // Within a pass the models move on in slices of this much simulated time;
  // between two slices the pass steps aside for threads waiting for the
  // models (the cycle's accesses).
  static constexpr SimTime kCatchUpSlice = 2'000'000;
  // Deadline steps one access from a handler may take; the rest is left to
  // the next access or pass.
  static constexpr int kMaxStepsPerAccess = 64;
  // The most simulated time one access from a handler moves the models on:
  // a register access on the card takes about a microsecond.
  static constexpr SimTime kLongestHandlerAccess = 5'000;

  SimulationPump(devhost::Clock& clock, sim::Simulation& simulation);
  ~SimulationPump() override;
  SimulationPump(const SimulationPump&) = delete;
  SimulationPump& operator=(const SimulationPump&) = delete;

  // Holds the model lock for one access (or a few that belong together).
  // On entry the simulation catches up with the clock where it safely can;
  // on exit the pump learns of new deadlines and raised interrupts. Never
  // taken from inside model code: the lock is not recursive.
  class [[nodiscard]] ModelAccess {
   public:
    explicit ModelAccess(SimulationPump& pump);
    ~ModelAccess();
    ModelAccess(const ModelAccess&) = delete;
    ModelAccess& operator=(const ModelAccess&) = delete;

   private:
    SimulationPump& pump_;
    std::unique_lock<std::mutex> lock_;
  };

  // Rising edges of `source` are noted for `target`; the pump then runs the
  // handlers of `target`. Wire before Start.
  void WireInterrupt(sim::InterruptLine& source, devhost::InterruptLine& target);

  // Arms the follow timer and the first deadline.
  void Start();
  // Cancels every timer and unwires the interrupt outputs; when this returns
  // no pass runs and no handler is called by the pump any more. Idempotent.
  void Stop();

  // Stepping by hand, for a host that moves its virtual clock itself and
  // never starts the pump (tests and benchmarks that set clock and models
  // apart). A step is what a pass does at each deadline, split in two so
  // that the caller can measure or hold the handlers on their own:
  //
  // Advances the models to their next deadline or to `limit`, whichever
  // comes first, and returns the simulated time they stand at. Edges that
  // a model raised on the way are noted.
  SimTime StepModels(SimTime limit);
  // Runs the handlers of every line marked pending, as a pass does after
  // each of its steps.
  void ServiceRaisedInterrupts();

  // Where the models stand, on the counter: a loaded computer lets them
  // fall behind the clock, and the card's bus has had only this much time.
  Ticks HardwareNow() const noexcept override;

 private:
  struct WiredLine {
    devhost::InterruptLine* target;
    std::vector<const sim::InterruptLine*> sources;
    // A rising edge whose handlers have not been started yet (model lock).
    // Kept here rather than on the target, so that an edge that comes
    // while the target's own mark is being taken is not merged into it.
    bool edge = false;
  };

  // Advances towards the clock's now one deadline at a time, running the
  // handlers raised at each, at most kLongestCatchUpPerPass in slices of
  // kCatchUpSlice, then arms the next pass.
  void RunPass();
  // Model lock held: one step towards `limit`, no further than the next
  // deadline.
  void StepModelsLocked(SimTime limit);
  // Model lock held: the models move on to `time`, and the counter learns.
  void AdvanceModelsLocked(SimTime time);
  // Model lock held: brings the models towards the clock's now.
  void CatchUpLocked();
  // Model lock held, from a handler the pump runs: the models follow the
  // handler's own time.
  void FollowHandlerLocked();
  // Model lock held: the counter value at which the next event falls due.
  Ticks NextDueLocked() const;
  // Runs the handlers of lines marked pending; model lock not held.
  void ServiceInterrupts();
  // Hands a line's edge, if any, to its target's pending mark; the next
  // handler's time starts at its first access.
  void BeginHandlerRound(WiredLine& line);
  // Model lock held: an edge waits for its handlers, so the models stand.
  bool EdgeUnservedLocked() const;
  bool AnySourceAsserted(const WiredLine& line);
  // Arms a one-shot pass at `due` unless one is armed at or before it.
  void ArmAt(Ticks due);
  void OnDeadlineTimer(Ticks due);
  void AfterAccess(Ticks nextDue);

  devhost::Clock& clock_;
  sim::Simulation& simulation_;

  std::mutex passMutex_;  // one pass at a time, whoever runs it
  std::mutex modelMutex_;
  std::vector<WiredLine> lines_;  // fixed once started
  std::vector<sim::InterruptLine*> sources_;
  std::atomic<bool> interruptRaised_{false};
  // The models' time, readable without the model lock.
  std::atomic<SimTime> modelTime_{0};
  // Started and not stopped: handlers' accesses move the models on.
  std::atomic<bool> following_{false};
  // The thread running a round of handlers, and where clock and models
  // stood at its handler's last access (model lock).
  std::thread::id servingThread_;
  bool handlerTimed_ = false;
  Ticks handlerSinceClock_ = 0;
  SimTime handlerSinceSim_ = 0;

  std::mutex timerMutex_;  // guards the members below
  bool running_ = false;
  devhost::TimerId followTimer_ = 0;
  std::map<Ticks, devhost::TimerId> armed_;  // one-shot passes by due time
};

}  // namespace vantor::host

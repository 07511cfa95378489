#include "drivers/host/simulation_pump.h"

#include <algorithm>
#include <thread>

namespace vantor::host {

SimulationPump::SimulationPump(devhost::Clock& clock, sim::Simulation& simulation)
    : clock_(clock), simulation_(simulation), modelTime_(simulation.Now()) {}

SimulationPump::~SimulationPump() { Stop(); }

// ---- model access -----------------------------------------------------------

SimulationPump::ModelAccess::ModelAccess(SimulationPump& pump)
    : pump_(pump), lock_(pump.modelMutex_) {
  pump_.CatchUpLocked();
}

SimulationPump::ModelAccess::~ModelAccess() {
  const Ticks nextDue = pump_.NextDueLocked();
  lock_.unlock();
  pump_.AfterAccess(nextDue);
}

void SimulationPump::CatchUpLocked() {
  // A handler's accesses follow the handler's own time only, or one that a
  // late pass runs late would jump towards the next tick at its first look.
  if (following_.load() && servingThread_ == std::this_thread::get_id()) {
    FollowHandlerLocked();
    return;
  }
  const SimTime now = TicksToSimTime(clock_.Now());
  if (simulation_.Now() < now && simulation_.NextDeadline() > now) AdvanceModelsLocked(now);
}

void SimulationPump::FollowHandlerLocked() {
  // The handler's time starts at its first access, which is where it looks
  // at its cause, and each later access moves the models on by the time
  // since the one before, but never by more than one access can take: a
  // handler that a late pass runs late, or that the system lets wait in
  // the middle, does not swallow ticks while the card's latch is still set.
  const Ticks clockNow = clock_.Now();
  if (handlerTimed_) {
    const SimTime limit =
        std::min(TicksToSimTime(clockNow),
                 handlerSinceSim_ + std::min(TicksToSimTime(clockNow - handlerSinceClock_),
                                             kLongestHandlerAccess));
    for (int step = 0; step < kMaxStepsPerAccess && simulation_.Now() < limit; ++step) {
      if (EdgeUnservedLocked()) break;
      StepModelsLocked(limit);
      // A model stuck at one instant is left to the passes, which give it
      // a tick of its own.
      if (simulation_.NextDeadline() <= simulation_.Now()) break;
    }
  }
  handlerTimed_ = true;
  handlerSinceClock_ = clockNow;
  handlerSinceSim_ = simulation_.Now();
}

Ticks SimulationPump::NextDueLocked() const {
  const SimTime next = simulation_.NextDeadline();
  return next == sim::kNever ? devhost::kWaitForever : SimTimeToTicksCeil(next);
}

void SimulationPump::AfterAccess(Ticks nextDue) {
  // An access that raised an interrupt wants its handlers as soon as the
  // clock lets them run, not at the next deadline.
  if (interruptRaised_.exchange(false)) ArmAt(clock_.Now());
  ArmAt(nextDue);
}

// ---- interrupts ---------------------------------------------------------------

void SimulationPump::WireInterrupt(sim::InterruptLine& source, devhost::InterruptLine& target) {
  std::lock_guard pass(passMutex_);
  std::lock_guard models(modelMutex_);
  auto line = std::find_if(lines_.begin(), lines_.end(),
                           [&target](const WiredLine& wired) { return wired.target == &target; });
  if (line == lines_.end()) line = lines_.insert(lines_.end(), WiredLine{&target, {}});
  line->sources.push_back(&source);
  sources_.push_back(&source);
  // By index: more lines may be wired after this one.
  const auto index = static_cast<std::size_t>(line - lines_.begin());
  source.SetListener([this, index](bool asserted) {
    if (!asserted) return;
    lines_[index].edge = true;
    interruptRaised_.store(true);
  });
  // A line that is up already when wired has an edge nobody heard.
  if (source.Asserted()) {
    line->edge = true;
    interruptRaised_.store(true);
  }
}

bool SimulationPump::AnySourceAsserted(const WiredLine& line) {
  std::lock_guard models(modelMutex_);
  return std::any_of(line.sources.begin(), line.sources.end(),
                     [](const sim::InterruptLine* source) { return source->Asserted(); });
}

void SimulationPump::ServiceInterrupts() {
  // What was raised so far is served right here; an edge that comes later,
  // during a handler, sets the hint again and gets a pass of its own.
  interruptRaised_.store(false);
  {
    std::lock_guard models(modelMutex_);
    servingThread_ = std::this_thread::get_id();
  }
  for (WiredLine& line : lines_) {
    // Pending again after a round: a new edge came while the handlers ran,
    // or the level line is still up.
    for (int round = 0; round < kMaxLevelRepeats; ++round) {
      BeginHandlerRound(line);
      if (!line.target->ServicePending()) break;
      if (AnySourceAsserted(line)) line.target->MarkPending();
    }
  }
  std::lock_guard models(modelMutex_);
  servingThread_ = std::thread::id{};
}

void SimulationPump::BeginHandlerRound(WiredLine& line) {
  std::lock_guard models(modelMutex_);
  handlerTimed_ = false;
  if (!line.edge) return;
  line.edge = false;
  line.target->MarkPending();
}

bool SimulationPump::EdgeUnservedLocked() const {
  return std::any_of(lines_.begin(), lines_.end(), [](const WiredLine& line) { return line.edge; });
}

// ---- passes -----------------------------------------------------------------

void SimulationPump::RunPass() {
  std::lock_guard pass(passMutex_);
  const Ticks now = clock_.Now();
  SimTime target = TicksToSimTime(now);
  SimTime sliceEnd = 0;
  {
    std::lock_guard models(modelMutex_);
    target = std::min(target, simulation_.Now() + kLongestCatchUpPerPass);
    sliceEnd = std::min(target, simulation_.Now() + kCatchUpSlice);
  }
  Ticks nextDue = devhost::kWaitForever;
  for (int step = 0;; ++step) {
    bool reached = false;
    bool sliceDone = false;
    {
      std::lock_guard models(modelMutex_);
      // An access may have stepped the models onto an edge since the last
      // round: its handlers run before the models move on.
      if (!EdgeUnservedLocked()) StepModelsLocked(sliceEnd);
      const SimTime after = simulation_.NextDeadline();
      // Only a model stuck at one instant leaves an event due at the
      // present; it gets the next tick rather than this pass for ever.
      const bool stuck = after <= simulation_.Now();
      reached = stuck || after > target;
      sliceDone = after > sliceEnd;
      if (reached) {
        // An event the pass left for later (it caught up its share) is
        // due at once: the next pass follows as soon as the clock allows.
        nextDue = stuck
                      ? now + 1
                      : (after == sim::kNever ? devhost::kWaitForever : SimTimeToTicksCeil(after));
      }
    }
    ServiceInterrupts();
    if (reached) break;
    if (sliceDone) {
      sliceEnd = std::min(target, sliceEnd + kCatchUpSlice);
      std::this_thread::yield();
    }
    if (step + 1 >= kMaxStepsPerPass) {
      nextDue = now;
      break;
    }
  }
  ArmAt(nextDue);
}

void SimulationPump::StepModelsLocked(SimTime limit) {
  AdvanceModelsLocked(std::min(simulation_.NextDeadline(), limit));
}

void SimulationPump::AdvanceModelsLocked(SimTime time) {
  simulation_.AdvanceTo(time);
  modelTime_.store(simulation_.Now(), std::memory_order_release);
}

Ticks SimulationPump::HardwareNow() const noexcept {
  return SimTimeToTicksFloor(modelTime_.load(std::memory_order_acquire));
}

void SimulationPump::ArmAt(Ticks due) {
  if (due == devhost::kWaitForever) return;
  std::lock_guard lock(timerMutex_);
  if (!running_) return;
  if (!armed_.empty() && armed_.begin()->first <= due) return;
  const devhost::TimerId id = clock_.StartTimer(due, 0, [this, due] { OnDeadlineTimer(due); });
  armed_.emplace(due, id);
}

void SimulationPump::OnDeadlineTimer(Ticks due) {
  {
    std::lock_guard lock(timerMutex_);
    armed_.erase(due);
    if (!running_) return;
  }
  RunPass();
}

void SimulationPump::Start() {
  {
    std::lock_guard lock(timerMutex_);
    if (running_) return;
    running_ = true;
    following_.store(true);
    followTimer_ = clock_.StartTimer(clock_.Now() + kFollowPeriod, kFollowPeriod, [this] {
      {
        std::lock_guard running(timerMutex_);
        if (!running_) return;
      }
      RunPass();
    });
  }
  Ticks nextDue;
  {
    std::lock_guard models(modelMutex_);
    nextDue = NextDueLocked();
  }
  ArmAt(clock_.Now());
  ArmAt(nextDue);
}

void SimulationPump::Stop() {
  std::vector<devhost::TimerId> timers;
  {
    std::lock_guard lock(timerMutex_);
    if (running_) timers.push_back(followTimer_);
    running_ = false;
    following_.store(false);
    for (const auto& [due, id] : armed_) timers.push_back(id);
    armed_.clear();
  }
  // Cancelling waits for a pass that is running; later ones see running_.
  for (const devhost::TimerId id : timers) clock_.CancelTimer(id);
  std::lock_guard pass(passMutex_);
  std::lock_guard models(modelMutex_);
  for (sim::InterruptLine* source : sources_) source->SetListener(nullptr);
  sources_.clear();
  lines_.clear();
}

// ---- stepping by hand ---------------------------------------------------------

SimTime SimulationPump::StepModels(SimTime limit) {
  std::lock_guard pass(passMutex_);
  std::lock_guard models(modelMutex_);
  StepModelsLocked(limit);
  return simulation_.Now();
}

void SimulationPump::ServiceRaisedInterrupts() {
  std::lock_guard pass(passMutex_);
  ServiceInterrupts();
}

}  // namespace vantor::host

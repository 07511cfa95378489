#include "platform/devhost/clock.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "platform/os/realtime_policy.h"

namespace vantor::devhost {

namespace {

std::int64_t SteadyNanoseconds() noexcept {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Thread that is inside a virtual clock's Advance, so that a callback may
// cancel timers without waiting for itself.
thread_local const void* steppingClock = nullptr;

}  // namespace

// ---- TimerTable -----------------------------------------------------------

TimerId TimerTable::Add(Ticks firstDue, Ticks period, TimerCallback callback) {
  const TimerId id = nextId_++;
  entries_.push_back({id, firstDue, std::max<Ticks>(period, 0),
                      std::make_shared<TimerCallback>(std::move(callback))});
  return id;
}

bool TimerTable::Remove(TimerId id) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [id](const Entry& entry) { return entry.id == id; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

std::optional<TimerTable::Entry> TimerTable::TakeDue(Ticks limit) {
  // Earliest due first; equal due times in the order the timers were made.
  auto earliest = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->due > limit) continue;
    if (earliest == entries_.end() || it->due < earliest->due ||
        (it->due == earliest->due && it->id < earliest->id)) {
      earliest = it;
    }
  }
  if (earliest == entries_.end()) return std::nullopt;
  Entry fired = *earliest;
  if (earliest->period > 0) {
    earliest->due += earliest->period;
  } else {
    entries_.erase(earliest);
  }
  return fired;
}

std::optional<Ticks> TimerTable::EarliestDue() const {
  if (entries_.empty()) return std::nullopt;
  return std::min_element(entries_.begin(), entries_.end(),
                          [](const Entry& a, const Entry& b) { return a.due < b.due; })
      ->due;
}

// ---- RealClock ------------------------------------------------------------

RealClock::RealClock() : originNanoseconds_(SteadyNanoseconds()) {
  std::promise<void> classSet;
  auto running = classSet.get_future();
  timerThread_ = std::thread([this, &classSet] {
    // The timers run the interrupt handlers of the hardware: this thread is
    // the machine's interrupt.
    os::ApplyRealTimeRole(os::RealTimeRole::kInterrupt);
    classSet.set_value();
    RunTimers();
  });
  pthread_setname_np(timerThread_.native_handle(), kTimerThreadName);
  // The clock is in place, at its level, once it is made.
  running.wait();
}

RealClock::~RealClock() {
  {
    std::lock_guard lock(timerMutex_);
    stopping_ = true;
  }
  timerCondition_.notify_all();
  timerThread_.join();
}

Ticks RealClock::Now() const noexcept { return (SteadyNanoseconds() - originNanoseconds_) / 100; }

void RealClock::Block(std::unique_lock<std::mutex>& lock, Ticks deadline) {
  if (deadline == kWaitForever) {
    waitCondition_.wait(lock);
    return;
  }
  const auto remaining = std::chrono::nanoseconds((deadline - Now()) * 100);
  waitCondition_.wait_for(lock, remaining);
}

TimerId RealClock::StartTimer(Ticks firstDue, Ticks period, TimerCallback callback) {
  TimerId id;
  {
    std::lock_guard lock(timerMutex_);
    id = timers_.Add(firstDue, period, std::move(callback));
  }
  timerCondition_.notify_all();
  return id;
}

void RealClock::CancelTimer(TimerId id) {
  std::unique_lock lock(timerMutex_);
  timers_.Remove(id);
  if (std::this_thread::get_id() == timerThread_.get_id()) return;
  timerCondition_.wait(lock, [&] { return runningTimer_ != id; });
}

void RealClock::RunTimers() {
  std::unique_lock lock(timerMutex_);
  while (!stopping_) {
    WaitForDueTimer(lock);
    const Ticks spellStart = Now();
    for (;;) {
      const Ticks now = Now();
      if (stopping_ || now - spellStart >= kLongestBusySpell) break;
      const auto due = timers_.TakeDue(now);
      if (!due) break;
      runningTimer_ = due->id;
      lock.unlock();
      (*due->callback)();
      lock.lock();
      runningTimer_ = 0;
      timerCondition_.notify_all();
    }
    const Ticks spellEnd = Now();
    RestUntil(lock, spellEnd + std::clamp(spellEnd - spellStart, kShortestRest, kLongestRest));
  }
}

void RealClock::RestUntil(std::unique_lock<std::mutex>& lock, Ticks until) {
  // A timer started meanwhile waits for the rest's end like any other.
  while (!stopping_) {
    const Ticks left = until - Now();
    if (left <= 0) return;
    timerCondition_.wait_for(lock, std::chrono::nanoseconds(left * 100));
  }
}

void RealClock::WaitForDueTimer(std::unique_lock<std::mutex>& lock) {
  while (!stopping_) {
    const auto next = timers_.EarliestDue();
    if (!next) {
      timerCondition_.wait(lock);
      continue;
    }
    const Ticks left = *next - Now();
    if (left <= 0) return;
    timerCondition_.wait_for(lock, std::chrono::nanoseconds(left * 100));
  }
}

// ---- VirtualClock ---------------------------------------------------------

Ticks VirtualClock::Now() const noexcept { return now_.load(std::memory_order_acquire); }

void VirtualClock::Block(std::unique_lock<std::mutex>& lock, Ticks) {
  // Only Advance or Update moves a virtual waiter on.
  waitCondition_.wait(lock);
}

TimerId VirtualClock::StartTimer(Ticks firstDue, Ticks period, TimerCallback callback) {
  std::lock_guard lock(timerMutex_);
  return timers_.Add(firstDue, period, std::move(callback));
}

void VirtualClock::CancelTimer(TimerId id) {
  {
    std::lock_guard lock(timerMutex_);
    timers_.Remove(id);
  }
  if (steppingClock == this) return;
  // Wait for a step that may be running the callback right now.
  std::lock_guard stepping(advanceMutex_);
}

void VirtualClock::Advance(Ticks duration) {
  std::lock_guard stepping(advanceMutex_);
  steppingClock = this;
  const Ticks target = Now() + std::max<Ticks>(duration, 0);
  for (;;) {
    std::optional<TimerTable::Entry> due;
    {
      std::lock_guard lock(timerMutex_);
      due = timers_.TakeDue(target);
    }
    if (!due) break;
    Update([&] { now_.store(std::max(due->due, Now()), std::memory_order_release); });
    (*due->callback)();
  }
  Update([&] { now_.store(target, std::memory_order_release); });
  steppingClock = nullptr;
}

}  // namespace vantor::devhost

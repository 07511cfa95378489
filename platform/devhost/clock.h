// The driver host's time: a performance counter at 10 MHz, timers, and
// waits with time-outs, all on one clock.
//
// The devhost program runs on the real monotonic clock. Unit tests use the
// virtual clock, which stands still until the test steps it: timers fire in
// due order on the stepping thread with the counter set to their due time,
// so a periodic tick lands on exactly the same counter values in every run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vantor::devhost {

// Counter ticks of 100 ns; the performance counter's frequency is fixed.
using Ticks = std::int64_t;
inline constexpr Ticks kPerformanceFrequency = 10'000'000;
inline constexpr Ticks kTicksPerMicrosecond = 10;
inline constexpr Ticks kTicksPerMillisecond = 10'000;
inline constexpr Ticks kWaitForever = std::numeric_limits<Ticks>::max();

constexpr Ticks MicrosecondsToTicks(std::int64_t microseconds) noexcept {
  return microseconds * kTicksPerMicrosecond;
}
constexpr Ticks MillisecondsToTicks(std::int64_t milliseconds) noexcept {
  return milliseconds * kTicksPerMillisecond;
}

using TimerId = std::uint64_t;
using TimerCallback = std::function<void()>;

class Clock {
 public:
  virtual ~Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  // The performance counter: ticks since the clock was made.
  virtual Ticks Now() const noexcept = 0;
  static constexpr Ticks Frequency() noexcept { return kPerformanceFrequency; }

  // Blocks until `ready()` holds or the counter reaches `deadline`; true when
  // ready. `ready` is evaluated under the clock's wait lock, so whoever makes
  // it true must do so inside `Update`.
  template <typename Ready>
  bool WaitUntil(Ticks deadline, Ready&& ready) {
    std::unique_lock lock(waitMutex_);
    while (!ready()) {
      if (Now() >= deadline) return false;
      Block(lock, deadline);
    }
    return true;
  }

  // Deadline `timeout` ticks from now, saturating at "forever".
  Ticks DeadlineAfter(Ticks timeout) const noexcept {
    const Ticks now = Now();
    if (timeout < 0) return now;
    if (timeout >= kWaitForever - now) return kWaitForever;
    return now + timeout;
  }

  // Changes state that waiters test, then wakes them.
  template <typename Change>
  void Update(Change&& change) {
    {
      std::lock_guard lock(waitMutex_);
      change();
    }
    waitCondition_.notify_all();
  }

  // Sleeps the calling thread for `duration` on this clock.
  void Delay(Ticks duration) {
    WaitUntil(DeadlineAfter(duration), [] { return false; });
  }

  // A timer first due at `firstDue`, then every `period` ticks (0: once).
  // Callbacks never overlap one another.
  virtual TimerId StartTimer(Ticks firstDue, Ticks period, TimerCallback callback) = 0;
  // Stops the timer; returns only once a running callback has returned
  // (unless called from that callback).
  virtual void CancelTimer(TimerId id) = 0;

 protected:
  Clock() = default;
  virtual void Block(std::unique_lock<std::mutex>& lock, Ticks deadline) = 0;
  void WakeWaiters() { waitCondition_.notify_all(); }

  std::mutex waitMutex_;
  std::condition_variable waitCondition_;
};

// Timers in due order, shared by both clocks.
class TimerTable {
 public:
  struct Entry {
    TimerId id;
    Ticks due;
    Ticks period;
    std::shared_ptr<TimerCallback> callback;
  };

  TimerId Add(Ticks firstDue, Ticks period, TimerCallback callback);
  bool Remove(TimerId id);
  // The earliest timer due at or before `limit`, advanced to its next due
  // time (or removed when it fires once).
  std::optional<Entry> TakeDue(Ticks limit);
  std::optional<Ticks> EarliestDue() const;

 private:
  std::vector<Entry> entries_;
  TimerId nextId_ = 1;
};

// Runs its timers on a thread of its own, which takes the interrupt's
// real-time role (platform/os/realtime_policy.h).
//
// A real-time thread that runs callbacks whenever they fall due can hold a
// processor for good: a simulated card raises its tick every 128 us, and on
// a virtual machine each wake of a thread costs about as much. So the timer
// thread works in spells and rests after each: a spell runs every callback
// due, for at most kLongestBusySpell; the rest that follows lasts as long
// as the spell, at least kShortestRest and at most kLongestRest. Timers that
// fall due during a rest run together in the next spell, in due order, each
// once per period. The thread thus takes at most half a processor while its
// callbacks are short, and wakes at most once per kShortestRest, however
// many timers are due. A single callback that runs long (a simulation
// catching up after the machine let it wait) is followed by kLongestRest
// only: a rest as long as the callback would leave the next callback more
// to catch up, and the clock would fall further behind each time.
class RealClock final : public Clock {
 public:
  // The timer thread's name, as the system shows it.
  static constexpr const char* kTimerThreadName = "devhost-clock";
  static constexpr Ticks kLongestBusySpell = MillisecondsToTicks(2);
  static constexpr Ticks kShortestRest = MicrosecondsToTicks(500);
  static constexpr Ticks kLongestRest = MillisecondsToTicks(5);

  RealClock();
  ~RealClock() override;

  Ticks Now() const noexcept override;
  TimerId StartTimer(Ticks firstDue, Ticks period, TimerCallback callback) override;
  void CancelTimer(TimerId id) override;

 protected:
  void Block(std::unique_lock<std::mutex>& lock, Ticks deadline) override;

 private:
  void RunTimers();
  // Timer lock held: blocks until `until`, or `stopping_`.
  void RestUntil(std::unique_lock<std::mutex>& lock, Ticks until);
  // Timer lock held: blocks until a timer is due, or `stopping_`.
  void WaitForDueTimer(std::unique_lock<std::mutex>& lock);

  std::int64_t originNanoseconds_;
  std::mutex timerMutex_;
  std::condition_variable timerCondition_;
  TimerTable timers_;
  TimerId runningTimer_ = 0;
  bool stopping_ = false;
  std::thread timerThread_;
};

class VirtualClock final : public Clock {
 public:
  VirtualClock() = default;

  Ticks Now() const noexcept override;
  TimerId StartTimer(Ticks firstDue, Ticks period, TimerCallback callback) override;
  void CancelTimer(TimerId id) override;

  // Moves time forward by `duration`, firing every timer that falls due on
  // the way, each with the counter standing at its due time.
  void Advance(Ticks duration);

 protected:
  void Block(std::unique_lock<std::mutex>& lock, Ticks deadline) override;

 private:
  std::atomic<Ticks> now_{0};
  std::mutex advanceMutex_;  // one stepper at a time, held while callbacks run
  std::mutex timerMutex_;
  TimerTable timers_;
};

}  // namespace vantor::devhost

// An event that driver code waits on with a time-out on the host's clock.
//
// Waits end either when the event is set or when the clock passes the
// deadline, so a driver's "wait at most five seconds" is real time in the
// devhost program and stepped time in unit tests.
#pragma once

#include "platform/devhost/clock.h"

namespace vantor::devhost {

enum class EventReset { kManual, kAutomatic };

class KernelEvent {
 public:
  KernelEvent(Clock& clock, EventReset reset, bool signalled = false)
      : clock_(clock), reset_(reset), signalled_(signalled) {}

  void Set() {
    clock_.Update([this] { signalled_ = true; });
  }
  void Reset() {
    clock_.Update([this] { signalled_ = false; });
  }

  // True when the event was (or became) set within `timeout` ticks; an
  // automatic event is consumed by the waiter that sees it.
  bool Wait(Ticks timeout = kWaitForever) { return WaitUntil(clock_.DeadlineAfter(timeout)); }

  // As Wait, with the time-out given as a counter value.
  bool WaitUntil(Ticks deadline) {
    return clock_.WaitUntil(deadline, [this] {
      if (!signalled_) return false;
      if (reset_ == EventReset::kAutomatic) signalled_ = false;
      return true;
    });
  }

 private:
  Clock& clock_;
  const EventReset reset_;
  bool signalled_;  // guarded by the clock's wait lock
};

}  // namespace vantor::devhost

// Threads with a priority and a waitable handle.
//
// The handle is signalled when the thread's function has returned, so it
// mixes with events and mutexes in one wait. Closing the handle does not
// stop the thread. Mutexes that the thread still owns when it ends are
// handed to their next waiter as abandoned.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/os/named_objects.h"

namespace vantor::os {

// The priority levels of the system's threads. Above normal asks for
// real-time scheduling where the process is permitted to have it and runs
// at normal priority otherwise, silently; the levels are those of the
// real-time policy (realtime_policy.h: above normal is the kernel cycle's).
// Below normal lowers the thread's nice value.
enum class ThreadPriority : std::int32_t {
  Idle = -15,
  Lowest = -2,
  BelowNormal = -1,
  Normal = 0,
  AboveNormal = 1,
  Highest = 2,
  TimeCritical = 15,
};

using ThreadFunction = std::function<std::uint32_t()>;

class Thread : public Waitable {
 public:
  Thread() = default;
  static OsResult<Thread> Start(ThreadFunction function,
                                ThreadPriority priority = ThreadPriority::Normal);
  OsResult<Thread> Duplicate() const;

  // Kernel thread id (gettid) of the thread; 0 for a closed handle.
  std::uint32_t id() const { return threadId_; }
  // The function's result once the thread has ended.
  std::optional<std::uint32_t> exitCode() const;
  // Best effort, like the start priority; false only for a closed handle or
  // a thread that has ended.
  bool SetPriority(ThreadPriority priority);

 private:
  using Waitable::Waitable;
  std::uint32_t threadId_ = 0;
};

// Applies a priority to the calling thread (best effort, as above).
void SetCurrentThreadPriority(ThreadPriority priority);
std::uint32_t CurrentThreadId();

}  // namespace vantor::os

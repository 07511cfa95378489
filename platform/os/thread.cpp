#include "platform/os/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/os/internal/object_access.h"
#include "platform/os/internal/table.h"
#include "platform/os/realtime_policy.h"

namespace vantor::os {

using internal::ObjectEntry;
using internal::TableLock;

namespace {

// The priorities above normal take the real-time roles of the one policy
// (realtime_policy.h); the kernel starts its cycle thread above normal.
std::optional<RealTimeRole> RealTimeRoleOf(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::AboveNormal: return RealTimeRole::kKernelCycle;
    case ThreadPriority::Highest: return RealTimeRole::kRequestTransport;
    case ThreadPriority::TimeCritical: return RealTimeRole::kInterrupt;
    default: return std::nullopt;
  }
}

int NiceValueOf(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::Idle: return 19;
    case ThreadPriority::Lowest: return 10;
    case ThreadPriority::BelowNormal: return 5;
    case ThreadPriority::AboveNormal: return -5;
    case ThreadPriority::Highest: return -10;
    case ThreadPriority::TimeCritical: return -15;
    default: return 0;
  }
}

// Best effort throughout: where a level is not permitted the thread keeps
// running at the level it has.
void ApplyPriority(std::uint32_t threadId, ThreadPriority priority) {
  const auto tid = static_cast<pid_t>(threadId);
  if (const auto role = RealTimeRoleOf(priority)) {
    if (ApplyRealTimeRoleTo(threadId, *role)) return;
  } else {
    sched_param parameters{};
    parameters.sched_priority = 0;
    ::sched_setscheduler(tid, SCHED_OTHER, &parameters);
  }
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValueOf(priority));
}

struct ThreadStart {
  ThreadFunction function;
  ThreadPriority priority;
  std::uint32_t slot;
  std::uint64_t serial;
  std::promise<std::uint32_t> threadId;
};

void RunThread(std::unique_ptr<ThreadStart> start) {
  const std::uint32_t threadId = internal::CachedThreadId();
  ApplyPriority(threadId, start->priority);
  start->threadId.set_value(threadId);
  const std::uint32_t exitCode = start->function();
  start->function = nullptr;
  TableLock lock;
  if (!lock.ok()) return;
  ObjectEntry* entry =
      internal::Resolve(lock.table(), start->slot, start->serial, ObjectKind::Thread);
  if (entry != nullptr) {
    entry->exitCode = exitCode;
    entry->exitKnown = 1;
    entry->signalled = 1;
    // The thread's own reference to its object, taken at start.
    internal::DropHandle(lock.table(), lock.processSlot(), start->slot);
  }
  internal::AbandonMutexesOf(lock, lock.processSlot(), threadId);
  lock.Changed(start->slot);
}

}  // namespace

OsResult<Thread> Thread::Start(ThreadFunction function, ThreadPriority priority) {
  if (!function) return OsError::InvalidArgument;
  auto ref = internal::CreateOrOpenObject(ObjectKind::Thread, {}, nullptr);
  if (!ref) return ref.error();
  Thread thread = internal::MakeHandle<Thread>(ObjectKind::Thread, *ref);
  {
    // A second handle for the thread itself, so that its object outlives
    // the caller's handle until the thread has marked its end.
    TableLock lock;
    if (!lock.ok()) return lock.error();
    internal::AddHandle(lock.table(), lock.processSlot(), ref->slot);
  }
  auto start = std::make_unique<ThreadStart>(
      ThreadStart{std::move(function), priority, ref->slot, ref->serial, {}});
  auto threadId = start->threadId.get_future();
  try {
    std::thread(RunThread, std::move(start)).detach();
  } catch (const std::system_error&) {
    TableLock lock;
    if (lock.ok()) internal::DropHandle(lock.table(), lock.processSlot(), ref->slot);
    return OsError::SystemError;
  }
  thread.threadId_ = threadId.get();
  return thread;
}

OsResult<Thread> Thread::Duplicate() const {
  Thread copy;
  if (const OsError error = DuplicateInto(copy); error != OsError::Ok) return error;
  copy.threadId_ = threadId_;
  return copy;
}

std::optional<std::uint32_t> Thread::exitCode() const {
  TableLock lock;
  if (!lock.ok()) return std::nullopt;
  const ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Thread);
  if (entry == nullptr || entry->exitKnown == 0) return std::nullopt;
  return entry->exitCode;
}

bool Thread::SetPriority(ThreadPriority priority) {
  {
    TableLock lock;
    if (!lock.ok()) return false;
    const ObjectEntry* entry =
        internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Thread);
    if (entry == nullptr || entry->signalled != 0) return false;
  }
  ApplyPriority(threadId_, priority);
  return true;
}

void SetCurrentThreadPriority(ThreadPriority priority) {
  ApplyPriority(internal::CachedThreadId(), priority);
}

std::uint32_t CurrentThreadId() { return internal::CachedThreadId(); }

}  // namespace vantor::os

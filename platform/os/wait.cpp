#include "platform/os/wait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <optional>

#include "platform/os/internal/process_end.h"
#include "platform/os/internal/table.h"
#include "platform/os/internal/wake_words.h"

namespace vantor::os {

using internal::ObjectEntry;
using internal::SharedTable;
using internal::TableLock;

namespace {

// Ends of other processes wake no futex: waits that depend on them look
// again after this long (a process end through its pidfd, a dead holder of
// a mutex or semaphore count through /proc).
constexpr std::uint64_t kProcessPollNs = 5'000'000;
constexpr std::uint64_t kDeadHolderPollNs = 20'000'000;
// A waiter queued behind others: the one first in line watches the owner;
// those behind only look out for a first one that died.
constexpr std::uint64_t kQueuedBehindPollNs = 1'000'000'000;

enum class WaitMode { Any, All };

bool IsSatisfied(const ObjectEntry& entry, std::uint32_t processSlot, std::uint32_t threadId) {
  switch (static_cast<ObjectKind>(entry.kind)) {
    case ObjectKind::Event:
    case ObjectKind::Thread:
    case ObjectKind::Process:
      return entry.signalled != 0;
    case ObjectKind::Mutex:
      return entry.count == 0 || (entry.ownerSlot == processSlot && entry.ownerTid == threadId);
    case ObjectKind::Semaphore:
      return entry.count > 0;
    default:
      return false;
  }
}

// Takes what the wait consumes; true when an abandoned mutex was acquired.
bool Consume(SharedTable& table, std::uint32_t slot, std::uint32_t processSlot,
             std::uint32_t threadId) {
  ObjectEntry& entry = table.objects[slot];
  switch (static_cast<ObjectKind>(entry.kind)) {
    case ObjectKind::Event:
      if ((entry.flags & internal::kFlagManualReset) == 0) entry.signalled = 0;
      return false;
    case ObjectKind::Mutex: {
      if (entry.count > 0) {
        ++entry.count;
        return false;
      }
      const bool abandoned = entry.abandoned != 0;
      entry.abandoned = 0;
      entry.ownerSlot = processSlot;
      entry.ownerPid = internal::CachedProcessId();
      entry.ownerTid = threadId;
      entry.count = 1;
      return abandoned;
    }
    case ObjectKind::Semaphore:
      --entry.count;
      --table.holders[processSlot][slot].semaphoreAdjustment;
      return false;
    default:
      return false;
  }
}

bool IsWaitableKind(ObjectKind kind) {
  return kind == ObjectKind::Event || kind == ObjectKind::Mutex ||
         kind == ObjectKind::Semaphore || kind == ObjectKind::Thread ||
         kind == ObjectKind::Process;
}

WaitResult Fail(OsError error) { return WaitResult{WaitKind::Failed, 0, error}; }

std::uint64_t NowNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Where a wait-any stands in the queues of its mutexes: one ticket for the
// whole wait, one queue entry per mutex (kNoSlot: not queued).
struct MutexPlaces {
  bool ticketDrawn = false;
  std::uint32_t ticket = 0;
  std::uint32_t entries[kMaxWaitObjects];

  MutexPlaces() { std::fill(std::begin(entries), std::end(entries), internal::kNoSlot); }

  bool AnyQueued(std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
      if (entries[i] != internal::kNoSlot) return true;
    }
    return false;
  }

  void LeaveAll(TableLock& lock, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      internal::LeaveMutexQueue(lock, entries[i]);
      entries[i] = internal::kNoSlot;
    }
  }
};

WaitResult Wait(std::span<const Waitable* const> objects, std::uint32_t timeoutMs,
                WaitMode mode) {
  if (objects.empty() || objects.size() > kMaxWaitObjects) return Fail(OsError::InvalidArgument);
  bool watchesProcesses = false;
  bool watchesHolders = false;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const Waitable* object = objects[i];
    if (object == nullptr || !object->valid()) return Fail(OsError::InvalidHandle);
    if (!IsWaitableKind(object->kind())) return Fail(OsError::InvalidArgument);
    watchesProcesses |= object->kind() == ObjectKind::Process;
    watchesHolders |= object->kind() == ObjectKind::Mutex ||
                      object->kind() == ObjectKind::Semaphore;
    if (mode == WaitMode::All) {
      for (std::size_t j = 0; j < i; ++j) {
        if (objects[j]->slot() == object->slot() && objects[j]->serial() == object->serial()) {
          return Fail(OsError::InvalidArgument);
        }
      }
    }
  }

  // Mutexes and semaphores whose dead owner or counter must not decide this
  // wait, also not one with time-out 0.
  std::uint32_t holderSlots[kMaxWaitObjects];
  std::size_t holderCount = 0;
  for (const Waitable* object : objects) {
    if (object->kind() == ObjectKind::Mutex || object->kind() == ObjectKind::Semaphore) {
      holderSlots[holderCount++] = object->slot();
    }
  }
  const std::span<const std::uint32_t> holders(holderSlots, holderCount);
  if (watchesHolders) internal::SweepHoldersOf(holders);
  const std::uint64_t start = NowNs();
  const std::uint64_t timeoutNs = static_cast<std::uint64_t>(timeoutMs) * 1'000'000u;
  const std::uint32_t threadId = internal::CachedThreadId();
  std::uint64_t lastSweep = start;
  MutexPlaces places;
  for (;;) {
    if (watchesProcesses) {
      for (const Waitable* object : objects) {
        if (object->kind() == ObjectKind::Process) internal::RefreshProcessEnd(*object);
      }
    }
    const bool expired = timeoutMs != kInfinite && NowNs() - start >= timeoutNs;
    std::uint64_t sliceNs = internal::kWaitForever;
    if (timeoutMs != kInfinite && !expired) sliceNs = timeoutNs - (NowNs() - start);
    SharedTable* table = nullptr;
    bool queued = false;
    bool behindOthers = false;
    std::optional<internal::TableWatch> watch;
    {
      TableLock lock;
      if (!lock.ok()) return Fail(lock.error());
      table = &lock.table();
      const std::uint32_t processSlot = lock.processSlot();
      std::size_t satisfied = 0;
      std::size_t firstSatisfied = objects.size();
      for (std::size_t i = 0; i < objects.size(); ++i) {
        const ObjectEntry* entry =
            internal::Resolve(*table, objects[i]->slot(), objects[i]->serial(), objects[i]->kind());
        if (entry == nullptr) {
          places.LeaveAll(lock, objects.size());
          return Fail(OsError::InvalidHandle);
        }
        bool ready = IsSatisfied(*entry, processSlot, threadId);
        // A free mutex goes to the first of its queue: a newcomer or a
        // later waiter queues behind, so no waiter starves. A wait-all
        // takes it when it can take its whole set, as before: holding a
        // turn while it waits for the rest could stall both sides.
        if (ready && mode == WaitMode::Any && entry->count == 0 &&
            objects[i]->kind() == ObjectKind::Mutex) {
          ready = internal::HasMutexTurn(*table, objects[i]->slot(), places.entries[i]);
        }
        if (ready) {
          ++satisfied;
          if (firstSatisfied == objects.size()) firstSatisfied = i;
          if (mode == WaitMode::Any) break;
        }
      }
      WaitResult result{WaitKind::Signalled, 0, OsError::Ok};
      bool done = false;
      if (mode == WaitMode::Any && firstSatisfied < objects.size()) {
        result.index = firstSatisfied;
        if (Consume(*table, objects[firstSatisfied]->slot(), processSlot, threadId)) {
          result.kind = WaitKind::Abandoned;
        }
        if (objects[firstSatisfied]->kind() == ObjectKind::Mutex) internal::NoteMutexOwner();
        done = true;
      } else if (mode == WaitMode::All && satisfied == objects.size()) {
        bool ownsMutex = false;
        for (std::size_t i = 0; i < objects.size(); ++i) {
          if (Consume(*table, objects[i]->slot(), processSlot, threadId) &&
              result.kind != WaitKind::Abandoned) {
            result.kind = WaitKind::Abandoned;
            result.index = i;
          }
          ownsMutex |= objects[i]->kind() == ObjectKind::Mutex;
        }
        if (ownsMutex) internal::NoteMutexOwner();
        done = true;
      }
      if (done) {
        // Consuming only takes: it satisfies no other waiter, so nobody is
        // woken; leaving a queue hands a free mutex's turn on.
        places.LeaveAll(lock, objects.size());
        std::atomic_thread_fence(std::memory_order_seq_cst);
        return result;
      }
      if (timeoutMs == 0 || expired) {
        places.LeaveAll(lock, objects.size());
        return WaitResult{WaitKind::Timeout, 0, OsError::Ok};
      }
      if (mode == WaitMode::Any) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
          if (objects[i]->kind() != ObjectKind::Mutex || places.entries[i] != internal::kNoSlot) {
            continue;
          }
          if (!places.ticketDrawn) {
            places.ticket = internal::DrawTicket(*table);
            places.ticketDrawn = true;
          }
          places.entries[i] = internal::QueueForMutex(lock, objects[i]->slot(), places.ticket);
        }
      }
      watch.emplace(*table);
      for (std::size_t i = 0; i < objects.size(); ++i) {
        if (places.entries[i] != internal::kNoSlot) {
          watch->WatchTurn(places.entries[i]);
        } else {
          watch->WatchObject(objects[i]->slot());
        }
      }
      queued = places.AnyQueued(objects.size());
      behindOthers = queued;
      for (std::size_t i = 0; i < objects.size(); ++i) {
        if (places.entries[i] != internal::kNoSlot &&
            internal::HasMutexTurn(*table, objects[i]->slot(), places.entries[i])) {
          behindOthers = false;
        }
      }
    }

    if (watchesProcesses && sliceNs > kProcessPollNs) sliceNs = kProcessPollNs;
    const std::uint64_t holderPollNs = behindOthers ? kQueuedBehindPollNs : kDeadHolderPollNs;
    if (watchesHolders && sliceNs > holderPollNs) sliceNs = holderPollNs;
    // A queued waiter waits for others' whole requests: looking for the
    // change first would only burn their CPU time.
    watch->Sleep(sliceNs, !queued);
    if (watchesHolders && NowNs() - lastSweep >= holderPollNs) {
      internal::SweepHoldersOf(holders);
      lastSweep = NowNs();
    }
  }
}

}  // namespace

WaitResult WaitForOne(const Waitable& object, std::uint32_t timeoutMs) {
  const Waitable* objects[] = {&object};
  return Wait(objects, timeoutMs, WaitMode::Any);
}

WaitResult WaitForAny(std::span<const Waitable* const> objects, std::uint32_t timeoutMs) {
  return Wait(objects, timeoutMs, WaitMode::Any);
}

WaitResult WaitForAll(std::span<const Waitable* const> objects, std::uint32_t timeoutMs) {
  return Wait(objects, timeoutMs, WaitMode::All);
}

}  // namespace vantor::os

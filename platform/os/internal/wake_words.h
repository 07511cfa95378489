// The futex words of the namespace's table: who a change wakes, mutex
// waiters served in turn, and sleeping until a watched word moves.
//
// Functions that take a `SharedTable&` or a `TableLock&` expect the caller
// to hold the table lock, except `TableWatch::Sleep`.
#pragma once

#include <cstdint>
#include <span>

#include "platform/os/internal/shared_table.h"
#include "platform/os/internal/table.h"

namespace vantor::os::internal {

// ---- Wake-ups ---------------------------------------------------------------

// Wake-ups found under the lock and made after it is let go.
struct PendingWakes {
  static constexpr std::uint32_t kCapacity = 16;
  std::uint32_t* all[kCapacity] = {};  // wake every sleeper
  std::uint32_t* one[kCapacity] = {};  // wake one queued waiter
  std::uint32_t allCount = 0;
  std::uint32_t oneCount = 0;
  bool broadcast = false;
  std::uint32_t* broadcastWord = nullptr;
  std::uint32_t waiterCpu = 0;  // of a changed object's last waiter, + 1

  // Wakes, and remembers for the calling thread where the waiter it woke
  // runs.
  void Issue() const;
};

// Moves the words of the objects at `slots` (or, with `all`, the broadcast
// word) and notes whom to wake: the sleepers of each object, and for a free
// mutex its first queued waiter.
void CollectWakes(SharedTable& table, std::span<const std::uint32_t> slots, bool all,
                  PendingWakes& wakes);
// Every waiter looks again: after clean-ups that touch many objects.
void BroadcastUnderLock(SharedTable& table, PendingWakes& wakes);

// The earliest queued waiter of a mutex, or kNoSlot.
std::uint32_t FirstWaiterOf(const SharedTable& table, std::uint32_t objectSlot);

// ---- Mutex queues ---------------------------------------------------------

// A fresh ticket: waiters that queue with it come after every waiter queued
// before.
std::uint32_t DrawTicket(SharedTable& table);
// Queues the calling thread for the mutex at `objectSlot`; returns the
// waiter's index, or kNoSlot when every waiter entry is taken (the thread
// then waits unqueued, like a newcomer).
std::uint32_t QueueForMutex(TableLock& lock, std::uint32_t objectSlot, std::uint32_t ticket);
// Leaves the queue; when the mutex is free, the next waiter gets its turn.
void LeaveMutexQueue(TableLock& lock, std::uint32_t waiter);
// True when a free mutex may go to a thread with this queue entry (kNoSlot:
// not queued): nobody queued before it.
bool HasMutexTurn(const SharedTable& table, std::uint32_t objectSlot, std::uint32_t waiter);
// Queued waiters of a mutex.
std::uint32_t QueuedWaitersOf(const SharedTable& table, std::uint32_t objectSlot);

// ---- Sleeping until a change ----------------------------------------------

inline constexpr std::uint32_t kMaxWatchedWords = 65;

// The futex words one waiter watches. Filled under the lock (which fixes
// the values the words must move away from); `Sleep` then runs without it.
class TableWatch {
 public:
  explicit TableWatch(SharedTable& table);
  // The object's word: any change of the object.
  void WatchObject(std::uint32_t slot);
  // A queued mutex waiter's own word: its turn.
  void WatchTurn(std::uint32_t waiter);
  // Returns when a watched word moved, a wake-up came, or `timeoutNs`
  // passed (then false). Returns at once when a word already moved. With
  // `maySpin`, it looks for the change a short while first, but only
  // where that can pay (see table.cpp).
  bool Sleep(std::uint64_t timeoutNs, bool maySpin);

 private:
  SharedTable* table_;
  std::uint32_t count_ = 0;
  std::uint32_t* words_[kMaxWatchedWords] = {};
  std::uint32_t seen_[kMaxWatchedWords] = {};
  ObjectWaitWord* objectWords_[kMaxWatchedWords] = {};  // null for other words
};

// Counts of this process's waits, for tests that check who is woken.
struct WaitCounters {
  std::uint64_t sleeps = 0;     // futex waits entered
  std::uint64_t spins = 0;      // waits that looked for the change first
  std::uint64_t wakeCalls = 0;  // futex wake calls made
};
WaitCounters ReadWaitCounters();
// CPUs this thread may run on.
std::uint32_t UsableCpuCount();

}  // namespace vantor::os::internal

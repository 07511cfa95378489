#include "platform/os/internal/wake_words.h"

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>

namespace vantor::os::internal {
namespace {

constexpr std::chrono::nanoseconds kSpinBeforeSleep{20'000};
// After a look that found nothing, the next 2^n - 1 waits of the thread
// sleep at once (n grows with every fruitless look, up to this cap).
constexpr std::uint32_t kMaxSpinBackOff = 6;

std::atomic<std::uint64_t> gSleeps{0};
std::atomic<std::uint64_t> gSpins{0};
std::atomic<std::uint64_t> gWakeCalls{0};

// Where the waiter that this thread last woke runs (CPU number + 1).
thread_local std::uint32_t tPeerCpu = 0;

std::uint32_t CurrentCpuPlusOne() {
  const int cpu = ::sched_getcpu();
  return cpu >= 0 ? static_cast<std::uint32_t>(cpu) + 1 : 0;
}

void FutexWake(std::uint32_t* word, int count) {
  gWakeCalls.fetch_add(1, std::memory_order_relaxed);
  ::syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0);
}

std::atomic_ref<std::uint32_t> Word(std::uint32_t& word) {
  return std::atomic_ref<std::uint32_t>(word);
}

bool TicketBefore(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}

// Tells the processor that this is a spin, to spare the sibling thread.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

void PendingWakes::Issue() const {
  if (waiterCpu != 0) tPeerCpu = waiterCpu;
  if (broadcast) FutexWake(broadcastWord, INT_MAX);
  for (std::uint32_t i = 0; i < allCount; ++i) FutexWake(all[i], INT_MAX);
  for (std::uint32_t i = 0; i < oneCount; ++i) FutexWake(one[i], 1);
}

std::uint32_t FirstWaiterOf(const SharedTable& table, std::uint32_t objectSlot) {
  std::uint32_t first = kNoSlot;
  if (objectSlot >= kMaxObjects || table.objects[objectSlot].queueCount == 0) return first;
  for (std::uint32_t w = 0; w < kMaxMutexWaiters; ++w) {
    const MutexWaiter& waiter = table.mutexWaiters[w];
    if (waiter.used != 0 && waiter.objectSlot == objectSlot &&
        (first == kNoSlot || TicketBefore(waiter.ticket, table.mutexWaiters[first].ticket))) {
      first = w;
    }
  }
  return first;
}

void CollectWakes(SharedTable& table, std::span<const std::uint32_t> slots, bool all,
                  PendingWakes& wakes) {
  if (all || slots.size() > PendingWakes::kCapacity) {
    Word(table.header.broadcast).fetch_add(1);
    wakes.broadcast = true;
    wakes.broadcastWord = &table.header.broadcast;
    return;
  }
  for (const std::uint32_t slot : slots) {
    ObjectWaitWord& word = table.waitWords[slot];
    Word(word.sequence).fetch_add(1);
    if (Word(word.sleepers).load() > 0) wakes.all[wakes.allCount++] = &word.sequence;
    if (const std::uint32_t cpu = Word(word.waiterCpu).load(); cpu != 0) wakes.waiterCpu = cpu;
    const ObjectEntry& entry = table.objects[slot];
    if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mutex) && entry.count == 0) {
      const std::uint32_t first = FirstWaiterOf(table, slot);
      if (first != kNoSlot) {
        Word(table.mutexWaiters[first].turn).fetch_add(1);
        wakes.one[wakes.oneCount++] = &table.mutexWaiters[first].turn;
      }
    }
  }
}

void BroadcastUnderLock(SharedTable& table, PendingWakes& wakes) {
  CollectWakes(table, {}, true, wakes);
}

std::uint32_t DrawTicket(SharedTable& table) { return table.header.nextTicket++; }

std::uint32_t QueueForMutex(TableLock& lock, std::uint32_t objectSlot, std::uint32_t ticket) {
  SharedTable& table = lock.table();
  if (objectSlot >= kMaxObjects) return kNoSlot;
  for (std::uint32_t w = 0; w < kMaxMutexWaiters; ++w) {
    MutexWaiter& waiter = table.mutexWaiters[w];
    if (waiter.used != 0) continue;
    // The turn word keeps counting: a late wake-up meant for the entry's
    // previous user finds it moved and is only a spurious one.
    waiter.used = 1;
    ++table.objects[objectSlot].queueCount;
    waiter.objectSlot = objectSlot;
    waiter.processSlot = lock.processSlot();
    waiter.threadId = CachedThreadId();
    waiter.ticket = ticket;
    return w;
  }
  return kNoSlot;
}

void LeaveMutexQueue(TableLock& lock, std::uint32_t waiter) {
  if (waiter >= kMaxMutexWaiters) return;
  MutexWaiter& entry = lock.table().mutexWaiters[waiter];
  if (entry.used == 0) return;
  const std::uint32_t objectSlot = entry.objectSlot;
  entry.used = 0;
  if (objectSlot < kMaxObjects && lock.table().objects[objectSlot].queueCount > 0) {
    --lock.table().objects[objectSlot].queueCount;
  }
  // It may have been woken for its turn and not taken it.
  if (objectSlot < kMaxObjects && lock.table().objects[objectSlot].count == 0) {
    lock.Changed(objectSlot);
  }
}

bool HasMutexTurn(const SharedTable& table, std::uint32_t objectSlot, std::uint32_t waiter) {
  const std::uint32_t first = FirstWaiterOf(table, objectSlot);
  return first == kNoSlot || first == waiter;
}

std::uint32_t QueuedWaitersOf(const SharedTable& table, std::uint32_t objectSlot) {
  return objectSlot < kMaxObjects ? table.objects[objectSlot].queueCount : 0;
}

std::uint32_t UsableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<std::uint32_t>(CPU_COUNT(&set));
}

WaitCounters ReadWaitCounters() {
  return WaitCounters{gSleeps.load(), gSpins.load(), gWakeCalls.load()};
}

TableWatch::TableWatch(SharedTable& table) : table_(&table) {
  words_[0] = &table.header.broadcast;
  seen_[0] = Word(table.header.broadcast).load();
  count_ = 1;
}

void TableWatch::WatchObject(std::uint32_t slot) {
  if (slot >= kMaxObjects || count_ == kMaxWatchedWords) return;
  ObjectWaitWord& word = table_->waitWords[slot];
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (words_[i] == &word.sequence) return;
  }
  words_[count_] = &word.sequence;
  seen_[count_] = Word(word.sequence).load();
  objectWords_[count_] = &word;
  ++count_;
}

void TableWatch::WatchTurn(std::uint32_t waiter) {
  if (waiter >= kMaxMutexWaiters || count_ == kMaxWatchedWords) return;
  std::uint32_t& turn = table_->mutexWaiters[waiter].turn;
  words_[count_] = &turn;
  seen_[count_] = Word(turn).load();
  ++count_;
}

namespace {

// Per thread: how many coming waits sleep without looking first, and how
// far the last fruitless looks pushed that back.
thread_local std::uint32_t tSpinSkips = 0;
thread_local std::uint32_t tSpinBackOff = 0;

// A look before sleeping pays only when the other side runs at the same
// time on another CPU; on this thread's CPU it would only keep the other
// side from running, a whole time slice long. With one CPU for this thread
// it looks only when the waiter it last woke (the usual answerer of a
// request) ran on another CPU.
bool ShouldSpin(std::uint32_t ownCpu) {
  if (tSpinSkips > 0) {
    --tSpinSkips;
    return false;
  }
  if (UsableCpuCount() > 1) return true;
  return tPeerCpu != 0 && ownCpu != 0 && tPeerCpu != ownCpu;
}

void NoteSpin(bool found) {
  if (found) {
    tSpinBackOff = 0;
    return;
  }
  if (tSpinBackOff < kMaxSpinBackOff) ++tSpinBackOff;
  tSpinSkips = (1u << tSpinBackOff) - 1;
}

#ifndef FUTEX2_SIZE_U32
constexpr unsigned kFutex2SizeU32 = 0x02;
#else
constexpr unsigned kFutex2SizeU32 = FUTEX2_SIZE_U32;
#endif
#ifndef SYS_futex_waitv
constexpr long kSysFutexWaitv = 449;
#else
constexpr long kSysFutexWaitv = SYS_futex_waitv;
#endif

// Without the vectored wait (an old kernel) a waiter sleeps on the
// broadcast word in short slices and looks again after each.
constexpr std::uint64_t kFallbackSliceNs = 1'000'000;

}  // namespace

bool TableWatch::Sleep(std::uint64_t timeoutNs, bool maySpin) {
  auto moved = [this] {
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (Word(*words_[i]).load() != seen_[i]) return true;
    }
    return false;
  };
  if (moved()) return true;
  const std::uint32_t ownCpu = CurrentCpuPlusOne();
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (objectWords_[i] != nullptr) Word(objectWords_[i]->waiterCpu).store(ownCpu);
  }
  // A request handshake is usually answered within microseconds: looking
  // for the change a little while saves two sleeps and wake-ups per round
  // trip, and the futex below still catches every change after the look.
  const std::uint64_t spinNs = static_cast<std::uint64_t>(kSpinBeforeSleep.count());
  if (maySpin && timeoutNs > spinNs && ShouldSpin(ownCpu)) {
    gSpins.fetch_add(1, std::memory_order_relaxed);
    const auto spinEnd = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < spinEnd) {
      found = moved();
      if (!found) CpuRelax();
    }
    NoteSpin(found);
    if (found) return true;
    if (timeoutNs != kWaitForever) timeoutNs -= spinNs;
  }
  // Counted before the futex compares the word: a change made after the
  // count is seen either by the futex (word moved) or by the changer
  // (sleepers above zero, so it wakes us).
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (objectWords_[i] != nullptr) Word(objectWords_[i]->sleepers).fetch_add(1);
  }
  gSleeps.fetch_add(1, std::memory_order_relaxed);
  futex_waitv waiters[kMaxWatchedWords] = {};
  for (std::uint32_t i = 0; i < count_; ++i) {
    waiters[i].val = seen_[i];
    waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(words_[i]);
    waiters[i].flags = kFutex2SizeU32;
  }
  timespec deadline{};
  bool timedOut = false;
  if (timeoutNs != kWaitForever) {
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const std::uint64_t end = static_cast<std::uint64_t>(deadline.tv_sec) * 1'000'000'000u +
                              static_cast<std::uint64_t>(deadline.tv_nsec) + timeoutNs;
    deadline.tv_sec = static_cast<time_t>(end / 1'000'000'000u);
    deadline.tv_nsec = static_cast<long>(end % 1'000'000'000u);
  }
  const long result =
      ::syscall(kSysFutexWaitv, waiters, count_, 0u,
                timeoutNs == kWaitForever ? nullptr : &deadline, CLOCK_MONOTONIC);
  if (result < 0 && errno == ENOSYS) {
    const std::uint64_t sliceNs = std::min(timeoutNs, kFallbackSliceNs);
    timespec slice{static_cast<time_t>(sliceNs / 1'000'000'000u),
                   static_cast<long>(sliceNs % 1'000'000'000u)};
    ::syscall(SYS_futex, words_[0], FUTEX_WAIT, seen_[0], &slice, nullptr, 0);
    timedOut = !moved() && sliceNs == timeoutNs;
  } else {
    timedOut = result < 0 && errno == ETIMEDOUT;
  }
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (objectWords_[i] != nullptr) Word(objectWords_[i]->sleepers).fetch_sub(1);
  }
  return !timedOut;
}

}  // namespace vantor::os::internal

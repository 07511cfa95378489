// Who a change wakes: only the waiters of the changed object, mutex waiters
// one at a time in the order they came, and no look before sleeping where
// the thread has one CPU.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/internal/table.h"
#include "platform/os/internal/wake_words.h"
#include "platform/os/tests/os_test_support.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

using testing::kDeadlineMs;
using testing::OsTest;

// Polls a table condition until it holds or the deadline passes.
bool Eventually(const std::function<bool(internal::SharedTable&)>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      internal::TableLock lock;
      if (lock.ok() && condition(lock.table())) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool AsleepOn(const Waitable& object) {
  return Eventually([&](internal::SharedTable& table) {
    return std::atomic_ref<std::uint32_t>(table.waitWords[object.slot()].sleepers).load() > 0;
  });
}

bool Queued(const Mutex& mutex, std::uint32_t count) {
  return Eventually([&](internal::SharedTable& table) {
    return internal::QueuedWaitersOf(table, mutex.slot()) == count;
  });
}

class WakeOrderTest : public OsTest {};

TEST_F(WakeOrderTest, AChangeWakesOnlyTheWaitersOfTheChangedObject) {
  auto watched = Event::CreateUnnamed(EventReset::Auto, false);
  auto other = Event::CreateUnnamed(EventReset::Auto, false);
  ASSERT_TRUE(watched);
  ASSERT_TRUE(other);
  std::thread waiter([&] { EXPECT_TRUE(WaitForOne(*watched, kDeadlineMs).acquired()); });
  ASSERT_TRUE(AsleepOn(*watched));

  const internal::WaitCounters before = internal::ReadWaitCounters();
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(other->Set());
  const internal::WaitCounters afterOthers = internal::ReadWaitCounters();
  EXPECT_EQ(afterOthers.wakeCalls, before.wakeCalls) << "a set of another event woke someone";
  EXPECT_EQ(afterOthers.sleeps, before.sleeps) << "the waiter woke and slept again";

  ASSERT_TRUE(watched->Set());
  waiter.join();
  EXPECT_EQ(internal::ReadWaitCounters().wakeCalls, afterOthers.wakeCalls + 1);
}

TEST_F(WakeOrderTest, MutexWaitersAreServedInTheOrderTheyCame) {
  auto mutex = Mutex::CreateUnnamed(true);
  ASSERT_TRUE(mutex);
  constexpr int kWaiters = 5;
  std::mutex orderLock;
  std::vector<int> order;
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      ASSERT_TRUE(WaitForOne(*mutex, kDeadlineMs).acquired());
      {
        std::lock_guard<std::mutex> guard(orderLock);
        order.push_back(i);
      }
      EXPECT_EQ(mutex->Release(), OsError::Ok);
    });
    ASSERT_TRUE(Queued(*mutex, static_cast<std::uint32_t>(i + 1)));
  }
  ASSERT_EQ(mutex->Release(), OsError::Ok);
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(internal::QueuedWaitersOf(internal::TableLock().table(), mutex->slot()), 0u);
}

// The first in line is stopped, so the released mutex stays free until it
// runs again: a newcomer must not take it meanwhile.
TEST_F(WakeOrderTest, ANewcomerDoesNotOvertakeTheFirstInLine) {
  const std::string name = Name("mutex");
  auto mutex = Mutex::CreateOrOpen(name, true);
  ASSERT_TRUE(mutex);
  testing::ReadySignal ready(Name("ready"));
  auto first = testing::StartHelper({"hold-mutex", name, ready.name()});
  ASSERT_TRUE(first);
  ASSERT_TRUE(Queued(*mutex, 1));
  ASSERT_EQ(::kill(static_cast<pid_t>(first->id()), SIGSTOP), 0);
  ASSERT_EQ(mutex->Release(), OsError::Ok);
  std::thread([&] { EXPECT_EQ(WaitForOne(*mutex, 0).kind, WaitKind::Timeout); }).join();
  ASSERT_EQ(::kill(static_cast<pid_t>(first->id()), SIGCONT), 0);
  EXPECT_TRUE(ready.Wait());
  testing::KillAndReap(*first);
}

// The first in line gives up its place without taking the mutex; the one
// behind it must get the mutex, not wait for a turn that never comes.
TEST_F(WakeOrderTest, AWaiterThatLeavesTheQueueHandsItsTurnOn) {
  // Long enough for the second waiter to queue behind the first.
  constexpr std::uint32_t kQueuedLongEnoughMs = 1'000;
  struct Case {
    const char* what;
    bool byEvent;  // else by its time-out
  };
  for (const Case& c : {Case{"left for an event", true}, Case{"timed out", false}}) {
    SCOPED_TRACE(c.what);
    auto mutex = Mutex::CreateUnnamed(true);
    auto leave = Event::CreateUnnamed(EventReset::Manual, false);
    ASSERT_TRUE(mutex);
    ASSERT_TRUE(leave);
    std::thread first([&] {
      const Waitable* set[] = {&*leave, &*mutex};
      const WaitResult result = WaitForAny(set, c.byEvent ? kDeadlineMs : kQueuedLongEnoughMs);
      EXPECT_EQ(result.kind, c.byEvent ? WaitKind::Signalled : WaitKind::Timeout);
      EXPECT_EQ(result.index, 0u);
    });
    ASSERT_TRUE(Queued(*mutex, 1));
    std::thread second([&] {
      EXPECT_TRUE(WaitForOne(*mutex, kDeadlineMs).acquired());
      EXPECT_EQ(mutex->Release(), OsError::Ok);
    });
    ASSERT_TRUE(Queued(*mutex, 2));
    if (c.byEvent) {
      ASSERT_TRUE(leave->Set());
    }
    first.join();
    ASSERT_EQ(mutex->Release(), OsError::Ok);
    second.join();
  }
}

TEST_F(WakeOrderTest, AQueuedWaiterThatDiesGivesUpItsTurn) {
  const std::string name = Name("mutex");
  auto mutex = Mutex::CreateOrOpen(name, true);
  ASSERT_TRUE(mutex);
  testing::ReadySignal ready(Name("ready"));
  auto helper = testing::StartHelper({"hold-mutex", name, ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(Queued(*mutex, 1));
  std::thread behind([&] {
    EXPECT_TRUE(WaitForOne(*mutex, kDeadlineMs).acquired());
    EXPECT_EQ(mutex->Release(), OsError::Ok);
  });
  ASSERT_TRUE(Queued(*mutex, 2));
  testing::KillAndReap(*helper);
  ASSERT_EQ(mutex->Release(), OsError::Ok);
  behind.join();
  EXPECT_FALSE(ready.IsSet());
}

// A thread with one CPU looks before sleeping only when the waiter it last
// woke (the one likely to answer) runs on another CPU.
TEST_F(WakeOrderTest, TheLookBeforeSleepingNeedsTheOtherSideOnAnotherCpu) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
  }
  auto pin = [&](int count, int first) {
    cpu_set_t only;
    CPU_ZERO(&only);
    for (int i = 0; i < count; ++i) CPU_SET(cpus[static_cast<std::size_t>(first + i)], &only);
    return ::sched_setaffinity(0, sizeof only, &only) == 0;
  };
  auto event = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(event);
  struct Case {
    const char* what;
    int ownCpus;
    int peerCpu;  // index of the woken waiter's CPU; -1: none woken
    bool spins;
  };
  const Case cases[] = {
      {"one CPU, nobody woken", 1, -1, false},
      {"one CPU, woke a waiter on the same CPU", 1, 0, false},
      {"one CPU, woke a waiter on another CPU", 1, 1, true},
      {"two CPUs", 2, -1, true},
  };
  for (const Case& c : cases) {
    if (static_cast<int>(cpus.size()) < std::max(c.ownCpus, c.peerCpu + 1)) continue;
    SCOPED_TRACE(c.what);
    auto answer = Event::CreateUnnamed(EventReset::Auto, false);
    ASSERT_TRUE(answer);
    std::thread peer;
    if (c.peerCpu >= 0) {
      peer = std::thread([&] {
        ASSERT_TRUE(pin(1, c.peerCpu));
        EXPECT_TRUE(WaitForOne(*answer, kDeadlineMs).acquired());
      });
      ASSERT_TRUE(AsleepOn(*answer));
    }
    // A thread of its own starts with no history of fruitless looks.
    std::thread([&] {
      ASSERT_TRUE(pin(c.ownCpus, 0));
      if (c.peerCpu >= 0) {
        ASSERT_TRUE(answer->Set());
      }
      const std::uint64_t spinsBefore = internal::ReadWaitCounters().spins;
      EXPECT_EQ(WaitForOne(*event, 30).kind, WaitKind::Timeout);
      EXPECT_EQ(internal::ReadWaitCounters().spins > spinsBefore, c.spins);
    }).join();
    if (peer.joinable()) peer.join();
  }
}

}  // namespace
}  // namespace vantor::os

// Interrupt lines, deferred calls and the clocks.
#include <gtest/gtest.h>

#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/devhost/clock.h"
#include "platform/devhost/deferred_call.h"
#include "platform/devhost/interrupt_line.h"
#include "platform/devhost/kernel_event.h"
#include "platform/devhost/tests/host_fixture.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/wait.h"

namespace vantor::devhost::testing {
namespace {

constexpr Ticks kTickPeriod = MicrosecondsToTicks(512);

// Settings for a handler on `vector`, sharing the line unless told otherwise.
InterruptSettings SettingsFor(std::uint32_t vector, bool shared = true) {
  InterruptSettings settings;
  settings.vector = vector;
  settings.shared = shared;
  return settings;
}

TEST(InterruptLineTest, EveryHandlerRunsOnEveryRaiseInConnectionOrder) {
  InterruptLine line(7);
  std::vector<int> calls;
  std::shared_ptr<InterruptObject> first;
  std::shared_ptr<InterruptObject> second;
  const InterruptSettings settings = SettingsFor(line.Vector());
  // The first handler claims the interrupt; the second still runs.
  ASSERT_EQ(line.Connect(
                settings,
                [&] {
                  calls.push_back(1);
                  return true;
                },
                first),
            os::kStatusSuccess);
  ASSERT_EQ(line.Connect(
                settings,
                [&] {
                  calls.push_back(2);
                  return false;
                },
                second),
            os::kStatusSuccess);
  EXPECT_EQ(line.Raise(), 2u);
  EXPECT_EQ(line.Raise(), 2u);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 1, 2}));

  // An edge noted from inside a model's update runs the handlers later, once.
  line.MarkPending();
  line.MarkPending();
  EXPECT_EQ(calls.size(), 4u);
  EXPECT_TRUE(line.ServicePending());
  EXPECT_FALSE(line.ServicePending());
  EXPECT_EQ(calls.size(), 6u);

  first->Disconnect();
  EXPECT_EQ(line.Raise(), 1u);
  EXPECT_EQ(calls.back(), 2);
  first->Disconnect();  // twice is harmless
  EXPECT_EQ(line.HandlerCount(), 1u);
}

TEST(InterruptLineTest, ConnectRefusesWrongVectorUnsharedLineAndFullLine) {
  InterruptLine line(9);
  std::shared_ptr<InterruptObject> connection;
  EXPECT_EQ(line.Connect(
                SettingsFor(8), [] { return true; }, connection),
            os::kStatusInvalidParameter);

  ASSERT_EQ(line.Connect(
                SettingsFor(9, false), [] { return true; }, connection),
            os::kStatusSuccess);
  std::shared_ptr<InterruptObject> another;
  const InterruptSettings shared = SettingsFor(9);
  EXPECT_EQ(line.Connect(
                shared, [] { return true; }, another),
            os::kStatusInvalidParameter);
  connection->Disconnect();

  std::vector<std::shared_ptr<InterruptObject>> all(InterruptLine::kMaxHandlers);
  for (auto& handler : all)
    ASSERT_EQ(line.Connect(
                  shared, [] { return true; }, handler),
              os::kStatusSuccess);
  EXPECT_EQ(line.Connect(
                shared, [] { return true; }, another),
            os::kStatusInsufficientResources);
}

TEST(InterruptLineTest, DisconnectWaitsForTheRunningHandler) {
  InterruptLine line(3);
  std::promise<void> entered;
  std::promise<void> mayLeave;
  auto leave = mayLeave.get_future().share();
  std::atomic<int> runs{0};
  std::shared_ptr<InterruptObject> connection;
  const InterruptSettings settings = SettingsFor(line.Vector());
  ASSERT_EQ(line.Connect(
                settings,
                [&] {
                  if (runs.fetch_add(1) == 0) {
                    entered.set_value();
                    leave.wait();
                  }
                  return true;
                },
                connection),
            os::kStatusSuccess);
  std::thread raiser([&] { line.Raise(); });
  entered.get_future().wait();

  auto disconnected = std::async(std::launch::async, [&] { connection->Disconnect(); });
  EXPECT_EQ(disconnected.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  mayLeave.set_value();
  EXPECT_EQ(disconnected.wait_for(kTestDeadline), std::future_status::ready);
  raiser.join();
  line.Raise();
  EXPECT_EQ(runs.load(), 1);
}

TEST(InterruptLineTest, SynchronizeNeverOverlapsTheHandler) {
  InterruptLine line(5);
  int shared = 0;
  std::shared_ptr<InterruptObject> connection;
  const InterruptSettings settings = SettingsFor(line.Vector());
  ASSERT_EQ(line.Connect(
                settings,
                [&] {
                  ++shared;
                  return true;
                },
                connection),
            os::kStatusSuccess);
  constexpr int kRounds = 2000;
  std::thread raiser([&] {
    for (int i = 0; i < kRounds; ++i) line.Raise();
  });
  for (int i = 0; i < kRounds; ++i) connection->Synchronize([&] { ++shared; });
  raiser.join();
  EXPECT_EQ(shared, 2 * kRounds);
}

// Runs `body` on a thread of its own; false when it has not returned by the
// test's deadline, so that a deadlock fails the test instead of hanging it
// (the stuck thread is left behind, holding only what `body` shares).
template <typename Body>
bool ReturnsInTime(Body body) {
  auto finished = std::make_shared<std::promise<void>>();
  auto returned = finished->get_future();
  std::thread([finished, body = std::move(body)] {
    body();
    finished->set_value();
  }).detach();
  return returned.wait_for(kTestDeadline) == std::future_status::ready;
}

TEST(CardLockTest, TheHolderMayRaiseAgain) {
  auto card = std::make_shared<CardLock>();
  EXPECT_TRUE(ReturnsInTime([card] {
    auto outer = card->Raise();
    auto inner = card->Raise();
  })) << "the holder's second raise never returned";
  EXPECT_TRUE(ReturnsInTime([card] { auto again = card->Raise(); }))
      << "the card stayed raised after both raises ended";
}

TEST(DeferredCallTest, QueueingAQueuedCallIsANoOpAndUrgentCallsGoFirst) {
  DeferredCallWorker worker("test.dpc");
  std::promise<void> blockerEntered;
  std::promise<void> releaseBlocker;
  auto release = releaseBlocker.get_future().share();
  std::vector<std::uintptr_t> order;
  std::mutex orderMutex;
  auto record = [&](void* argument, void*) {
    std::lock_guard lock(orderMutex);
    order.push_back(reinterpret_cast<std::uintptr_t>(argument));
  };
  DeferredCall blocker(worker, [&](void*, void*) {
    blockerEntered.set_value();
    release.wait();
  });
  DeferredCall normal(worker, record);
  DeferredCall urgent(worker, record);

  ASSERT_TRUE(blocker.Queue(nullptr, nullptr));
  blockerEntered.get_future().wait();
  EXPECT_TRUE(normal.Queue(reinterpret_cast<void*>(1), nullptr));
  EXPECT_FALSE(normal.Queue(reinterpret_cast<void*>(2), nullptr));
  EXPECT_TRUE(urgent.Queue(reinterpret_cast<void*>(3), nullptr, DeferredCallImportance::kUrgent));
  releaseBlocker.set_value();
  ASSERT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + kTestDeadline));
  EXPECT_EQ(order, (std::vector<std::uintptr_t>{3, 1}));

  // Once it ran it may be queued again, and a removed call does not run.
  EXPECT_TRUE(normal.Queue(reinterpret_cast<void*>(4), nullptr));
  ASSERT_TRUE(worker.WaitIdle(std::chrono::steady_clock::now() + kTestDeadline));
  EXPECT_EQ(order.back(), 4u);
}

// The last reference to a device may go inside its own deferred call (a
// completed request was the last holder); its worker then ends safely.
TEST(DeferredCallTest, WorkerMayBeDestroyedFromItsOwnCall) {
  auto worker = std::make_unique<DeferredCallWorker>("self.dpc");
  std::promise<void> done;
  auto call = std::make_unique<DeferredCall>(*worker, [&](void*, void*) {
    worker.reset();
    done.set_value();
  });
  ASSERT_TRUE(call->Queue(nullptr, nullptr));
  ASSERT_EQ(done.get_future().wait_for(kTestDeadline), std::future_status::ready);
  // Its calls outlive it harmlessly and can no longer be queued.
  EXPECT_FALSE(call->Queue(nullptr, nullptr));
  call.reset();
}

TEST(VirtualClockTest, TimersFireInDueOrderWithTheCounterAtTheirDueTime) {
  VirtualClock clock;
  std::vector<std::pair<char, Ticks>> fired;
  clock.StartTimer(kTickPeriod, kTickPeriod, [&] { fired.emplace_back('t', clock.Now()); });
  clock.StartTimer(700 * kTicksPerMicrosecond, 0, [&] { fired.emplace_back('o', clock.Now()); });
  clock.Advance(MicrosecondsToTicks(1100));
  EXPECT_EQ(fired, (std::vector<std::pair<char, Ticks>>{{'t', 5120}, {'o', 7000}, {'t', 10240}}));
  EXPECT_EQ(clock.Now(), 11000);
}

TEST(VirtualClockTest, EventWaitEndsAtTheDeadlineOnlyWhenTimeIsStepped) {
  VirtualClock clock;
  KernelEvent event(clock, EventReset::kAutomatic);
  auto waited =
      std::async(std::launch::async, [&] { return event.Wait(MillisecondsToTicks(250)); });
  EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  // The deadline was taken when the wait began; step past it until it ends.
  for (int step = 0; step < 10'000; ++step) {
    if (waited.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready) break;
    clock.Advance(MillisecondsToTicks(50));
  }
  ASSERT_EQ(waited.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_FALSE(waited.get());

  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));  // automatic: consumed by the first waiter
}

TEST(RealClockTest, CounterRunsAtTenMegahertzAndTimersFire) {
  RealClock clock;
  EXPECT_EQ(Clock::Frequency(), 10'000'000);
  const Ticks start = clock.Now();
  std::promise<Ticks> fired;
  const TimerId id =
      clock.StartTimer(start + MillisecondsToTicks(2), 0, [&] { fired.set_value(clock.Now()); });
  auto when = fired.get_future();
  ASSERT_EQ(when.wait_for(kTestDeadline), std::future_status::ready);
  EXPECT_GE(when.get(), start + MillisecondsToTicks(2));
  clock.CancelTimer(id);
  KernelEvent never(clock, EventReset::kManual);
  EXPECT_FALSE(never.Wait(MillisecondsToTicks(1)));
}

// What the timer thread used between two of its callbacks.
struct TimerThreadUse {
  std::chrono::steady_clock::time_point wall;
  std::chrono::nanoseconds cpu;
  long waits;  // times the thread blocked of its own accord
};

TimerThreadUse SampleThisThread() {
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  long waits = -1;
  std::ifstream status("/proc/thread-self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) waits = std::stol(line.substr(24));
  }
  return {std::chrono::steady_clock::now(),
          std::chrono::seconds(cpu.tv_sec) + std::chrono::nanoseconds(cpu.tv_nsec), waits};
}

struct BusyTimerCase {
  const char* name;
  Ticks period;
  std::chrono::microseconds work;  // each callback keeps the thread busy this long
};

class RealClockLoadTest : public ::testing::TestWithParam<BusyTimerCase> {};

// However often its timers fall due and however long their callbacks take,
// the clock's thread, real-time where permitted, leaves a processor to the
// rest of the machine: it takes at most about half of one and wakes at most
// about once per rest.
TEST_P(RealClockLoadTest, TheTimerThreadNeverHoldsAProcessor) {
  const BusyTimerCase& c = GetParam();
  constexpr auto kWindow = std::chrono::milliseconds(400);
  RealClock clock;
  std::optional<TimerThreadUse> first;
  std::promise<TimerThreadUse> last;
  bool done = false;
  const TimerId id = clock.StartTimer(clock.Now(), c.period, [&] {
    if (done) return;
    const auto busyUntil = std::chrono::steady_clock::now() + c.work;
    while (std::chrono::steady_clock::now() < busyUntil) {
    }
    const TimerThreadUse now = SampleThisThread();
    if (!first) {
      first = now;
    } else if (now.wall - first->wall >= kWindow) {
      done = true;
      last.set_value(now);
    }
  });
  auto ended = last.get_future();
  ASSERT_EQ(ended.wait_for(kTestDeadline), std::future_status::ready);
  clock.CancelTimer(id);
  const TimerThreadUse end = ended.get();
  const auto wall = end.wall - first->wall;
  const double share = std::chrono::duration<double>(end.cpu - first->cpu) / wall;
  EXPECT_LT(share, 0.6) << "the timer thread took " << share * 100 << "% of a processor";
  ASSERT_GE(first->waits, 0);
  // A rest, and perhaps a wait for the next due time, after every spell.
  const auto rests = wall / std::chrono::nanoseconds(RealClock::kShortestRest * 100);
  EXPECT_LE(end.waits - first->waits, 2 * rests + 4);
}

INSTANTIATE_TEST_SUITE_P(
    Timers, RealClockLoadTest,
    ::testing::Values(BusyTimerCase{"CheapTimersDueOftenerThanTheClockRests",
                                    MicrosecondsToTicks(50), std::chrono::microseconds(0)},
                      BusyTimerCase{"CallbacksSlowerThanTheirPeriod", MillisecondsToTicks(1),
                                    std::chrono::microseconds(3000)}),
    [](const auto& info) { return std::string(info.param.name); });

// A callback that ran long once (a simulation catching up) is followed by
// a short rest, not by one as long as itself: otherwise each catch-up leaves
// the next one more to do and the clock falls behind for good.
TEST(RealClockTest, ALongCallbackIsFollowedByAShortRestOnly) {
  constexpr auto kLongWork = std::chrono::milliseconds(300);
  RealClock clock;
  std::mutex mutex;
  std::optional<std::chrono::steady_clock::time_point> longEnded;
  std::promise<std::chrono::steady_clock::duration> nextAfterLong;
  bool done = false;
  const TimerId slow = clock.StartTimer(clock.Now(), 0, [&] {
    std::this_thread::sleep_for(kLongWork);
    std::lock_guard lock(mutex);
    longEnded = std::chrono::steady_clock::now();
  });
  const TimerId periodic = clock.StartTimer(clock.Now() + 1, MillisecondsToTicks(1), [&] {
    std::lock_guard lock(mutex);
    if (done || !longEnded) return;
    done = true;
    nextAfterLong.set_value(std::chrono::steady_clock::now() - *longEnded);
  });
  auto gap = nextAfterLong.get_future();
  ASSERT_EQ(gap.wait_for(kTestDeadline), std::future_status::ready);
  clock.CancelTimer(periodic);
  clock.CancelTimer(slow);
  EXPECT_LT(gap.get(), kLongWork / 2) << "the clock rested about as long as the callback ran";
}

using TickTest = HostFixture;

// A 512-microsecond tick from the virtual clock raises the interrupt line;
// the handler runs at exactly the tick times and its deferred call
// completes the held request, whose event the client then sees.
TEST_F(TickTest, VirtualClockDrivesA512MicrosecondTickDeterministically) {
  InterruptLine& line = host_->Interrupt(11);
  ASSERT_EQ(driver_->ConnectTick(line), os::kStatusSuccess);
  clock_.StartTimer(kTickPeriod, kTickPeriod, [&] { line.Raise(); });

  auto handle = OpenTestDevice();
  HeldRequest held;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, held));

  clock_.Advance(kTickPeriod - 1);
  EXPECT_EQ(driver_->TickCount(), 0u);
  clock_.Advance(1);
  ASSERT_EQ(os::WaitForOne(held.event, 10'000).kind, os::WaitKind::Signalled);
  EXPECT_EQ(held.overlapped.Status(), os::kStatusSuccess);
  EXPECT_EQ(held.output[0], 1);  // released by the first tick

  clock_.Advance(9 * kTickPeriod + kTickPeriod / 2);
  std::vector<Ticks> expected;
  for (Ticks k = 1; k <= 10; ++k) expected.push_back(k * kTickPeriod);
  EXPECT_EQ(driver_->TickTimes(), expected);
  EXPECT_EQ(host_->QueryPerformanceCounter(), 10 * kTickPeriod + kTickPeriod / 2);
  driver_->DisconnectTick();
}

}  // namespace
}  // namespace vantor::devhost::testing

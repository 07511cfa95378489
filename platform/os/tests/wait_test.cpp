#include "platform/os/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/os/tests/os_test_support.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"

namespace vantor::os {
namespace {

using testing::kDeadlineMs;
using testing::OsTest;

class WaitTest : public OsTest {};

TEST_F(WaitTest, TimeOutsOfZeroAndFiniteLengthReturnTimeout) {
  auto event = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(event);
  for (const std::uint32_t timeout : {0u, 1u, 30u}) {
    const auto start = std::chrono::steady_clock::now();
    const WaitResult result = WaitForOne(*event, timeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.kind, WaitKind::Timeout) << timeout;
    EXPECT_GE(waited, std::chrono::milliseconds(timeout)) << timeout;
  }
}

TEST_F(WaitTest, AnInfiniteWaitEndsWhenAnotherThreadSets) {
  auto event = Event::CreateUnnamed(EventReset::Auto, false);
  ASSERT_TRUE(event);
  std::thread setter([&] {
    Sleep(20);
    event->Set();
  });
  EXPECT_EQ(WaitForOne(*event, kInfinite).kind, WaitKind::Signalled);
  setter.join();
}

TEST_F(WaitTest, BadWaitSetsFailAtOnce) {
  auto event = Event::CreateUnnamed(EventReset::Manual, true);
  auto mapping = Mapping::CreateUnnamed(16);
  ASSERT_TRUE(event);
  ASSERT_TRUE(mapping);
  Event closed;
  const Waitable* duplicate[] = {&*event, &*event};
  const Waitable* withNull[] = {&*event, nullptr};
  const Waitable* withClosed[] = {&*event, &closed};
  const Waitable* withMapping[] = {&*event, &*mapping};
  std::vector<const Waitable*> tooMany(kMaxWaitObjects + 1, &*event);

  struct Case {
    const char* what;
    std::span<const Waitable* const> set;
    bool all;
    OsError error;
  };
  const Case cases[] = {
      {"no objects", {}, false, OsError::InvalidArgument},
      {"no objects, all", {}, true, OsError::InvalidArgument},
      {"too many", tooMany, false, OsError::InvalidArgument},
      {"same object twice in wait-all", duplicate, true, OsError::InvalidArgument},
      {"null", withNull, false, OsError::InvalidHandle},
      {"closed handle", withClosed, true, OsError::InvalidHandle},
      {"mapping", withMapping, false, OsError::InvalidArgument},
  };
  for (const Case& c : cases) {
    const WaitResult result = c.all ? WaitForAll(c.set, kInfinite) : WaitForAny(c.set, kInfinite);
    EXPECT_EQ(result.kind, WaitKind::Failed) << c.what;
    EXPECT_EQ(result.error, c.error) << c.what;
  }
  // The same object twice is fine for wait-any: the first index wins.
  EXPECT_EQ(WaitForAny(duplicate, 0).index, 0u);
}

TEST_F(WaitTest, WaitAnyTakesTheLowestSignalledIndexAndConsumesOnlyIt) {
  auto first = Event::CreateUnnamed(EventReset::Auto, false);
  auto second = Event::CreateOrOpen(Name("second"), EventReset::Auto, true);
  auto third = Event::CreateUnnamed(EventReset::Auto, true);
  ASSERT_TRUE(first && second && third);
  const WaitResult result = WaitForAny({&*first, &*second, &*third}, 0);
  EXPECT_EQ(result.kind, WaitKind::Signalled);
  EXPECT_EQ(result.index, 1u);
  EXPECT_EQ(WaitForOne(*second, 0).kind, WaitKind::Timeout) << "consumed";
  EXPECT_EQ(WaitForOne(*third, 0).kind, WaitKind::Signalled) << "left alone";
}

TEST_F(WaitTest, WaitAnyAcquiresOnlyTheMutexThatWins) {
  auto event = Event::CreateUnnamed(EventReset::Manual, true);
  auto mutex = Mutex::CreateOrOpen(Name("mutex"), false);
  ASSERT_TRUE(event && mutex);
  EXPECT_EQ(WaitForAny({&*event, &*mutex}, 0).index, 0u);
  EXPECT_EQ(mutex->Release(), OsError::NotOwner) << "the mutex was not taken";
  ASSERT_TRUE(event->Reset());
  EXPECT_EQ(WaitForAny({&*event, &*mutex}, 0).index, 1u);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
}

TEST_F(WaitTest, WaitAllTakesNothingWhileOneObjectIsMissing) {
  auto free = Mutex::CreateOrOpen(Name("free"), false);
  auto held = Mutex::CreateOrOpen(Name("held"), false);
  auto slots = Semaphore::CreateUnnamed(1, 1);
  auto event = Event::CreateUnnamed(EventReset::Auto, true);
  ASSERT_TRUE(free && held && slots && event);
  Event holderDone;
  auto release = Event::CreateUnnamed(EventReset::Manual, false);
  auto taken = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(release && taken);
  std::thread holder([&] {
    ASSERT_TRUE(WaitForOne(*held, 0).acquired());
    taken->Set();
    WaitForOne(*release, kDeadlineMs);
    held->Release();
  });
  ASSERT_EQ(WaitForOne(*taken, kDeadlineMs).kind, WaitKind::Signalled);

  EXPECT_EQ(WaitForAll({&*free, &*slots, &*event, &*held}, 50).kind, WaitKind::Timeout);
  // Nothing of the set was kept: another thread finds all of it free.
  std::thread checker([&] {
    EXPECT_TRUE(WaitForOne(*free, 0).acquired());
    EXPECT_EQ(free->Release(), OsError::Ok);
  });
  checker.join();
  EXPECT_EQ(WaitForOne(*slots, 0).kind, WaitKind::Signalled);
  ASSERT_EQ(slots->Release(), OsError::Ok);
  EXPECT_EQ(WaitForOne(*event, 0).kind, WaitKind::Signalled);
  ASSERT_TRUE(event->Set());

  release->Set();
  const WaitResult all = WaitForAll({&*free, &*slots, &*event, &*held}, kDeadlineMs);
  holder.join();
  EXPECT_EQ(all.kind, WaitKind::Signalled);
  EXPECT_EQ(WaitForOne(*slots, 0).kind, WaitKind::Timeout);
  EXPECT_EQ(WaitForOne(*event, 0).kind, WaitKind::Timeout);
  EXPECT_EQ(free->Release(), OsError::Ok);
  EXPECT_EQ(held->Release(), OsError::Ok);
}

TEST_F(WaitTest, WaitAllReportsTheAbandonedMutexOfTheSet) {
  auto ordinary = Mutex::CreateUnnamed(false);
  auto orphan = Mutex::CreateUnnamed(false);
  ASSERT_TRUE(ordinary && orphan);
  std::thread([&] { ASSERT_TRUE(WaitForOne(*orphan, 0).acquired()); }).join();
  const WaitResult result = WaitForAll({&*ordinary, &*orphan}, kDeadlineMs);
  EXPECT_EQ(result.kind, WaitKind::Abandoned);
  EXPECT_EQ(result.index, 1u);
  EXPECT_TRUE(result.acquired());
  EXPECT_EQ(ordinary->Release(), OsError::Ok);
  EXPECT_EQ(orphan->Release(), OsError::Ok);
}

TEST_F(WaitTest, NamedUnnamedAndThreadObjectsMixInOneWait) {
  auto named = Event::CreateOrOpen(Name("named"), EventReset::Manual, false);
  auto unnamed = Event::CreateUnnamed(EventReset::Manual, false);
  auto go = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(named && unnamed && go);
  auto worker = Thread::Start([&]() -> std::uint32_t {
    return WaitForOne(*go, kDeadlineMs).kind == WaitKind::Signalled ? 7 : 1;
  });
  ASSERT_TRUE(worker);
  EXPECT_EQ(WaitForAny({&*named, &*unnamed, &*worker}, 20).kind, WaitKind::Timeout);
  go->Set();
  const WaitResult result = WaitForAny({&*named, &*unnamed, &*worker}, kDeadlineMs);
  EXPECT_EQ(result.kind, WaitKind::Signalled);
  EXPECT_EQ(result.index, 2u);
  EXPECT_EQ(worker->exitCode(), 7u);
  // An ended thread stays signalled.
  EXPECT_EQ(WaitForOne(*worker, 0).kind, WaitKind::Signalled);
}

}  // namespace
}  // namespace vantor::os

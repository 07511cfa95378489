#include "platform/os/named_objects.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/tests/os_test_support.h"
#include "platform/os/thread.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

using testing::OsTest;

bool IsSignalled(const Waitable& object) {
  return WaitForOne(object, 0).kind == WaitKind::Signalled;
}

class EventTest : public OsTest {};

TEST_F(EventTest, ResetModeAndInitialStateDecideWhatAWaitConsumes) {
  struct Case {
    EventReset reset;
    bool initial;
    bool firstWait;
    bool secondWait;
  };
  const Case cases[] = {
      {EventReset::Manual, true, true, true},
      {EventReset::Manual, false, false, false},
      {EventReset::Auto, true, true, false},
      {EventReset::Auto, false, false, false},
  };
  for (const Case& c : cases) {
    auto event = Event::CreateUnnamed(c.reset, c.initial);
    ASSERT_TRUE(event);
    EXPECT_EQ(IsSignalled(*event), c.firstWait);
    EXPECT_EQ(IsSignalled(*event), c.secondWait);
  }
}

TEST_F(EventTest, SetAndResetChangeTheState) {
  auto event = Event::CreateOrOpen(Name("event"), EventReset::Manual, false);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->Set());
  EXPECT_TRUE(IsSignalled(*event));
  EXPECT_TRUE(event->Reset());
  EXPECT_FALSE(IsSignalled(*event));
}

TEST_F(EventTest, CreateOrOpenReturnsTheExistingObjectUnchanged) {
  const std::string name = Name("presence");
  auto first = Event::CreateOrOpen(name, EventReset::Manual, true);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->existed());
  // Asked for auto reset and not signalled: the existing manual, signalled
  // event is what comes back.
  auto second = Event::CreateOrOpen(name, EventReset::Auto, false);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->existed());
  EXPECT_TRUE(IsSignalled(*second));
  EXPECT_TRUE(IsSignalled(*second));
  EXPECT_TRUE(first->Reset());
  EXPECT_FALSE(IsSignalled(*second));
}

TEST_F(EventTest, OpenOnlyFailsWhenAbsentAndAfterTheLastHolderClosed) {
  const std::string name = Name("gone");
  EXPECT_EQ(Event::Open(name).error(), OsError::NotFound);
  {
    auto event = Event::CreateOrOpen(name, EventReset::Manual, true);
    ASSERT_TRUE(event);
    auto opened = Event::Open(name);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->existed());
  }
  EXPECT_EQ(Event::Open(name).error(), OsError::NotFound);
}

TEST_F(EventTest, DuplicateKeepsTheObjectAliveAfterTheOriginalCloses) {
  const std::string name = Name("dup");
  auto event = Event::CreateOrOpen(name, EventReset::Manual, false);
  ASSERT_TRUE(event);
  auto copy = event->Duplicate();
  ASSERT_TRUE(copy);
  event->Close();
  EXPECT_FALSE(event->Set());
  EXPECT_TRUE(copy->Set());
  EXPECT_TRUE(Event::Open(name));
}

TEST_F(EventTest, ANameTakenByAnotherKindIsRefused) {
  const std::string name = Name("shared name");
  auto mutex = Mutex::CreateOrOpen(name, false);
  ASSERT_TRUE(mutex);
  EXPECT_EQ(Event::CreateOrOpen(name, EventReset::Manual, false).error(), OsError::WrongKind);
  EXPECT_EQ(Event::Open(name).error(), OsError::WrongKind);
  EXPECT_EQ(Mapping::Open(name).error(), OsError::WrongKind);
}

TEST_F(EventTest, LongNamesWithBlanksStayApartAndTooLongOnesFail) {
  const std::string stem(300, 'x');
  const std::string a = stem + " Event for Kernel Modus A";
  const std::string b = stem + " Event for Kernel Modus B";
  auto first = Event::CreateOrOpen(a, EventReset::Manual, true);
  auto second = Event::CreateOrOpen(b, EventReset::Manual, false);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->existed());
  EXPECT_TRUE(IsSignalled(*first));
  EXPECT_FALSE(IsSignalled(*second));
  const std::string tooLong(kMaxObjectNameBytes + 1, 'n');
  EXPECT_EQ(Event::CreateOrOpen(tooLong, EventReset::Manual, false).error(),
            OsError::NameTooLong);
  EXPECT_TRUE(Event::CreateOrOpen(std::string(kMaxObjectNameBytes, 'n'), EventReset::Manual,
                                  false));
}

TEST_F(EventTest, OpeningByAnEmptyOrBrokenNameIsRefused) {
  EXPECT_EQ(Event::Open("").error(), OsError::InvalidArgument);
  EXPECT_EQ(Mutex::Open("").error(), OsError::InvalidArgument);
  const std::string withZero("Event\0for", 10);
  EXPECT_EQ(Event::CreateOrOpen(withZero, EventReset::Manual, false).error(),
            OsError::InvalidArgument);
}

TEST_F(EventTest, OperationsOnClosedOrEmptyHandlesFailHarmlessly) {
  Event never;
  EXPECT_FALSE(never.Set());
  EXPECT_FALSE(never.Reset());
  EXPECT_EQ(WaitForOne(never, 0).kind, WaitKind::Failed);
  auto event = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(event);
  Event moved = event.take();
  EXPECT_FALSE(event->valid());
  EXPECT_TRUE(moved.Set());
}

class MutexTest : public OsTest {};

TEST_F(MutexTest, IsRecursiveForItsOwner) {
  auto mutex = Mutex::CreateOrOpen(Name("mutex"), true);
  ASSERT_TRUE(mutex);
  EXPECT_TRUE(WaitForOne(*mutex, 0).acquired());
  EXPECT_EQ(mutex->Release(), OsError::Ok);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
  EXPECT_EQ(mutex->Release(), OsError::NotOwner);
}

TEST_F(MutexTest, ReleaseByAnotherThreadFailsAndChangesNothing) {
  auto mutex = Mutex::CreateUnnamed(false);
  ASSERT_TRUE(mutex);
  ASSERT_TRUE(WaitForOne(*mutex, 0).acquired());
  OsError foreignRelease = OsError::Ok;
  bool foreignAcquired = true;
  std::thread([&] {
    foreignRelease = mutex->Release();
    foreignAcquired = WaitForOne(*mutex, 0).acquired();
  }).join();
  EXPECT_EQ(foreignRelease, OsError::NotOwner);
  EXPECT_FALSE(foreignAcquired);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
  Mutex closed;
  EXPECT_EQ(closed.Release(), OsError::InvalidHandle);
}

TEST_F(MutexTest, AThreadEndingWhileOwningHandsItOnAsAbandoned) {
  auto mutex = Mutex::CreateOrOpen(Name("abandoned"), false);
  ASSERT_TRUE(mutex);
  auto owner = Thread::Start([&]() -> std::uint32_t {
    return WaitForOne(*mutex, 0).acquired() ? 0 : 1;
  });
  ASSERT_TRUE(owner);
  ASSERT_EQ(WaitForOne(*owner, testing::kDeadlineMs).kind, WaitKind::Signalled);
  ASSERT_EQ(owner->exitCode(), 0u);
  EXPECT_EQ(WaitForOne(*mutex, testing::kDeadlineMs).kind, WaitKind::Abandoned);
  // Acquired once as abandoned; the next take is an ordinary one.
  EXPECT_EQ(mutex->Release(), OsError::Ok);
  EXPECT_EQ(WaitForOne(*mutex, 0).kind, WaitKind::Signalled);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
}

TEST_F(MutexTest, AnAbandonedMutexAlsoEndsAThreadStartedOutsideThisLayer) {
  auto mutex = Mutex::CreateUnnamed(false);
  ASSERT_TRUE(mutex);
  std::thread([&] { ASSERT_TRUE(WaitForOne(*mutex, 0).acquired()); }).join();
  EXPECT_EQ(WaitForOne(*mutex, testing::kDeadlineMs).kind, WaitKind::Abandoned);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
}

class SemaphoreTest : public OsTest {};

TEST_F(SemaphoreTest, CountsUpToItsMaximumAndNoFurther) {
  auto semaphore = Semaphore::CreateOrOpen(Name("users"), 0, 2);
  ASSERT_TRUE(semaphore);
  EXPECT_EQ(WaitForOne(*semaphore, 0).kind, WaitKind::Timeout);
  std::int32_t previous = -1;
  EXPECT_EQ(semaphore->Release(2, &previous), OsError::Ok);
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(semaphore->Release(1, &previous), OsError::LimitExceeded);
  EXPECT_EQ(previous, 0) << "a refused release reports nothing";
  EXPECT_EQ(WaitForOne(*semaphore, 0).kind, WaitKind::Signalled);
  EXPECT_EQ(WaitForOne(*semaphore, 0).kind, WaitKind::Signalled);
  EXPECT_EQ(WaitForOne(*semaphore, 0).kind, WaitKind::Timeout);
}

TEST_F(SemaphoreTest, RefusesBadCountsAndLimits) {
  struct Case {
    std::int32_t initial;
    std::int32_t maximum;
  };
  for (const Case c : {Case{0, 0}, Case{-1, 5}, Case{6, 5}, Case{0, -3}}) {
    EXPECT_EQ(Semaphore::CreateUnnamed(c.initial, c.maximum).error(), OsError::InvalidArgument)
        << c.initial << "/" << c.maximum;
  }
  auto semaphore = Semaphore::CreateUnnamed(0, 5);
  ASSERT_TRUE(semaphore);
  EXPECT_EQ(semaphore->Release(0), OsError::InvalidArgument);
  EXPECT_EQ(semaphore->Release(-1), OsError::InvalidArgument);
}

class MappingTest : public OsTest {};

TEST_F(MappingTest, IsZeroFilledSharedAndKeepsItsSizeForOpeners) {
  const std::string name = Name("Memory Mapped File for Communication");
  auto created = Mapping::CreateOrOpen(name, 4096);
  ASSERT_TRUE(created);
  EXPECT_FALSE(created->existed());
  ASSERT_EQ(created->size(), 4096u);
  EXPECT_TRUE(std::all_of(created->data(), created->data() + 4096,
                          [](std::byte b) { return b == std::byte{0}; }));
  std::memcpy(created->data() + 0x3C, "\x24\x00\x00\x00", 4);

  auto again = Mapping::CreateOrOpen(name, 8192);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->existed());
  EXPECT_EQ(again->size(), 4096u);
  auto opened = Mapping::Open(name);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->size(), 4096u);
  EXPECT_EQ(std::to_integer<int>(opened->data()[0x3C]), 0x24);
}

TEST_F(MappingTest, OpenOnlyAndBadSizesFail) {
  EXPECT_EQ(Mapping::Open(Name("absent")).error(), OsError::NotFound);
  EXPECT_EQ(Mapping::CreateOrOpen(Name("empty"), 0).error(), OsError::InvalidArgument);
  auto unnamed = Mapping::CreateUnnamed(100);
  ASSERT_TRUE(unnamed);
  EXPECT_EQ(unnamed->size(), 100u);
}

TEST_F(MappingTest, ClosingTheLastHandleDropsTheContent) {
  const std::string name = Name("transient");
  {
    auto mapping = Mapping::CreateOrOpen(name, 64);
    ASSERT_TRUE(mapping);
    mapping->data()[0] = std::byte{0x5A};
  }
  auto fresh = Mapping::CreateOrOpen(name, 64);
  ASSERT_TRUE(fresh);
  EXPECT_FALSE(fresh->existed());
  EXPECT_EQ(std::to_integer<int>(fresh->data()[0]), 0);
}

TEST_F(MappingTest, ACensusSeesObjectsComeAndGo) {
  const NamespaceCensus before = TakeNamespaceCensus();
  {
    auto event = Event::CreateUnnamed(EventReset::Manual, false);
    auto mapping = Mapping::CreateOrOpen(Name("census"), 16);
    ASSERT_TRUE(event);
    ASSERT_TRUE(mapping);
    EXPECT_EQ(TakeNamespaceCensus().objects, before.objects + 2);
  }
  EXPECT_EQ(TakeNamespaceCensus().objects, before.objects);
}

}  // namespace
}  // namespace vantor::os

namespace vantor::os {
namespace {

// A process that died holding objects must not keep the table full for the
// living: an unnamed object is made once the dead one's objects are gone.
class TableRoomTest : public testing::OsTest {};

TEST_F(TableRoomTest, AProcessThatDiedFillingTheTableLeavesRoomForANewObject) {
  // The parent takes its place in the table first, so that the child's
  // objects are what fills it.
  auto own = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(own);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::vector<Event> kept;
    for (;;) {
      auto event = Event::CreateUnnamed(EventReset::Manual, false);
      if (!event) ::_exit(event.error() == OsError::LimitExceeded ? 0 : 1);
      kept.push_back(event.take());
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child filled the table";
  auto fresh = Event::CreateUnnamed(EventReset::Manual, false);
  ASSERT_TRUE(fresh) << OsErrorName(fresh.error());
}

// A caller that takes the handle of a failed call is stopped with the
// reason, not left with a handle made of whatever lay in memory.
TEST(OsResultDeathTest, TakingTheValueOfAFailedCallEndsTheProcessWithTheReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        OsResult<Mapping> failed = Mapping::CreateUnnamed(0);
        static_cast<void>(failed.take());
      },
      "the value of a failed call was taken \\(");
}

}  // namespace
}  // namespace vantor::os

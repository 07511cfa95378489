// Behaviour across processes, with helper processes in the roles.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/os/message_loop.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/tests/os_test_support.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

using testing::kDeadlineMs;
using testing::KillAndReap;
using testing::OsTest;
using testing::ReadySignal;
using testing::StartHelper;

class MultiProcessTest : public OsTest {
 protected:
  // Starts a helper that serves a message loop and publishes the loop's
  // endpoint at the start of a mapping; returns once it serves.
  void StartLoopServer() {
    const std::string mappingName = Name("Windows Handle");
    auto mapping = Mapping::CreateOrOpen(mappingName, 4096);
    ASSERT_TRUE(mapping);
    mapping_ = mapping.take();
    ReadySignal ready(Name("ready"));
    auto helper = StartHelper({"serve-loop", mappingName, ready.name()});
    ASSERT_TRUE(helper);
    server_ = helper.take();
    ASSERT_TRUE(ready.Wait());
    std::memcpy(&token_, mapping_.data(), sizeof token_);
  }

  Mapping mapping_;
  Process server_;
  EndpointToken token_ = 0;
};

TEST_F(MultiProcessTest, CreateOrOpenSharesOneObjectAcrossProcesses) {
  const std::string name = Name("Event for Kernel Modus");
  ReadySignal ready(Name("ready"));
  auto helper = StartHelper({"hold-event", name, ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(ready.Wait());
  auto event = Event::CreateOrOpen(name, EventReset::Manual, false);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->existed());
  EXPECT_EQ(WaitForOne(*event, 0).kind, WaitKind::Signalled) << "the helper created it set";
  KillAndReap(*helper);
}

TEST_F(MultiProcessTest, APresenceEventOfAKilledCreatorReadsAbsent) {
  const std::string name = Name("Event for MotrixWatch");
  ReadySignal ready(Name("ready"));
  auto helper = StartHelper({"hold-event", name, ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(ready.Wait());
  ASSERT_TRUE(Event::Open(name));
  KillAndReap(*helper);
  EXPECT_EQ(Event::Open(name).error(), OsError::NotFound);
}

TEST_F(MultiProcessTest, AMutexOfAKilledOwnerGoesToTheNextWaiterAsAbandoned) {
  const std::string name = Name("Mutex for Standard Communication");
  auto mutex = Mutex::CreateOrOpen(name, false);
  ASSERT_TRUE(mutex);
  ReadySignal ready(Name("ready"));
  auto helper = StartHelper({"hold-mutex", name, ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(ready.Wait());
  EXPECT_EQ(WaitForOne(*mutex, 0).kind, WaitKind::Timeout);
  ASSERT_EQ(helper->Terminate(9), OsError::Ok);
  const WaitResult result = WaitForOne(*mutex, kDeadlineMs);
  EXPECT_EQ(result.kind, WaitKind::Abandoned);
  EXPECT_EQ(mutex->Release(), OsError::Ok);
}

TEST_F(MultiProcessTest, WaitAllNeverHoldsOneMutexWhileAnotherProcessHoldsTheOther) {
  const std::string firstName = Name("Mutex A");
  const std::string secondName = Name("Mutex B");
  auto first = Mutex::CreateOrOpen(firstName, false);
  auto second = Mutex::CreateOrOpen(secondName, true);
  ASSERT_TRUE(first && second);
  ReadySignal waiting(Name("waiting"));
  ReadySignal acquired(Name("acquired"));
  auto helper = StartHelper({"wait-all-pair", firstName, secondName, waiting.name(),
                             acquired.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(waiting.Wait());
  // While the helper waits for both, the free one stays free.
  for (int round = 0; round < 5; ++round) {
    Sleep(10);
    ASSERT_TRUE(WaitForOne(*first, 0).acquired()) << round;
    ASSERT_EQ(first->Release(), OsError::Ok);
  }
  EXPECT_FALSE(acquired.IsSet());
  ASSERT_EQ(second->Release(), OsError::Ok);
  ASSERT_TRUE(acquired.Wait());
  EXPECT_EQ(WaitForAny({&*first, &*second}, 0).kind, WaitKind::Timeout);
  KillAndReap(*helper);
  EXPECT_EQ(WaitForAll({&*first, &*second}, kDeadlineMs).kind, WaitKind::Abandoned);
}

TEST_F(MultiProcessTest, WaitAnyConsumesOnlyTheLowestSignalledAutoResetEvent) {
  const std::string lowName = Name("low");
  const std::string highName = Name("high");
  auto low = Event::CreateOrOpen(lowName, EventReset::Auto, false);
  auto high = Event::CreateOrOpen(highName, EventReset::Auto, false);
  ASSERT_TRUE(low && high);
  // Another process sets both, the higher index first.
  auto setter = StartHelper({"set-events", lowName, highName});
  ASSERT_TRUE(setter);
  ASSERT_EQ(WaitForOne(*setter, kDeadlineMs).kind, WaitKind::Signalled);
  ASSERT_EQ(setter->exitCode(), 0u);
  const WaitResult result = WaitForAny({&*high, &*low}, kDeadlineMs);
  EXPECT_EQ(result.index, 0u);
  EXPECT_EQ(WaitForOne(*high, 0).kind, WaitKind::Timeout);
  EXPECT_EQ(WaitForOne(*low, 0).kind, WaitKind::Signalled);
}

TEST_F(MultiProcessTest, SemaphoreCountsOfAKilledProcessAreTakenBack) {
  const std::string name = Name("Semaphore for Initialization");
  auto semaphore = Semaphore::CreateOrOpen(name, 0, 100);
  ASSERT_TRUE(semaphore);
  ReadySignal ready(Name("ready"));
  auto helper = StartHelper({"release-semaphore", name, "3", ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(ready.Wait());
  ASSERT_EQ(semaphore->Release(1), OsError::Ok);
  std::int32_t previous = 0;
  ASSERT_EQ(semaphore->Release(1, &previous), OsError::Ok);
  EXPECT_EQ(previous, 4);
  ASSERT_EQ(WaitForOne(*semaphore, 0).kind, WaitKind::Signalled);
  KillAndReap(*helper);
  // This process added 2 and took 1; the helper's 3 are gone.
  EXPECT_EQ(semaphore->Release(1, &previous), OsError::Ok);
  EXPECT_EQ(previous, 1);
}

// What a killed process added and did not take back itself is undone; what
// it took is never given back.
struct KilledSemaphoreUserCase {
  const char* what;
  std::int32_t initial;
  int added;
  int taken;
  std::int32_t left;
};

class KilledSemaphoreUserTest : public OsTest,
                                public ::testing::WithParamInterface<KilledSemaphoreUserCase> {};

TEST_P(KilledSemaphoreUserTest, LeavesTheCountsOfOthersAsTheyWere) {
  const KilledSemaphoreUserCase& given = GetParam();
  const std::string name = Name("Semaphore for Initialization");
  auto semaphore = Semaphore::CreateOrOpen(name, given.initial, 100);
  ASSERT_TRUE(semaphore);
  ReadySignal ready(Name("ready"));
  auto helper = StartHelper({"add-take-semaphore", name, std::to_string(given.added),
                             std::to_string(given.taken), ready.name()});
  ASSERT_TRUE(helper);
  ASSERT_TRUE(ready.Wait());
  KillAndReap(*helper);
  TakeNamespaceCensus();  // every dead process is cleared away first
  std::int32_t previous = -1;
  ASSERT_EQ(semaphore->Release(1, &previous), OsError::Ok);
  EXPECT_EQ(previous, given.left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KilledSemaphoreUserTest,
    ::testing::Values(KilledSemaphoreUserCase{"took_one_of_others", 2, 0, 1, 1},
                      KilledSemaphoreUserCase{"took_back_its_own", 0, 1, 1, 0},
                      KilledSemaphoreUserCase{"took_its_own_and_one_more", 1, 1, 2, 0},
                      KilledSemaphoreUserCase{"took_back_part_of_its_own", 0, 3, 1, 0},
                      KilledSemaphoreUserCase{"took_back_its_own_beside_others", 1, 1, 1, 1}),
    [](const ::testing::TestParamInfo<KilledSemaphoreUserCase>& info) {
      return std::string(info.param.what);
    });

std::uint32_t OtherHolders(const std::string& name) {
  const auto holders = CountOtherHolders(name);
  return holders ? *holders : 99;
}

TEST_F(MultiProcessTest, CountsTheLiveOtherHoldersOfANamedObject) {
  const std::string name = Name("Semaphore for Initialization");
  EXPECT_EQ(OtherHolders(name), 0u) << "absent";
  auto own = Event::CreateOrOpen(name, EventReset::Manual, false);
  ASSERT_TRUE(own);
  EXPECT_EQ(OtherHolders(name), 0u) << "only this process";
  ReadySignal first(Name("first"));
  ReadySignal second(Name("second"));
  auto holderA = StartHelper({"hold-event", name, first.name()});
  auto holderB = StartHelper({"hold-event", name, second.name()});
  ASSERT_TRUE(holderA && holderB);
  ASSERT_TRUE(first.Wait() && second.Wait());
  EXPECT_EQ(OtherHolders(name), 2u);
  KillAndReap(*holderA);
  EXPECT_EQ(OtherHolders(name), 1u) << "a killed holder is not counted";
  KillAndReap(*holderB);
  EXPECT_EQ(OtherHolders(name), 0u);
}

TEST_F(MultiProcessTest, AForkedChildIsAHolderOfItsOwn) {
  const std::string name = Name("forked");
  auto event = Event::CreateOrOpen(name, EventReset::Manual, false);
  ASSERT_TRUE(event);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Opens, sets and closes its own handle: the parent's stays counted.
    int code = 1;
    {
      auto own = Event::Open(name);
      if (own && own->existed() && own->Set()) code = 0;
    }
    ::_exit(code);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(WaitForOne(*event, 0).kind, WaitKind::Signalled);
  EXPECT_TRUE(Event::Open(name)) << "the child's close took only its own handle";
}

TEST_F(MultiProcessTest, TwoNamespacesNeverMeet) {
  const std::string name = Name("Event for Can Hardware");
  auto mine = Event::CreateOrOpen(name, EventReset::Manual, true);
  ASSERT_TRUE(mine);
  auto sameNamespace = StartHelper({"probe-event", name});
  ASSERT_TRUE(sameNamespace);
  ASSERT_EQ(WaitForOne(*sameNamespace, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(sameNamespace->exitCode(), 0u);

  const std::string other = namespace_ + "-other";
  ::setenv("VANTOR_NAMESPACE", other.c_str(), 1);
  auto otherNamespace = StartHelper({"probe-event", name});
  ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
  ASSERT_TRUE(otherNamespace);
  ASSERT_EQ(WaitForOne(*otherNamespace, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(otherNamespace->exitCode(), 1u);
}

TEST_F(MultiProcessTest, APostToALiveEndpointRunsOnItsLoopAndToADeadOneFails) {
  ASSERT_NO_FATAL_FAILURE(StartLoopServer());
  ASSERT_NE(token_, kNoEndpoint);

  ASSERT_EQ(PostCommand(token_, Command{0x1234, 0xBEEF}), OsError::Ok);
  ASSERT_EQ(PostCommand(token_, Command{kExitCommand, 0}), OsError::Ok);
  ASSERT_EQ(WaitForOne(server_, kDeadlineMs).kind, WaitKind::Signalled);
  EXPECT_EQ(server_.exitCode(), 101u) << "one command handled, then the exit command";
  std::uint32_t echoed[2] = {};
  std::memcpy(echoed, mapping_.data() + 4, sizeof echoed);
  EXPECT_EQ(echoed[0], 0x1234u);
  EXPECT_EQ(echoed[1], 0xBEEFu);
  EXPECT_EQ(PostCommand(token_, Command{kExitCommand, 0}), OsError::NotFound);
}

TEST_F(MultiProcessTest, AnEndpointOfAKilledProcessIsDead) {
  ASSERT_NO_FATAL_FAILURE(StartLoopServer());
  KillAndReap(server_);
  EXPECT_EQ(PostCommand(token_, Command{kExitCommand, 0}), OsError::NotFound);
  EXPECT_EQ(PostCommand(kNoEndpoint, Command{kExitCommand, 0}), OsError::NotFound);
}

// A namespace whose last process was killed never left it by itself; a
// program leaving the namespace afterwards takes what is left along, and
// leaves a namespace alone while anyone in it still runs.
class AbandonedNamespaceTest : public OsTest {
 protected:
  template <typename Work>
  auto InOther(Work&& work) {
    ::setenv("VANTOR_NAMESPACE", other_.c_str(), 1);
    auto result = work();
    ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
    return result;
  }

  void SetUp() override {
    OsTest::SetUp();
    // This process joins its own namespace first, so the other one is
    // one it never joined.
    ASSERT_TRUE(Event::CreateOrOpen(Name("joined"), EventReset::Manual, false));
    other_ = namespace_ + "-abandoned";
    note_ = ::testing::TempDir() + "abandoned-" + std::to_string(::getpid());
    ::unlink(note_.c_str());
    auto folder = InOther([] { return RuntimeDirectory(); });
    ASSERT_TRUE(folder);
    folder_ = *folder;
  }
  void TearDown() override {
    ::unlink(note_.c_str());
    ::setenv("VANTOR_NAMESPACE", namespace_.c_str(), 1);
  }

  // A helper in the other namespace that owns a mapping (so the folder
  // holds the table and a mapping file) and has noted so.
  Process StartHolder() {
    auto helper = InOther([&] { return StartHelper({"hold-mapping-note", Name("held"), note_}); });
    EXPECT_TRUE(helper);
    if (!helper) return Process{};
    for (std::uint32_t i = 0; i < kDeadlineMs / 5 && ::access(note_.c_str(), F_OK) != 0; ++i) Sleep(5);
    EXPECT_EQ(::access(note_.c_str(), F_OK), 0) << "the holder never got going";
    return helper.take();
  }

  void LeaveOther() {
    InOther([] {
      RemoveRuntimeDirectoryIfUnused();
      return 0;
    });
  }
  bool FolderExists() const { return ::access(folder_.c_str(), F_OK) == 0; }
  std::size_t FilesInFolder() const {
    std::size_t count = 0;
    if (DIR* dir = ::opendir(folder_.c_str())) {
      while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
      ::closedir(dir);
    }
    return count;
  }

  std::string other_;
  std::string note_;
  std::string folder_;
};

TEST_F(AbandonedNamespaceTest, WhatAKilledLastProcessLeftGoesWithTheNextLeaver) {
  Process holder = StartHolder();
  LeaveOther();
  ASSERT_TRUE(FolderExists()) << "the holder still runs";
  EXPECT_EQ(FilesInFolder(), 2u) << "its table and its mapping file";
  KillAndReap(holder);
  LeaveOther();
  EXPECT_FALSE(FolderExists());
}

TEST_F(AbandonedNamespaceTest, ATableFileKilledBeforeItWasFilledGoesToo) {
  const int fd = ::open((folder_ + "/objects.table").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  LeaveOther();
  EXPECT_FALSE(FolderExists());
}

TEST_F(AbandonedNamespaceTest, ANamespaceMadeAgainAfterwardsWorks) {
  Process holder = StartHolder();
  KillAndReap(holder);
  LeaveOther();
  ASSERT_FALSE(FolderExists());
  ::unlink(note_.c_str());
  Process again = StartHolder();
  EXPECT_TRUE(FolderExists());
  KillAndReap(again);
  LeaveOther();
  EXPECT_FALSE(FolderExists());
}

}  // namespace
}  // namespace vantor::os

// The real-time policy read back from the threads that took a role: where
// the machine permits it, every role of the cycle's path runs in its class,
// in the path's order; where it is refused the thread runs on at normal
// priority.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/os/realtime_policy.h"
#include "platform/os/tests/os_test_support.h"
#include "platform/os/tests/thread_classes.h"
#include "platform/os/thread.h"
#include "platform/os/wait.h"

namespace vantor::os {
namespace {

using testing::kDeadlineMs;
using testing::OsTest;
using testing::RealTimePermitted;

struct SeenClass {
  bool granted = false;
  int schedulingClass = -1;
  int level = -1;
};

SeenClass OwnClass() {
  SeenClass seen;
  seen.schedulingClass = ::sched_getscheduler(0);
  sched_param parameters{};
  ::sched_getparam(0, &parameters);
  seen.level = parameters.sched_priority;
  return seen;
}

// Applies `role` on a thread of its own and reads the class back there.
SeenClass ApplyOnFreshThread(RealTimeRole role) {
  SeenClass seen;
  std::thread([&] {
    const bool granted = ApplyRealTimeRole(role);
    seen = OwnClass();
    seen.granted = granted;
  }).join();
  return seen;
}

// The class a thread started at `priority` runs in, read back by the thread.
SeenClass StartedAt(ThreadPriority priority) {
  SeenClass seen;
  auto thread = Thread::Start(
      [&] {
        seen = OwnClass();
        return 0u;
      },
      priority);
  EXPECT_TRUE(thread);
  if (thread) {
    EXPECT_EQ(WaitForOne(*thread, kDeadlineMs).kind, WaitKind::Signalled);
  }
  return seen;
}

class RealTimePolicyTest : public OsTest {};

TEST_F(RealTimePolicyTest, TheCyclesPathRunsInItsClassesInThePathsOrder) {
  if (!RealTimePermitted()) GTEST_SKIP() << "real-time scheduling is not permitted here";
  // From the top of the path down: each below the one before it.
  constexpr std::array kPathOrder{RealTimeRole::kInterrupt, RealTimeRole::kDeferredCall,
                                  RealTimeRole::kRequestTransport, RealTimeRole::kKernelCycle,
                                  RealTimeRole::kServerThread};
  int above = sched_get_priority_max(SCHED_FIFO) + 1;
  for (const RealTimeRole role : kPathOrder) {
    const SeenClass seen = ApplyOnFreshThread(role);
    SCOPED_TRACE(std::string(RealTimeRoleName(role)));
    EXPECT_TRUE(seen.granted);
    EXPECT_EQ(seen.schedulingClass, SCHED_FIFO);
    EXPECT_LT(seen.level, above);
    EXPECT_GT(seen.level, 0);
    above = seen.level;
  }
  // The kernel starts its cycle thread above normal: the same class.
  const SeenClass cycle = ApplyOnFreshThread(RealTimeRole::kKernelCycle);
  const SeenClass aboveNormal = StartedAt(ThreadPriority::AboveNormal);
  EXPECT_EQ(aboveNormal.schedulingClass, cycle.schedulingClass);
  EXPECT_EQ(aboveNormal.level, cycle.level);
  EXPECT_FALSE(RealTimeReport().empty());
}

// Takes the right to real-time scheduling away from the calling thread (and
// the threads it starts), as on a machine that does not grant it.
bool DropRealTimeRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, 2> data{};
  if (::syscall(SYS_capget, &header, data.data()) != 0) return false;
  data[0].effective &= ~(1u << CAP_SYS_NICE);
  return ::syscall(SYS_capset, &header, data.data()) == 0;
}

class RefusedRealTimeTest : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    ASSERT_EQ(::getrlimit(RLIMIT_RTPRIO, &saved_), 0);
    rlimit none = saved_;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_RTPRIO, &none), 0);
  }
  void TearDown() override { ::setrlimit(RLIMIT_RTPRIO, &saved_); }

  rlimit saved_{};
};

TEST_F(RefusedRealTimeTest, ARefusedRoleLeavesTheThreadRunningAtNormalPriority) {
  SeenClass role;
  SeenClass started;
  std::thread([&] {
    ASSERT_TRUE(DropRealTimeRight());
    const bool granted = ApplyRealTimeRole(RealTimeRole::kInterrupt);
    role = OwnClass();
    role.granted = granted;
    started = StartedAt(ThreadPriority::AboveNormal);
  }).join();
  EXPECT_FALSE(role.granted);
  EXPECT_EQ(role.schedulingClass, SCHED_OTHER);
  EXPECT_EQ(started.schedulingClass, SCHED_OTHER) << "the thread still ran, at normal priority";
}

}  // namespace
}  // namespace vantor::os

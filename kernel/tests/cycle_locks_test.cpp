// The cycle's waits for its locks against a thread that holds one and never
// lets it go: the stop still ends the cycle, which leaves the lock to its
// holder. The cycle runs on its own, without a driver; it never gets as far
// as an exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <ostream>

#include "kernel/core/can_cycle.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/tests/driver_link_fixture.h"
#include "platform/os/thread.h"

namespace vantor::kernel::testing {
namespace {

constexpr std::uint32_t kGuardMs = 5000;

os::Event ManualEvent(bool signalled) {
  return os::Event::CreateUnnamed(os::EventReset::Manual, signalled).take();
}

os::Mutex FreeMutex() { return os::Mutex::CreateUnnamed(false).take(); }

// Everything a cycle needs, in CNC mode, with its lock set in place.
struct CycleBench {
  KernelData data;
  ApplicationCanRequest request;
  RecordingSteps steps;
  FilterHandOff filter;
  common::ExchangeBuffer exchange;
  os::DeviceHandle device;
  os::Event stop = ManualEvent(false);
  os::Event exchangeDone = ManualEvent(false);
  os::Event abortDone = ManualEvent(false);
  os::Mutex cycleMutex = FreeMutex();
  std::uint8_t heartbeat = common::communication_block::kHeartbeatLow;
  CycleLink link{data,         request,   steps,      filter,     exchange, device, stop,
                 exchangeDone, abortDone, cycleMutex, &heartbeat, 100,      {}};

  CycleBench() {
    data.motionMutex = FreeMutex();
    data.nodeConfiguration.mutex = FreeMutex();
    data.globalRequestMutex = FreeMutex();
    data.canObjectListMutex = FreeMutex();
    request.completion = ManualEvent(true);
    EXPECT_TRUE(filter.Create());
    data.state.SetCncInitialised(true);
  }

  bool HeartbeatToggled() const {
    return std::atomic_ref<const std::uint8_t>(heartbeat).load() !=
           common::communication_block::kHeartbeatLow;
  }
};

struct HeldLockCase {
  const char* name;
  // The cycle gets past the heartbeat before it meets the held lock.
  bool pastHeartbeat;
  std::function<bool(CycleBench&)> take;
  std::function<void(CycleBench&)> release;
};

void PrintTo(const HeldLockCase& c, std::ostream* out) { *out << c.name; }

class CycleLockTest : public ::testing::TestWithParam<HeldLockCase> {
 protected:
  // Before the first object: the process keeps the namespace of its first
  // object, unnamed ones included, and shares it with the driver link tests.
  static void SetUpTestSuite() { UseNamespaceOfThisProcess("cycle"); }
};

TEST_P(CycleLockTest, StopEndsACycleThatWaitsForALockAnotherThreadHolds) {
  const HeldLockCase& c = GetParam();
  CycleBench bench;
  ASSERT_TRUE(c.take(bench));
  auto cycle = os::Thread::Start([&bench] { return CanCycleThread(bench.link); }).take();
  if (c.pastHeartbeat) {
    ASSERT_TRUE(Eventually([&] { return bench.HeartbeatToggled(); }));
  }

  bench.stop.Set();
  const bool endedWhileHeld = os::WaitForOne(cycle, kGuardMs).acquired();
  // A cycle that missed the stop goes on once the lock is free, so that the
  // test itself ends.
  c.release(bench);
  ASSERT_TRUE(os::WaitForOne(cycle, 30000).acquired());
  EXPECT_TRUE(endedWhileHeld);
  EXPECT_EQ(cycle.exitCode(), kCycleEndedByStop);
  EXPECT_EQ(bench.steps.completedPending.load(), 1);
  EXPECT_EQ(bench.HeartbeatToggled(), c.pastHeartbeat);
  EXPECT_EQ(bench.steps.nodeSteps.load(), 0);
}

bool Take(const os::Mutex& mutex) { return os::WaitForOne(mutex, 0).acquired(); }

INSTANTIATE_TEST_SUITE_P(
    Locks, CycleLockTest,
    ::testing::Values(
        HeldLockCase{"cycle_mutex", false, [](CycleBench& b) { return Take(b.cycleMutex); },
                     [](CycleBench& b) { EXPECT_EQ(b.cycleMutex.Release(), os::OsError::Ok); }},
        HeldLockCase{"can_object_list", true,
                     [](CycleBench& b) { return LockCanObjectList(b.data); },
                     [](CycleBench& b) { UnlockCanObjectList(b.data); }},
        HeldLockCase{"global_request_slot", true,
                     [](CycleBench& b) { return LockGlobalRequestSlot(b.data); },
                     [](CycleBench& b) { UnlockGlobalRequestSlot(b.data); }},
        HeldLockCase{"kernel_data", true, [](CycleBench& b) { return LockKernelData(b.data); },
                     [](CycleBench& b) { UnlockKernelData(b.data); }}),
    [](const ::testing::TestParamInfo<HeldLockCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vantor::kernel::testing

// The driver link and the real-time cycle against the scripted driver:
// opening and closing, the run record, the masks, the heartbeat, the raw
// requests of the SDO area, and the cycle's error and time-out paths.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "common/exchange_buffer.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "kernel/tests/driver_link_fixture.h"
#include "platform/os/tests/thread_classes.h"

namespace vantor::kernel::testing {
namespace {

using namespace std::chrono_literals;

// ---- Opening -------------------------------------------------------------------

struct RunRecordCase {
  const char* name;
  StartSettings settings;
  std::array<std::uint8_t, common::kRunRecordSize> expected;
};

void PrintTo(const RunRecordCase& c, std::ostream* out) { *out << c.name; }

class OpenCanDeviceTest : public DriverLinkFixture,
                          public ::testing::WithParamInterface<RunRecordCase> {};

TEST_P(OpenCanDeviceTest, OpensTwiceStartsTheRunSetsTheMasksAndReadsTheVersion) {
  const RunRecordCase& c = GetParam();
  ASSERT_EQ(Open(c.settings), common::kKernelSuccess);

  EXPECT_EQ(driver().Opens(), 2);
  EXPECT_EQ(driver().RunStarts(), 1);
  const auto run = driver().LastRunRecord();
  ASSERT_TRUE(run.has_value());
  const auto bytes = run->Bytes();
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), c.expected.begin()));
  // The cycle took the masks before the opening returned; the driver writes
  // them at the end of that exchange.
  EXPECT_TRUE(Eventually([&] { return driver().GlobalMask().has_value(); }));
  EXPECT_EQ(driver().GlobalMask(), 0x7FF);
  EXPECT_EQ(driver().ReceiveObjectMask(), 0x7FF);
  EXPECT_EQ(link_->DriverVersionText(), "01.70.00.10");
  EXPECT_TRUE(link_->IsOpen());
  EXPECT_TRUE(CycleRuns());
}

INSTANTIATE_TEST_SUITE_P(
    CycleDividers, OpenCanDeviceTest,
    ::testing::Values(
        // 2048 us is four ticks of 512 us, plus one.
        RunRecordCase{
            "interrupt_cycle_2048",
            {2, 1, 3, 1, 2048, 10000, 300},
            {2, 1, 1, 4, 3, 0, 5, 0, 1, 0, 0, 0, 0xF2, 0x01, 0, 0, 20, 0, 0, 0, 0x2C, 0x01, 0, 0}},
        RunRecordCase{
            "interrupt_cycle_0", {0, 2, 7, 0, 0, 0, 0}, {0,    2,    0, 4, 7, 0, 1, 0, 1, 0, 0, 0,
                                                         0xF2, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        // A cycle too long for the 16-bit divider is not wrapped to a short one.
        RunRecordCase{
            "interrupt_cycle_beyond_the_field",
            {2, 1, 3, 0, 0xFFFFFFFF, 0, 0},
            {2, 1, 0, 4, 3, 0, 0xFF, 0x7F, 1, 0, 0, 0, 0xF2, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<RunRecordCase>& info) { return info.param.name; });

TEST_F(DriverLinkFixture, NoCanOpensOneHandleAndStartsNoCycle) {
  ASSERT_EQ(Open({}, common::Channel::NoCan), common::kKernelSuccess);
  EXPECT_EQ(driver().Opens(), 1);
  EXPECT_EQ(driver().RunStarts(), 0);
  EXPECT_EQ(link_->CycleThread(), nullptr);
  EXPECT_TRUE(link_->IsOpen());
  EXPECT_EQ(link_->DriverVersionText(), "");
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(driver().ExchangesReceived(), 0u);
}

TEST_F(DriverLinkFixture, Pc104InterfaceRunsTheCycleWithoutARunRequest) {
  StartSettings settings;
  settings.interfaceType = 1;
  ASSERT_EQ(Open(settings), common::kKernelSuccess);
  EXPECT_EQ(driver().Opens(), 2);
  EXPECT_EQ(driver().RunStarts(), 0);
  EXPECT_TRUE(Eventually([&] { return driver().GlobalMask() == 0x7FF; }));
  EXPECT_TRUE(CycleRuns());
}

struct OpenFailureCase {
  const char* name;
  StartSettings settings;
  common::StatusCode runAnswer;
  common::StatusCode expected;
  bool driverStalled = false;
};

void PrintTo(const OpenFailureCase& c, std::ostream* out) { *out << c.name; }

class OpenFailureTest : public DriverLinkFixture,
                        public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ClosesWhateverWasOpened) {
  const OpenFailureCase& c = GetParam();
  driver().SetRunAnswer(c.runAnswer);
  driver().Stall(c.driverStalled);
  EXPECT_EQ(Open(c.settings), c.expected);
  EXPECT_FALSE(link_->IsOpen());
  EXPECT_EQ(link_->CycleThread(), nullptr);
  EXPECT_TRUE(Eventually([&] { return driver().Cleanups() == driver().Opens(); }));
  EXPECT_FALSE(driver().RunActive());
  // A later opening starts from a clean link.
  driver().SetRunAnswer(common::kDriverSuccess);
  driver().Stall(false);
  EXPECT_EQ(Open(), common::kKernelSuccess);
  EXPECT_TRUE(CycleRuns());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, OpenFailureTest,
    ::testing::Values(OpenFailureCase{"device_missing",
                                      {2, 1, 3, 1, 2048, 0, 0, 1500, "tarnis9"},
                                      common::kDriverSuccess,
                                      common::kKernelDriverMissing},
                      OpenFailureCase{"run_refused",
                                      {},
                                      common::kDriverInvalidRunRecord,
                                      common::kDriverInvalidRunRecord},
                      OpenFailureCase{"unknown_interface_type",
                                      {7, 1, 3, 1, 2048, 0, 0},
                                      common::kDriverSuccess,
                                      common::kKernelInitParameterInvalid},
                      // The cycle's first exchange times out within the start-up check.
                      OpenFailureCase{"cycle_ends_within_the_start_check",
                                      {2, 1, 3, 1, 2048, 0, 0, 1},
                                      common::kDriverSuccess,
                                      common::kDriverNoController,
                                      true}),
    [](const ::testing::TestParamInfo<OpenFailureCase>& info) { return info.param.name; });

TEST_F(DriverLinkFixture, ClosingStopsTheCycleAndEndsTheRun) {
  ASSERT_EQ(Open(), common::kKernelSuccess);
  link_->CloseCanDevice();

  EXPECT_FALSE(link_->IsOpen());
  EXPECT_EQ(link_->CycleExitCode(), kCycleEndedByStop);
  // The ended thread stays visible, signalled: the cycle no longer runs.
  EXPECT_FALSE(CycleRuns());
  EXPECT_TRUE(Eventually([&] { return driver().Cleanups() == 2; }));
  EXPECT_EQ(driver().RunEnds(), 1);
  EXPECT_EQ(driver().PortReports(), 1);
  EXPECT_EQ(steps_.completedPending.load(), 1);
  EXPECT_EQ(data_.state.cycleRunning, 0u);

  link_->CloseCanDevice();
  EXPECT_EQ(driver().PortReports(), 1);
  EXPECT_EQ(driver().RunEnds(), 1);
}

TEST_F(DriverLinkFixture, ClosingANeverOpenedLinkDoesNothing) {
  link_->CloseCanDevice();
  EXPECT_FALSE(link_->IsOpen());
  EXPECT_EQ(driver().Opens(), 0);
}

// ---- The cycle -------------------------------------------------------------------

TEST_F(DriverLinkFixture, HeartbeatAlternatesOncePerCycle) {
  ASSERT_EQ(Open(), common::kKernelSuccess);
  driver().StopPacing();
  // While the driver holds an exchange the cycle stands still.
  ASSERT_TRUE(Eventually([&] { return driver().ExchangeHeld(); }));
  std::vector<std::uint8_t> beats;
  for (int i = 0; i < 6; ++i) {
    const std::uint64_t before = driver().ExchangesReceived();
    ASSERT_TRUE(driver().Tick());
    ASSERT_TRUE(driver().AwaitExchanges(before + 1, 10s));
    beats.push_back(Heartbeat());
  }
  for (std::size_t i = 0; i < beats.size(); ++i) {
    EXPECT_TRUE(beats[i] == 0x00 || beats[i] == 0xFF) << i;
    if (i > 0) {
      EXPECT_NE(beats[i], beats[i - 1]) << i;
    }
  }
}

TEST_F(DriverLinkFixture, CncModeRunsTheNodeStepsAndMotionOnlyWhileTheBusIsInOrder) {
  OpenInCncMode();
  ASSERT_FALSE(HasFatalFailure());

  driver().SetExchangeStatus(common::kDriverBusOff);
  ASSERT_TRUE(Eventually([&] {
    LockKernelData(data_);
    const bool lost = data_.state.busOk == 0;
    UnlockKernelData(data_);
    return lost;
  }));
  // Node steps still run before every exchange; motion no longer does.
  const int motion = steps_.motion.load();
  const int nodeSteps = steps_.nodeSteps.load();
  ASSERT_TRUE(Eventually([&] { return steps_.nodeSteps.load() >= nodeSteps + 3; }));
  EXPECT_EQ(steps_.motion.load(), motion);
  data_.state.SetCncInitialised(false);
}

// Puts the thread `threadId` (0: the calling one) on one processor.
bool PinToProcessor(pid_t threadId, int processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(processor, &set);
  return ::sched_setaffinity(threadId, sizeof(set), &set) == 0;
}

int FirstAllowedProcessor() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
  for (int processor = 0; processor < CPU_SETSIZE; ++processor) {
    if (CPU_ISSET(processor, &set)) return processor;
  }
  return 0;
}

// The cycle goes from one exchange straight on to the next, holding the
// kernel's locks through each: a handler that waits for them must still get
// them between two cycles, every time, and the cycle must go on after it.
// Both run on one processor, where the cycle (real-time where permitted)
// would take its locks again before the handler ever ran.
TEST_F(DriverLinkFixture, AHandlerWaitingForTheKernelDataLockGetsItBetweenTwoCycles) {
  OpenInCncMode();
  ASSERT_FALSE(HasFatalFailure());
  const auto cycle = os::testing::ThreadsNamed(::getpid(), kCycleThreadName);
  ASSERT_EQ(cycle.size(), 1u);
  const int processor = FirstAllowedProcessor();
  ASSERT_TRUE(PinToProcessor(cycle[0].threadId, processor));

  constexpr int kRounds = 50;
  std::atomic<int> rounds{0};
  std::thread handler([&] {
    ASSERT_TRUE(PinToProcessor(0, processor));
    for (int i = 0; i < kRounds; ++i) {
      // Each round asks while the cycle holds the lock through its
      // exchange, and sleeps until the cycle lets it go.
      const int motion = steps_.motion.load();
      while (steps_.motion.load() == motion && CycleRuns()) std::this_thread::yield();
      std::this_thread::sleep_for(500us);
      if (!LockKernelData(data_)) return;
      UnlockKernelData(data_);
      ++rounds;
    }
  });
  EXPECT_TRUE(Eventually([&] { return rounds.load() == kRounds; }))
      << "the handler got the lock " << rounds.load() << " times";
  const int motion = steps_.motion.load();
  EXPECT_TRUE(Eventually([&] { return steps_.motion.load() >= motion + 3; }));
  data_.state.SetCncInitialised(false);
  // Closing stops the cycle, which lets a starved handler go.
  link_->CloseCanDevice();
  handler.join();
}

TEST_F(DriverLinkFixture, BadDriverStatusPutsTheCycleOnItsErrorPath) {
  ASSERT_EQ(Open(), common::kKernelSuccess);
  data_.state.busOk = 1;
  driver().StopPacing();
  ASSERT_TRUE(Eventually([&] { return driver().ExchangeHeld(); }));
  driver().SetExchangeStatus(common::kDriverBusOff);

  const std::size_t firstBad = driver().ExchangeCompletions().size();
  for (int i = 0; i < 4; ++i) {
    const std::uint64_t before = driver().ExchangesReceived();
    ASSERT_TRUE(driver().Tick());
    ASSERT_TRUE(driver().AwaitExchanges(before + 1, 10s));
  }
  // Each exchange after a bad one comes at least the error pause later. The
  // arrival of exchange k + 1 follows the completion of exchange k.
  const auto completions = driver().ExchangeCompletions();
  const auto arrivals = driver().ExchangeArrivals();
  ASSERT_EQ(completions.size(), firstBad + 4);
  ASSERT_EQ(arrivals.size(), completions.size() + 1);
  for (std::size_t k = firstBad; k < completions.size(); ++k) {
    EXPECT_GE(arrivals[k + 1] - completions[k], 20ms) << k;
  }
  EXPECT_TRUE(CycleRuns());
  EXPECT_GE(steps_.droppedEvents.load(), 4);

  // The cycle survives: a good status brings the normal pace back.
  driver().SetExchangeStatus(common::kDriverSuccess);
  driver().StartPacing(2ms);
  const std::uint64_t now = driver().ExchangesReceived();
  EXPECT_TRUE(driver().AwaitExchanges(now + 10, 10s));
}

TEST_F(DriverLinkFixture, StalledExchangeEndsTheCycleThroughItsTimeoutPath) {
  StartSettings settings;
  // Long enough that a paced driver the loaded machine keeps waiting does
  // not end the cycle before the stall.
  settings.exchangeTimeoutMs = 1000;
  ASSERT_EQ(Open(settings), common::kKernelSuccess);
  data_.state.cycleRunning = 1;
  driver().Stall(true);

  ASSERT_TRUE(CycleEnds());
  EXPECT_EQ(link_->CycleExitCode(), kCycleEndedByTimeout);
  EXPECT_EQ(driver().Aborts(), 1);
  EXPECT_FALSE(driver().ExchangeHeld());
  EXPECT_EQ(data_.state.cycleRunning, 0u);
  EXPECT_EQ(steps_.completedPending.load(), 1);
  // The link stays open; closing it later only closes the handles.
  EXPECT_TRUE(link_->IsOpen());
  link_->CloseCanDevice();
  EXPECT_TRUE(Eventually([&] { return driver().RunEnds() == 1; }));
  EXPECT_EQ(steps_.completedPending.load(), 1);
}

TEST_F(DriverLinkFixture, ClosingReachesACycleWhoseExchangeTheDriverHolds) {
  StartSettings settings;
  settings.exchangeTimeoutMs = 0xFFFFFFFFu;
  ASSERT_EQ(Open(settings), common::kKernelSuccess);
  driver().Stall(true);
  ASSERT_TRUE(Eventually([&] { return driver().ExchangeHeld(); }));

  // Closing takes no longer than the driver needs to give the exchange
  // back, however long the cycle would wait for it.
  auto closer = os::Thread::Start([this] {
                  link_->CloseCanDevice();
                  return 0u;
                }).take();
  const bool closedInTime = os::WaitForOne(closer, 5000).acquired();
  // A cycle that missed the stop goes on once the driver answers again, so
  // that the test itself ends.
  driver().Stall(false);
  ASSERT_TRUE(os::WaitForOne(closer, 30000).acquired());
  EXPECT_TRUE(closedInTime);
  EXPECT_EQ(link_->CycleExitCode(), kCycleEndedByStop);
  EXPECT_EQ(driver().Aborts(), 1);
  EXPECT_FALSE(driver().ExchangeHeld());
  EXPECT_EQ(steps_.completedPending.load(), 1);
  EXPECT_TRUE(Eventually([&] { return driver().RunEnds() == 1; }));
}

TEST_F(DriverLinkFixture, ZeroExchangeTimeoutMeansTheDefault) {
  StartSettings settings;
  settings.exchangeTimeoutMs = 0;
  ASSERT_EQ(Open(settings), common::kKernelSuccess);
  // A slow driver is waited for instead of ending the cycle at once.
  driver().StopPacing();
  std::this_thread::sleep_for(30ms);
  // Counted before the held exchange is completed: the next one may arrive
  // before this thread runs again.
  const std::uint64_t held = driver().ExchangesReceived();
  ASSERT_TRUE(driver().Tick());
  ASSERT_TRUE(driver().AwaitExchanges(held + 1, 10s));
  EXPECT_TRUE(CycleRuns());
}

}  // namespace
}  // namespace vantor::kernel::testing

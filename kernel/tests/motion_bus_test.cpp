// The cycle's motion processing over the real channel-1 driver and
// simulated drives: after a reset, line segments queued as a move command
// queues them are interpolated into the drives' set-points, a drive fault
// stops every drive, held node mutexes postpone the stop and the
// resumption, and a handling axis no longer ready is halted.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "kernel/core/planning_limits.h"
#include "kernel/tests/motion_bus_fixture.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

using testing::kOk;
using testing::MotionOnTheBus;
using namespace std::chrono_literals;

constexpr std::uint16_t kQuickStopControlword = 0x0002;

// X on drive 1, Y on drive 2; drive 3 on the bus but not configured.
class MotionOnTheBusTest : public MotionOnTheBus {
 protected:
  MotionOnTheBusTest() : MotionOnTheBus({}) {}
};

TEST_F(MotionOnTheBusTest, TheResetLeavesTheDrivesRunningAndTheSynchronisationArmed) {
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.syncRunning, 1u);
    EXPECT_EQ(data.state.quickStopping, 0u);
    EXPECT_EQ(data.state.stopped, 0u);
    return 0;
  });
  // Planning moves with the limits the drives gave: their maximum velocity
  // and acceleration, a jerk reaching the full acceleration in the time the
  // full acceleration takes to the full velocity.
  for (std::uint8_t id : {1, 2}) {
    const auto object = [&](std::uint16_t index) {
      return static_cast<double>(
          Models([&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(index, 0); }));
    };
    const double velocity = object(0x2040);
    const double acceleration = object(0x60C5);
    ASSERT_GT(velocity, 0.0);
    UnderLock([&](KernelData& data) {
      const motion::NodeLimits& limits = data.planning.nodeLimits[id - 1u];
      EXPECT_EQ(limits.maxVelocity, velocity) << "drive " << int{id};
      EXPECT_EQ(limits.maxAcceleration, acceleration);
      EXPECT_EQ(limits.maxJerk, acceleration * acceleration / velocity);
      EXPECT_EQ(limits.kv, kAssumedPositionLoopGain);
      return 0;
    });
  }
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(DriveState(id) & 0x6F, 0x27) << "drive " << int{id} << " operation enabled";
    EXPECT_TRUE(LoggedControlwords(id).empty()) << "drive " << int{id};
  }
}

TEST_F(MotionOnTheBusTest, DrivesEndAtTheTargetsOfTheQueuedLines) {
  QueueLines({{1000.0, 500.0}, {2000.0, -800.0}});
  ASSERT_TRUE(WaitFor([](KernelData& data) { return data.state.motionActive == 0; }));
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.quickStopping, 0u);
    EXPECT_EQ(data.state.stopped, 0u);
    return 0;
  });
  // The motion ends once the drives' buffers are empty; the last set-point
  // still plays out.
  EXPECT_TRUE(WaitForPositions(2000, -800))
      << "drives at " << PositionOf(1) << ", " << PositionOf(2);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u)
        << "drive " << int{id} << " was sent more set-points than its buffer holds";
  }
}

TEST_F(MotionOnTheBusTest, APathEventIsSetOnceTheDrivesHavePassedItsPoint) {
  const std::string name = "motion-bus-event-" + std::to_string(getpid());
  {
    KernelDataLock lock(kernel_.data);
    kernel_.data.motionRuntime.setPathEvent = SetKernelPathEvent;
  }
  // The whole path is queued before the motion starts.
  QueueLines({{1000.0, 0.0}}, Start::Later);
  QueueEvent(name);
  QueueLines({{2000.0, 0.0}});
  auto event = os::Event::Open(name);
  ASSERT_TRUE(event);
  ASSERT_EQ(os::WaitForOne(event.value(), 60000).kind, os::WaitKind::Signalled);
  EXPECT_GE(PositionOf(1), 990) << "set before the drive reached the first line's end";
  EXPECT_LT(PositionOf(1), 2000) << "set only at the end of the path";
  EXPECT_TRUE(WaitForPositions(2000, 0));
}

TEST_F(MotionOnTheBusTest, ADriveFaultMidPathQuickStopsTheEnabledDrivesAndEmptiesTheQueue) {
  const std::string name = "motion-bus-dropped-" + std::to_string(getpid());
  UnderLock([](KernelData& data) {
    data.motionRuntime.setPathEvent = SetKernelPathEvent;
    return 0;
  });
  QueueLines({{4000.0, 4000.0}}, Start::Later);
  QueueEvent(name);
  QueueLines({{8000.0, 0.0}});
  auto event = os::Event::Open(name);
  ASSERT_TRUE(event);
  // Under way: the first drive has left its start.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (PositionOf(1) < 500 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(2ms);
  }
  ASSERT_GE(PositionOf(1), 500);
  Models([&](sim::Machine&) {
    Drive(2).InjectFault(0x8611);
    return 0;
  });
  ASSERT_TRUE(WaitFor([](KernelData& data) { return data.state.stopped != 0; }));
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.motionActive, 0u);
    EXPECT_EQ(data.state.quickStopping, 0u);
    EXPECT_EQ(data.motionRuntime.path.queue.head, nullptr);
    EXPECT_EQ(data.motionRuntime.path.queue.count, 0);
    return 0;
  });
  EXPECT_LT(PositionOf(1), 8000) << "the path did not run to its end";
  // The drive still enabled is quick-stopped; the faulted one is left in
  // its fault.
  const std::vector<std::uint16_t> words = LoggedControlwords(1);
  EXPECT_NE(std::find(words.begin(), words.end(), kQuickStopControlword), words.end());
  const std::vector<std::uint16_t> faulted = LoggedControlwords(2);
  EXPECT_EQ(std::find(faulted.begin(), faulted.end(), kQuickStopControlword), faulted.end());
  EXPECT_EQ(DriveState(1) & 0x6F, 0x07) << "drive 1 quick stop active";
  EXPECT_NE(DriveState(2) & 0x08, 0) << "drive 2 in its fault (reaction)";
  // The event behind the stop point was dropped, never set.
  EXPECT_EQ(os::WaitForOne(event.value(), 0).kind, os::WaitKind::Timeout);
}

// A caller waiting in code 27 for the path to come to rest is released by
// a drive fault that stops the drives before the ramp has ended.
TEST_F(MotionOnTheBusTest, ADriveFaultReleasesACallerWaitingForTheStop) {
  // So fast that the ramp down takes many cycles.
  constexpr double kFast = 200000.0;
  QueueLines({{400000.0, 0.0}}, Start::Now, kFast);
  ASSERT_TRUE(WaitUntilUnderWay(1, 20000));
  // The fault comes in the first cycle after the caller asked for the stop.
  bool injected = false;
  UnderLock([&](KernelData& data) {
    beforeEveryCycle_ = [&] {
      if (injected || data.state.motionStop == 0) return;
      InjectFault(2);
      injected = true;
    };
    return 0;
  });
  kernel_.Block().Store<std::uint32_t>(common::communication_block::kPayloadOffset, 1u);
  auto waiter = std::async(std::launch::async, [&] {
    const common::StatusCode result = Run(27);
    return std::pair{result, UnderLock([](KernelData& data) { return data.state.stopped; })};
  });
  if (waiter.wait_for(60s) != std::future_status::ready) {
    ADD_FAILURE() << "the caller was never released";
    UnderLock([&](KernelData&) {
      beforeEveryCycle_ = [&] { EndTheCycle(); };
      return 0;
    });
  }
  const auto [result, stoppedWhenAnswered] = waiter.get();
  EXPECT_EQ(result, kOk);
  EXPECT_EQ(stoppedWhenAnswered, 1u) << "released by the ramp's end, not by the drive stop";
  UnderLock([&](KernelData& data) {
    beforeEveryCycle_ = nullptr;
    EXPECT_TRUE(injected);
    EXPECT_EQ(data.state.motionStop, 0u);
    EXPECT_EQ(data.motionRuntime.path.queue.head, nullptr);
    return 0;
  });
  const std::vector<std::uint16_t> words = LoggedControlwords(1);
  EXPECT_NE(std::find(words.begin(), words.end(), kQuickStopControlword), words.end());
  EXPECT_LT(PositionOf(1), 400000);
}

// Node mutexes held by a command elsewhere keep the stop and the drives'
// resumption back, with the ring stopped, until they are free again.
TEST_F(MotionOnTheBusTest, NodeMutexesHeldElsewherePostponeResumptionAndStop) {
  std::promise<void> taken;
  std::promise<void> release;
  auto holder = std::async(std::launch::async, [&] {
    const NodeObject& node = *kernel_.data.nodeConfiguration.Node(1);
    const bool acquired = os::WaitForOne(node.accessMutex, 10000).acquired();
    taken.set_value();
    release.get_future().wait();
    if (acquired) static_cast<void>(node.accessMutex.Release());
    return acquired;
  });
  taken.get_future().wait();
  QueueLines({{3000.0, 0.0}});
  // A while of the bus's time: nothing resumes, nothing moves.
  const int from = cycles_;
  ASSERT_TRUE(WaitFor([&](KernelData&) { return cycles_ >= from + 100; }));
  UnderLock([&](KernelData& data) {
    EXPECT_EQ(data.state.resuming, 0u);
    EXPECT_EQ(data.motionRuntime.nodes[0].answerValid, 1u);
    return 0;
  });
  EXPECT_TRUE(RingStopped());
  EXPECT_EQ(PositionOf(1), 0);
  release.set_value();
  ASSERT_TRUE(holder.get());
  ASSERT_TRUE(WaitForPositions(3000, 0));

  // Now the stop: the node held again while the path runs, a fault stops
  // the ring at once but the drives only once the node is free.
  QueueLines({{12000.0, 0.0}});
  ASSERT_TRUE(WaitUntilUnderWay(1, 3500));
  std::promise<void> takenAgain;
  std::promise<void> releaseAgain;
  auto secondHolder = std::async(std::launch::async, [&] {
    const NodeObject& node = *kernel_.data.nodeConfiguration.Node(1);
    const bool acquired = os::WaitForOne(node.accessMutex, 10000).acquired();
    takenAgain.set_value();
    releaseAgain.get_future().wait();
    if (acquired) static_cast<void>(node.accessMutex.Release());
    return acquired;
  });
  takenAgain.get_future().wait();
  ClearDriveLog(1);
  InjectFault(2);
  ASSERT_TRUE(WaitFor([](KernelData& data) { return data.state.motionActive == 0; }));
  const int faulted = cycles_;
  ASSERT_TRUE(WaitFor([&](KernelData&) { return cycles_ >= faulted + 100; }));
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.quickStopping, 0u);
    EXPECT_EQ(data.state.stopped, 0u);
    EXPECT_EQ(data.state.motionActive, 0u);
    return 0;
  });
  EXPECT_TRUE(RingStopped());
  EXPECT_TRUE(LoggedControlwords(1).empty()) << "no quick stop while the node is held";
  releaseAgain.set_value();
  ASSERT_TRUE(secondHolder.get());
  ASSERT_TRUE(WaitFor([](KernelData& data) { return data.state.stopped != 0; }));
  EXPECT_LT(PositionOf(1), 12000);
  const std::vector<std::uint16_t> words = LoggedControlwords(1);
  EXPECT_NE(std::find(words.begin(), words.end(), kQuickStopControlword), words.end());
}

// Six interpolated drives, three of them on the path, on a bus at 1 Mbit/s:
// six nearly fill 500 kbit/s at this cycle.
class SixAxesOnTheBusTest : public MotionOnTheBus {
 protected:
  SixAxesOnTheBusTest()
      : MotionOnTheBus({.drives = 6, .nodes = 6, .axes = 6, .pathAxes = 3, .bitRateCode = 7}) {}
};

TEST_F(SixAxesOnTheBusTest, SixDrivesEndAtTheTargetsOfTheQueuedLines) {
  const std::vector<std::int32_t> targets = {-300, 1200, 900, 2500, 0, -700};
  QueueLines({{1000.0, -500.0, 250.0, 2000.0, -1500.0, 700.0},
              {-300.0, 1200.0, 900.0, 2500.0, 0.0, -700.0}});
  ASSERT_TRUE(WaitFor([](KernelData& data) { return data.state.motionActive == 0; }));
  UnderLock([](KernelData& data) {
    EXPECT_EQ(data.state.quickStopping, 0u);
    EXPECT_EQ(data.state.stopped, 0u);
    return 0;
  });
  EXPECT_TRUE(WaitForPositions(targets));
  for (std::uint8_t id = 1; id <= 6; ++id) {
    EXPECT_EQ(PositionOf(id), targets[id - 1u]) << "drive " << int{id};
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u)
        << "drive " << int{id} << " was sent more set-points than its buffer holds";
  }
}

// Drives 1 and 2 interpolated, drive 3 a handling axis.
class HandlingAxisOnTheBusTest : public MotionOnTheBus {
 protected:
  HandlingAxisOnTheBusTest() : MotionOnTheBus({.drives = 3, .nodes = 3}) {}
};

// A handling axis that is no longer ready while the path may move is
// halted by a controlword frame on its receive PDO: 0x080F with its mode
// word set, else 0x010F; the interpolated drives are left running.
TEST_F(HandlingAxisOnTheBusTest, AHandlingAxisNoLongerReadyIsHaltedByAControlwordFrame) {
  struct Case {
    std::int32_t modeWord;
    const char* data;  // the controlword, low byte first
  };
  for (const Case& c : {Case{0, "0F01"}, Case{1, "0F08"}}) {
    if (c.modeWord != 0) {
      // The halt holds until a reset.
      ASSERT_NO_FATAL_FAILURE(ResetWithDrivesHomed());
    }
    LogTheBus();
    const std::uint16_t cobId = UnderLock([&](KernelData& data) {
      EXPECT_EQ(data.motionRuntime.halted, 0u) << c.modeWord;
      canopen::NodeObject& can = *data.nodeConfiguration.Node(2)->can;
      can.handlingMode = c.modeWord;
      // Its reference lost.
      SetHomed(data, 2, false);
      return can.controlRpdoCobId;
    });
    ASSERT_TRUE(WaitFor([](KernelData& data) { return data.motionRuntime.halted != 0; }));
    UnderLock([&](KernelData& data) {
      EXPECT_EQ(data.state.haltOk, 1u) << c.modeWord;
      EXPECT_EQ(data.state.quickStopping + data.state.stopped, 0u) << c.modeWord;
      return 0;
    });
    char frame[32];
    std::snprintf(frame, sizeof frame, " can0 %03X#%s\n", unsigned{cobId}, c.data);
    EXPECT_NE(BusLog().find(frame), std::string::npos) << frame << "\n" << BusLog().substr(0, 4000);
    for (std::uint8_t id : {1, 2}) {
      const std::vector<std::uint16_t> words = LoggedControlwords(id);
      EXPECT_EQ(std::find(words.begin(), words.end(), kQuickStopControlword), words.end());
    }
  }
}

}  // namespace
}  // namespace vantor::kernel

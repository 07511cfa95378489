// The cycle's motion processing over the real channel-1 driver and
// simulated drives: after a reset, line segments queued as a move command
// queues them are interpolated into the drives' set-points, and a drive
// fault stops every drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/core/planning_limits.h"
#include "kernel/core/velocity_output.h"
#include "kernel/services/path_events.h"
#include "kernel/tests/kernel_bus_fixture.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

using canopen::testing::BusDrive;
using common::StatusCode;
using testing::KernelBusFixture;
using namespace std::chrono_literals;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr std::uint16_t kQuickStopControlword = 0x0002;
constexpr double kBootWaitMicroseconds = 200000.0;
constexpr double kPathVelocity = 5000.0;  // units/s

std::vector<BusDrive> Drives() {
  std::vector<BusDrive> drives(3);
  for (BusDrive& drive : drives) drive.guarding = {100, 3};
  return drives;
}

class MotionOnTheBusTest : public KernelBusFixture {
 protected:
  // While the ring runs the driver holds the exchange until the drives
  // have taken their queued entries.
  MotionOnTheBusTest() : KernelBusFixture(Drives()) { exchangeAnswerCycles_ = 200; }

  // X on drive 1, Y on drive 2; the cycle's motion processing runs after
  // every exchange from the reset on.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle(
                  {.nodes = {{1, 0}, {2, 0}}, .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    afterExchange_ = [this](common::ExchangeBuffer& exchange) { steps_.ProcessMotion(exchange); };
    ASSERT_EQ(Run(15), kOk);
    // The drives stand where homing would have left them.
    {
      KernelDataLock lock(kernel_.data);
      for (std::uint32_t i = 0; i < 2; ++i) {
        canopen::NodeObject& node = *kernel_.data.nodeConfiguration.Node(i)->can;
        node.latched.Set(StatusFlag::D, true);
        node.current.Set(StatusFlag::D, true);
      }
    }
    for (std::uint8_t id : {1, 2}) ClearDriveLog(id);
  }

  void TearDown() override {
    StopTheCycle();
    motion::PathFlags flags;
    motion::ClearSegmentQueue(kernel_.data.motionRuntime.path, flags);
    FreeRetiredSegments(kernel_.data, events_);
    KernelBusFixture::TearDown();
  }

  template <typename Look>
  auto UnderLock(Look look) {
    KernelDataLock lock(kernel_.data);
    return look(kernel_.data);
  }

  // Waits (bounded) until `done` holds under the kernel data lock.
  bool WaitFor(const std::function<bool(KernelData&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (UnderLock(done)) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  // Queues absolute lines through the given (X, Y) points and starts the
  // motion as a move command does.
  enum class Start { Now, Later };
  void QueueLines(const std::vector<std::array<double, 2>>& points, Start start = Start::Now) {
    UnderLock([&](KernelData& data) {
      std::vector<motion::CoordinateInput> coordinates(2);
      for (motion::CoordinateInput& coordinate : coordinates) coordinate.onPath = true;
      // The limits the reset took from the drives.
      const std::span<const motion::NodeLimits> limits(data.planning.nodeLimits.data(), 2);
      const motion::PlaneRotation rotation{};
      const motion::PlanningContext context{data.motion.path, rotation, false, coordinates, limits};
      motion::PathMotion& path = data.motionRuntime.path;
      for (const auto& point : points) {
        const std::vector<motion::CommandValue> values{{point[0], true}, {point[1], true}};
        auto* segment = new motion::PathSegment;
        const motion::LinearMove move{false, true, false, values};
        if (!motion::PrepareLinearSegment(move, path.queue.tail, *segment, context)) {
          delete segment;
          ADD_FAILURE() << "line to " << point[0] << ", " << point[1] << " refused";
          return 0;
        }
        motion::AppendSegment(path.queue, *segment);
      }
      if (start == Start::Later) return 0;
      // As a single move starts: the ramp at rest, the programmed velocity
      // chosen.
      path.ramp = {};
      path.segmentFinished = true;
      path.programmedVelocity = kPathVelocity;
      data.state.motionActive = 1;
      data.state.pathActive = 1;
      return 0;
    });
  }

  // Queues the named event of a path behind the lines queued so far.
  void QueueEvent(std::string_view name) {
    UnderLock([&](KernelData& data) {
      auto* segment = new motion::PathSegment;
      if (!motion::PrepareEventSegment(name, *segment, events_)) {
        delete segment;
        ADD_FAILURE() << "event " << name << " refused";
        return 0;
      }
      motion::AppendSegment(data.motionRuntime.path.queue, *segment);
      return 0;
    });
  }

  std::int32_t PositionOf(std::uint8_t id) {
    return Models([&](sim::Machine&) { return Drive(id).ReportedPosition(); });
  }

  // Waits (bounded) until drives 1 and 2 report the positions.
  bool WaitForPositions(std::int32_t first, std::int32_t second) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (PositionOf(1) == first && PositionOf(2) == second) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  CanObjectCycleSteps steps_{kernel_.data, kernel_.canObjects};
  KernelPathEvents events_;
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
  QueueLines({{4000.0, 4000.0}, {8000.0, 0.0}});
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
}

// The velocity-proportional output follows the path: its value rises with
// the path velocity while the drives move and falls back to its offset once
// the motion has ended; its lead entries at the start cost no set-point.
TEST_F(MotionOnTheBusTest, TheVelocityOutputFollowsThePathAndFallsToItsOffsetAtTheEnd) {
  constexpr double kOffset = 7.0;
  UnderLock([&](KernelData& data) {
    VelocityOutput& output = data.velocityOutput;
    output.gain = 1.0;
    output.divisor = 1.0;
    output.offset = kOffset;
    output.dataLength = 4;
    output.delayCycles = 5;
    data.state.velocityOutputActive = 1;
    return 0;
  });
  QueueLines({{3000.0, 1500.0}});
  std::int32_t largest = 0;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    UnderLock([&](KernelData& data) {
      largest = std::max(largest, VelocityOutputValue(data.velocityOutput));
      ended = data.state.motionActive == 0;
      return 0;
    });
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(ended);
  EXPECT_GT(largest, 100 + kOffset) << "the output never followed the path";
  EXPECT_LE(largest, kPathVelocity + kOffset + 1.0);
  UnderLock([&](KernelData& data) {
    EXPECT_EQ(VelocityOutputValue(data.velocityOutput), kOffset);
    return 0;
  });
  EXPECT_TRUE(WaitForPositions(3000, 1500))
      << "drives at " << PositionOf(1) << ", " << PositionOf(2);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u);
  }
}

}  // namespace
}  // namespace vantor::kernel

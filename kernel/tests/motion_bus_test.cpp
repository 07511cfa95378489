// The cycle's motion processing over the real channel-1 driver and
// simulated drives: after a reset, line segments queued as a move command
// queues them are interpolated into the drives' set-points, and a drive
// fault stops every drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/velocity_output_records.h"
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

std::vector<BusDrive> Drives(std::size_t count) {
  std::vector<BusDrive> drives(count);
  for (BusDrive& drive : drives) drive.guarding = {100, 3};
  return drives;
}

// The drives on the bus and how the kernel is configured over them: nodes
// 1 to `nodes`, the first `axes` of them interpolated (one coordinate each,
// the first `pathAxes` on the path), the rest handling axes.
struct BusShape {
  std::size_t drives = 3;
  std::uint8_t nodes = 2;
  std::uint8_t axes = 2;
  std::uint8_t pathAxes = 2;
  std::uint8_t bitRateCode = 5;
};

class MotionOnTheBus : public KernelBusFixture {
 protected:
  // While the ring runs the driver holds the exchange until the drives
  // have taken their queued entries.
  explicit MotionOnTheBus(const BusShape& shape)
      : KernelBusFixture(Drives(shape.drives)), shape_(shape) {
    exchangeAnswerCycles_ = 200;
    bitRateCode_ = shape.bitRateCode;
  }

  // The cycle's motion processing runs after every exchange from the
  // reset on.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    testing::CncRecordShape record;
    record.resetNodeDelayMicroseconds = kBootWaitMicroseconds;
    for (std::uint8_t id = 1; id <= shape_.nodes; ++id) record.nodes.push_back({id, 0});
    record.interpolatedCount = shape_.axes;
    record.pathCount = shape_.pathAxes;
    ASSERT_EQ(InitialiseAndStartTheCycle(record), kOk);
    // Handling axes stand homed from before: the reset keeps that, and the
    // cycle has no cause to halt them.
    {
      KernelDataLock lock(kernel_.data);
      for (std::uint32_t i = shape_.axes; i < shape_.nodes; ++i) SetHomed(kernel_.data, i, true);
    }
    afterExchange_ = [this](common::ExchangeBuffer& exchange) { steps_.ProcessMotion(exchange); };
    ASSERT_EQ(Run(15), kOk);
    // The drives stand where homing would have left them.
    {
      KernelDataLock lock(kernel_.data);
      for (std::uint32_t i = 0; i < shape_.nodes; ++i) SetHomed(kernel_.data, i, true);
    }
    for (std::uint8_t id = 1; id <= shape_.nodes; ++id) ClearDriveLog(id);
  }

  void TearDown() override {
    StopTheCycle();
    motion::PathFlags flags;
    motion::ClearSegmentQueue(kernel_.data.motionRuntime.path, flags);
    FreeRetiredSegments(kernel_.data, events_);
    if (busLog_)
      Models([](sim::Machine& machine) {
        machine.FindBus("can0")->SetLog(nullptr);
        return 0;
      });
    KernelBusFixture::TearDown();
  }

  static void SetHomed(KernelData& data, std::uint32_t node, bool homed) {
    canopen::NodeObject& can = *data.nodeConfiguration.Node(node)->can;
    can.latched.Set(StatusFlag::D, homed);
    can.current.Set(StatusFlag::D, homed);
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

  // Queues absolute lines through the given points (one value per axis)
  // and starts the motion as a move command does.
  enum class Start { Now, Later };
  void QueueLines(const std::vector<std::vector<double>>& points, Start start = Start::Now,
                  double velocity = kPathVelocity) {
    UnderLock([&](KernelData& data) {
      motion::PathMotion& path = data.motionRuntime.path;
      // Lines start where the last set-points left the axes.
      std::vector<motion::CoordinateInput> coordinates(shape_.axes);
      for (std::size_t axis = 0; axis < shape_.axes; ++axis) {
        coordinates[axis].onPath = axis < shape_.pathAxes;
        coordinates[axis].position = path.axes[axis].setPosition;
      }
      // The limits the reset took from the drives.
      const std::span<const motion::NodeLimits> limits(data.planning.nodeLimits.data(),
                                                       shape_.axes);
      const motion::PlaneRotation rotation{};
      const motion::PlanningContext context{data.motion.path, rotation, false, coordinates, limits};
      for (const auto& point : points) {
        std::vector<motion::CommandValue> values;
        for (double value : point) values.push_back({value, true});
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
      path.programmedVelocity = velocity;
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

  // Waits (bounded) until drives 1, 2, ... report the positions.
  bool WaitForPositions(const std::vector<std::int32_t>& positions) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    const auto reached = [&] {
      for (std::size_t k = 0; k < positions.size(); ++k) {
        if (PositionOf(static_cast<std::uint8_t>(k + 1)) != positions[k]) return false;
      }
      return true;
    };
    while (std::chrono::steady_clock::now() < deadline) {
      if (reached()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  bool WaitForPositions(std::int32_t first, std::int32_t second) {
    return WaitForPositions(std::vector<std::int32_t>{first, second});
  }

  // Waits (bounded) until the drive under way has left its start.
  bool WaitUntilUnderWay(std::uint8_t id, std::int32_t position) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (PositionOf(id) < position && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(2ms);
    }
    return PositionOf(id) >= position;
  }

  // Every frame on the bus from now on, in candump's format.
  void LogTheBus() {
    busLog_ = std::make_unique<std::ostringstream>();
    Models([&](sim::Machine& machine) {
      machine.FindBus("can0")->SetLog(busLog_.get());
      return 0;
    });
  }
  std::string BusLog() {
    return Models([&](sim::Machine&) { return busLog_->str(); });
  }
  struct LoggedFrame {
    double seconds = 0.0;
    unsigned cobId = 0;
    std::vector<std::uint8_t> data;
  };
  // The frames logged since `seen` (a place in the log, moved on).
  std::vector<LoggedFrame> FramesSince(std::size_t& seen) {
    std::istringstream lines(BusLog().substr(seen));
    std::vector<LoggedFrame> frames;
    std::string line;
    while (std::getline(lines, line)) {
      seen += line.size() + 1;
      LoggedFrame frame;
      char bytes[17] = {};
      if (std::sscanf(line.c_str(), "(%lf) can0 %x#%16s", &frame.seconds, &frame.cobId, bytes) <
          2) {
        continue;
      }
      for (std::size_t at = 0; bytes[at] != 0 && bytes[at + 1] != 0; at += 2) {
        frame.data.push_back(
            static_cast<std::uint8_t>(std::stoul(std::string(bytes + at, 2), nullptr, 16)));
      }
      frames.push_back(std::move(frame));
    }
    return frames;
  }

  void InjectFault(std::uint8_t id) {
    Models([&](sim::Machine&) {
      Drive(id).InjectFault(0x8611);
      return 0;
    });
  }

  bool RingStopped() {
    return UnderLock([&](KernelData&) {
      return ExchangeRecord().Get(common::exchange_buffer::kRingControl) ==
             common::exchange_buffer::kRingNotInUse;
    });
  }

  BusShape shape_;
  CanObjectCycleSteps steps_{kernel_.data, kernel_.canObjects};
  KernelPathEvents events_;
  std::unique_ptr<std::ostringstream> busLog_;
};

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

// The velocity-proportional output as codes 101 and 103 set it up, its
// object served and scheduled by the cycle: its frames on the bus carry the
// offset at rest, the path velocity scaled while the path runs (ahead of
// the drives' set-points by the delay, with them without one), capped to
// the object's two bytes with its sign kept, and the offset again after
// the end.
TEST_F(MotionOnTheBusTest, TheVelocityOutputsFramesFollowThePathScaledAndCapped) {
  namespace cb = common::communication_block;
  namespace vs = common::velocity_output_start;
  namespace vp = common::velocity_output_parameters;
  namespace vr = common::velocity_output_state;
  constexpr std::uint16_t kOutputCobId = 0x214;  // no node's identifier here
  constexpr std::int32_t kOffset = 100;
  LogTheBus();
  UnderLock([&](KernelData&) {
    beforeExchange_ = [this](common::ExchangeBuffer& exchange) {
      steps_.ServeCanObjectList(exchange);
      steps_.ScheduleCanObjects(exchange);
    };
    return 0;
  });
  auto block = kernel_.Block();
  ASSERT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::GetVelPropOutputActPar)), kOk);
  const std::uint32_t delay = block.Get(vr::kSmallestDelayMicroseconds);
  block.Fill(cb::kPayloadOffset, vs::kRecordSize, 0);
  block.Set(vs::kMode, 1u);
  block.Set(vs::kDelayMicroseconds, delay);
  block.Set(vs::kDirection, 1u);
  block.Set(vs::kNodeId, std::uint8_t{20});
  block.Set(vs::kCobId, kOutputCobId);
  block.Set(vs::kDataLength, 2u);
  block.Set(vs::kAnswerTimeout, 20000u);
  block.Set(vs::kPeriod, 2000u);
  ASSERT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::ActivateVelPropOutputMode)), kOk);
  std::size_t seen = 0;
  // What the output sent during one line: its values, and when it first
  // left its offset against when drive 1 was first sent a set-point away
  // from its start.
  struct Sent {
    std::vector<std::int16_t> values;
    double firstMovedSeconds = -1.0;
    double firstSetpointMovedSeconds = -1.0;
    double Lead() const { return firstSetpointMovedSeconds - firstMovedSeconds; }
  };
  const std::uint16_t setpointCobId = UnderLock(
      [](KernelData& data) { return data.nodeConfiguration.Node(0)->can->setpointRpdoCobId; });
  const auto line = [&](double target, std::int32_t gain, std::int32_t divisor,
                        std::uint32_t delayMicroseconds) {
    block.Set(vp::kEnable, 1u);
    block.Set(vp::kGain, gain);
    block.Set(vp::kDivisor, divisor);
    block.Set(vp::kOffset, kOffset);
    block.Set(vp::kDelayMicroseconds, delayMicroseconds);
    Sent result;
    EXPECT_EQ(Run(static_cast<std::uint32_t>(common::CommandCode::SetVelPropOutputWorkPar)), kOk);
    const std::int32_t position = static_cast<std::int32_t>(target);
    QueueLines({{target, 0.0}});
    EXPECT_TRUE(WaitFor([](KernelData& data) { return data.state.motionActive == 0; }));
    EXPECT_TRUE(WaitForPositions(position, 0));
    const int ended = cycles_;
    EXPECT_TRUE(WaitFor([&](KernelData&) { return cycles_ >= ended + 20; }));
    const std::int32_t start = position == 0 ? 6000 : 0;
    for (const LoggedFrame& frame : FramesSince(seen)) {
      if (frame.cobId == kOutputCobId && frame.data.size() == 2) {
        const auto value = static_cast<std::int16_t>(frame.data[0] | (frame.data[1] << 8));
        result.values.push_back(value);
        if (value != kOffset && result.firstMovedSeconds < 0.0) {
          result.firstMovedSeconds = frame.seconds;
        }
      } else if (frame.cobId == setpointCobId && frame.data.size() >= 4 &&
                 result.firstSetpointMovedSeconds < 0.0) {
        std::int32_t sent = 0;
        std::memcpy(&sent, frame.data.data(), sizeof sent);
        if (sent != start) result.firstSetpointMovedSeconds = frame.seconds;
      }
    }
    EXPECT_GE(result.firstMovedSeconds, 0.0);
    EXPECT_GE(result.firstSetpointMovedSeconds, 0.0);
    return result;
  };
  constexpr double kCycleSeconds = 0.00256;

  // 5000 units/s x 3 / 2 + 100 = 7600, at the start's delay.
  const Sent delayed = line(6000.0, 3, 2, delay);
  ASSERT_GT(delayed.values.size(), 100u);
  EXPECT_EQ(delayed.values.front(), kOffset) << "at rest before the path";
  EXPECT_EQ(*std::max_element(delayed.values.begin(), delayed.values.end()), 7600)
      << "at the path velocity";
  EXPECT_EQ(*std::min_element(delayed.values.begin(), delayed.values.end()), kOffset);
  EXPECT_EQ(delayed.values.back(), kOffset) << "at rest after the path";

  // Without a delay the output changes with the set-points the drives are
  // sent; the delay moves it ahead of them.
  const Sent undelayed = line(0.0, 3, 2, 0);
  EXPECT_EQ(*std::max_element(undelayed.values.begin(), undelayed.values.end()), 7600);
  EXPECT_NEAR(undelayed.Lead(), 0.0, 4 * kCycleSeconds);
  EXPECT_GT(delayed.Lead(), undelayed.Lead() + 10 * kCycleSeconds);

  // 5000 units/s x -10 + 100 lies beyond two bytes: -32767.
  const Sent capped = line(6000.0, -10, 1, delay);
  EXPECT_EQ(*std::min_element(capped.values.begin(), capped.values.end()), -32767);
  EXPECT_EQ(*std::max_element(capped.values.begin(), capped.values.end()), kOffset);
  for (std::uint8_t id : {1, 2}) {
    EXPECT_EQ(Models([&](sim::Machine&) { return Drive(id).DroppedSetPoints(); }), 0u);
  }
  UnderLock([&](KernelData&) {
    beforeExchange_ = nullptr;
    return 0;
  });
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
      ASSERT_EQ(Run(15), kOk);
      UnderLock([&](KernelData& data) {
        EXPECT_EQ(data.motionRuntime.halted, 0u);
        SetHomed(data, 2, true);
        return 0;
      });
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

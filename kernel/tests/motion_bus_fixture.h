// The cycle's motion processing over the real channel-1 driver and
// simulated drives, for the tests that move them: the kernel initialised
// over a given shape of nodes and axes and reset, its motion processing
// after every exchange, lines and path events queued as the move commands
// queue them, and looks at the drives and at every frame on the bus.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/path_events.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel::testing {

inline constexpr common::StatusCode kOk = common::kKernelSuccess;
inline constexpr double kBootWaitMicroseconds = 200000.0;
inline constexpr double kPathVelocity = 5000.0;  // units/s
// How long a test waits for what should take a second of the bus.
inline constexpr std::chrono::seconds kGenerousWait{60};

inline std::vector<canopen::testing::BusDrive> Drives(std::size_t count) {
  std::vector<canopen::testing::BusDrive> drives(count);
  for (canopen::testing::BusDrive& drive : drives) drive.guarding = {100, 3};
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
    CncRecordShape record;
    record.resetNodeDelayMicroseconds = kBootWaitMicroseconds;
    for (std::uint8_t id = 1; id <= shape_.nodes; ++id) record.nodes.push_back({id, 0});
    record.interpolatedCount = shape_.axes;
    record.pathCount = shape_.pathAxes;
    ASSERT_EQ(InitialiseAndStartTheCycle(record), kOk);
    {
      // The cycle runs its hooks under this lock: set between two cycles.
      KernelDataLock lock(kernel_.data);
      afterExchange_ = [this](common::ExchangeBuffer& exchange) { steps_.ProcessMotion(exchange); };
    }
    ASSERT_NO_FATAL_FAILURE(ResetWithDrivesHomed());
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

  // Resets the kernel and leaves every drive homed, as homing would have
  // left them. Handling axes are homed before the reset, which keeps the
  // flag, so that the cycle has no cause to halt them after it; a drive
  // that missed an answer while it booted loses the flag all the same, and
  // the cycle may halt it before the flag is given back: then the reset,
  // which ends the halt, runs again.
  void ResetWithDrivesHomed() {
    bool settled = false;
    for (int attempt = 0; attempt < 5 && !settled; ++attempt) {
      {
        KernelDataLock lock(kernel_.data);
        for (std::uint32_t i = shape_.axes; i < shape_.nodes; ++i) SetHomed(kernel_.data, i, true);
      }
      ASSERT_EQ(Run(15), kOk);
      KernelDataLock lock(kernel_.data);
      const MotionRuntime& runtime = kernel_.data.motionRuntime;
      settled = runtime.halting == 0 && runtime.halted == 0;
      if (!settled) continue;
      for (std::uint32_t i = 0; i < shape_.nodes; ++i) SetHomed(kernel_.data, i, true);
    }
    ASSERT_TRUE(settled) << "every reset left a handling axis halted";
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
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    while (std::chrono::steady_clock::now() < deadline) {
      if (UnderLock(done)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    const auto reached = [&] {
      for (std::size_t k = 0; k < positions.size(); ++k) {
        if (PositionOf(static_cast<std::uint8_t>(k + 1)) != positions[k]) return false;
      }
      return true;
    };
    while (std::chrono::steady_clock::now() < deadline) {
      if (reached()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  bool WaitForPositions(std::int32_t first, std::int32_t second) {
    return WaitForPositions(std::vector<std::int32_t>{first, second});
  }

  // Waits (bounded) until the drive under way has left its start.
  bool WaitUntilUnderWay(std::uint8_t id, std::int32_t position) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerousWait;
    while (PositionOf(id) < position && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return PositionOf(id) >= position;
  }

  // Every frame on the bus from now on, in candump's format.
  // A fresh log; the one before is freed only once the bus writes to the
  // new one (the simulation writes under the models' lock).
  void LogTheBus() {
    auto log = std::make_unique<std::ostringstream>();
    Models([&](sim::Machine& machine) {
      machine.FindBus("can0")->SetLog(log.get());
      return 0;
    });
    busLog_ = std::move(log);
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

}  // namespace vantor::kernel::testing

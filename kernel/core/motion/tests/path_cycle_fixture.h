// A path run cycle by cycle without an operating system: a scripted driver
// takes the new set-point entries, plays one entry per cycle and reports
// what it still holds; the kernel side runs the event countdown, the tail
// and the interpolation in their order. The played entries are decoded
// here, independently of the interpolation.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "common/exchange_buffer.h"
#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/tests/machine_fixture.h"

namespace vantor::motion::testing {

using Entry = std::array<std::int32_t, common::kSetpointAxisCount>;

// Plays one entry per cycle once the ring runs.
struct ScriptedDriver {
  std::deque<Entry> ring;
  std::vector<Entry> played;
  std::size_t mostQueued = 0;
  std::size_t highestEntryIndex = 0;
  std::uint32_t elapsed_us = 1000;

  void Exchange(common::ExchangeBuffer& exchange) {
    namespace xb = common::exchange_buffer;
    std::uint8_t ringState = exchange.Get(xb::kRingControl);
    if (ringState != xb::kRingNotInUse) {
      const std::int32_t fresh = exchange.Get(xb::kSetpointCount);
      EXPECT_GE(fresh, 0);
      EXPECT_LE(fresh, static_cast<std::int32_t>(common::kSetpointEntryCount));
      for (std::int32_t i = 0; i < fresh && i < 500; ++i) {
        highestEntryIndex = std::max(highestEntryIndex, static_cast<std::size_t>(i));
        Entry entry{};
        for (std::size_t axis = 0; axis < entry.size(); ++axis) {
          entry[axis] = *exchange.Load<std::int32_t>(xb::SetpointValueOffset(i, axis));
        }
        ring.push_back(entry);
      }
      mostQueued = std::max(mostQueued, ring.size());
      if (ringState == xb::kRingStart) exchange.Set(xb::kRingControl, xb::kRingRunning);
      if (!ring.empty()) {
        played.push_back(ring.front());
        ring.pop_front();
      }
    } else {
      ring.clear();
    }
    exchange.Set(xb::kSetpointCount, static_cast<std::int16_t>(ring.size()));
    exchange.Set(xb::kCycleMicroseconds, elapsed_us);
  }
};

struct RecordingSignals : PathSignals {
  std::vector<PathEventHandle> events;
  std::vector<std::size_t> playedWhenSet;
  int motionStateSignals = 0;
  const ScriptedDriver* driver = nullptr;

  void SetPathEvent(PathEventHandle handle) noexcept override {
    events.push_back(handle);
    playedWhenSet.push_back(driver->played.size());
  }
  void SignalMotionState() noexcept override { ++motionStateSignals; }
};

class NoLock : public LookAheadLock {
 public:
  void ReleaseAndRetake() override {}
};

// Five coordinates of the machine fixture, each sent to one drive at
// `kScale` increments per unit.
struct PathRun {
  static constexpr double kScale = 10000.0;
  Machine machine;
  NoLock lock;
  PathMotion motion;
  PathFlags flags;
  RecordingSignals signals;
  ScriptedDriver driver;
  std::unique_ptr<common::ExchangeBuffer> exchange = std::make_unique<common::ExchangeBuffer>();
  std::uint16_t fillLevel = 12;
  std::uint16_t driveBufferDepth = 3;
  double moveEndMaxWait_ms = 50.0;
  bool allDrivesReached = true;
  // Follows the entries (the kernel's velocity-proportional output).
  EntryObserver* observer = nullptr;

  // `extraAxis`: a sixth coordinate, linear and off the path.
  explicit PathRun(bool extraAxis = false) {
    if (extraAxis) {
      CoordinateInput coordinate;
      machine.coordinates.push_back(coordinate);
      machine.nodes.push_back(machine.nodes.front());
    }
    signals.driver = &driver;
    motion.axisCount = static_cast<std::uint32_t>(machine.coordinates.size());
    motion.entryAxisCount = motion.axisCount;
    for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
      motion.axes[axis].onPath = machine.coordinates[axis].onPath;
      motion.axes[axis].linear = machine.coordinates[axis].linear;
      motion.entryAxes[axis] = EntryAxis{axis, true, kScale, axis, 0};
    }
    motion.programmedVelocity = 20.0;
  }

  PathCycle Cycle() {
    return PathCycle{flags,
                     signals,
                     *exchange,
                     machine.parameters.cycleTime,
                     moveEndMaxWait_ms,
                     fillLevel,
                     driveBufferDepth,
                     true,
                     allDrivesReached,
                     observer};
  }

  // Appends a relative line and plans the queue as a path command would.
  PathSegment* Line(std::initializer_list<double> values) { return Line(Machine::Values(values)); }

  PathSegment* Line(std::vector<CommandValue> list) {
    // An empty queue starts from where the axes were set.
    for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
      machine.coordinates[axis].position = motion.axes[axis].setPosition;
    }
    while (list.size() < machine.coordinates.size()) list.push_back(CommandValue{0.0, false});
    PathSegment& segment = machine.NewSegment();
    const LinearMove move{false, false, false, list};
    EXPECT_TRUE(PrepareLinearSegment(move, motion.queue.tail, segment, machine.Context()));
    AppendSegment(motion.queue, segment);
    PlanSegmentLookAhead(motion.queue, lock);
    Start();
    return &segment;
  }

  // Appends an arc by sweep in the X-Y plane (relative centre), with a
  // helix lead on Z when `lead` is programmed.
  PathSegment* Arc(bool increasing, double sweepDegrees, double cx, double cy,
                   double lead = kUnset) {
    for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
      machine.coordinates[axis].position = motion.axes[axis].setPosition;
    }
    PathSegment& segment = machine.NewSegment();
    auto list = Machine::Values({0, 1, increasing ? 1.0 : 0.0, sweepDegrees, cx, cy, 0, 0, lead});
    while (list.size() < 6 + machine.coordinates.size()) list.push_back(CommandValue{0.0, false});
    const ArcMove move{false, false, list};
    if (!PrepareArcSegment(move, motion.queue.tail, segment, machine.Context())) return nullptr;
    AppendSegment(motion.queue, segment);
    PlanSegmentLookAhead(motion.queue, lock);
    Start();
    return &segment;
  }

  PathSegment& Event(std::uintptr_t handle) {
    PathSegment& segment = machine.NewSegment();
    segment.segmentKind = SegmentKind::kEvent;
    segment.eventHandle.value = handle;
    AppendSegment(motion.queue, segment);
    Start();
    return segment;
  }

  void Start() {
    flags.motionActive = 1;
    flags.pathActive = 1;
  }

  // One real-time cycle: the driver's exchange, then the kernel's steps.
  void Step() {
    driver.Exchange(*exchange);
    KernelStep();
  }

  // The kernel's steps of one cycle, after the exchange.
  void KernelStep() {
    CountDownPendingEvents(motion, signals, driver.elapsed_us);
    PathCycle cycle = Cycle();
    if (RunMotionTail(motion, cycle) != TailAction::kInterpolate) return;
    namespace xb = common::exchange_buffer;
    if (exchange->Get(xb::kRingControl) == xb::kRingNotInUse) {
      // Stands in for the resumption, which starts the ring.
      exchange->Set(xb::kRingControl, xb::kRingStart);
      exchange->Set(xb::kSetpointCount, 0);
      // The kernel interpolates in the cycle that starts the ring.
      if (observer == nullptr) return;
    }
    InterpolationStep(motion, cycle);
  }

  // Steps until the motion has ended; false when it did not within `cycles`.
  bool RunToEnd(int cycles = 200000) {
    for (int i = 0; i < cycles; ++i) {
      Step();
      if (flags.motionActive == 0) return true;
    }
    return false;
  }

  double Played(std::size_t index, std::size_t axis) const {
    return driver.played.at(index)[axis] / kScale;
  }
};

}  // namespace vantor::motion::testing

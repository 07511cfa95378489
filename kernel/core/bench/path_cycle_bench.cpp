// Prints the per-cycle cost of the path's steps (event countdown, tail,
// interpolation) for six interpolated axes, on two programs: the dense path
// of 0.05 mm lines appended while it runs, and a program of helices.
// Reports median, p99 and worst microseconds per cycle, entries written per
// cycle and the allocator calls made inside the cycles (goal: 0).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/exchange_buffer.h"
#include "common/tests/counting_allocator.h"
#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/tests/machine_fixture.h"

namespace {

using namespace vantor;
using namespace vantor::motion;
using Clock = std::chrono::steady_clock;
namespace xb = common::exchange_buffer;

struct NoLock : LookAheadLock {
  void ReleaseAndRetake() override {}
};

struct NoSignals : PathSignals {
  void SetPathEvent(PathEventHandle) noexcept override {}
  void SignalMotionState() noexcept override {}
};

struct Bench {
  testing::Machine machine;
  NoLock lock;
  NoSignals signals;
  PathMotion motion;
  PathFlags flags;
  std::unique_ptr<common::ExchangeBuffer> exchange = std::make_unique<common::ExchangeBuffer>();
  std::int32_t queued = 0;
  std::vector<double> cycleMicroseconds;
  long entries = 0;

  Bench() {
    CoordinateInput sixth;
    machine.coordinates.push_back(sixth);
    machine.nodes.push_back(machine.nodes.front());
    motion.axisCount = 6;
    motion.entryAxisCount = 6;
    for (std::uint32_t axis = 0; axis < 6; ++axis) {
      motion.axes[axis].onPath = machine.coordinates[axis].onPath;
      motion.axes[axis].linear = machine.coordinates[axis].linear;
      motion.entryAxes[axis] = EntryAxis{axis, true, 10000.0, axis, 0};
    }
    motion.programmedVelocity = 60.0;
    exchange->Set(xb::kRingControl, xb::kRingRunning);
  }

  void Append(PathSegment& segment) {
    AppendSegment(motion.queue, segment);
    PlanSegmentLookAhead(motion.queue, lock);
    flags.motionActive = 1;
    flags.pathActive = 1;
  }

  void Cycle() {
    // The driver took what was written and played one entry.
    queued = std::max(queued + exchange->Get(xb::kSetpointCount) - 1, 0);
    exchange->Set(xb::kSetpointCount, static_cast<std::int16_t>(queued));
    exchange->Set(xb::kCycleMicroseconds, 1000u);
    PathCycle cycle{flags, signals, *exchange, 0.001, 50.0, 12, 3, true, true};
    const auto start = Clock::now();
    {
      const common::testing::AllocationCounting counting;
      CountDownPendingEvents(motion, signals, 1000);
      if (RunMotionTail(motion, cycle) == TailAction::kInterpolate)
        InterpolationStep(motion, cycle);
    }
    cycleMicroseconds.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    entries += std::max<std::int16_t>(exchange->Get(xb::kSetpointCount), 0);
    exchange->Set(xb::kRingControl, xb::kRingRunning);
  }

  void Report(const char* name) {
    std::vector<double> sorted = cycleMicroseconds;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) {
      return sorted[static_cast<std::size_t>(q * (sorted.size() - 1))];
    };
    std::printf(
        "%-14s cycles %8zu  median %7.2f us  p99 %7.2f us  worst %8.2f us  "
        "entries/cycle %.2f  allocations in cycles %ld\n",
        name, sorted.size(), at(0.5), at(0.99), sorted.back(),
        static_cast<double>(entries) / sorted.size(), common::testing::CountedAllocations());
  }
};

void DensePath(long lines) {
  Bench bench;
  std::vector<std::unique_ptr<PathSegment>> owned;
  owned.reserve(lines);
  double heading = 0.0;
  long appended = 0;
  while (appended < lines || bench.flags.motionActive != 0) {
    while (appended < lines && bench.motion.queue.count < 40) {
      heading += std::sin(appended * 0.37) * 0.05;
      owned.push_back(std::make_unique<PathSegment>());
      for (std::uint32_t axis = 0; axis < 6; ++axis) {
        bench.machine.coordinates[axis].position = bench.motion.axes[axis].setPosition;
      }
      const auto values = testing::Machine::Values(
          {0.05 * std::cos(heading), 0.05 * std::sin(heading), 0.0, 0.001, 0.0, 0.001});
      const LinearMove move{false, false, false, values};
      if (PrepareLinearSegment(move, bench.motion.queue.tail, *owned.back(),
                               bench.machine.Context())) {
        bench.Append(*owned.back());
      }
      ++appended;
    }
    bench.Cycle();
  }
  bench.Report("dense path");
}

void Helices(int count) {
  Bench bench;
  std::vector<std::unique_ptr<PathSegment>> owned;
  for (int i = 0; i < count; ++i) {
    owned.push_back(std::make_unique<PathSegment>());
    const auto values =
        testing::Machine::Values({0, 1, 1, 350.0, 5.0 + i % 7, 1.0, 0, 0, 0.5, 0.0, 0.0, 0.0});
    const ArcMove move{false, false, values};
    if (PrepareArcSegment(move, bench.motion.queue.tail, *owned.back(), bench.machine.Context())) {
      bench.Append(*owned.back());
    }
  }
  while (bench.flags.motionActive != 0) bench.Cycle();
  bench.Report("helices");
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 150000;
  DensePath(lines);
  Helices(40);
  return 0;
}

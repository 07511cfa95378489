// Prints the cost of the cycle's whole motion processing for six
// interpolated drives: the drives' answers taken in, the velocities
// measured, the stop supervised, the events counted down and the set-points
// interpolated, on two programs: a dense path of 0.05 mm lines appended
// while it runs, and a program of helices. Reports median, p99 and worst
// microseconds per cycle, entries written per cycle and the allocator calls
// made inside the cycles (goal: 0; worst below 100 us on a quiet machine).
//
// Usage: motion_cycle_bench [lines of the dense path]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/exchange_buffer.h"
#include "common/tests/counting_allocator.h"
#include "kernel/core/kernel_data.h"
#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/tests/machine_fixture.h"
#include "kernel/core/motion_cycle.h"

namespace {

using namespace vantor;
using namespace vantor::kernel;
using Clock = std::chrono::steady_clock;
namespace xb = common::exchange_buffer;
namespace mr = common::message_record;

constexpr std::uint32_t kAxes = 6;
constexpr std::uint32_t kCycleMicroseconds = 1000;
constexpr double kIncrementsPerUnit = 10000.0;
// Operation enabled, set-point taken (bit 15).
constexpr std::uint16_t kRunningStatusword = 0x8027;

struct NoLock : motion::LookAheadLock {
  void ReleaseAndRetake() override {}
};

// Six drives that play one entry per cycle and answer with the set-point
// they were sent last.
struct SixDriveKernel {
  std::unique_ptr<KernelData> data = std::make_unique<KernelData>();
  std::unique_ptr<common::ExchangeBuffer> exchange = std::make_unique<common::ExchangeBuffer>();
  motion::testing::Machine machine;
  NoLock lock;
  std::int32_t queued = 0;
  std::vector<double> cycleMicroseconds;
  long entries = 0;

  SixDriveKernel() {
    machine.coordinates.push_back(motion::CoordinateInput{});
    machine.nodes.push_back(machine.nodes.front());
    KernelData& d = *data;
    for (std::uint32_t i = 0; i < kAxes; ++i) {
      canopen::NodeSetup setup;
      setup.nodeId = static_cast<std::uint8_t>(i + 1);
      setup.sendRecord = 2 * i + 1;
      setup.answerRecord = 2 * i + 2;
      canopen::NodeObject* node = d.nodeConfiguration.Place(i, setup);
      node->scalingOn = 1;
      node->scalingDivisor = kIncrementsPerUnit;
      node->latched.SetAll(true);
      node->current.SetAll(true);
      d.motionRuntime.nodes[i].answerValid = 1;
    }
    d.nodeConfiguration.table.nodeCount = kAxes;
    d.nodeConfiguration.interpolatedNodeCount = kAxes;
    d.coordinateCount = kAxes;
    d.globalSlot.request.record = 2 * kAxes + 1;
    d.globalSlot.request.replied = {1, 1};
    d.globalSlot.request.armed = {1, 1};
    d.motion.path.cycleTime = kCycleMicroseconds * 1e-6;
    d.motion.fill.fillLevel = 12;
    d.motion.fill.driveBufferDepth = 3;
    d.state.syncRunning = 1;
    d.state.driveEnable = 1;
    d.state.haltOk = 1;
    motion::PathMotion& path = d.motionRuntime.path;
    path.axisCount = kAxes;
    path.entryAxisCount = kAxes;
    for (std::uint32_t axis = 0; axis < kAxes; ++axis) {
      path.axes[axis].onPath = machine.coordinates[axis].onPath;
      path.axes[axis].linear = machine.coordinates[axis].linear;
      path.entryAxes[axis] = motion::EntryAxis{axis, true, kIncrementsPerUnit, axis, 0};
    }
    path.programmedVelocity = 60.0;
    exchange->Set(xb::kStatus, common::kDriverSuccess);
    exchange->Set(xb::kRingControl, xb::kRingRunning);
  }

  void Append(motion::PathSegment& segment) {
    motion::PathMotion& path = data->motionRuntime.path;
    motion::AppendSegment(path.queue, segment);
    motion::PlanSegmentLookAhead(path.queue, lock);
    data->state.motionActive = 1;
    data->state.pathActive = 1;
  }

  void Answer() {
    for (std::uint32_t i = 0; i < kAxes; ++i) {
      auto record = *common::MessageRecordIn(*exchange, 2 * i + 2);
      std::uint8_t bytes[8]{};
      const std::int32_t position = data->motionRuntime.path.entryAxes[i].lastSent;
      std::memcpy(bytes, &position, sizeof position);
      bytes[4] = static_cast<std::uint8_t>(kRunningStatusword);
      bytes[5] = static_cast<std::uint8_t>(kRunningStatusword >> 8);
      static_cast<void>(record.CopyIn(mr::kData.kOffset, bytes));
      record.Set(mr::kLength, 8);
      record.Set(mr::kResult, 0);
    }
  }

  void Cycle() {
    // The driver took what was written and played one entry.
    queued = std::max(queued + exchange->Get(xb::kSetpointCount) - 1, 0);
    exchange->Set(xb::kSetpointCount, static_cast<std::int16_t>(queued));
    exchange->Set(xb::kCycleMicroseconds, kCycleMicroseconds);
    Answer();
    const auto start = Clock::now();
    {
      const common::testing::AllocationCounting counting;
      ProcessPathCycle(*data, *exchange);
    }
    cycleMicroseconds.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    entries += std::max<std::int16_t>(exchange->Get(xb::kSetpointCount), 0);
    exchange->Set(xb::kRingControl, xb::kRingRunning);
  }

  bool Stopped() const { return data->state.quickStopping != 0 || data->state.stopped != 0; }

  void Report(const char* name) {
    std::vector<double> sorted = cycleMicroseconds;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) {
      return sorted[static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1))];
    };
    std::printf(
        "%-14s cycles %8zu  median %7.2f us  p99 %7.2f us  worst %8.2f us  "
        "entries/cycle %.2f  allocations in cycles %ld%s\n",
        name, sorted.size(), at(0.5), at(0.99), sorted.back(),
        static_cast<double>(entries) / static_cast<double>(sorted.size()),
        common::testing::CountedAllocations(), Stopped() ? "  (the drives were stopped)" : "");
  }
};

void DensePath(long lines) {
  SixDriveKernel bench;
  motion::PathMotion& path = bench.data->motionRuntime.path;
  std::vector<std::unique_ptr<motion::PathSegment>> owned;
  owned.reserve(static_cast<std::size_t>(lines));
  double heading = 0.0;
  long appended = 0;
  while ((appended < lines || bench.data->state.motionActive != 0) && !bench.Stopped()) {
    while (appended < lines && path.queue.count < 40) {
      heading += std::sin(static_cast<double>(appended) * 0.37) * 0.05;
      owned.push_back(std::make_unique<motion::PathSegment>());
      for (std::uint32_t axis = 0; axis < kAxes; ++axis) {
        bench.machine.coordinates[axis].position = path.axes[axis].setPosition;
      }
      const auto values = motion::testing::Machine::Values(
          {0.05 * std::cos(heading), 0.05 * std::sin(heading), 0.0, 0.001, 0.0, 0.001});
      const motion::LinearMove move{false, false, false, values};
      if (motion::PrepareLinearSegment(move, path.queue.tail, *owned.back(),
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
  SixDriveKernel bench;
  motion::PathMotion& path = bench.data->motionRuntime.path;
  std::vector<std::unique_ptr<motion::PathSegment>> owned;
  for (int i = 0; i < count; ++i) {
    owned.push_back(std::make_unique<motion::PathSegment>());
    const auto values = motion::testing::Machine::Values(
        {0, 1, 1, 350.0, 5.0 + i % 7, 1.0, 0, 0, 0.5, 0.0, 0.0, 0.0});
    const motion::ArcMove move{false, false, values};
    if (motion::PrepareArcSegment(move, path.queue.tail, *owned.back(), bench.machine.Context())) {
      bench.Append(*owned.back());
    }
  }
  while (bench.data->state.motionActive != 0 && !bench.Stopped()) bench.Cycle();
  bench.Report("helices");
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 150000;
  DensePath(lines);
  Helices(40);
  return 0;
}

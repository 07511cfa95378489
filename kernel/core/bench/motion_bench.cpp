// Prints the cost of the motion core's hot operations:
//   - one StepProfile call (one real-time cycle of the path velocity),
//   - one line and one arc preparation in path mode,
//   - one look-ahead step,
//   - a dense path of 150,000 lines of 0.05 mm with small random direction
//     changes, each prepared, appended and planned by the look-ahead: the
//     total time and the worst single append.
// Goals: no single append above 50 microseconds, line preparation below
// 2 microseconds on average.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/path_velocity_ramp.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/velocity_profile.h"

namespace {

using namespace vantor::motion;
using Clock = std::chrono::steady_clock;

double NanosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// Keeps the optimiser from dropping results.
volatile double g_sink = 0.0;

struct Machine {
  std::vector<CoordinateInput> coordinates;
  std::vector<NodeLimits> nodes;
  PathParameters parameters;
  PlaneRotation rotation;

  Machine() : coordinates(3), nodes(3) {
    for (auto& coordinate : coordinates) coordinate.onPath = true;
    for (auto& node : nodes) {
      node.maxVelocity = 200.0;
      node.maxAcceleration = 2000.0;
      node.maxJerk = 50000.0;
      node.kv = 30.0;
    }
    parameters.cycleTime = 0.001;
    parameters.RadiusRoundingError = 0.01;
    parameters.AngleRoundingError = 1e-6;
    parameters.RadiusError = 0.01;
    parameters.PathError = 0.02;
    parameters.AngleToRadianFac = std::acos(-1.0) / 180.0;
  }

  PlanningContext Context() const { return PlanningContext{parameters, rotation, true, coordinates, nodes}; }
};

class CountingLock : public LookAheadLock {
 public:
  void ReleaseAndRetake() override { ++releases; }
  long long releases = 0;
};

std::vector<CommandValue> Values(std::initializer_list<double> list) {
  std::vector<CommandValue> values;
  for (const double value : list) values.push_back({value, true});
  return values;
}

void MeasureStepProfile() {
  constexpr int kCalls = 2'000'000;
  PathVelocityProfile profile;
  const auto restart = [&profile] {
    profile = PathVelocityProfile{};
    profile.jerk = 50000.0;
    profile.maxAcceleration = 2000.0;
    profile.maxVelocity = 200.0;
    profile.remaining = 100.0;
    profile.targetVelocity = 200.0;
    profile.acceptedVelocity = 200.0;
    profile.settled = true;
    profile.phase = ProfilePhase::kRisingAcceleration;
  };
  restart();
  const auto start = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    profile.timeLeft = 0.001;
    StepProfile(profile);
    if (profile.endReached) restart();
  }
  g_sink = profile.travelled;
  std::printf("StepProfile:              %8.1f ns per call\n", NanosecondsSince(start) / kCalls);
}

void MeasurePreparation() {
  constexpr int kCalls = 200'000;
  Machine machine;
  const PlanningContext context = machine.Context();
  PathSegment previous;
  const auto first = Values({10.0, 0.0, 0.0});
  PrepareLinearSegment({false, false, false, first}, nullptr, previous, context);

  const auto line = Values({3.0, 4.0, 1.0});
  PathSegment segment;
  auto start = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    PrepareLinearSegment({false, false, false, line}, &previous, segment, context);
    g_sink = segment.velocity;
  }
  const double lineNs = NanosecondsSince(start) / kCalls;

  // A quarter circle by end point with a helix lead on Z.
  const auto arc = Values({0.0, 1.0, 1.0, 0.0, 10.0, 10.0, 10.0, 2.0});
  start = Clock::now();
  for (int i = 0; i < kCalls; ++i) {
    PrepareArcSegment({true, false, arc}, &previous, segment, context);
    g_sink = segment.velocity;
  }
  const double arcNs = NanosecondsSince(start) / kCalls;
  std::printf("Line preparation:         %8.1f ns per call (goal below 2000)\n", lineNs);
  std::printf("Arc preparation:          %8.1f ns per call\n", arcNs);
}

void MeasureDensePath() {
  constexpr int kSegments = 150'000;
  constexpr double kLength_mm = 0.05;
  Machine machine;
  const PlanningContext context = machine.Context();
  std::vector<PathSegment> segments(kSegments);
  SegmentQueue queue;
  queue.capacity = kSegments;
  CountingLock lock;
  std::mt19937_64 engine(0x5eed0135u);
  std::uniform_real_distribution<double> turn(-0.05, 0.05);
  double heading = 0.0;
  std::vector<double> appendNs;
  appendNs.reserve(kSegments);
  long long mostVisits = 0;
  double lookAheadNs = 0.0;
  int refused = 0;
  const auto start = Clock::now();
  for (int i = 0; i < kSegments; ++i) {
    heading += turn(engine);
    const auto values = Values({kLength_mm * std::cos(heading), kLength_mm * std::sin(heading), 0.0});
    const auto appendStart = Clock::now();
    PathSegment& segment = segments[static_cast<std::size_t>(i)];
    if (!PrepareLinearSegment({false, false, false, values}, queue.tail, segment, context)) {
      ++refused;
      continue;
    }
    AppendSegment(queue, segment);
    const auto lookAheadStart = Clock::now();
    const long long visitsBefore = lock.releases;
    PlanSegmentLookAhead(queue, lock);
    lookAheadNs += NanosecondsSince(lookAheadStart);
    appendNs.push_back(NanosecondsSince(appendStart));
    mostVisits = std::max(mostVisits, lock.releases - visitsBefore);
  }
  const double totalMs = NanosecondsSince(start) / 1e6;
  std::printf("Look-ahead step:          %8.1f ns per segment visited (%lld visits)\n",
              lookAheadNs / static_cast<double>(std::max(lock.releases, 1LL)), lock.releases);
  std::printf("Dense path, %d lines of %.2f mm: %.1f ms in total, %.1f us per append on average\n",
              kSegments, kLength_mm, totalMs, totalMs * 1e3 / kSegments);
  // The worst figure includes whatever the operating system did meanwhile;
  // the high percentile and the longest walk show the look-ahead's own cost.
  std::sort(appendNs.begin(), appendNs.end());
  const auto overGoal = static_cast<long>(
      appendNs.end() - std::upper_bound(appendNs.begin(), appendNs.end(), 50e3));
  std::printf("Worst single append:      %8.1f us (goal at most 50); %ld of %zu above 50 us\n",
              appendNs.back() / 1e3, overGoal, appendNs.size());
  std::printf("99.9th percentile append: %8.1f us\n",
              appendNs[appendNs.size() * 999 / 1000] / 1e3);
  std::printf("Longest look-ahead walk:  %8lld segments\n", mostVisits);
  if (refused != 0) std::printf("Refused segments:         %d\n", refused);
}

}  // namespace

int main() {
  MeasureStepProfile();
  MeasurePreparation();
  MeasureDensePath();
  return 0;
}

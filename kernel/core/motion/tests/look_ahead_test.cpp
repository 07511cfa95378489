#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <functional>
#include <vector>

#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/segment_transition.h"
#include "kernel/core/motion/tests/ends_within.h"
#include "kernel/core/motion/tests/machine_fixture.h"
#include "kernel/core/motion/tests/property_cases.h"

namespace vantor::motion {
namespace {

using testing::EndsWithin;
using testing::kEndlessAfter;
using testing::kU;
using testing::kUnset;
using testing::kX;
using testing::kY;
using testing::Machine;

class NoLock : public LookAheadLock {
 public:
  void ReleaseAndRetake() override { ++releases; }
  int releases = 0;
};

// Runs `during` at the n-th release of the lock, as the cycle would.
class CycleAtRelease : public LookAheadLock {
 public:
  CycleAtRelease(int at, std::function<void()> during) : at_(at), during_(std::move(during)) {}
  void ReleaseAndRetake() override {
    if (++releases == at_) during_();
  }
  int releases = 0;

 private:
  int at_;
  std::function<void()> during_;
};

struct TransitionCase {
  const char* name;
  std::vector<double> first;   // X, Y, Z, U, A
  std::vector<double> second;
  double acceleration;         // of every node
  double carry;
  double pathVelFacInverse;
  double expected;
};

// Parameter cases print by name in test listings.
void PrintTo(const TransitionCase& c, std::ostream* os) { *os << c.name; }

class TransitionVelocity : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(TransitionVelocity, IsTheSmallerOfCornerAndAxisJump) {
  const TransitionCase& c = GetParam();
  Machine machine;
  for (auto& node : machine.nodes) node.maxAcceleration = c.acceleration;
  machine.parameters.CarryAxisVelFac = c.carry;
  machine.parameters.pathVelFacInverse = c.pathVelFacInverse;
  const auto values = [](const std::vector<double>& list) {
    std::vector<CommandValue> out;
    for (const double v : list) out.push_back({std::isnan(v) ? 0.0 : v, !std::isnan(v)});
    return out;
  };
  PathSegment& previous = machine.NewSegment();
  ASSERT_TRUE(PrepareLinearSegment({false, false, false, values(c.first)}, nullptr, previous, machine.Context()));
  AppendSegment(machine.queue, previous);
  PathSegment& next = machine.NewSegment();
  ASSERT_TRUE(PrepareLinearSegment({false, false, false, values(c.second)}, machine.queue.tail, next,
                                   machine.Context()));
  EXPECT_NEAR(previous.endVelocity, c.expected, 1e-9);
}

const double kSqrt2 = std::sqrt(2.0);

INSTANTIATE_TEST_SUITE_P(
    Table, TransitionVelocity,
    ::testing::Values(
        // Straight on with equal factors: no corner, no jump.
        TransitionCase{"collinear", {10, 0, 0, 5, kUnset}, {4, 0, 0, 2, kUnset}, 1000, 1, 1, 100.0},
        // Reversal: kv * PathError / pathVelFacInverse = 20 * 0.05.
        TransitionCase{"reversal", {10, 0, 0, kUnset, kUnset}, {-10, 0, 0, kUnset, kUnset}, 1e6, 1, 1, 1.0},
        // Reversal with the axes' jump the smaller: 1000 * 0.001 / 2.
        TransitionCase{"reversal_jump", {10, 0, 0, kUnset, kUnset}, {-10, 0, 0, kUnset, kUnset}, 1000, 1, 1, 0.5},
        TransitionCase{"right_angle_jump", {10, 0, 0, kUnset, kUnset}, {0, 10, 0, kUnset, kUnset}, 1000, 1, 1, 1.0},
        TransitionCase{"right_angle_corner", {10, 0, 0, kUnset, kUnset}, {0, 10, 0, kUnset, kUnset}, 1000, 2, 1, kSqrt2},
        TransitionCase{"path_velocity_factor", {10, 0, 0, kUnset, kUnset}, {0, 10, 0, kUnset, kUnset}, 1000, 2, 0.5,
                       2.0 * kSqrt2},
        TransitionCase{"single_then_path", {kUnset, kUnset, kUnset, 5, kUnset}, {10, 0, 0, kUnset, kUnset}, 1000, 1, 1,
                       1.0},
        TransitionCase{"path_then_single", {10, 0, 0, kUnset, kUnset}, {kUnset, kUnset, kUnset, 5, kUnset}, 1000, 1, 1,
                       1.0},
        TransitionCase{"single_same_direction", {kUnset, kUnset, kUnset, 5, kUnset}, {kUnset, kUnset, kUnset, 7, kUnset},
                       1000, 1, 1, 100.0},
        TransitionCase{"single_reversal", {kUnset, kUnset, kUnset, 5, kUnset}, {kUnset, kUnset, kUnset, -7, kUnset}, 1000,
                       1, 1, 0.5}),
    [](const ::testing::TestParamInfo<TransitionCase>& info) { return info.param.name; });

// The exit velocities a full backward pass over the queue gives, newest first.
std::vector<double> FullBackwardExitVelocities(const SegmentQueue& queue) {
  std::vector<double> exits;
  const PathSegment* younger = nullptr;
  double youngerExit = 0.0;
  for (const PathSegment* s = queue.tail; s != nullptr; s = s->previous) {
    if (!s->isMotion) continue;
    double exit = 0.0;
    if (younger != nullptr) {
      const double allowed = MinOf(younger->velocity, ReachableEndVelocity(younger->reach, youngerExit));
      exit = MinOf3(allowed, s->endVelocity, s->velocity);
    }
    exits.push_back(exit);
    younger = s;
    youngerExit = exit;
  }
  return exits;
}

std::vector<double> CommittedExitVelocities(const SegmentQueue& queue) {
  std::vector<double> exits;
  for (const PathSegment* s = queue.tail; s != nullptr; s = s->previous) {
    if (s->isMotion) exits.push_back(s->exitVelocity);
  }
  return exits;
}

// A dense path of short lines with small random direction changes, now and
// then a sharp corner, a long line, an arc or a velocity segment.
void AppendRandomSegment(Machine& machine, testing::CaseDrawer& draw, double& heading) {
  if (draw.Chance(0.03)) {
    PathSegment& velocity = machine.NewSegment();
    ASSERT_TRUE(PreparePathVelocitySegment(draw.Uniform(1, 50), 5.0, velocity));
    AppendSegment(machine.queue, velocity);
    return;
  }
  heading += draw.Chance(0.05) ? draw.Uniform(-3, 3) : draw.Uniform(-0.1, 0.1);
  const double length = draw.Chance(0.05) ? draw.LogUniform(1, 50) : 0.05;
  const bool withU = draw.Chance(0.05);
  ASSERT_NE(machine.Line({length * std::cos(heading), length * std::sin(heading), 0,
                          withU ? draw.Uniform(-1, 1) : kUnset, kUnset}),
            nullptr);
}

TEST(LookAheadProperty, IncrementalPlanningMatchesAFullBackwardPass) {
  const auto seed = testing::PropertySeed("LookAhead", 0x5eed0134u);
  testing::CaseDrawer draw(seed);
  const int paths = MaxOf(1, testing::PropertyCaseCount(2000) / 100);
  for (int path = 0; path < paths; ++path) {
    Machine machine;
    NoLock lock;
    double heading = 0.0;
    for (int i = 0; i < 150; ++i) {
      AppendRandomSegment(machine, draw, heading);
      if (!machine.queue.tail->isMotion) continue;
      ASSERT_NE(PlanSegmentLookAhead(machine.queue, lock), LookAheadEnd::kVisitLimit);
      const auto expected = FullBackwardExitVelocities(machine.queue);
      const auto committed = CommittedExitVelocities(machine.queue);
      ASSERT_EQ(expected.size(), committed.size());
      for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_NEAR(committed[k], expected[k], 1e-9 * (1.0 + expected[k]))
            << "path " << path << " append " << i << ", segment " << k << " from the tail";
      }
    }
    // Invariants: the tail stops, no exit above its neighbours' limits, and
    // each exit can be reached down from the next segment's start.
    ASSERT_EQ(machine.queue.tail->exitVelocity, 0.0);
    const PathSegment* younger = nullptr;
    for (const PathSegment* s = machine.queue.tail; s != nullptr; s = s->previous) {
      if (!s->isMotion) continue;
      EXPECT_FALSE(s->candidatePending);
      EXPECT_FALSE(s->inLookAhead);
      if (younger != nullptr) {
        EXPECT_LE(s->exitVelocity, MinOf3(s->endVelocity, s->velocity, younger->velocity) * (1 + 1e-12));
        EXPECT_LE(s->exitVelocity, ReachableEndVelocity(younger->reach, younger->exitVelocity) * (1 + 1e-9));
      }
      younger = s;
    }
  }
}

TEST(ReachableEndVelocity, BrakingFromItCoversTheLengthExactly) {
  // J = 1, A = 1: from w down to 0 over L. Cubic branch: L = w sqrt(w).
  PathSegment segment;
  segment.jerk = 1.0;
  segment.acceleration = 1.0;
  segment.length = 0.5;
  ComputeReachConstants(segment);
  EXPECT_NEAR(ReachableEndVelocity(segment.reach, 0.0), std::cbrt(0.25), 1e-12);
  // Trapezoid branch: L = (w / 2 + 1 / 2) w for w >= 1; L = 6 gives w = 3.
  segment.length = 6.0;
  ComputeReachConstants(segment);
  EXPECT_NEAR(ReachableEndVelocity(segment.reach, 0.0), 3.0, 1e-12);
  EXPECT_GE(ReachableEndVelocity(segment.reach, 1e9), 1e9);
}

TEST(LookAhead, ReleasesTheLockBetweenSegmentsAndStopsWhenTheCycleChangedTheQueue) {
  Machine machine;
  NoLock quiet;
  for (int i = 0; i < 6; ++i) {
    ASSERT_NE(machine.Line({1, 0, 0, kUnset, kUnset}), nullptr);
    PlanSegmentLookAhead(machine.queue, quiet);
  }
  ASSERT_NE(machine.Line({1, 0, 0, kUnset, kUnset}), nullptr);
  PathSegment* visitedSecond = machine.queue.tail->previous;
  CycleAtRelease cycle(2, [&] { machine.queue.changed = true; });
  EXPECT_EQ(PlanSegmentLookAhead(machine.queue, cycle), LookAheadEnd::kQueueChanged);
  EXPECT_EQ(cycle.releases, 2);
  EXPECT_FALSE(machine.queue.changed);
  // The segment the cycle took is left alone, still marked.
  EXPECT_TRUE(visitedSecond->inLookAhead);
  EXPECT_FALSE(machine.queue.tail->inLookAhead);

  CycleAtRelease emptied(1, [&] {
    machine.queue.head = nullptr;
    machine.queue.tail = nullptr;
  });
  PathSegment* tail = machine.queue.tail;
  EXPECT_EQ(PlanSegmentLookAhead(machine.queue, emptied), LookAheadEnd::kQueueChanged);
  EXPECT_TRUE(tail->inLookAhead);
}

TEST(LookAhead, StartedSegmentEndsTheWalk) {
  Machine machine;
  NoLock lock;
  for (int i = 0; i < 4; ++i) ASSERT_NE(machine.Line({1, 0, 0, kUnset, kUnset}), nullptr);
  PathSegment* started = machine.queue.tail->previous->previous;
  started->state = 1;
  PathSegment* older = started->previous;
  const double before = older->exitVelocity;
  PlanSegmentLookAhead(machine.queue, lock);
  EXPECT_GT(started->exitVelocity, 0.0);
  EXPECT_EQ(older->exitVelocity, before);
}

TEST(LookAhead, PassesOverVelocityAndEventSegments) {
  Machine machine;
  NoLock lock;
  ASSERT_NE(machine.Line({10, 0, 0, kUnset, kUnset}), nullptr);
  PathSegment* first = machine.queue.tail;
  PathSegment& velocity = machine.NewSegment();
  ASSERT_TRUE(PreparePathVelocitySegment(5, 5, velocity));
  AppendSegment(machine.queue, velocity);
  ASSERT_NE(machine.Line({10, 0, 0, kUnset, kUnset}), nullptr);
  PlanSegmentLookAhead(machine.queue, lock);
  EXPECT_EQ(velocity.exitVelocity, 0.0);
  EXPECT_EQ(first->exitVelocity, MinOf(first->velocity, ReachableEndVelocity(machine.queue.tail->reach, 0.0)));
  EXPECT_EQ(lock.releases, 2);
}

TEST(LookAhead, LinksThatLoopAreNotFollowedForever) {
  Machine machine;
  NoLock lock;
  for (int i = 0; i < 3; ++i) ASSERT_NE(machine.Line({1, 0, 0, kUnset, kUnset}), nullptr);
  machine.queue.head->previous = machine.queue.tail;  // a corrupted ring
  machine.queue.tail->velocity = 1e9;                 // keep the walk going
  for (PathSegment* s = machine.queue.tail; s != nullptr && s != machine.queue.head; s = s->previous) {
    s->velocity = 1e9;
  }
  machine.queue.head->velocity = 1e9;
  EXPECT_EQ(PlanSegmentLookAhead(machine.queue, lock), LookAheadEnd::kVisitLimit);
}

TEST(LookAhead, YoungerLinksThatLoopAreNotFollowedForever) {
  // Line, velocity segment, line; the velocity segment's younger link points
  // back at itself, so committing toward the newest segment never meets a
  // line or the end of the list.
  Machine machine;
  NoLock lock;
  ASSERT_NE(machine.Line({10, 0, 0, kUnset, kUnset}), nullptr);
  PathSegment& velocity = machine.NewSegment();
  ASSERT_TRUE(PreparePathVelocitySegment(5, 5, velocity));
  AppendSegment(machine.queue, velocity);
  ASSERT_NE(machine.Line({10, 0, 0, kUnset, kUnset}), nullptr);
  velocity.next = &velocity;

  const auto end = EndsWithin(
      kEndlessAfter, [&] { return static_cast<int>(PlanSegmentLookAhead(machine.queue, lock)); });
  ASSERT_TRUE(end.has_value()) << "the look-ahead did not end";
  EXPECT_EQ(*end, static_cast<int>(LookAheadEnd::kVisitLimit));
}

}  // namespace
}  // namespace vantor::motion

// The small rules of the interpolation, each checked against a table of
// cases whose answer is known by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "kernel/core/motion/interpolation_rules.h"

namespace vantor::motion {
namespace {

struct LimitStepCase {
  double previous;
  double next;
  bool allowed;
};

TEST(StepWithinLimits, InsideOrBackTowardTheRangeOnly) {
  // Range [-10, 10].
  const LimitStepCase cases[] = {
      {0.0, 5.0, true},      {5.0, 10.0, true},    {-5.0, -10.0, true},  // inside, limits included
      {5.0, 10.001, false},  {-5.0, -10.5, false},                       // leaving
      {-12.0, -11.0, true},  {-12.0, -10.0, true}, {-12.0, -9.0, true},  // back from below
      {-12.0, -12.0, true},                                              // standing outside
      {-12.0, -13.0, false}, {-12.0, 15.0, false},                       // away, or across
      {12.0, 11.0, true},    {12.0, 10.0, true},   {12.0, 13.0, false},  // from above
      {12.0, -20.0, false},
  };
  for (const LimitStepCase& c : cases) {
    EXPECT_EQ(IsStepWithinLimits(-10.0, 10.0, c.previous, c.next), c.allowed)
        << c.previous << " -> " << c.next;
  }
}

TEST(DriveValue, ClampsToTheSymmetricRangeAndTruncates) {
  const struct {
    double value;
    std::int32_t expected;
  } cases[] = {
      {2147483647.0, 2147483647},
      {2147483648.0, 2147483647},
      {1e300, 2147483647},
      {-2147483647.0, -2147483647},
      {-2147483648.0, -2147483647},
      {-1e300, -2147483647},
      {1.9, 1},
      {-1.9, -1},
      {0.0, 0},
      {2147483646.5, 2147483646},
  };
  for (const auto& c : cases) EXPECT_EQ(DriveValueOf(c.value), c.expected) << c.value;
}

TEST(EntrySlot, FollowsTheOrderOfTheSendRecords) {
  const std::array<std::uint32_t, 4> records{7, 1, 5, 3};
  const std::array<std::size_t, 4> slots{3, 0, 2, 1};
  for (std::size_t axis = 0; axis < records.size(); ++axis) {
    EXPECT_EQ(EntrySlotOfAxis(records, axis), slots[axis]) << axis;
  }
  EXPECT_EQ(EntrySlotOfAxis(records, 9), 0u);
}

PathSegment Segment(bool isPath, std::uint32_t singleAxis, double velocity, double exit) {
  PathSegment segment;
  segment.isMotion = true;
  segment.isPath = isPath;
  segment.singleAxis = singleAxis;
  segment.velocity = velocity;
  segment.exitVelocity = exit;
  return segment;
}

TEST(SegmentStartVelocity, TakesOverOnlyWhatTheNextSegmentCanRun) {
  PathSegment path = Segment(true, 0, 100.0, 50.0);
  path.axes[3].factor = -0.6;  // axis 3 runs off the path at 0.6 of the path velocity
  path.axes[4].shape = AxisShape::kCircular;
  path.axes[4].factor = 5.0;  // rad per unit: not the axis's share
  path.axes[4].exitDirection = -0.8;
  const PathSegment single = Segment(false, 3, 100.0, 0.0);
  const PathSegment slowSingle = Segment(false, 3, 5.0, 0.0);
  const PathSegment arcSingle = Segment(false, 4, 100.0, 0.0);
  PathSegment slowExit = path;
  slowExit.exitVelocity = 3.0;
  const PathSegment singleBefore = Segment(false, 3, 100.0, 40.0);

  const struct {
    const char* name;
    const PathSegment* previous;
    const PathSegment* next;
    double expected;
  } cases[] = {
      {"nothing before", nullptr, &path, 0.0},
      {"path to path", &path, &path, 10.0},
      {"single axis to path", &singleBefore, &path, 0.0},
      {"path to single axis", &path, &single, 6.0},
      {"limited by the next segment", &path, &slowSingle, 5.0},
      {"limited by the exit before", &slowExit, &single, 3.0},
      {"arc part: the direction at the end", &path, &arcSingle, 8.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(SegmentStartVelocity(10.0, c.previous, *c.next), c.expected) << c.name;
  }
}

TEST(LimitVelocityByAxes, LowersThePathVelocityForAxesOffThePath) {
  std::array<PathAxis, 4> axes{};
  axes[0].onPath = true;
  axes[2].linear = false;
  PathSegment segment = Segment(true, 0, 100.0, 0.0);
  segment.axes[0].factor = 50.0;  // on the path: not limited here
  segment.axes[1].factor = 0.5;   // linear, 50 at v = 100
  segment.axes[2].factor = -2.0;  // rotary
  segment.axes[3].factor = 1e-9;  // does not move
  // Linear limit 20: v = 40; rotary limit 50: |40 x 2| = 80 > 50, v = 25.
  EXPECT_DOUBLE_EQ(LimitVelocityByAxes(100.0, 20.0, 50.0, segment, axes), 25.0);
  EXPECT_DOUBLE_EQ(LimitVelocityByAxes(-100.0, 20.0, 50.0, segment, axes), 25.0);
  EXPECT_DOUBLE_EQ(LimitVelocityByAxes(10.0, 20.0, 50.0, segment, axes), 10.0);
  EXPECT_DOUBLE_EQ(LimitVelocityByAxes(-10.0, 20.0, 50.0, segment, axes), 10.0);
}

}  // namespace
}  // namespace vantor::motion

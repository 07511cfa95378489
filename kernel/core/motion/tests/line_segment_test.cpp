#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <cstring>
#include <random>
#include <vector>

#include "common/byte_order.h"
#include "kernel/core/motion/plane_rotation.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/tests/machine_fixture.h"

namespace vantor::motion {
namespace {

using testing::kA;
using testing::kU;
using testing::kUnset;
using testing::kX;
using testing::kY;
using testing::kZ;
using testing::Machine;

struct LineCase {
  const char* name;
  std::vector<double> values;  // X, Y, Z, U, A (relative)
  bool rapid;
  double pathAccelerationLimit;
  bool isPath;
  std::uint32_t singleAxis;
  double length;
  std::array<double, 5> factors;
  double velocity;
  double acceleration;
  double jerk;
};

// Parameter cases print by name in test listings.
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineFactorsAndLimits : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineFactorsAndLimits, MatchTheGeometry) {
  const LineCase& c = GetParam();
  Machine machine;
  machine.parameters.pathAccelerationLimit = c.pathAccelerationLimit;
  machine.nodes[kY].overrides[static_cast<std::size_t>(RampOverrideSet::kRapid)] = {2.0, 3.0, 4.0};
  std::vector<CommandValue> values;
  for (const double v : c.values) values.push_back({std::isnan(v) ? 0.0 : v, !std::isnan(v)});
  PathSegment segment;
  const LinearMove move{false, false, c.rapid, values};
  ASSERT_TRUE(PrepareLinearSegment(move, nullptr, segment, machine.Context()));
  EXPECT_EQ(segment.error, SegmentError::kNone);
  EXPECT_TRUE(segment.isMotion);
  EXPECT_EQ(segment.isPath, c.isPath);
  EXPECT_EQ(segment.singleAxis, c.singleAxis);
  EXPECT_NEAR(segment.length, c.length, 1e-12);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_NEAR(segment.axes[i].factor, c.factors[i], 1e-12) << "axis " << i;
    EXPECT_EQ(segment.axes[i].shape, AxisShape::kLinear);
  }
  EXPECT_NEAR(segment.velocity, c.velocity, 1e-9);
  EXPECT_NEAR(segment.acceleration, c.acceleration, 1e-9);
  EXPECT_NEAR(segment.jerk, c.jerk, 1e-9);
  EXPECT_EQ(segment.exitVelocity, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineFactorsAndLimits,
    ::testing::Values(
        LineCase{"x_only", {10, kUnset, kUnset, kUnset, kUnset}, false, 0.0, true, 0, 10.0,
                 {1, 0, 0, 0, 0}, 100.0, 1000.0, 10000.0},
        LineCase{"xy_diagonal", {3, 4, 0, kUnset, kUnset}, false, 0.0, true, 0, 5.0,
                 {0.6, 0.8, 0, 0, 0}, 125.0, 1250.0, 12500.0},
        LineCase{"path_acceleration_cap", {3, 4, 0, kUnset, kUnset}, false, 500.0, true, 0, 5.0,
                 {0.6, 0.8, 0, 0, 0}, 125.0, 500.0, 12500.0},
        // Rapid: Y's limits doubled, tripled, quadrupled; the path cap is ignored.
        LineCase{"rapid_override", {3, 4, 0, kUnset, kUnset}, true, 500.0, true, 0, 5.0,
                 {0.6, 0.8, 0, 0, 0}, 100.0 / 0.6, 1000.0 / 0.6, 10000.0 / 0.6},
        // A path move carries the off-path axis along.
        LineCase{"path_with_u", {0, 2, 0, 4, kUnset}, false, 0.0, true, 0, 2.0,
                 {0, 1, 0, 2, 0}, 50.0, 500.0, 5000.0},
        LineCase{"single_u", {kUnset, kUnset, kUnset, -8, kUnset}, false, 0.0, false, kU, 8.0,
                 {0, 0, 0, -1, 0}, 100.0, 1000.0, 10000.0}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(LineSegment, SingleAxisIsSelectedByTheTestThatAcceptsIt) {
  // U moves by less than the negligible distance squared allows, A moves
  // for real: the move is A's, not refused because of U.
  Machine machine;
  PathSegment segment;
  const auto values = Machine::Values({kUnset, kUnset, kUnset, 5e-5, 10.0});
  ASSERT_TRUE(PrepareLinearSegment({false, false, false, values}, nullptr, segment, machine.Context()));
  EXPECT_FALSE(segment.isPath);
  EXPECT_EQ(segment.singleAxis, kA);
  EXPECT_DOUBLE_EQ(segment.length, 10.0);
}

TEST(LineSegment, SingleRotaryMoveUsesTheRotaryPathLimits) {
  Machine machine;
  machine.parameters.pathAccelerationLimit = 1.0;
  machine.parameters.singleRotaryAccelerationLimit = 7.0;
  machine.parameters.singleRotaryJerkLimit = 70.0;
  PathSegment segment;
  const auto values = Machine::Values({kUnset, kUnset, kUnset, kUnset, 90.0});
  ASSERT_TRUE(PrepareLinearSegment({false, false, false, values}, nullptr, segment, machine.Context()));
  EXPECT_EQ(segment.acceleration, 7.0);
  EXPECT_EQ(segment.jerk, 70.0);
}

TEST(LineSegment, NothingToMoveIsRefusedAsZeroLengthAndReportedAsSuccess) {
  Machine machine;
  PathSegment segment;
  const auto values = Machine::Values({kUnset, kUnset, kUnset, kUnset, kUnset});
  EXPECT_FALSE(PrepareLinearSegment({false, false, false, values}, nullptr, segment, machine.Context()));
  EXPECT_EQ(segment.error, SegmentError::kZeroLength);
  EXPECT_EQ(ResultOfSegmentError(segment.error), 0x09130000u);
}

TEST(LineSegment, OutOfRangeTargetIsRefusedUnlessClamped) {
  Machine machine;
  machine.coordinates[kX].position = 100.0;
  PathSegment refused;
  const auto values = Machine::Values({2147483647.0, kUnset, kUnset, kUnset, kUnset});
  EXPECT_FALSE(PrepareLinearSegment({false, true, false, values}, nullptr, refused, machine.Context()));
  EXPECT_EQ(refused.error, SegmentError::kGeometryOrRange);
  EXPECT_EQ(ResultOfSegmentError(refused.error), 0xC9130021u);

  PathSegment clamped;
  ASSERT_TRUE(PrepareLinearSegment({true, true, false, values}, nullptr, clamped, machine.Context()));
  EXPECT_EQ(clamped.axes[kX].end, 2147483647.0);
  EXPECT_EQ(clamped.length, 2147483647.0 - 100.0);

  // A scaled axis reaches the drive range earlier.
  machine.nodes[kY].scalingEnabled = true;
  machine.nodes[kY].axisScalingFactors = {1000.0, 1.0};
  PathSegment scaled;
  const auto far = Machine::Values({kUnset, 3e6, kUnset, kUnset, kUnset});
  EXPECT_FALSE(PrepareLinearSegment({false, true, false, far}, nullptr, scaled, machine.Context()));
  ASSERT_TRUE(PrepareLinearSegment({true, true, false, far}, nullptr, scaled, machine.Context()));
  EXPECT_DOUBLE_EQ(scaled.axes[kY].end, 2147483647.0 / 1000.0);
}

// Every limit that a move is planned with must be a positive number.
struct BadInputCase {
  const char* name;
  void (*spoil)(Machine&);
};

// Parameter cases print by name in test listings.
void PrintTo(const BadInputCase& c, std::ostream* os) { *os << c.name; }

class UnusableInputs : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(UnusableInputs, AreRefusedWithoutTouchingTheQueue) {
  Machine machine;
  ASSERT_NE(machine.Line({1, 0, 0, kUnset, kUnset}), nullptr);
  const double before = machine.queue.tail->endVelocity;
  GetParam().spoil(machine);
  PathSegment segment;
  const auto values = Machine::Values({1, 1, 0, kUnset, kUnset});
  EXPECT_FALSE(PrepareLinearSegment({false, false, false, values}, machine.queue.tail, segment,
                                    machine.Context()));
  EXPECT_EQ(segment.error, SegmentError::kGeometryOrRange);
  EXPECT_EQ(machine.queue.tail->endVelocity, before) << "the queued segment was touched";
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnusableInputs,
    ::testing::Values(
        BadInputCase{"jerk", [](Machine& m) { m.nodes[kY].maxJerk = 0.0; }},
        BadInputCase{"acceleration", [](Machine& m) { m.nodes[kY].maxAcceleration = -5.0; }},
        BadInputCase{"velocity", [](Machine& m) { m.nodes[kX].maxVelocity = NAN; }},
        BadInputCase{"velocity_factor", [](Machine& m) { m.nodes[kX].overrides[0].velocityFactor = 0.0; }},
        BadInputCase{"kv", [](Machine& m) { m.nodes[kZ].kv = 0.0; }},
        BadInputCase{"cycle_time", [](Machine& m) { m.parameters.cycleTime = 0.0; }},
        BadInputCase{"path_velocity_factor", [](Machine& m) { m.parameters.pathVelFacInverse = -1.0; }},
        BadInputCase{"scaling_factor",
                     [](Machine& m) {
                       m.nodes[kX].scalingEnabled = true;
                       m.nodes[kX].axisScalingFactors = {0.0, 1.0};
                     }},
        BadInputCase{"scaling_divisor",
                     [](Machine& m) {
                       m.nodes[kY].scalingEnabled = true;
                       m.nodes[kY].scalingDivisor = -2.0;
                     }}),
    [](const ::testing::TestParamInfo<BadInputCase>& info) { return info.param.name; });

TEST(LineSegment, StartsAtTheEndOfTheNewestQueuedMotionSegment) {
  Machine machine;
  machine.coordinates[kX].position = 5.0;
  machine.coordinates[kX].zeroOffset = 1.0;
  ASSERT_NE(machine.Line({10, 0, 0, kUnset, kUnset}), nullptr);
  PathSegment& velocity = machine.NewSegment();
  ASSERT_TRUE(PreparePathVelocitySegment(3.0, 4.0, velocity));
  AppendSegment(machine.queue, velocity);
  // Absolute X 20 from the line's end at 15: distance 20 + 1 - 15.
  PathSegment* line = machine.Line({20, kUnset, kUnset, kUnset, kUnset}, true);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->axes[kX].start, 15.0);
  EXPECT_EQ(line->axes[kX].end, 21.0);
  EXPECT_EQ(line->axes[kY].start, 0.0);
}

TEST(PlaneRotation, RotateAndUnrotateAreInverse) {
  std::mt19937_64 engine(0x5eed0133u);
  std::uniform_real_distribution<double> value(-1e3, 1e3);
  std::uniform_real_distribution<double> angle(-7.0, 7.0);
  for (int i = 0; i < 1000; ++i) {
    PlaneRotation rotation;
    rotation.plane = 1;
    rotation.angle = angle(engine);
    const PlanePoint point{value(engine), value(engine)};
    const PlanePoint back = UnrotateInPlane(RotateInPlane(point, rotation), rotation);
    ASSERT_NEAR(back.x, point.x, 1e-9);
    ASSERT_NEAR(back.y, point.y, 1e-9);
    const PlanePoint turned = RotateInPlane(point, rotation);
    ASSERT_NEAR(std::hypot(turned.x, turned.y), std::hypot(point.x, point.y), 1e-9);
  }
  PlaneRotation quarter;
  quarter.angle = std::acos(-1.0) / 2.0;
  const PlanePoint turned = RotateInPlane({1.0, 0.0}, quarter);
  EXPECT_NEAR(turned.x, 0.0, 1e-15);
  EXPECT_NEAR(turned.y, 1.0, 1e-15);
}

TEST(PlaneRotation, LineTargetsAreTakenInTheRotatedPlane) {
  Machine machine;
  machine.rotation = {1, static_cast<std::int32_t>(kX), static_cast<std::int32_t>(kY), 90,
                      std::acos(-1.0) / 2.0};
  machine.coordinates[kX].zeroOffset = 10.0;
  // Absolute rotated (5, 0) from the origin of the zero offsets: machine
  // (10 + 0, 5) after a quarter turn.
  PathSegment* line = machine.Line({5, 0, kUnset, kUnset, kUnset}, true);
  ASSERT_NE(line, nullptr);
  EXPECT_NEAR(line->axes[kX].end, 10.0, 1e-12);
  EXPECT_NEAR(line->axes[kY].end, 5.0, 1e-12);
}

TEST(AxisSelection, FurtherPathAxesFillXYThenZ) {
  std::vector<CoordinateInput> coordinates(6);
  for (const std::size_t i : {1u, 3u, 4u, 5u}) coordinates[i].onPath = true;
  const CartesianAxes axes = AssignCartesianAxes(coordinates);
  EXPECT_EQ(axes.x, 3);
  EXPECT_EQ(axes.y, 1);
  EXPECT_EQ(axes.z, 5);  // axis 4 became Z first and was replaced by 5
}

}  // namespace
}  // namespace vantor::motion

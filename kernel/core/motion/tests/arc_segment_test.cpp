#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>
#include <random>
#include <vector>

#include "kernel/core/motion/arc_geometry.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/tests/machine_fixture.h"
#include "kernel/core/motion/tests/property_cases.h"

namespace vantor::motion {
namespace {

using testing::kA;
using testing::kUnset;
using testing::kX;
using testing::kY;
using testing::kZ;
using testing::Machine;

constexpr double kPi = std::numbers::pi;

struct PointAngleCase {
  double dx, dy, expected;
};

TEST(PointAngle, QuadrantsAndAxisSnaps) {
  const double g = std::asin(0.6);
  const PointAngleCase cases[] = {
      {1.0, 0.0, 0.0},      {0.0, 1.0, kPi / 2},  {-1.0, 0.0, kPi},      {0.0, -1.0, 3 * kPi / 2},
      {0.8, 0.6, g},        {-0.8, 0.6, kPi - g}, {-0.8, -0.6, kPi + g}, {0.8, -0.6, 2 * kPi - g},
      {1e-9, 1.0, kPi / 2}, {1.0, -1e-9, 0.0},    {0.5, 1.2, kPi / 2},  // beyond the radius snaps
                                                                        // to the axis
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(PointAngle(1.0, c.dx, c.dy), c.expected, 1e-15) << c.dx << ", " << c.dy;
  }
}

struct SweepCase {
  bool decreasing;
  double phi0, phi1, expected;
};

TEST(ArcSweep, DirectionsQuadrantsAndFullCircles) {
  const SweepCase cases[] = {
      {false, 0.0, kPi / 2, kPi / 2},
      {true, 0.0, kPi / 2, 3 * kPi / 2},
      {false, kPi / 2, 0.0, 3 * kPi / 2},
      {true, kPi / 2, 0.0, kPi / 2},
      {false, 3 * kPi / 2, kPi / 4, 3 * kPi / 4},
      {true, kPi / 4, 3 * kPi / 2, 3 * kPi / 4},
      {false, 1.0, 1.0 + 1e-7, 2 * kPi},
      {true, 0.0, 2 * kPi - 1e-7, 2 * kPi},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(ArcSweep(c.decreasing, 1e-6, c.phi0, c.phi1), c.expected, 1e-12)
        << c.decreasing << " " << c.phi0 << " -> " << c.phi1;
  }
}

TEST(AdvanceAngle, SubtractsWhenDecreasing) {
  EXPECT_EQ(AdvanceAngle(false, 0.25, 1.0), 1.25);
  EXPECT_EQ(AdvanceAngle(true, 0.25, 1.0), 0.75);
}

// Values of an arc by end point: plane selectors, direction, centre (2),
// then X, Y, Z, U, A.
std::vector<CommandValue> EndPointArc(double direction, double cx, double cy, double ex, double ey,
                                      double ez = kUnset) {
  return Machine::Values({0, 1, direction, cx, cy, ex, ey, ez, kUnset, kUnset});
}

std::vector<CommandValue> SweepArc(double direction, double sweepDegrees, double cx, double cy,
                                   double ez = kUnset) {
  return Machine::Values({0, 1, direction, sweepDegrees, cx, cy, 123.0, 456.0, ez, kUnset, kUnset});
}

double PartPosition(const SegmentAxisPart& part, double angle) {
  return part.centre + part.radius * (part.cosineAxis ? std::cos(angle) : std::sin(angle));
}

TEST(ArcSegment, QuarterCircleByEndPoint) {
  Machine machine;
  machine.coordinates[kX].position = 10.0;
  PathSegment segment;
  // Centre at the origin (relative -10, 0), end at (0, 10), angle increasing.
  const auto values = EndPointArc(1, -10, 0, -10, 10);
  ASSERT_TRUE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()));
  const SegmentAxisPart& x = segment.axes[kX];
  const SegmentAxisPart& y = segment.axes[kY];
  EXPECT_EQ(x.shape, AxisShape::kCircular);
  EXPECT_TRUE(x.cosineAxis);
  EXPECT_FALSE(y.cosineAxis);
  EXPECT_EQ(x.startAngle, 0.0);
  EXPECT_NEAR(segment.length, 5.0 * kPi, 1e-12);
  EXPECT_NEAR(x.factor * segment.length, kPi / 2, 1e-12);
  EXPECT_EQ(x.centre, 0.0);
  EXPECT_EQ(x.end, 0.0);
  EXPECT_EQ(y.end, 10.0);
  EXPECT_NEAR(PartPosition(x, x.startAngle + kPi / 2), x.end, 1e-12);
  EXPECT_NEAR(PartPosition(y, y.startAngle + kPi / 2), y.end, 1e-12);
  EXPECT_TRUE(segment.isPath);
  // The velocity limit of the arc is the smallest of its candidates.
  const double centripetal = std::sqrt(10.0 * 1000.0 / 2.0);
  EXPECT_LE(segment.velocity, centripetal + 1e-12);
  EXPECT_NEAR(segment.jerk, 10000.0 / 3.0, 1e-9);
}

TEST(ArcSegment, DecreasingDirectionTakesTheLongWay) {
  Machine machine;
  machine.coordinates[kX].position = 10.0;
  PathSegment segment;
  const auto values = EndPointArc(0, -10, 0, -10, 10);
  ASSERT_TRUE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()));
  EXPECT_TRUE(segment.axes[kX].decreasing);
  EXPECT_NEAR(segment.length, 15.0 * kPi, 1e-12);
}

TEST(ArcSegment, EndAtTheStartIsAFullCircle) {
  Machine machine;
  PathSegment segment;
  const auto values = EndPointArc(1, 5, 0, 0, 0);
  ASSERT_TRUE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()));
  EXPECT_NEAR(segment.length, 2 * kPi * 5, 1e-12);
}

TEST(ArcSegment, EndRadiusOffByTheRoundingErrorIsRefused) {
  for (const double tolerance : {0.5, 0.4}) {
    Machine machine;
    machine.parameters.RadiusRoundingError = tolerance;
    PathSegment segment;
    // Start radius 10, end radius 10.5.
    const auto values = EndPointArc(1, 10, 0, 10, 10.5);
    EXPECT_FALSE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()));
    EXPECT_EQ(segment.error, SegmentError::kGeometryOrRange);
  }
  Machine machine;
  machine.parameters.RadiusRoundingError = 0.6;
  PathSegment segment;
  EXPECT_TRUE(PrepareArcSegment({true, false, EndPointArc(1, 10, 0, 10, 10.5)}, nullptr, segment,
                                machine.Context()));
}

TEST(ArcSegment, SweepAngleEndIsExactNotRounded) {
  Machine machine;
  PathSegment segment;
  // Centre 10 units along X, 45 degrees increasing from angle pi.
  const auto values = SweepArc(1, 45, 10, 0);
  ASSERT_TRUE(PrepareArcSegment({false, false, values}, nullptr, segment, machine.Context()));
  const double angle = kPi + kPi / 4;
  EXPECT_NEAR(segment.axes[kX].end, 10.0 + 10.0 * std::cos(angle), 1e-12);
  EXPECT_NEAR(segment.axes[kY].end, 10.0 * std::sin(angle), 1e-12);
  EXPECT_NE(segment.axes[kX].end, std::round(segment.axes[kX].end));
  EXPECT_NEAR(segment.length, 10.0 * kPi / 4, 1e-12);
}

// Turns by a sweep that should end on whole units do: the angle functions'
// rounding must not leave an end a hair below, a whole increment once the
// set-point is truncated.
TEST(ArcSegment, TurnsBySweepEndOnTheirWholeUnits) {
  struct Case {
    double direction, sweepDegrees, cx, cy, endX, endY;
  };
  // From (30000, 30000), centres given relative to the start.
  for (const Case& c : {Case{1, 180, 10000, 0, 50000, 30000}, Case{1, 360, 10000, 0, 30000, 30000},
                        Case{0, 90, 10000, 0, 40000, 40000}, Case{1, 270, 0, -7000, 37000, 23000},
                        Case{0, 540, -3, 0, 29994, 30000}}) {
    SCOPED_TRACE(::testing::Message() << c.sweepDegrees << " degrees, direction " << c.direction);
    Machine machine;
    machine.coordinates[kX].position = 30000.0;
    machine.coordinates[kY].position = 30000.0;
    PathSegment segment;
    ASSERT_TRUE(PrepareArcSegment({false, false, SweepArc(c.direction, c.sweepDegrees, c.cx, c.cy)},
                                  nullptr, segment, machine.Context()));
    EXPECT_EQ(segment.axes[kX].end, c.endX);
    EXPECT_EQ(segment.axes[kY].end, c.endY);
  }
}

TEST(ArcSegment, SweepNegativeIsRefusedAndZeroIsNothingToMove) {
  Machine machine;
  PathSegment negative;
  EXPECT_FALSE(PrepareArcSegment({false, false, SweepArc(1, -10, 10, 0)}, nullptr, negative,
                                 machine.Context()));
  EXPECT_EQ(negative.error, SegmentError::kGeometryOrRange);
  EXPECT_EQ(ResultOfSegmentError(negative.error), 0xC9130021u);
  PathSegment zero;
  EXPECT_FALSE(
      PrepareArcSegment({false, false, SweepArc(1, 0, 10, 0)}, nullptr, zero, machine.Context()));
  EXPECT_EQ(zero.error, SegmentError::kZeroLength);
  EXPECT_EQ(ResultOfSegmentError(zero.error), 0x09130000u);
}

TEST(ArcSegment, CentreAndEndAreTakenInTheRotatedPlane) {
  Machine machine;
  machine.rotation = {1, static_cast<std::int32_t>(kX), static_cast<std::int32_t>(kY), 90, kPi / 2};
  PathSegment segment;
  // Rotated: centre 10 along the rotated X, end 20 along it (a half circle).
  ASSERT_TRUE(PrepareArcSegment({true, false, EndPointArc(1, 10, 0, 20, 0)}, nullptr, segment,
                                machine.Context()));
  EXPECT_NEAR(segment.axes[kX].centre, 0.0, 1e-12);
  EXPECT_NEAR(segment.axes[kY].centre, 10.0, 1e-12);
  EXPECT_NEAR(segment.axes[kX].end, 0.0, 1e-12);
  EXPECT_NEAR(segment.axes[kY].end, 20.0, 1e-12);
  EXPECT_NEAR(segment.length, 10.0 * kPi, 1e-9);
}

TEST(ArcSegment, PlaneSelectorsOtherThanXAndYMeanZ) {
  Machine machine;
  machine.coordinates[kY].position = 10.0;
  PathSegment segment;
  // Plane (Z, Y): selector 2, any other number and the no-move marker
  // (beyond every integer selector) all mean Z.
  for (const double selector : {2.0, 7.4, 4611686018427387904.0}) {
    const auto values = Machine::Values({selector, 1, 1, 0, -10, kUnset, -10, 10, kUnset, kUnset});
    ASSERT_TRUE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()))
        << selector;
    EXPECT_EQ(segment.axes[kZ].shape, AxisShape::kCircular);
    EXPECT_TRUE(segment.axes[kZ].cosineAxis);
    EXPECT_EQ(segment.axes[kX].shape, AxisShape::kLinear);
  }
}

TEST(ArcSegment, HelixTakesTheFirstOutOfPlanePathAxisIntoItsLength) {
  Machine machine;
  PathSegment segment;
  const auto values = SweepArc(1, 360, 10, 0, 5.0);
  ASSERT_TRUE(PrepareArcSegment({false, false, values}, nullptr, segment, machine.Context()));
  const double arc = 2 * kPi * 10;
  const double length = std::sqrt(arc * arc + 25.0);
  EXPECT_NEAR(segment.length, length, 1e-9);
  EXPECT_NEAR(segment.axes[kZ].factor, 5.0 / length, 1e-12);
  EXPECT_EQ(segment.axes[kZ].shape, AxisShape::kLinear);
  EXPECT_NEAR(segment.axes[kX].factor * length * 10.0, arc, 1e-9);
}

struct RefusedArcCase {
  const char* name;
  void (*spoil)(Machine&);
  std::vector<CommandValue> values;
  SegmentError error;
};

// Parameter cases print by name in test listings.
void PrintTo(const RefusedArcCase& c, std::ostream* os) { *os << c.name; }

class RefusedArc : public ::testing::TestWithParam<RefusedArcCase> {};

TEST_P(RefusedArc, NamesTheReason) {
  Machine machine;
  if (GetParam().spoil != nullptr) GetParam().spoil(machine);
  PathSegment segment;
  EXPECT_FALSE(
      PrepareArcSegment({true, false, GetParam().values}, nullptr, segment, machine.Context()));
  EXPECT_EQ(segment.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedArc,
    ::testing::Values(
        RefusedArcCase{"cylinder", [](Machine& m) { m.coordinates[kA].onPath = true; },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kCylinderArc},
        RefusedArcCase{"same_plane_axes", nullptr,
                       Machine::Values({0, 0, 1, 10, 0, 20, 0, kUnset, kUnset, kUnset}),
                       SegmentError::kGeometryOrRange},
        RefusedArcCase{"plane_axis_off_path", [](Machine& m) { m.coordinates[kY].onPath = false; },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kGeometryOrRange},
        RefusedArcCase{"zero_radius", nullptr, EndPointArc(1, 0, 0, 0, 0),
                       SegmentError::kGeometryOrRange},
        RefusedArcCase{"radius_error", [](Machine& m) { m.parameters.RadiusError = 0.0; },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kGeometryOrRange},
        RefusedArcCase{"plane_kv", [](Machine& m) { m.nodes[kX].kv = -1.0; },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kGeometryOrRange},
        RefusedArcCase{"circle_factor", [](Machine& m) { m.parameters.circleVelFacInverse = 0.0; },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kGeometryOrRange},
        RefusedArcCase{"rotation_plane_differs",
                       [](Machine& m) {
                         m.rotation = {2, static_cast<std::int32_t>(kZ), 0, 10, 0.1};
                       },
                       EndPointArc(1, 10, 0, 20, 0), SegmentError::kGeometryOrRange}),
    [](const ::testing::TestParamInfo<RefusedArcCase>& info) { return info.param.name; });

// Random arcs by end point: start and end are reproduced by the parts'
// circle within the rounding error.
TEST(ArcSegmentProperty, PartsReproduceStartAndEnd) {
  const auto seed = testing::PropertySeed("ArcGeometry", 0x5eed0130u);
  testing::CaseDrawer draw(seed);
  const int cases = testing::PropertyCaseCount(2000);
  for (int i = 0; i < cases; ++i) {
    Machine machine;
    machine.coordinates[kX].position = draw.Uniform(-100, 100);
    machine.coordinates[kY].position = draw.Uniform(-100, 100);
    const double r = draw.LogUniform(1e-3, 1e3);
    const double startAngle = draw.Uniform(0, 2 * kPi);
    const double endAngle = draw.Chance(0.1) ? startAngle : draw.Uniform(0, 2 * kPi);
    const double cx = -r * std::cos(startAngle);
    const double cy = -r * std::sin(startAngle);
    const double ex = cx + r * std::cos(endAngle);
    const double ey = cy + r * std::sin(endAngle);
    const bool decreasing = draw.Chance(0.5);
    PathSegment segment;
    const auto values = EndPointArc(decreasing ? 0 : 1, cx, cy, ex, ey);
    const std::string context = "case " + std::to_string(i);
    ASSERT_TRUE(PrepareArcSegment({true, false, values}, nullptr, segment, machine.Context()))
        << context;
    const SegmentAxisPart& x = segment.axes[kX];
    const SegmentAxisPart& y = segment.axes[kY];
    const double tolerance = 1e-9 * (1.0 + r + 100.0);
    ASSERT_NEAR(PartPosition(x, x.startAngle), x.start, tolerance) << context;
    ASSERT_NEAR(PartPosition(y, y.startAngle), y.start, tolerance) << context;
    const double sweep = x.factor * segment.length;
    ASSERT_GT(sweep, 0.0) << context;
    ASSERT_LE(sweep, 2 * kPi + 1e-12) << context;
    const double reached = AdvanceAngle(decreasing, sweep, x.startAngle);
    ASSERT_NEAR(PartPosition(x, reached), x.end, 1e-6 * (1.0 + r)) << context;
    ASSERT_NEAR(PartPosition(y, reached), y.end, 1e-6 * (1.0 + r)) << context;
  }
}

}  // namespace
}  // namespace vantor::motion

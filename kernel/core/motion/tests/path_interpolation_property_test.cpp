// Random paths through the interpolation, checked entry by entry from the
// played set-points alone: no axis runs faster or accelerates harder than
// its limits allow, and the last entry lies at the programmed end.
//
// VANTOR_PROPERTY_CASES sets the number of short lines (150000 for the long
// run), VANTOR_PROPERTY_SEED the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "kernel/core/motion/tests/path_cycle_fixture.h"
#include "kernel/core/motion/tests/property_cases.h"

namespace vantor::motion {
namespace {

using testing::CaseDrawer;
using testing::PathRun;

constexpr double kScale = PathRun::kScale;
constexpr double kRelativeSlack = 1e-6;

// Checks every played entry against the node limits, in increments per
// cycle and per cycle squared.
void ExpectWithinAxisLimits(const PathRun& run, const std::string& context) {
  const double dt = run.machine.parameters.cycleTime;
  const double carry = run.machine.parameters.CarryAxisVelFac;
  const auto& played = run.driver.played;
  for (std::size_t axis = 0; axis < run.machine.nodes.size(); ++axis) {
    const NodeLimits& limits = run.machine.nodes[axis];
    const double vMax = limits.maxVelocity * dt * kScale * (1.0 + kRelativeSlack) + 1.0;
    const double aMax =
        limits.maxAcceleration * dt * dt * kScale * (1.0 + carry) * (1.0 + kRelativeSlack) + 2.0;
    for (std::size_t k = 1; k < played.size(); ++k) {
      const double v = static_cast<double>(played[k][axis]) - played[k - 1][axis];
      ASSERT_LE(std::fabs(v), vMax) << context << " axis " << axis << " entry " << k;
      if (k < 2) continue;
      const double before = static_cast<double>(played[k - 1][axis]) - played[k - 2][axis];
      ASSERT_LE(std::fabs(v - before), aMax) << context << " axis " << axis << " entry " << k;
    }
  }
}

void ExpectAtEnd(const PathRun& run, const std::array<double, 6>& end, const std::string& context) {
  ASSERT_FALSE(run.driver.played.empty()) << context;
  for (std::size_t axis = 0; axis < run.machine.nodes.size(); ++axis) {
    EXPECT_NEAR(run.driver.played.back()[axis], end[axis] * kScale, 1.0)
        << context << " axis " << axis;
  }
}

std::array<double, 6> SetPositions(const PathRun& run) {
  std::array<double, 6> positions{};
  for (std::size_t axis = 0; axis < positions.size(); ++axis) {
    positions[axis] = run.motion.axes[axis].setPosition;
  }
  return positions;
}

TEST(PathInterpolationProperty, ShortLinesAppendedWhileThePathRuns) {
  const auto seed = testing::PropertySeed("ShortLines", 0x11e5u);
  CaseDrawer draw(seed);
  const int lines = testing::PropertyCaseCount(600);
  PathRun run(true);
  run.motion.programmedVelocity = 60.0;
  std::array<double, 6> end{};
  double heading = 0.0;
  int appended = 0;
  for (int cycle = 0; cycle < 50 * lines + 100000; ++cycle) {
    // A command source that keeps some lines ahead of the path.
    while (appended < lines && run.motion.queue.count < 40) {
      heading += draw.Chance(0.05) ? draw.Uniform(-1.5, 1.5) : draw.Uniform(-0.05, 0.05);
      const double dz = draw.Chance(0.1) ? draw.Uniform(-0.02, 0.02) : 0.0;
      const double du = draw.Uniform(-0.01, 0.01);
      ASSERT_NE(run.Line({0.05 * std::cos(heading), 0.05 * std::sin(heading), dz, du, 0.0, 0.002}),
                nullptr);
      ++appended;
      end[0] += 0.05 * std::cos(heading);
      end[1] += 0.05 * std::sin(heading);
      end[2] += dz;
      end[3] += du;
      end[5] += 0.002;
    }
    run.Step();
    if (appended == lines && run.flags.motionActive == 0) break;
  }
  ASSERT_EQ(run.flags.motionActive, 0u) << "the path did not end";
  ExpectWithinAxisLimits(run, "lines");
  ExpectAtEnd(run, end, "lines");
}

TEST(PathInterpolationProperty, ArcsAndHelices) {
  const auto seed = testing::PropertySeed("ArcsAndHelices", 0xa5c5u);
  CaseDrawer draw(seed);
  const int paths = std::max(1, testing::PropertyCaseCount(600) / 100);
  for (int path = 0; path < paths; ++path) {
    PathRun run(true);
    run.motion.programmedVelocity = draw.Pick({5.0, 40.0, 100.0, 1000.0});
    for (int i = 0; i < 6; ++i) {
      const double radius = draw.LogUniform(0.2, 30.0);
      const double angle = draw.Uniform(0.0, 6.283);
      const double lead = draw.Chance(0.5) ? draw.Uniform(-3.0, 3.0) : testing::kUnset;
      if (draw.Chance(0.3)) {
        ASSERT_NE(run.Line({draw.Uniform(-2, 2), draw.Uniform(-2, 2), 0.0, 0.0, 0.0, 0.1}),
                  nullptr);
      }
      const double sweep = draw.Pick({1.0, 45.0, 90.0, 179.0, 359.0}) * draw.Uniform(0.5, 1.0);
      ASSERT_NE(run.Arc(draw.Chance(0.5), sweep, radius * std::cos(angle), radius * std::sin(angle),
                        lead),
                nullptr);
    }
    // The programmed end: the last queued segment's end of every axis.
    std::array<double, 6> end{};
    for (std::size_t axis = 0; axis < end.size(); ++axis) {
      end[axis] = run.motion.queue.tail->axes[axis].end;
    }
    const std::string context = "path " + std::to_string(path);
    ASSERT_TRUE(run.RunToEnd()) << context;
    ExpectWithinAxisLimits(run, context);
    ExpectAtEnd(run, end, context);
    EXPECT_EQ(SetPositions(run), end) << context;
  }
}

}  // namespace
}  // namespace vantor::motion

// The measured path velocity and the rotated plane's setting.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "kernel/core/path_velocity.h"
#include "kernel/core/plane_rotation_setting.h"

namespace vantor::kernel {
namespace {

PathVelocityAxis OnPath(double v, bool valid = true) { return {v, valid, true, 0}; }
PathVelocityAxis OffPath(double v, bool valid = true, std::uint32_t handling = 0) {
  return {v, valid, false, handling};
}

TEST(GetPathVelocity, FromThePathAxesOrTheFirstAxisOffThePath) {
  struct Case {
    const char* what;
    std::vector<PathVelocityAxis> axes;
    std::uint32_t interpolated;
    double path, rotary;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {"two path axes", {OnPath(3), OnPath(-4), OffPath(9)}, 2, 5, 0},
      {"an invalid path axis is left out", {OnPath(3), OnPath(-4, false)}, 2, 3, 0},
      {"below 1e-8 stays 0, no fallback", {OnPath(1e-5), OnPath(1e-5), OffPath(9)}, 2, 0, 0},
      {"a rotary axis off the path", {OnPath(3, false), OffPath(7), OffPath(8)}, 1, 0, 7},
      {"a handling axis", {OnPath(3, false), OffPath(-6, true, 1), OffPath(8)}, 1, -6, 0},
      {"the first valid one off the path", {OffPath(5, false), OffPath(6)}, 1, 0, 6},
      {"a path axis beyond the interpolated ones", {OffPath(0, false), OnPath(4)}, 1, 0, 0},
      {"not a number is not valid", {OnPath(nan), OffPath(2)}, 1, 0, 2},
      {"an interpolated count beyond the axes", {OnPath(2)}, 6, 2, 0},
      {"nothing valid", {OnPath(2, false), OffPath(3, false)}, 1, 0, 0},
      {"no axes", {}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const MeasuredPathVelocity v = GetPathVelocity(c.axes, c.interpolated);
    EXPECT_DOUBLE_EQ(v.pathVelocity, c.path) << c.what;
    EXPECT_DOUBLE_EQ(v.rotaryVelocity, c.rotary) << c.what;
  }
}

motion::CoordinateInput Linear(bool onPath = true) { return {true, onPath}; }
motion::CoordinateInput Rotary(bool onPath) { return {false, onPath}; }

constexpr double kDegree = std::numbers::pi / 180.0;

TEST(SetPlaneRotation, TakesThePlanesAxesAsForArcs) {
  struct Case {
    std::vector<motion::CoordinateInput> coordinates;
    std::uint32_t plane;
    std::int32_t axisA, axisB;
  };
  const Case cases[] = {
      {{Linear(), Linear()}, 1, 0, 1},
      {{Linear(), Linear(), Linear()}, 2, 2, 0},
      {{Linear(), Linear(), Linear()}, 3, 1, 2},
      {{Linear(), Linear(), Rotary(false)}, 1, 0, 1},
      {{Linear(false), Linear(), Linear(false), Linear()}, 1, 3, 1},
  };
  for (const Case& c : cases) {
    motion::PlaneRotation rotation;
    ASSERT_EQ(SetPlaneRotation({c.plane, 90}, c.coordinates, kDegree, rotation), 1u) << c.plane;
    EXPECT_EQ(rotation.plane, c.plane);
    EXPECT_EQ(rotation.axisA, c.axisA) << c.plane;
    EXPECT_EQ(rotation.axisB, c.axisB) << c.plane;
    EXPECT_EQ(rotation.angleValue, 90);
    EXPECT_DOUBLE_EQ(rotation.angle, std::numbers::pi / 2);
  }
}

TEST(SetPlaneRotation, RefusesWithoutChangingTheRotation) {
  struct Case {
    const char* what;
    std::vector<motion::CoordinateInput> coordinates;
    std::uint32_t plane;
  };
  const Case cases[] = {
      {"plane 2 without a Z axis", {Linear(), Linear()}, 2},
      {"plane 3 without a Z axis", {Linear(), Linear()}, 3},
      {"a rotary path coordinate", {Linear(), Linear(), Rotary(true)}, 1},
      {"plane 4", {Linear(), Linear(), Linear()}, 4},
  };
  for (const Case& c : cases) {
    motion::PlaneRotation rotation{1, 0, 1, 30, 30 * kDegree};
    const motion::PlaneRotation before = rotation;
    EXPECT_EQ(SetPlaneRotation({c.plane, 45}, c.coordinates, kDegree, rotation), 0u) << c.what;
    EXPECT_EQ(rotation.plane, before.plane) << c.what;
    EXPECT_EQ(rotation.axisA, before.axisA) << c.what;
    EXPECT_EQ(rotation.angleValue, before.angleValue) << c.what;
  }
}

TEST(SetPlaneRotation, PlaneZeroOrAngleZeroSwitchesItOff) {
  // Even on a machine that could not turn the plane asked for.
  for (const auto& [plane, angle] : {std::pair{0u, 45}, {2u, 0}}) {
    motion::PlaneRotation rotation{1, 0, 1, 30, 30 * kDegree};
    const std::vector<motion::CoordinateInput> xy = {Linear(), Linear()};
    ASSERT_EQ(SetPlaneRotation({plane, angle}, xy, kDegree, rotation), 1u);
    EXPECT_FALSE(rotation.IsOn());
    EXPECT_EQ(rotation.axisA, -1);
    EXPECT_EQ(rotation.axisB, -1);
    EXPECT_EQ(rotation.angleValue, 0);
    EXPECT_EQ(rotation.angle, 0.0);
  }
}

}  // namespace
}  // namespace vantor::kernel

// Runs the velocity ramp through a queue that the look-ahead planned, the
// way the interpolation hands the path from segment to segment, and checks
// that every planned exit velocity is met and no segment's limits are
// passed: the look-ahead's plan is one the profile can follow.
#include <gtest/gtest.h>

#include <cmath>

#include "kernel/core/motion/interpolation_rules.h"
#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/path_velocity_ramp.h"
#include "kernel/core/motion/tests/machine_fixture.h"
#include "kernel/core/motion/tests/property_cases.h"

namespace vantor::motion {
namespace {

using testing::kUnset;
using testing::Machine;

class NoLock : public LookAheadLock {
 public:
  void ReleaseAndRetake() override {}
};

TEST(PathChainProperty, ProfileMeetsEveryPlannedExitVelocity) {
  const auto seed = testing::PropertySeed("PathChain", 0x5eed0137u);
  testing::CaseDrawer draw(seed);
  const int paths = std::max(1, testing::PropertyCaseCount(2000) / 200);
  for (int path = 0; path < paths; ++path) {
    Machine machine;
    NoLock lock;
    double heading = 0.0;
    for (int i = 0; i < 60; ++i) {
      heading += draw.Chance(0.1) ? draw.Uniform(-2.5, 2.5) : draw.Uniform(-0.1, 0.1);
      const double length =
          draw.Chance(0.2) ? draw.LogUniform(0.5, 20) : draw.LogUniform(0.01, 0.2);
      ASSERT_NE(
          machine.Line({length * std::cos(heading), length * std::sin(heading), 0, kUnset, kUnset}),
          nullptr);
      PlanSegmentLookAhead(machine.queue, lock);
    }
    PathVelocityProfile profile;
    const double dt = machine.parameters.cycleTime;
    int index = 0;
    for (const PathSegment* segment = machine.queue.head; segment != nullptr;
         segment = segment->next, ++index) {
      const std::string context =
          "path " + std::to_string(path) + " segment " + std::to_string(index);
      ASSERT_LE(profile.velocity, segment->velocity * (1.0 + 1e-9) + 1e-9)
          << context << ": entered too fast";
      StartSegmentProfile(profile, *segment, profile.velocity, segment->velocity);
      for (int cycle = 0; cycle < 100000 && !profile.endReached; ++cycle) {
        profile.timeLeft = dt;
        ASSERT_EQ(RampPathVelocity(profile), ProfileStepResult::kStepped) << context;
        ASSERT_LE(profile.velocity, segment->velocity * (1.0 + 1e-9) + 1e-9) << context;
        ASSERT_LE(std::fabs(profile.acceleration), segment->acceleration * (1.0 + 1e-9)) << context;
      }
      ASSERT_TRUE(profile.endReached) << context << " did not end";
      ASSERT_NEAR(profile.travelled, segment->length, 1e-9 * (1.0 + segment->length)) << context;
      ASSERT_LE(profile.velocity, segment->exitVelocity + 1e-6 * (1.0 + segment->exitVelocity))
          << context << ": left faster than planned";
    }
    EXPECT_LE(profile.velocity, 1e-6);
  }
}

}  // namespace
}  // namespace vantor::motion

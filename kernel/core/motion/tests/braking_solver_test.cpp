#include "kernel/core/motion/braking_solver.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/core/motion/profile_kinematics.h"
#include "kernel/core/motion/tests/property_cases.h"

namespace vantor::motion {
namespace {

TEST(SolveBrakingVelocities, LongestJerkOnlyRampMeetsAtAThird) {
  // From v = 1 with J = 1 a ramp without constant deceleration covers at
  // most sqrt(32/27) units, ending at v / 3.
  const double longest = std::sqrt(32.0 / 27.0);
  const auto both = SolveBrakingVelocities(1.0, 100.0, 1.0, longest);
  ASSERT_TRUE(both.has_value());
  EXPECT_NEAR(both->lower, 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(both->upper, 1.0 / 3.0, 1e-12);
  EXPECT_FALSE(SolveBrakingVelocities(1.0, 100.0, 1.0, longest * 1.01).has_value());
}

TEST(SolveBrakingVelocities, RefusesUnusableLimits) {
  EXPECT_FALSE(SolveBrakingVelocities(0.0, 1.0, 1.0, 0.1).has_value());
  EXPECT_FALSE(SolveBrakingVelocities(1.0, -1.0, 1.0, 0.1).has_value());
  EXPECT_FALSE(SolveBrakingVelocities(1.0, 1.0, NAN, 0.1).has_value());
}

// Whatever the solver answers, braking from v to each answer covers the
// distance asked for (checked with the distance formula, not the solver).
TEST(SolveBrakingVelocitiesProperty, AnswersBrakeOverTheDistance) {
  const auto seed = testing::PropertySeed("BrakingSolver", 0x5eed0136u);
  testing::CaseDrawer draw(seed);
  const int cases = testing::PropertyCaseCount(2000);
  int answered = 0;
  for (int i = 0; i < cases; ++i) {
    const double J = draw.LogUniform(1.0, 1e5);
    const double A = draw.LogUniform(0.1, 1e3);
    const double v = draw.LogUniform(1e-3, 1e3);
    const double d = BrakingDistance(J, A, v, 0.0) * draw.Uniform(0.01, 1.2);
    const auto answer = SolveBrakingVelocities(J, A, v, d);
    if (!answer) continue;
    ++answered;
    for (const double end : {answer->lower, answer->upper}) {
      if (end < 0.0 || end > v) continue;
      ASSERT_NEAR(BrakingDistance(J, A, v, end), d, 1e-6 * (1.0 + d))
          << "case " << i << ": J=" << J << " A=" << A << " v=" << v << " d=" << d << " end=" << end;
    }
    ASSERT_LE(answer->lower, answer->upper);
  }
  EXPECT_GT(answered, cases / 4);
}

}  // namespace
}  // namespace vantor::motion

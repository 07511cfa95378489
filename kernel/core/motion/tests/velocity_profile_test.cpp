#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/path_velocity_ramp.h"
#include "kernel/core/motion/profile_kinematics.h"
#include "kernel/core/motion/tests/ends_within.h"
#include "kernel/core/motion/tests/profile_checker.h"
#include "kernel/core/motion/tests/property_cases.h"
#include "kernel/core/motion/tolerances.h"
#include "kernel/core/motion/velocity_profile.h"

namespace vantor::motion {
namespace {

using testing::EndsWithin;
using testing::kEndlessAfter;
using testing::MoveCase;
using testing::RestToRestDuration;
using testing::RunAndCheckMove;

// A profile with its limits and the length left, at rest otherwise: each
// case then sets the state it starts from.
PathVelocityProfile LimitedProfile(double jerk, double maxAcceleration, double maxVelocity,
                                   double remaining) {
  PathVelocityProfile profile;
  profile.jerk = jerk;
  profile.maxAcceleration = maxAcceleration;
  profile.maxVelocity = maxVelocity;
  profile.remaining = remaining;
  return profile;
}

TEST(NumericHelpers, TieRulesPickTheDocumentedOperand) {
  // Distinguish the operands of a tie by the sign of zero.
  EXPECT_TRUE(std::signbit(MinOf(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(MinOf(0.0, -0.0)));
  EXPECT_FALSE(std::signbit(MaxOf(-0.0, 0.0)));
  EXPECT_TRUE(std::signbit(MaxOf(0.0, -0.0)));
  EXPECT_EQ(MinOf(2.0, 2.0), 2.0);
  EXPECT_EQ(LargerMagnitude(-3.0, 3.0), 3.0);
  EXPECT_EQ(LargerMagnitude(3.0, -3.0), -3.0);
  EXPECT_EQ(CubeRoot(-8.0), -2.0);
  EXPECT_EQ(ClampedSqrt(-1e-12), 0.0);
}

TEST(ProfileDistances, BrakingDistanceMatchesClosedForms) {
  // Jerk-only ramp 0 -> 1 with J = 1: time 2, distance 1.
  EXPECT_NEAR(BrakingDistance(1.0, 10.0, 1.0, 0.0), 1.0, 1e-12);
  // Trapezoid ramp 0 -> 4 with J = 1, A = 1: time 5, distance 10.
  EXPECT_NEAR(BrakingDistance(1.0, 1.0, 4.0, 0.0), 10.0, 1e-12);
  // Equal velocities need no distance.
  EXPECT_EQ(BrakingDistance(1.0, 1.0, 3.0, 3.0), 0.0);
}

// Rest-to-rest anchors whose duration is known in closed form.
struct AnchorCase {
  const char* name;
  MoveCase move;
  double expectedDuration_s;
};

// Parameter cases print by name in test listings.
void PrintTo(const AnchorCase& c, std::ostream* os) { *os << c.name; }

class RestToRestAnchor : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(RestToRestAnchor, DurationMatchesTheClosedForm) {
  const AnchorCase& anchor = GetParam();
  const auto outcome = RunAndCheckMove(anchor.move, 1000000);
  ASSERT_TRUE(outcome.finished) << testing::Describe(anchor.move);
  EXPECT_TRUE(outcome.violations.empty()) << outcome.violations.front();
  EXPECT_NEAR(RestToRestDuration(anchor.move.jerk, anchor.move.acceleration, anchor.move.velocity,
                                 anchor.move.length),
              anchor.expectedDuration_s, 1e-9);
  EXPECT_NEAR(outcome.duration_s, anchor.expectedDuration_s, 3.0 * anchor.move.cycleTime);
  EXPECT_NEAR(outcome.finalVelocity, 0.0, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    ClosedForm, RestToRestAnchor,
    ::testing::Values(
        // Unit limits, length 1: the peak velocity is never reached.
        AnchorCase{"unit", {1.0, 1.0, 1.0, 1.0, 0.001, 0.0, 0.0}, std::cbrt(32.0)},
        // Long move with cruise: ramps of V/A + A/J = 3 s over 4.5 units each.
        AnchorCase{"cruise", {1.0, 1.0, 2.0, 20.0, 0.001, 0.0, 0.0}, 2.0 * 3.0 + (20.0 - 6.0) / 2.0},
        // Jerk-limited ramps reaching V exactly: 2 * 2 * sqrt(V / J) + 0.
        AnchorCase{"touch", {4.0, 100.0, 1.0, 1.0, 0.0005, 0.0, 0.0}, 2.0}),
    [](const ::testing::TestParamInfo<AnchorCase>& info) { return info.param.name; });

// Random limits, lengths, start and end velocities and cycle times.
TEST(VelocityProfileProperty, RandomMovesKeepEveryLimitAndEndExactly) {
  const auto seed = testing::PropertySeed("RandomMoves", 0x5eed0131u);
  testing::CaseDrawer draw(seed);
  const int cases = testing::PropertyCaseCount(2000);
  const double cycleTimes[] = {0.0005, 0.001, 0.002, 0.004};
  int restToRestChecked = 0;
  for (int i = 0; i < cases; ++i) {
    MoveCase m;
    m.cycleTime = draw.Chance(0.8) ? draw.Pick(cycleTimes) : draw.Uniform(0.0002, 0.008);
    m.jerk = draw.LogUniform(1.0, 1e6);
    m.acceleration = draw.Chance(0.1) ? std::sqrt(m.jerk * draw.LogUniform(0.1, 100.0))
                                      : draw.LogUniform(0.1, 1e4);
    m.velocity = draw.Chance(0.1) ? m.acceleration * m.acceleration / m.jerk
                                  : draw.LogUniform(0.1, 1e3);
    // Keep every case to a few thousand cycles.
    const double longest = 2500.0 * m.cycleTime * m.velocity;
    m.length = draw.Chance(0.1) ? draw.LogUniform(1e-6, 1e-3) : draw.LogUniform(1e-4, 1e3);
    if (RestToRestDuration(m.jerk, m.acceleration, m.velocity, m.length) > 2500.0 * m.cycleTime) {
      m.length = MinOf(m.length, longest * 0.5);
    }
    const bool restToRest = draw.Chance(0.4);
    if (!restToRest) {
      m.startVelocity = draw.Chance(0.3) ? m.velocity : draw.Uniform(0.01, m.velocity);
      m.endVelocity = draw.Chance(0.3) ? 0.0 : (draw.Chance(0.3) ? m.startVelocity
                                                                 : draw.Uniform(0.0, m.velocity));
    }
    const double optimal = RestToRestDuration(m.jerk, m.acceleration, m.velocity, m.length);
    const double rampTime = m.velocity / m.acceleration + m.acceleration / m.jerk;
    const double bound_s = optimal + 2.0 * rampTime + 50.0 * m.cycleTime;
    const auto limit = static_cast<std::int64_t>(bound_s / m.cycleTime) + 1;
    const auto outcome = RunAndCheckMove(m, limit);
    const std::string context = "case " + std::to_string(i) + ": " + testing::Describe(m);
    ASSERT_TRUE(outcome.finished) << context << " not finished after " << limit << " cycles";
    ASSERT_TRUE(outcome.violations.empty()) << context << "\n" << outcome.violations.front();

    // The end velocity is met when braking from the start velocity fits.
    const bool feasible = m.startVelocity <= m.endVelocity ||
                          BrakingDistance(m.jerk, m.acceleration, m.startVelocity, m.endVelocity) <=
                              m.length * (1.0 - 1e-6);
    if (feasible) {
      // Rounding over many cycles may leave the last millionths of the
      // braking ramp undone when the end point is reached.
      ASSERT_LE(outcome.finalVelocity, m.endVelocity + 1e-6 * (1.0 + m.endVelocity) + 1e-8 * m.velocity)
          << context;
    }
    if (restToRest) {
      ++restToRestChecked;
      ASSERT_GE(outcome.duration_s, optimal * (1.0 - 1e-6) - 2.0 * m.cycleTime) << context;
      ASSERT_LE(outcome.duration_s, optimal + 4.0 * m.cycleTime) << context;
    }
  }
  EXPECT_GT(restToRestChecked, 0);
}

TEST(VelocityProfile, RefusesLimitsThatCannotBePlanned) {
  const double badValues[] = {0.0, -1.0, NAN, INFINITY};
  for (const double bad : badValues) {
    for (int which = 0; which < 2; ++which) {
      PathVelocityProfile profile =
          LimitedProfile(which == 0 ? bad : 1.0, which == 1 ? bad : 1.0, 1.0, 1.0);
      profile.timeLeft = 0.001;
      profile.targetVelocity = 1.0;
      profile.phase = ProfilePhase::kRisingAcceleration;
      EXPECT_EQ(StepProfile(profile), ProfileStepResult::kInvalidLimits) << bad;
      EXPECT_EQ(profile.timeLeft, 0.0);
      EXPECT_EQ(profile.travelled, 0.0);
      EXPECT_EQ(profile.velocity, 0.0);
    }
  }
}

// A jerk this small is positive and finite, yet its square underflows to
// zero: the braking phases then compute their durations as zero, and
// cruising, braking and the end of braking hand over to each other without
// using any of the cycle's time. The step must still end, and say why.
TEST(VelocityProfile, PhasesThatUseNoTimeEndTheStepInsteadOfSpinning) {
  PathVelocityProfile profile = LimitedProfile(1e-300, 1.0, 1.0, 10.0);
  profile.requestedVelocity = 1.0;
  profile.acceptedVelocity = 1.0;
  profile.targetVelocity = 1.0;
  profile.settled = true;
  profile.velocity = 1.0;
  profile.phase = ProfilePhase::kConstantVelocity;
  profile.timeLeft = 0.001;

  const auto end = EndsWithin(kEndlessAfter, [&] {
    PathVelocityProfile stepped = profile;
    return static_cast<int>(StepProfile(stepped));
  });
  ASSERT_TRUE(end.has_value()) << "the profile step did not end";
  EXPECT_EQ(*end, static_cast<int>(ProfileStepResult::kHandOverLimit));
  // Known to end now: the rest of the cycle is dropped, not left for a
  // caller to step again.
  StepProfile(profile);
  EXPECT_EQ(profile.timeLeft, 0.0);
}

TEST(VelocityProfile, TimeUsedUpInsideAPhaseKeepsThePhase) {
  PathVelocityProfile profile = LimitedProfile(1.0, 1.0, 10.0, 1000.0);
  profile.targetVelocity = 5.0;
  profile.velocity = 1.0;
  profile.acceleration = 0.5;
  profile.phase = ProfilePhase::kRisingAcceleration;
  profile.timeLeft = 0.01;
  EXPECT_EQ(StepProfile(profile), ProfileStepResult::kStepped);
  EXPECT_EQ(profile.timeLeft, 0.0);
  EXPECT_EQ(profile.phase, ProfilePhase::kRisingAcceleration);
  EXPECT_NEAR(profile.acceleration, 0.51, 1e-12);
}

TEST(VelocityProfile, SlowVelocityEnteringPhaseOneStartsFromStandstill) {
  PathVelocityProfile profile = LimitedProfile(1.0, 1.0, 1.0, 100.0);
  profile.targetVelocity = 1.0;
  profile.velocity = 0.005;
  profile.phase = ProfilePhase::kRisingAcceleration;
  profile.timeLeft = 0.001;
  StepProfile(profile);
  // From rest with jerk 1 for 1 ms: v = t^2 / 2.
  EXPECT_NEAR(profile.velocity, 0.5e-6, 1e-15);
}

TEST(VelocityProfile, EndingDecelerationNeverPassesTheEndNorReverses) {
  // 0.1 left: far less than the ramp would cover.
  PathVelocityProfile profile = LimitedProfile(10.0, 5.0, 10.0, 0.1);
  profile.targetVelocity = 0.0;
  profile.acceptedVelocity = 0.0;
  profile.settled = true;
  profile.velocity = 2.0;
  profile.acceleration = -5.0;
  profile.phase = ProfilePhase::kFallingDeceleration;
  for (int cycle = 0; cycle < 100 && !profile.endReached; ++cycle) {
    profile.timeLeft = 0.01;
    StepProfile(profile);
    ASSERT_GE(profile.remaining, 0.0);
    ASSERT_GE(profile.velocity, 0.0);
    ASSERT_LE(profile.acceleration, 0.0);
  }
  EXPECT_LE(profile.travelled, 0.1 + 1e-12);
}

// A braking ramp to standstill that ends short of the end point travels the
// rest instead of jumping there.
TEST(VelocityProfile, BrakingThatEndsShortTravelsTheRest) {
  // a = -0.5 from 0.125 ends at 0 after 0.5 s, having covered about 0.02
  // of the 0.5 left.
  PathVelocityProfile profile = LimitedProfile(1.0, 1.0, 1.0, 0.5);
  profile.requestedVelocity = 1.0;
  profile.acceptedVelocity = 1.0;
  profile.targetVelocity = 1.0;
  profile.brakingPlanned = true;
  profile.velocity = 0.125;
  profile.acceleration = -0.5;
  profile.phase = ProfilePhase::kFallingDeceleration;
  double previousVelocity = profile.velocity;
  for (int cycle = 0; cycle < 100000 && !profile.endReached; ++cycle) {
    profile.timeLeft = 0.001;
    profile.stepDistance = 0.0;
    ASSERT_EQ(StepProfile(profile), ProfileStepResult::kStepped);
    ASSERT_LE(profile.stepDistance, MaxOf(previousVelocity, profile.velocity) * 0.001 + 1e-9)
        << "cycle " << cycle;
    previousVelocity = profile.velocity;
  }
  EXPECT_TRUE(profile.endReached);
  EXPECT_NEAR(profile.travelled, 0.5, 1e-9);
}

// A limit that is no number, infinite, zero or negative is refused before
// anything is decided: a maximum velocity like that gives no cap (or one that
// drives the path backwards), a jerk or acceleration like that would leave
// non-numbers in the ramp's targets. The profile stays as it was.
TEST(PathVelocityRamp, RefusesLimitsThatCannotBePlanned) {
  enum class Limit { kJerk, kAcceleration, kVelocity };
  const double badValues[] = {NAN, -NAN, INFINITY, -INFINITY, -1.0, -0.0, 0.0};
  for (const Limit limit : {Limit::kJerk, Limit::kAcceleration, Limit::kVelocity}) {
    for (const double bad : badValues) {
      for (const bool replan : {false, true}) {
        PathVelocityProfile profile = LimitedProfile(100.0, 10.0, 20.0, 1000.0);
        if (limit == Limit::kJerk) profile.jerk = bad;
        if (limit == Limit::kAcceleration) profile.maxAcceleration = bad;
        if (limit == Limit::kVelocity) profile.maxVelocity = bad;
        profile.velocity = 2.0;
        profile.targetVelocity = 2.0;
        profile.acceptedVelocity = 2.0;
        profile.requestedVelocity = 5.0;
        profile.targetChanged = true;
        profile.replan = replan;
        profile.endVelocityRequest = 1.0;
        profile.timeLeft = 0.01;
        const PathVelocityProfile before = profile;
        const auto where = ::testing::Message() << "limit " << static_cast<int>(limit) << " = "
                                              << bad << (replan ? ", replan" : "");
        EXPECT_EQ(RampPathVelocity(profile), ProfileStepResult::kInvalidLimits) << where;
        EXPECT_EQ(profile.timeLeft, 0.0) << where;
        EXPECT_EQ(profile.travelled, 0.0) << where;
        EXPECT_EQ(profile.velocity, before.velocity) << where;
        EXPECT_EQ(profile.acceleration, 0.0) << where;
        EXPECT_EQ(profile.phase, before.phase) << where;
        EXPECT_EQ(profile.targetVelocity, before.targetVelocity) << where;
        EXPECT_EQ(profile.acceptedVelocity, before.acceptedVelocity) << where;
        EXPECT_EQ(profile.endVelocity, before.endVelocity) << where;
      }
    }
  }
}

TEST(PathVelocityRamp, RequestAboveTheLimitIsCut) {
  PathVelocityProfile profile = LimitedProfile(100.0, 10.0, 2.0, 1000.0);
  profile.requestedVelocity = 50.0;
  profile.targetChanged = true;
  profile.timeLeft = 0.001;
  RampPathVelocity(profile);
  EXPECT_EQ(profile.requestedVelocity, 2.0);
  EXPECT_EQ(profile.acceptedVelocity, 2.0);
  EXPECT_FALSE(profile.targetChanged);
}

TEST(PathVelocityRamp, RequestEqualToTheVelocityOnlySteps) {
  PathVelocityProfile profile = LimitedProfile(100.0, 10.0, 2.0, 1000.0);
  profile.velocity = 1.0;
  profile.targetVelocity = 1.0;
  profile.endVelocity = 1.0;
  profile.requestedVelocity = 1.0 + 1e-9;
  profile.targetChanged = true;
  profile.timeLeft = 0.001;
  RampPathVelocity(profile);
  EXPECT_EQ(profile.phase, ProfilePhase::kConstantVelocity);
  EXPECT_NEAR(profile.travelled, 0.001, 1e-15);
}

TEST(PathVelocityRamp, LowerRequestDuringAccelerationFinishesTheRampFirst) {
  PathVelocityProfile profile = LimitedProfile(100.0, 10.0, 10.0, 1000.0);
  profile.velocity = 1.0;
  profile.acceleration = 5.0;
  profile.targetVelocity = 8.0;
  profile.phase = ProfilePhase::kConstantAcceleration;
  profile.requestedVelocity = 0.5;
  profile.targetChanged = true;
  profile.timeLeft = 0.001;
  RampPathVelocity(profile);
  EXPECT_EQ(profile.phase, ProfilePhase::kFallingAcceleration);
  EXPECT_EQ(profile.acceptedVelocity, 0.5);
  EXPECT_NEAR(profile.targetVelocity, 1.0 + 25.0 / 200.0, 1e-12);
}

TEST(PathVelocityRamp, NewRequestWaitsWhileBraking) {
  PathVelocityProfile profile = LimitedProfile(100.0, 10.0, 10.0, 0.5);
  profile.velocity = 2.0;
  profile.acceleration = -2.0;
  profile.brakingPlanned = true;
  profile.phase = ProfilePhase::kRisingDeceleration;
  profile.requestedVelocity = 9.0;
  profile.targetChanged = true;
  profile.timeLeft = 0.001;
  RampPathVelocity(profile);
  EXPECT_TRUE(profile.targetChanged);
  EXPECT_TRUE(profile.brakingPlanned);
  EXPECT_LT(profile.acceleration, -2.0);
}

// Runs a cruising profile whose end velocity request drops to `request`
// with `remaining` left; returns the velocity at the end.
double EndVelocityAfterLateReplan(double remaining, double request) {
  PathVelocityProfile p = LimitedProfile(10.0, 5.0, 4.0, remaining);
  p.velocity = 4.0;
  p.targetVelocity = 4.0;
  p.acceptedVelocity = 4.0;
  p.settled = true;
  p.endVelocity = 4.0;
  p.endVelocityRequest = request;
  p.replan = true;
  for (int cycle = 0; cycle < 100000 && !p.endReached; ++cycle) {
    p.timeLeft = 0.001;
    EXPECT_EQ(RampPathVelocity(p), ProfileStepResult::kStepped);
    EXPECT_FALSE(p.replan);
    EXPECT_GE(p.velocity, 0.0);
    EXPECT_LE(std::fabs(p.acceleration), p.maxAcceleration * (1.0 + 1e-9));
  }
  EXPECT_TRUE(p.endReached);
  EXPECT_NEAR(p.travelled, remaining, 1e-9);
  return p.velocity;
}

TEST(PathVelocityRamp, LoweredEndVelocityIsMetWhenBrakingStillFits) {
  // Braking 4 -> 0 with J = 10, A = 5 needs ((4/10) + 0.5) * 4 = 3.6 units.
  EXPECT_NEAR(EndVelocityAfterLateReplan(10.0, 0.0), 0.0, 1e-6);
  EXPECT_NEAR(EndVelocityAfterLateReplan(3.7, 1.0), 1.0, 1e-6);
  // Too late to brake fully: the path still ends at its end point, as slow
  // as braking from now on allows.
  const double late = EndVelocityAfterLateReplan(1.0, 0.0);
  EXPECT_GT(late, 0.0);
  EXPECT_LT(late, 4.0);
}

// Requests and end velocities that change while the path runs: whatever
// they do, the limits hold and the path ends where it should.
TEST(PathVelocityRampProperty, ChangingRequestsKeepTheLimits) {
  const auto seed = testing::PropertySeed("ChangingRequests", 0x5eed0132u);
  testing::CaseDrawer draw(seed);
  const int cases = testing::PropertyCaseCount(2000) / 4;
  for (int i = 0; i < cases; ++i) {
    PathVelocityProfile p;
    p.jerk = draw.LogUniform(10.0, 1e5);
    p.maxAcceleration = draw.LogUniform(1.0, 1e3);
    p.maxVelocity = draw.LogUniform(1.0, 100.0);
    const double dt = 0.001;
    const double length = MinOf(draw.LogUniform(1e-3, 100.0), 1500.0 * dt * p.maxVelocity);
    p.remaining = length;
    p.requestedVelocity = p.maxVelocity;
    p.targetChanged = true;
    double previousAcceleration = 0.0;
    double previousVelocity = 0.0;
    const std::string context = "case " + std::to_string(i);
    int cycle = 0;
    for (; cycle < 200000 && !p.endReached; ++cycle) {
      if (draw.Chance(0.02)) {
        p.requestedVelocity = draw.Chance(0.2) ? 0.0 : draw.Uniform(0.0, 1.5 * p.maxVelocity);
        p.targetChanged = true;
      }
      if (draw.Chance(0.02)) {
        p.endVelocityRequest = draw.Chance(0.5) ? 0.0 : draw.Uniform(0.0, p.maxVelocity);
        p.replan = true;
      }
      if (cycle > 20000 && p.requestedVelocity <= 0.0) {
        p.requestedVelocity = p.maxVelocity;
        p.targetChanged = true;
      }
      p.timeLeft = dt;
      p.stepDistance = 0.0;
      ASSERT_EQ(RampPathVelocity(p), ProfileStepResult::kStepped) << context;
      ASSERT_TRUE(std::isfinite(p.velocity) && std::isfinite(p.acceleration)) << context;
      ASSERT_GE(p.velocity, 0.0) << context;
      ASSERT_GE(p.remaining, 0.0) << context;
      ASSERT_LE(std::fabs(p.acceleration), p.maxAcceleration * (1.0 + 1e-9)) << context;
      const double used = dt - p.timeLeft;
      ASSERT_LE(std::fabs(p.acceleration - previousAcceleration), p.jerk * used * (1.0 + 1e-6) + 1e-9)
          << context << " cycle " << cycle;
      // A crawl below the standstill velocity restarts from rest when the
      // path accelerates again: the one permitted drop.
      const bool restart =
          previousVelocity < kStandstillVelocity_unitsPerSecond + p.maxAcceleration * used &&
          p.velocity < previousVelocity;
      const double slack = restart ? kStandstillVelocity_unitsPerSecond : 0.0;
      ASSERT_LE(std::fabs(p.velocity - previousVelocity),
                p.maxAcceleration * used * (1.0 + 1e-6) + 1e-9 + slack)
          << context << " cycle " << cycle;
      previousAcceleration = p.acceleration;
      previousVelocity = p.velocity;
    }
    ASSERT_TRUE(p.endReached) << context << " not finished";
    ASSERT_NEAR(p.travelled, length, 1e-9 * (1.0 + length)) << context;
  }
}

}  // namespace
}  // namespace vantor::motion

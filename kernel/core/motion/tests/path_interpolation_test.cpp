// The interpolation run cycle by cycle against a scripted driver: what the
// drives are sent, when events are set, and how stops, aborts, software
// limits and silent drives end a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "kernel/core/motion/header_entries.h"
#include "kernel/core/motion/tests/path_cycle_fixture.h"

namespace vantor::motion {
namespace {

using testing::Entry;
using testing::kU;
using testing::kUnset;
using testing::kX;
using testing::PathRun;

constexpr double kScale = PathRun::kScale;

// Increments one axis moved from played entry k-1 to k.
std::int64_t StepOf(const PathRun& run, std::size_t k, std::size_t axis) {
  return static_cast<std::int64_t>(run.driver.played[k][axis]) - run.driver.played[k - 1][axis];
}

// Between the first and the last entry that moves at the cruise step, no
// entry moves less: the path does not dip at a joint.
void ExpectNoDipAtCruise(const PathRun& run, std::size_t axis, double velocity) {
  const double cruise = velocity * run.machine.parameters.cycleTime * kScale;
  std::size_t first = 0, last = 0;
  for (std::size_t k = 1; k < run.driver.played.size(); ++k) {
    const double step = static_cast<double>(StepOf(run, k, axis));
    EXPECT_LE(step, cruise + 1.0) << "entry " << k << " moves faster than programmed";
    if (step >= cruise - 1.0) {
      if (first == 0) first = k;
      last = k;
    }
  }
  ASSERT_GT(first, 0u) << "never reached the programmed velocity";
  for (std::size_t k = first; k <= last; ++k) {
    EXPECT_GE(static_cast<double>(StepOf(run, k, axis)), cruise - 1.0) << "dip at entry " << k;
  }
}

// Writes its own entries at the ring's start (the given position) and
// keeps the path velocity of every entry of the path.
struct RecordingObserver final : EntryObserver {
  std::int32_t startEntries = 0;
  std::int32_t startPosition = 0;
  std::vector<double> velocities;
  int windDowns = 0;

  std::int32_t WriteStartEntries(common::ExchangeBuffer& exchange,
                                 std::int32_t room) noexcept override {
    const std::int32_t count = std::min(startEntries, room);
    for (std::int32_t i = 0; i < count; ++i) {
      static_cast<void>(exchange.Store<std::int32_t>(
          common::exchange_buffer::SetpointValueOffset(static_cast<std::size_t>(i), kX),
          startPosition));
    }
    return count;
  }
  void EntryWritten(double pathVelocity) noexcept override { velocities.push_back(pathVelocity); }
  void WindDown() noexcept override { ++windDowns; }
};

TEST(PathInterpolation, TheOutputsStartEntriesComeFirstAndEveryPathEntryReportsItsVelocity) {
  for (const std::int32_t lead : {0, 5, 12, 30}) {
    PathRun run;
    RecordingObserver observer;
    observer.startEntries = lead;
    observer.startPosition = 0;
    run.observer = &observer;
    run.Line({3.0, 0, 0, kUnset, kUnset});
    ASSERT_TRUE(run.RunToEnd()) << lead;
    const std::size_t held = static_cast<std::size_t>(std::min<std::int32_t>(lead, run.fillLevel));
    ASSERT_GT(run.driver.played.size(), held);
    for (std::size_t k = 0; k < held; ++k) EXPECT_EQ(run.driver.played[k][kX], 0) << lead;
    // Every entry of the path is reported once, with the ramp's velocity.
    EXPECT_EQ(observer.velocities.size(), run.driver.played.size() - held) << lead;
    EXPECT_NEAR(run.driver.played.back()[kX], 3.0 * kScale, 1.0) << lead;
    ASSERT_FALSE(observer.velocities.empty());
    EXPECT_NEAR(*std::max_element(observer.velocities.begin(), observer.velocities.end()), 20.0,
                1e-6)
        << lead;
    EXPECT_NEAR(observer.velocities.back(), 0.0, 1e-6) << lead;
  }
}

// With the header mode on, a segment whose first entry opens a cycle's
// entry is preceded by the marker entry and the axes' velocities; one that
// starts inside an entry has none, and the positions around them stay
// those of the path.
TEST(PathInterpolation, HeaderEntriesOpenASegmentThatStartsWithItsOwnEntry) {
  for (const std::uint16_t fill : {3, 12}) {
    PathRun run;
    run.fillLevel = fill;
    run.motion.headerMode = 1;
    run.motion.maxOverride = 1.5;
    run.motion.entryAxes[1].velocityUnit = 2.0;
    run.motion.entryAxes[1].velocityFactor = -3.0;
    run.motion.entryAxes[1].velocityOffset = -0.5;
    run.Line({0.6, 0.8, 0, kUnset, kUnset});
    run.Line({0.10037, 0, 0, kUnset, kUnset});
    ASSERT_TRUE(run.RunToEnd()) << fill;
    std::vector<std::size_t> markers;
    for (std::size_t k = 0; k < run.driver.played.size(); ++k) {
      bool marker = true;
      for (std::uint32_t a = 0; a < run.motion.entryAxisCount; ++a) {
        marker = marker && run.driver.played[k][a] == kHeaderMarker;
      }
      if (marker) markers.push_back(k);
    }
    ASSERT_EQ(markers.size(), 1u) << fill;
    ASSERT_EQ(markers[0], 0u) << fill;
    const Entry& velocities = run.driver.played.at(1);
    EXPECT_EQ(velocities[kX], static_cast<std::int32_t>(0.6 * 20.0 * 1.5 * kScale)) << fill;
    // (0.8 x 20 x 1.5 / 2 x -3| + |-0.5|) x scale
    EXPECT_EQ(velocities[1], static_cast<std::int32_t>((36.0 + 0.5) * kScale)) << fill;
    EXPECT_EQ(velocities[2], 0) << fill;
    // The path's entries follow from where the drives stood.
    for (std::size_t k = 2; k < run.driver.played.size(); ++k) {
      EXPECT_LE(std::abs(run.driver.played[k][kX]), static_cast<std::int32_t>(0.71 * kScale)) << k;
    }
    EXPECT_NEAR(run.driver.played.back()[kX], 0.70037 * kScale, 1.0) << fill;
    EXPECT_NEAR(run.driver.played.back()[1], 0.8 * kScale, 1.0) << fill;
  }
}

TEST(PathInterpolation, SegmentsEndingInsideACycleContinueTheEntry) {
  PathRun run;
  // Collinear lines whose ends fall inside cycles.
  run.Line({1.00037, 0, 0, kUnset, kUnset});
  run.Line({0.50011, 0, 0, kUnset, kUnset});
  run.Line({1.0, 0, 0, kUnset, kUnset});
  ASSERT_TRUE(run.RunToEnd());
  ASSERT_FALSE(run.driver.played.empty());
  EXPECT_NEAR(run.driver.played.back()[kX], 2.50048 * kScale, 1.0);
  ExpectNoDipAtCruise(run, kX, 20.0);
  EXPECT_EQ(run.motion.queue.head, nullptr);
  EXPECT_EQ(run.flags.pathActive, 0u);
  EXPECT_EQ(run.motion.axes[kX].setPosition, 2.50048);
}

TEST(PathInterpolation, EventIsSetOnceTheEntriesBeforeItAndTheDriveBufferHavePlayed) {
  for (const std::uint16_t depth : {0, 3, 7}) {
    for (const std::uint16_t fill : {1, 12, 40}) {
      PathRun run;
      run.driveBufferDepth = depth;
      run.fillLevel = fill;
      run.Line({1.0, 0, 0, kUnset, kUnset});
      run.Event(77);
      run.Line({1.0, 0, 0, kUnset, kUnset});
      ASSERT_TRUE(run.RunToEnd());
      for (int i = 0; i < 20; ++i) run.Step();
      ASSERT_EQ(run.signals.events.size(), 1u);
      EXPECT_EQ(run.signals.events[0].value, 77u);
      // The entry that holds the joint is the first beyond the first line.
      std::size_t joint = 0;
      while (joint < run.driver.played.size() && run.driver.played[joint][kX] <= 1.0 * kScale) {
        ++joint;
      }
      const std::size_t playedWhenSet = run.signals.playedWhenSet[0];
      EXPECT_GE(playedWhenSet, joint + depth) << "depth " << depth << " fill " << fill;
      EXPECT_LE(playedWhenSet, joint + depth + 1) << "depth " << depth << " fill " << fill;
      EXPECT_TRUE(run.motion.pending.empty());
    }
  }
}

TEST(PathInterpolation, NeverQueuesMoreThanTheFillLevelNorWritesPastTheRing) {
  for (const std::uint16_t fill : {1, 12, 498, 600, 65535}) {
    PathRun run;
    run.fillLevel = fill;
    run.Line({0.8, -0.3, 0.1, kUnset, kUnset});
    ASSERT_TRUE(run.RunToEnd()) << fill;
    EXPECT_LE(run.driver.mostQueued, std::min<std::size_t>(fill, 500)) << fill;
    EXPECT_LE(run.driver.highestEntryIndex, 499u) << fill;
    EXPECT_NEAR(run.driver.played.back()[kX], 0.8 * kScale, 1.0) << fill;
  }
}

TEST(PathInterpolation, SegmentAppendedWhileTheOneBeforeRunsDoesNotStopTheJoint) {
  PathRun run;
  run.Line({3.0, 0, 0, kUnset, kUnset});
  for (int i = 0; i < 60; ++i) run.Step();
  ASSERT_EQ(run.flags.motionActive, 1u);
  run.Line({3.0, 0, 0, kUnset, kUnset});
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_NEAR(run.driver.played.back()[kX], 6.0 * kScale, 1.0);
  ExpectNoDipAtCruise(run, kX, 20.0);
}

TEST(PathInterpolation, AbortWithTheHeadStartedEndsWhereTheDrivesWereSent) {
  PathRun run;
  run.machine.coordinates[kU].position = 0.0;
  run.Line({3.0, 1.0, 0, 0.33333333, kUnset});
  run.Line({3.0, 0, 0, kUnset, kUnset});
  for (int i = 0; i < 100; ++i) run.Step();
  run.flags.motionAbort = 1;
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_EQ(run.flags.motionAbort, 0u);
  EXPECT_EQ(run.flags.motionStop, 0u);
  EXPECT_EQ(run.signals.motionStateSignals, 1);
  EXPECT_EQ(run.motion.queue.head, nullptr);
  EXPECT_EQ(run.motion.queue.count, 0);
  EXPECT_TRUE(run.motion.segmentFinished);
  const auto& last = run.driver.played.back();
  EXPECT_LT(last[kX], 3.0 * kScale) << "the abort stopped the path early";
  for (std::size_t axis = 0; axis < 5; ++axis) {
    // Whole increments back in units: the next move starts where the
    // drives stand.
    EXPECT_EQ(run.motion.axes[axis].setPosition, last[axis] / kScale) << axis;
  }
  // The drives were brought to a stand, not cut off.
  const std::size_t n = run.driver.played.size();
  EXPECT_LE(std::abs(StepOf(run, n - 1, kX)), 1);
}

TEST(PathInterpolation, AbortBeforeTheHeadStartedDropsTheQueueAtOnce) {
  PathRun run;
  run.motion.axes[kX].setPosition = 0.25;
  run.Line({3.0, 0, 0, kUnset, kUnset});
  run.Event(5);
  run.Step();  // starts the ring
  run.flags.motionAbort = 1;
  run.Step();
  EXPECT_EQ(run.flags.motionActive, 0u);
  EXPECT_EQ(run.flags.motionAbort, 0u);
  EXPECT_EQ(run.signals.motionStateSignals, 1);
  EXPECT_EQ(run.motion.queue.head, nullptr);
  EXPECT_EQ(run.motion.retired.count, 2u);
  EXPECT_EQ(run.motion.axes[kX].setPosition, 0.25);
  EXPECT_TRUE(run.signals.events.empty());
}

TEST(PathInterpolation, StopHoldsTheQueueUntilReleased) {
  PathRun run;
  run.Line({3.0, 0, 0, kUnset, kUnset});
  for (int i = 0; i < 60; ++i) run.Step();
  run.flags.motionStop = 1;
  int cycles = 0;
  while (run.signals.motionStateSignals == 0 && cycles++ < 5000) run.Step();
  ASSERT_GT(run.signals.motionStateSignals, 0) << "the stop never reported";
  EXPECT_EQ(run.flags.motionActive, 1u);
  ASSERT_NE(run.motion.queue.head, nullptr);
  // Everything queued at the stop has played and the drives stand.
  EXPECT_TRUE(run.driver.ring.size() <= run.fillLevel);
  const std::size_t n = run.driver.played.size();
  EXPECT_EQ(StepOf(run, n - 1, kX), 0);
  EXPECT_LT(run.driver.played.back()[kX], 3.0 * kScale);
  run.flags.motionStop = 0;
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_NEAR(run.driver.played.back()[kX], 3.0 * kScale, 1.0);
}

TEST(PathInterpolation, SoftwareLimitStopsThePathBeforeTheStepThatLeavesTheRange) {
  PathRun run;
  PathAxis& x = run.motion.axes[kX];
  x.limitsEnabled = true;
  x.lowerLimit = -1.0;
  x.upperLimit = 1.5;
  PathSegment* line = run.Line({3.0, 0, 0, kUnset, kUnset});
  EXPECT_FALSE(run.RunToEnd(3000)) << "a path held at its limit does not end by itself";
  for (const auto& entry : run.driver.played) ASSERT_LE(entry[kX], 1.5 * kScale);
  // Stopped within one cruise step (0.02) of the limit.
  EXPECT_GT(run.driver.played.back()[kX], 1.48 * kScale);
  EXPECT_FALSE(line->mayMove);
  EXPECT_EQ(run.motion.ramp.velocity, 0.0);
  EXPECT_LE(x.setPosition, 1.5);
  run.flags.motionAbort = 1;
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_LE(x.setPosition, 1.5);
}

TEST(PathInterpolation, StepFromBeyondALimitBackTowardTheRangeIsSent) {
  PathRun run;
  PathAxis& x = run.motion.axes[kX];
  x.limitsEnabled = true;
  x.lowerLimit = -1.0;
  x.upperLimit = 1.5;
  x.setPosition = 2.0;
  run.Line({-2.5, 0, 0, kUnset, kUnset});
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_NEAR(run.driver.played.back()[kX], -0.5 * kScale, 1.0);
}

TEST(PathInterpolation, NonFiniteSetPositionIsNeverSent) {
  PathRun run;
  run.motion.axes[kU].setPosition = 0.5;
  PathSegment* line = run.Line({1.0, 0, 0, kUnset, kUnset});
  line->axes[kU].factor = NAN;
  EXPECT_FALSE(run.RunToEnd(500));
  for (const auto& entry : run.driver.played) ASSERT_EQ(entry[kU], 0.5 * kScale);
  EXPECT_EQ(run.motion.axes[kU].setPosition, 0.5);
  EXPECT_FALSE(line->mayMove);
  run.flags.motionAbort = 1;
  ASSERT_TRUE(run.RunToEnd());
}

TEST(PathInterpolation, SilentDrivesHoldTheEndOnlyForTheReachedWait) {
  for (const bool reached : {true, false}) {
    PathRun run;
    run.allDrivesReached = reached;
    run.Line({0.2, 0, 0, kUnset, kUnset});
    int cycles = 0;
    while (!(run.motion.queue.head == nullptr && run.driver.ring.empty()) && cycles++ < 10000) {
      run.Step();
    }
    int endCycles = 0;
    while (run.flags.motionActive != 0 && endCycles++ < 10000) run.Step();
    ASSERT_EQ(run.flags.motionActive, 0u) << reached;
    // The wait is the end wait plus the drive buffer's time (50 + 3 ms).
    if (reached) {
      EXPECT_LE(endCycles, 3);
    } else {
      EXPECT_GE(endCycles, 50);
      EXPECT_LE(endCycles, 56);
    }
  }
}

}  // namespace
}  // namespace vantor::motion

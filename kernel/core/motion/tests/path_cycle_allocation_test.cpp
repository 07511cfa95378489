// The real-time cycle never calls the allocator: the path's steps run over
// whole paths (lines, arcs, events, a stop, an abort) while a counting
// allocator watches; segments are made and freed outside the steps.
#include <gtest/gtest.h>

#include "common/tests/counting_allocator.h"
#include "kernel/core/motion/tests/path_cycle_fixture.h"

namespace vantor::motion {
namespace {

using testing::kUnset;
using testing::PathRun;

// One cycle with the allocator watched while the kernel's steps run.
void CountedStep(PathRun& run) {
  run.driver.Exchange(*run.exchange);
  const common::testing::AllocationCounting counting;
  run.KernelStep();
}

TEST(PathCycleAllocation, NoAllocatorCallInsideTheCycle) {
  PathRun run(true);
  run.signals.events.reserve(8);
  run.signals.playedWhenSet.reserve(8);
  for (int i = 0; i < 40; ++i) run.Line({0.05, 0.02 * (i % 3), 0.0, 0.0, 0.0, 0.0});
  run.Event(1);
  run.Arc(true, 270.0, 2.0, 1.0, 0.5);
  run.Event(2);
  run.Line({1.0, 0, 0, kUnset, kUnset});
  for (int i = 0; i < 200000 && run.flags.motionActive != 0; ++i) {
    if (i == 300) run.flags.motionStop = 1;
    if (i == 700) run.flags.motionStop = 0;
    CountedStep(run);
  }
  EXPECT_EQ(run.flags.motionActive, 0u);
  EXPECT_EQ(run.signals.events.size(), 2u);

  run.Line({5.0, 0, 0, kUnset, kUnset});
  run.Event(3);
  run.Line({5.0, 0, 0, kUnset, kUnset});
  for (int i = 0; i < 200000 && run.flags.motionActive != 0; ++i) {
    if (i == 100) run.flags.motionAbort = 1;
    CountedStep(run);
  }
  EXPECT_EQ(run.flags.motionActive, 0u);
  EXPECT_EQ(common::testing::CountedAllocations(), 0);
  EXPECT_GT(run.motion.retired.count, 40u);
}

}  // namespace
}  // namespace vantor::motion

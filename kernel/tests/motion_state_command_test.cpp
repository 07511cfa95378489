// Command 27: what each value sets, which answer at once, and how the wait
// for the motion state ends: by the cycle's signal, or, bounded, when the
// cycle or the kernel ends or nothing is left to bring to a stand.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include "kernel/core/kernel_locks.h"
#include "kernel/tests/axis_kernel_stand_in.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;
using testing::AxisKernel;
using namespace std::chrono_literals;

// Long enough for any loaded machine; a wait that should end does so at
// once or within one look (100 ms).
constexpr auto kAnswerBound = 10s;
// A handler that should wait has certainly not answered by then if it
// waits; one that wrongly answered at once has.
constexpr auto kStillWaiting = 250ms;

// Command 27 served on its own thread.
class MotionStateRun {
 public:
  MotionStateRun(AxisKernel& k, std::uint32_t value) : k_(k) {
    k_.PutWord(0, value);
    answer_ = std::async(std::launch::async, [this] { return k_.Run(27); });
  }
  ~MotionStateRun() {
    // A handler that waits when it should not is let go, so the test ends.
    if (answer_.valid() && answer_.wait_for(0s) != std::future_status::ready) EndMotion();
  }

  bool Waiting() { return answer_.wait_for(kStillWaiting) == std::future_status::timeout; }
  std::optional<StatusCode> Answer() {
    if (answer_.wait_for(kAnswerBound) != std::future_status::ready) return std::nullopt;
    return answer_.get();
  }
  void Change(const std::function<void(KernelData&)>& change) {
    KernelDataLock lock(k_.data());
    change(k_.data());
  }
  void EndMotion() {
    Change([](KernelData& d) { d.state.motionActive = d.state.quickStopping = 0; });
  }

 private:
  AxisKernel& k_;
  std::future<StatusCode> answer_;
};

struct FlagState {
  std::uint32_t motionStop = 0;
  std::uint32_t motionBreak = 0;
  std::uint32_t motionAbort = 0;
  bool newTarget = false;
};

FlagState FlagsOf(KernelData& d) {
  return {d.state.motionStop, d.state.motionBreak, d.state.motionAbort,
          d.motionRuntime.path.newTarget};
}

void ExpectFlags(KernelData& d, const FlagState& expected) {
  const FlagState flags = FlagsOf(d);
  EXPECT_EQ(flags.motionStop, expected.motionStop);
  EXPECT_EQ(flags.motionBreak, expected.motionBreak);
  EXPECT_EQ(flags.motionAbort, expected.motionAbort);
  EXPECT_EQ(flags.newTarget, expected.newTarget);
}

TEST(MotionStateCommand, AnsweredAtOnce) {
  struct Case {
    const char* name;
    std::uint32_t value;
    bool moving;
    FlagState before;
    FlagState after;
  };
  const Case cases[] = {
      {"stop without motion", 1, false, {}, {.motionStop = 1}},
      {"stop already in force", 1, true, {.motionStop = 1}, {.motionStop = 1}},
      {"continue without motion", 0, false, {.motionStop = 1}, {}},
      {"continue a stopped motion", 0, true, {.motionStop = 1}, {.newTarget = true}},
      {"continue without a stop", 0, true, {}, {}},
      {"break without motion", 2, false, {}, {.motionBreak = 1}},
      {"break already in force", 2, true, {.motionBreak = 1}, {.motionBreak = 1}},
      {"abort without motion clears a pending stop", 3, false, {.motionStop = 1}, {}},
      {"any value above 2 aborts", 0xFFFFFFFF, false, {.motionStop = 1}, {}},
      {"abort already in force", 3, true, {.motionAbort = 1}, {.motionAbort = 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisKernel k;
    KernelData& d = k.data();
    d.state.motionActive = c.moving ? 1 : 0;
    d.state.motionStop = c.before.motionStop;
    d.state.motionBreak = c.before.motionBreak;
    d.state.motionAbort = c.before.motionAbort;
    MotionStateRun run(k, c.value);
    EXPECT_EQ(run.Answer(), common::kKernelSuccess);
    ExpectFlags(d, c.after);
  }
}

TEST(MotionStateCommand, ARunningMotionIsWaitedForUntilOneOfItsEnds) {
  struct Request {
    std::uint32_t value;
    FlagState flags;  // while the handler waits
  };
  const Request requests[] = {
      {1, {.motionStop = 1, .newTarget = true}},
      {2, {.motionBreak = 1}},
      {3, {.motionAbort = 1, .newTarget = true}},
  };
  struct End {
    const char* name;
    std::function<void(MotionStateRun&, AxisKernel&)> end;
    StatusCode answer;
  };
  const End ends[] = {
      {"the cycle signals the state",
       [](MotionStateRun&, AxisKernel& k) {
         ASSERT_TRUE(k.data().nodeConfiguration.stopDoneEvent.Set());
       },
       common::kKernelSuccess},
      {"the cycle ends",
       [](MotionStateRun& run, AxisKernel&) {
         run.Change([](KernelData& d) { d.state.cycleRunning = 0; });
       },
       kCycleNotRunning},
      {"the kernel ends",
       [](MotionStateRun&, AxisKernel& k) { ASSERT_TRUE(k.kernel().link.stopEvent.Set()); },
       kCycleNotRunning},
      {"the motion ends and no drive stop runs",
       [](MotionStateRun& run, AxisKernel&) {
         run.Change([](KernelData& d) {
           d.state.motionActive = 0;
           d.state.quickStopping = 1;
         });
         EXPECT_TRUE(run.Waiting()) << "a drive stop still running is waited for";
         run.Change([](KernelData& d) { d.state.quickStopping = 0; });
       },
       common::kKernelSuccess},
  };
  for (const Request& request : requests) {
    for (const End& end : ends) {
      SCOPED_TRACE(::testing::Message() << "value " << request.value << ", " << end.name);
      AxisKernel k;
      k.kernel().link.stopEvent = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
      k.data().state.motionActive = 1;
      // The event still shows an earlier state: it must not end this wait.
      ASSERT_TRUE(k.data().nodeConfiguration.stopDoneEvent.Set());
      MotionStateRun run(k, request.value);
      ASSERT_TRUE(run.Waiting());
      {
        KernelDataLock lock(k.data());
        ExpectFlags(k.data(), request.flags);
      }
      end.end(run, k);
      EXPECT_EQ(run.Answer(), end.answer);
    }
  }
}

}  // namespace
}  // namespace vantor::kernel

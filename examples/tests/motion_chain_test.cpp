// Single moves and the motion commands over the whole chain: this process
// drives the homed machine through the public header, reads what the
// library reports and what the drives' dictionaries hold through the
// driver host, and kills or stalls the chain while it waits for a motion.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "examples/tests/cnc_chain.h"

namespace vantor::examples_test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kMovementDataInvalid = 0xC9130021u;
constexpr std::uint32_t kMotionAlreadyActive = 0xC9130023u;
constexpr std::uint32_t kBreakActive = 0xC9130018u;
constexpr std::uint32_t kTeachModeActive = 0xC9130019u;
constexpr std::uint32_t kKernelNotFound = 0xC9140009u;
constexpr std::uint32_t kCycleNotRunning = 0xC9100008u;
// A drive at rest follows its set position to within this (units).
constexpr std::int32_t kStandingTolerance = 20;
// machine.ini's linear processing velocity, in units per second: a single
// move runs at it (the path velocity factor bears on corners only).
constexpr double kPathVelocity = 20000.0;
constexpr std::uint32_t kMotionStateStop = 1;
constexpr std::uint32_t kMotionStateContinue = 0;
constexpr std::uint32_t kMotionStateBreak = 2;
constexpr std::uint32_t kMotionStateAbort = 3;
// Sweeps of the helix records are in arc seconds (machine.ini).
constexpr std::int32_t kHalfTurn = 180 * 3600;
// X, Y and Z of machine.ini.
constexpr std::size_t kMachineAxes = 3;

std::string Text(const Coordinates& c) {
  return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
}

bool Near(const Coordinates& a, const Coordinates& b, std::int32_t tolerance) {
  for (std::size_t i = 0; i < kMachineAxes; ++i) {
    if (std::abs(a[i] - b[i]) > tolerance) return false;
  }
  return true;
}

bool SameCoordinates(const Coordinates& a, const Coordinates& b) { return Near(a, b, 0); }

class MotionChainTest : public CncChainTest {
 protected:
  MotionChainTest() : CncChainTest("motion-chain") {}

  Coordinates Destination() {
    Coordinates position{};
    EXPECT_EQ(mctl_GetDestinationPos(position.data(), sizeof position), LINKORA_SUCCESS);
    return position;
  }

  // Moves to `target` at the processing velocity and waits for the end.
  void MoveTo(Coordinates target) {
    ASSERT_EQ(mctl_MoveAbs(target.data(), sizeof target), LINKORA_SUCCESS)
        << DriveConditionsNotInOrder();
    ASSERT_TRUE(AwaitMotionEnd());
    ASSERT_TRUE(Near(Position(), target, kStandingTolerance)) << Text(Position());
  }

  // The drive's actual velocity (increments per second, 0x606C).
  double DriveVelocity(std::uint32_t node) {
    const std::string answer = ReadObject(node, 0x606C, 0);
    if (answer.rfind("ok ", 0) != 0) {
      ADD_FAILURE() << answer;
      return 0.0;
    }
    return std::strtod(answer.c_str() + 3, nullptr);
  }

  // Waits until X runs steadily at `expected` (within 3 %).
  bool AwaitXVelocity(double expected) {
    double last = 0.0;
    const bool reached = Await([&] {
      last = DriveVelocity(1);
      return std::fabs(last - expected) <= 0.03 * expected + 1.0;
    });
    if (!reached) ADD_FAILURE() << "X ran at " << last << ", not " << expected;
    return reached;
  }

  // Waits until X's drive keeps its position for half a second. It asks the
  // drive itself: after a break the machine answers no positions until the
  // reset.
  bool AwaitStanding() {
    std::string last = ReadObject(1, 0x6064, 0);
    auto since = std::chrono::steady_clock::now();
    return Await([&] {
      const std::string now = ReadObject(1, 0x6064, 0);
      if (now != last || now.rfind("ok ", 0) != 0) {
        last = now;
        since = std::chrono::steady_clock::now();
      }
      return std::chrono::steady_clock::now() - since >= 500ms;
    });
  }

  void ExitAndExpectNothingLeft() {
    EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
    ExpectNothingLeft();
  }
};

// One move of the table: the call and where it ends.
struct MoveCase {
  const char* name;
  std::function<std::uint32_t()> issue;
  Coordinates target;
};

LinkoraCircleRecord Circle(std::int32_t plane, std::int32_t centreA, std::int32_t centreB,
                           Coordinates end) {
  LinkoraCircleRecord record{};
  record.Plane = plane;
  record.Direction = 0;
  record.CircleValue[0] = centreA;
  record.CircleValue[1] = centreB;
  for (std::size_t i = 0; i < 9; ++i) record.EndPosition[i] = end[i];
  return record;
}

LinkoraHelixRecord Helix(std::int32_t plane, std::int32_t centreA, std::int32_t centreB,
                         Coordinates end) {
  LinkoraHelixRecord record{};
  record.Plane = plane;
  record.Direction = 1;
  record.HelixValue[0] = kHalfTurn;
  record.HelixValue[1] = centreA;
  record.HelixValue[2] = centreB;
  for (std::size_t i = 0; i < 9; ++i) record.EndPosition[i] = end[i];
  return record;
}

std::vector<MoveCase> MoveTable() {
  // Starting at (30000, 30000, 30000): each row ends where the next begins;
  // arcs are half turns, helices carry the third coordinate along.
  auto line = [](auto move, Coordinates target) {
    return [move, target] { return move(target.data(), sizeof target); };
  };
  auto circle = [](LinkoraCircleRecord record) {
    return [record] { return mctl_CircleAbs(&record, sizeof record); };
  };
  auto helix = [](LinkoraHelixRecord record) {
    return [record] { return mctl_HelixAbs(&record, sizeof record); };
  };
  return {
      {"MoveAbs", line(mctl_MoveAbs, {50000, 40000, 35000}), {50000, 40000, 35000}},
      {"MoveRel", line(mctl_MoveRel, {-20000, 10000, 5000}), {30000, 50000, 40000}},
      {"FastAbs", line(mctl_FastAbs, {30000, 30000, 30000}), {30000, 30000, 30000}},
      {"CircleAbs XY",
       circle(Circle(0, 40000, 30000, {50000, 30000, 30000})),
       {50000, 30000, 30000}},
      {"CircleAbs XZ",
       circle(Circle(1, 40000, 30000, {30000, 30000, 30000})),
       {30000, 30000, 30000}},
      {"CircleAbs YZ",
       circle(Circle(2, 30000, 40000, {30000, 30000, 50000})),
       {30000, 30000, 50000}},
      {"HelixAbs XY", helix(Helix(0, 40000, 30000, {0, 0, 40000})), {50000, 30000, 40000}},
      {"HelixAbs XZ", helix(Helix(1, 40000, 40000, {0, 45000, 0})), {30000, 45000, 40000}},
      {"HelixAbs YZ", helix(Helix(2, 35000, 40000, {35000, 0, 0})), {35000, 25000, 40000}},
  };
}

TEST_F(MotionChainTest, SingleMovesEndAtTheirTargets) {
  MoveTo({30000, 30000, 30000});
  for (const MoveCase& move : MoveTable()) {
    SCOPED_TRACE(move.name);
    ASSERT_EQ(move.issue(), LINKORA_SUCCESS);
    EXPECT_TRUE(SameCoordinates(Destination(), move.target)) << Text(Destination());
    Coordinates elsewhere{0, 0, 0};
    EXPECT_EQ(mctl_MoveAbs(elsewhere.data(), sizeof elsewhere), kMotionAlreadyActive);
    ASSERT_TRUE(AwaitMotionEnd());
    EXPECT_TRUE(SameCoordinates(DesiredPosition(), move.target)) << Text(DesiredPosition());
    EXPECT_TRUE(Near(Position(), move.target, kStandingTolerance)) << Text(Position());
  }

  // Planes without an axis pair: refused, and nothing moves.
  const Coordinates before = DesiredPosition();
  LinkoraHelixRecord helix = Helix(3, 40000, 40000, {0, 0, 0});
  EXPECT_EQ(mctl_HelixAbs(&helix, sizeof helix), kMovementDataInvalid);
  LinkoraCircleRecord circle = Circle(7, 40000, 40000, {45000, 25000, 40000});
  EXPECT_EQ(mctl_CircleAbs(&circle, sizeof circle), kMovementDataInvalid);
  EXPECT_EQ(Status().InMotion, 0u);
  EXPECT_TRUE(SameCoordinates(DesiredPosition(), before)) << Text(DesiredPosition());

  ExitAndExpectNothingLeft();
}

// Stop holds the drives mid-path until continue; abort ends the motion and
// leaves nothing queued; override 0 stands, 50 halves the speed and more
// than the maximum runs at the maximum.
TEST_F(MotionChainTest, StopContinueAbortAndOverride) {
  const Coordinates far{400000, 0, 0};
  ASSERT_EQ(mctl_MoveAbs(far.data(), sizeof far), LINKORA_SUCCESS);
  ASSERT_TRUE(AwaitXVelocity(kPathVelocity));

  ASSERT_EQ(mctl_SetMotionState(kMotionStateStop), LINKORA_SUCCESS);
  // The set positions stand from the answer on; the drive's measured
  // velocity trails them by its last few increments.
  const Coordinates held = DesiredPosition();
  EXPECT_LE(std::fabs(DriveVelocity(1)), 0.01 * kPathVelocity)
      << "stop returned before the drives stood";
  const Coordinates stopped = Position();
  EXPECT_GT(stopped[0], 0);
  EXPECT_LT(stopped[0], far[0]);
  EXPECT_TRUE(AwaitStanding());
  EXPECT_TRUE(SameCoordinates(DesiredPosition(), held)) << Text(DesiredPosition());
  EXPECT_TRUE(Near(Position(), stopped, kStandingTolerance)) << Text(Position());

  ASSERT_EQ(mctl_SetMotionState(kMotionStateContinue), LINKORA_SUCCESS);
  ASSERT_TRUE(AwaitXVelocity(kPathVelocity));

  struct OverrideCase {
    std::uint32_t percent;
    std::uint32_t answered;
    double speedFactor;
  };
  for (const OverrideCase& setting : {OverrideCase{50, 50, 0.5}, OverrideCase{0, 0, 0.0},
                                      OverrideCase{250, 140, 1.4}, OverrideCase{100, 100, 1.0}}) {
    SCOPED_TRACE("override " + std::to_string(setting.percent));
    ASSERT_EQ(mctl_SetOverride(setting.percent), LINKORA_SUCCESS);
    std::uint32_t answered = 0;
    EXPECT_EQ(mctl_GetOverride(&answered), LINKORA_SUCCESS);
    EXPECT_EQ(answered, setting.answered);
    EXPECT_TRUE(AwaitXVelocity(kPathVelocity * setting.speedFactor)) << DriveVelocity(1);
  }
  EXPECT_EQ(Status().InMotion, 1u);

  ASSERT_EQ(mctl_SetMotionState(kMotionStateAbort), LINKORA_SUCCESS);
  ASSERT_TRUE(AwaitMotionEnd());
  LinkoraPathBufferStatus queue{};
  ASSERT_EQ(mctl_cp_GetBufferStatus(&queue, sizeof queue), LINKORA_SUCCESS);
  EXPECT_EQ(queue.SegmentCount, 0u);
  const Coordinates aborted = Position();
  EXPECT_LT(aborted[0], far[0]);
  ASSERT_EQ(mctl_SetMotionState(kMotionStateContinue), LINKORA_SUCCESS);
  EXPECT_EQ(Status().InMotion, 0u) << "continue found an aborted move";
  MoveTo({10000, 0, 0});

  ExitAndExpectNothingLeft();
}

// Break quick-stops and refuses moves until the reset; power off and on
// takes the drives' positions as set positions; teach mode refuses rapid
// moves; zero points shift what the positions show.
TEST_F(MotionChainTest, BreakPowerTeachModeAndZeroPoints) {
  const Coordinates far{400000, 0, 0};
  ASSERT_EQ(mctl_MoveAbs(far.data(), sizeof far), LINKORA_SUCCESS);
  ASSERT_TRUE(AwaitXVelocity(kPathVelocity));
  ASSERT_EQ(mctl_SetMotionState(kMotionStateBreak), LINKORA_SUCCESS);
  EXPECT_TRUE(AwaitStanding());
  EXPECT_EQ(ReadObject(1, 0x6040, 0), "ok 2") << "X is not quick-stopped";
  const Coordinates home{0, 0, 0};
  EXPECT_EQ(mctl_MoveAbs(home.data(), sizeof home), kBreakActive);
  EXPECT_EQ(mctl_FastAbs(home.data(), sizeof home), kBreakActive);
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  MoveTo({20000, 10000, 5000});

  ASSERT_EQ(mctl_SetPowerState(0), LINKORA_SUCCESS);
  EXPECT_EQ(Status().CurrentOff, 1u);
  ASSERT_EQ(mctl_SetPowerState(1), LINKORA_SUCCESS);
  EXPECT_EQ(Status().CurrentOff, 0u);
  EXPECT_TRUE(Near(DesiredPosition(), Position(), 0))
      << Text(DesiredPosition()) << " / " << Text(Position());
  MoveTo({30000, 10000, 5000});

  ASSERT_EQ(mctl_SetTeachMode(1), LINKORA_SUCCESS);
  const Coordinates rapid{0, 0, 0};
  EXPECT_EQ(mctl_FastAbs(rapid.data(), sizeof rapid), kTeachModeActive);
  EXPECT_EQ(Status().InMotion, 0u);
  MoveTo({35000, 10000, 5000});
  ASSERT_EQ(mctl_SetTeachMode(0), LINKORA_SUCCESS);

  // The machine stands at (35000, 10000, 5000); seen from the zero points:
  const Coordinates zero{5000, 4000, 3000};
  ASSERT_EQ(mctl_SetWNPAbs(zero.data(), sizeof zero), LINKORA_SUCCESS);
  EXPECT_TRUE(Near(Position(), {30000, 6000, 2000}, kStandingTolerance)) << Text(Position());
  const Coordinates shift{1000, -1000, 0};
  ASSERT_EQ(mctl_SetWNPRel(shift.data(), sizeof shift), LINKORA_SUCCESS);
  Coordinates shown{};
  ASSERT_EQ(mctl_GetWNP(shown.data(), sizeof shown), LINKORA_SUCCESS);
  EXPECT_TRUE(SameCoordinates(shown, {6000, 3000, 3000})) << Text(shown);
  EXPECT_TRUE(Near(Position(), {29000, 7000, 2000}, kStandingTolerance)) << Text(Position());
  // A move in work coordinates ends at the zero point's offset on the drives.
  MoveTo({4000, 2000, 1000});
  EXPECT_EQ(ReadObject(1, 0x6064, 0), "ok 10000");
  ASSERT_EQ(mctl_ClearWNP(), LINKORA_SUCCESS);
  EXPECT_TRUE(Near(Position(), {10000, 5000, 4000}, kStandingTolerance)) << Text(Position());
  ASSERT_EQ(mctl_SetActPosWNP(), LINKORA_SUCCESS);
  EXPECT_TRUE(Near(Position(), {0, 0, 0}, kStandingTolerance)) << Text(Position());
  ASSERT_EQ(mctl_GetWNP(shown.data(), sizeof shown), LINKORA_SUCCESS);
  EXPECT_TRUE(Near(shown, {10000, 5000, 4000}, kStandingTolerance)) << Text(shown);

  ExitAndExpectNothingLeft();
}

// X put on its positive limit switch through the driver host: the machine
// reports it and quick-stops; the move-out takes X off the switch.
TEST_F(MotionChainTest, ADriveOnItsLimitSwitchLeavesItByTheMoveOut) {
  MoveTo({20000, 0, 0});
  // X homed where its negative switch released (-2000000 on the drive's own
  // scale): the new positive switch lies a little below where it stands.
  ASSERT_EQ(Control("node can0 1 switch positive-limit -1980500"), "ok");
  ASSERT_TRUE(Await([&] { return (Status().PosHWLSMask & 0b001) != 0; }));
  EXPECT_EQ(Status().HWLSActive, 1u);

  ASSERT_EQ(mctl_LeaveHWLS(0b001, 0), LINKORA_SUCCESS);
  const std::string inputs = ReadObject(1, 0x60FD, 0);
  ASSERT_EQ(inputs.rfind("ok ", 0), 0u) << inputs;
  EXPECT_EQ(std::strtoul(inputs.c_str() + 3, nullptr, 0) & 0x02u, 0u) << inputs;
  // The machine keeps what it saw of the switch until the reset.
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(Status().PosHWLSMask & 0b001, 0u);
  EXPECT_EQ(Status().HWLSActive, 0u);
  EXPECT_LT(Position()[0], 19500);
  MoveTo({10000, 0, 0});

  ExitAndExpectNothingLeft();
}

// The kernel's wait for the motion state (code 27), ended by the chain:
// an application waiting for a stop learns of a killed kernel within a
// second, and of a stalled exchange by the cycle's end.
class MotionWaitChainTest : public MotionChainTest, public ::testing::WithParamInterface<bool> {
 protected:
  // X brakes slowly: its stop lasts seconds, long enough to interrupt on a
  // loaded machine. The kernel plans with the maximum acceleration the
  // drive reports at the first reset after the initialisation, and that
  // reset's reset node brings back the drive's stored value: the machine
  // itself must have it.
  std::string MachineDescription() override {
    std::string text = ReadText(MotionChainTest::MachineDescription());
    const std::string x = "\"node_id\": 1,";
    const std::size_t at = text.find(x);
    EXPECT_NE(at, std::string::npos) << "the machine has no X drive";
    if (at != std::string::npos) text.insert(at + x.size(), " \"max_acceleration\": 40000,");
    const std::filesystem::path copy = folder_ / "slow_braking_machine.json";
    std::ofstream(copy, std::ios::binary) << text;
    return copy.string();
  }
};

TEST_P(MotionWaitChainTest, AStopWaitEndsWithTheChain) {
  const bool killKernel = GetParam();
  const Coordinates far{400000, 0, 0};
  ASSERT_EQ(mctl_MoveAbs(far.data(), sizeof far), LINKORA_SUCCESS) << DriveConditionsNotInOrder();
  ASSERT_TRUE(AwaitXVelocity(kPathVelocity));

  auto waiting =
      std::async(std::launch::async, [] { return mctl_SetMotionState(kMotionStateStop); });
  // The stop has reached the kernel once X brakes.
  ASSERT_TRUE(Await([&] { return DriveVelocity(1) < 0.9 * kPathVelocity; }));
  ASSERT_EQ(waiting.wait_for(0s), std::future_status::timeout) << "the stop did not wait";

  const std::vector<int> kernels = ProgramsOfNamespace(namespace_, {"Motrix"});
  ASSERT_EQ(kernels.size(), 1u);
  if (killKernel) {
    ASSERT_EQ(::kill(kernels[0], SIGKILL), 0);
    ASSERT_EQ(waiting.wait_for(1s), std::future_status::ready) << "the caller still waits";
    EXPECT_EQ(waiting.get(), kKernelNotFound);
  } else {
    ASSERT_EQ(::kill(devhost_.process().id(), SIGSTOP), 0);
    const auto answered = waiting.wait_for(kGenerous);
    ::kill(devhost_.process().id(), SIGCONT);
    ASSERT_EQ(answered, std::future_status::ready) << "the caller still waits";
    EXPECT_EQ(waiting.get(), kCycleNotRunning);
    // Without the cycle the drives cannot be taken out of operation: the
    // first exit says so and keeps the channel, the second lets it go.
    EXPECT_EQ(mctl_Exit(), kCycleNotRunning);
  }
  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(KilledOrStalled, MotionWaitChainTest, ::testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "KernelKilled" : "ExchangeStalled");
                         });

}  // namespace
}  // namespace vantor::examples_test

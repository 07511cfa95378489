// What the path commands do once their guards pass: single moves and their
// velocity, the queue in path mode, velocity changes and events, the path
// coordinates, mode and start, the queue size, the rotated plane and the
// path velocity factor.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>

#include "kernel/core/motion/tolerances.h"
#include "kernel/services/application_link.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel {
namespace {

using common::CommandCode;
using common::StatusCode;
using testing::kUnprogrammed;
using testing::PathKernel;

constexpr double kMoveTimeMarker = 4611686018427387904.0;

struct SingleMoveCase {
  const char* name;
  bool teach;
  bool rapid;
  double linearProcess;
  double rotaryProcess;
  double velocity;
};

TEST(PathCommandsTest, ASingleMoveStartsWithTheVelocityOfItsKind) {
  const SingleMoveCase cases[] = {
      {"feed", false, false, 50.0, 51.0, 50.0},
      {"teach", true, false, 50.0, 51.0, 10.0},
      {"rapid", false, true, 50.0, 51.0, 80.0},
      // 10 units in 2 s.
      {"timed", false, false, kMoveTimeMarker, 2e6, 5.0},
  };
  for (const SingleMoveCase& c : cases) {
    SCOPED_TRACE(c.name);
    PathKernel k;
    k.state().teachMode = c.teach ? 1 : 0;
    k.data().motionRuntime.path.linearProcessVelocity = c.linearProcess;
    k.data().motionRuntime.path.rotaryProcessVelocity = c.rotaryProcess;
    ASSERT_EQ(k.Move({6, 8, 0}, false, c.rapid), common::kKernelSuccess);
    EXPECT_EQ(k.queue().count, 1);
    EXPECT_EQ(k.state().motionActive, 1u);
    EXPECT_EQ(k.state().pathActive, 1u);
    EXPECT_TRUE(k.data().motionRuntime.path.segmentFinished);
    EXPECT_DOUBLE_EQ(k.data().motionRuntime.path.programmedVelocity, c.velocity);
    EXPECT_EQ(k.Move({1, 0, 0}), common::kKernelSegmentMotionAlreadyActive);
    EXPECT_EQ(k.queue().count, 1);
  }
}

TEST(PathCommandsTest, ATimedMoveWithoutATimeIsRefusedAndQueuesNothing) {
  for (const double time : {0.0, -5.0}) {
    PathKernel k;
    k.data().motionRuntime.path.linearProcessVelocity = kMoveTimeMarker;
    k.data().motionRuntime.path.rotaryProcessVelocity = time;
    EXPECT_EQ(k.Move({6, 8, 0}), common::kKernelMovementDataInvalid) << time;
    EXPECT_EQ(k.queue().head, nullptr);
    EXPECT_EQ(k.state().motionActive, 0u);
  }
}

TEST(PathCommandsTest, RefusedGeometryQueuesNothing) {
  struct Case {
    const char* name;
    std::function<StatusCode(PathKernel&)> command;
    StatusCode result;
  };
  const Case cases[] = {
      {"zero-length line",
       [](PathKernel& k) {
         return k.Move({0, 0, kUnprogrammed});
       },
       common::kKernelSuccess},
      {"helix naming X twice",
       [](PathKernel& k) {
         return k.Arc(CommandCode::Helix, 0, 0, {90, 5, 0, 0, 0, 1});
       },
       common::kKernelMovementDataInvalid},
      {"velocity change not above 0",
       [](PathKernel& k) {
         k.state().pathMode = 1;
         return k.PathVelocity(0, 5);
       },
       0xC9130028u},
      {"circle with one interpolated axis",
       [](PathKernel& k) {
         k.data().nodeConfiguration.interpolatedNodeCount = 1;
         return k.Arc(CommandCode::Circle, 0, 1, {5, 0, 10, 0, 0});
       },
       common::kKernelMovementDataInvalid},
  };
  for (const Case& c : cases) {
    PathKernel k;
    EXPECT_EQ(c.command(k), c.result) << c.name;
    EXPECT_EQ(k.queue().head, nullptr) << c.name;
    EXPECT_EQ(k.queue().count, 0) << c.name;
    EXPECT_EQ(k.state().motionActive, 0u) << c.name;
  }
}

TEST(PathCommandsTest, ValuesBeyondTheConfiguredCoordinatesAreNotRead) {
  PathKernel k;
  // A count left from another configuration names eight coordinates.
  k.block().Set(testing::cb::kCurrentCoordinateCount, 8);
  for (std::size_t i = 3; i < 8; ++i) k.Value(8 + 8 * i, 7);
  ASSERT_EQ(k.Move({3, 4, 0}), common::kKernelSuccess);
  ASSERT_NE(k.queue().head, nullptr);
  EXPECT_DOUBLE_EQ(k.queue().head->length, 5.0);
}

TEST(PathCommandsTest, AnArcStartsAsASingleMove) {
  PathKernel k;
  // A half circle from 0 to (10, 0) around (5, 0).
  ASSERT_EQ(k.Arc(CommandCode::Circle, 0, 1, {5, 0, 10, 0, 0}), common::kKernelSuccess);
  ASSERT_NE(k.queue().head, nullptr);
  EXPECT_TRUE(k.queue().head->isMotion);
  EXPECT_EQ(k.state().motionActive, 1u);
  EXPECT_DOUBLE_EQ(k.data().motionRuntime.path.programmedVelocity, 50.0);
}

TEST(PathCommandsTest, PathModeQueuesUntilTheQueueIsFullAndAStartedPathTakesThemUp) {
  PathKernel k;
  ASSERT_EQ(k.SetWord(CommandCode::EnablePath, 1), common::kKernelSuccess);
  EXPECT_EQ(k.state().pathMode, 1u);
  EXPECT_EQ(k.Move({1, 0, 0}, false, true), common::kKernelPathModeError);
  ASSERT_EQ(k.Move({1, 0, 0}), common::kKernelSuccess);
  ASSERT_EQ(k.PathVelocity(20, 30), common::kKernelSuccess);
  EXPECT_EQ(k.state().motionActive, 0u) << "queued, not started";
  ASSERT_EQ(k.SetWord(CommandCode::StartPath, 1), common::kKernelSuccess);
  EXPECT_EQ(k.state().pathStarted, 1u);
  EXPECT_EQ(k.state().motionActive, 1u);
  EXPECT_DOUBLE_EQ(k.data().motionRuntime.path.programmedVelocity, 50.0);
  ASSERT_EQ(k.Arc(CommandCode::Circle, 0, 1, {5, 0, 10, 0, 0}), common::kKernelSuccess);
  ASSERT_EQ(k.Move({0, 1, 0}), common::kKernelSuccess);
  EXPECT_EQ(k.Move({0, 1, 0}), common::kKernelPathBufferError);
  EXPECT_EQ(k.PathVelocity(20, 30), common::kKernelPathBufferError);
  EXPECT_EQ(k.queue().count, 4);
  const motion::PathSegment* velocity = k.queue().head->next;
  EXPECT_FALSE(velocity->isMotion);
  EXPECT_DOUBLE_EQ(velocity->velocityA, 20.0);
  EXPECT_DOUBLE_EQ(velocity->velocityB, 30.0);

  k.Run(CommandCode::GetBufferStatus);
  EXPECT_EQ(k.AnswerWord(0), 1u);
  EXPECT_EQ(k.AnswerWord(4), 1u);
  EXPECT_EQ(k.AnswerWord(8), 4u);
  EXPECT_EQ(k.AnswerWord(12), 4u);
  k.state().busOk = 0;
  EXPECT_EQ(k.Run(CommandCode::GetBufferStatus), common::kKernelCanBusDisturbed);
}

TEST(PathCommandsTest, StartAndEndThatChangeNothingAnswerSuccess) {
  PathKernel k;
  ASSERT_EQ(k.SetWord(CommandCode::StartPath, 0), common::kKernelSuccess);
  EXPECT_EQ(k.state().pathStarted, 0u);
  ASSERT_EQ(k.SetWord(CommandCode::StartPath, 1), common::kKernelSuccess);
  k.data().motionRuntime.path.programmedVelocity = 7.0;
  ASSERT_EQ(k.SetWord(CommandCode::StartPath, 1), common::kKernelSuccess);
  EXPECT_DOUBLE_EQ(k.data().motionRuntime.path.programmedVelocity, 7.0);
  k.state().motionActive = 1;
  EXPECT_EQ(k.SetWord(CommandCode::StartPath, 0), common::kKernelMovementSegmentActive);
  EXPECT_EQ(k.state().pathStarted, 1u);
  k.state().motionActive = 0;
  ASSERT_EQ(k.SetWord(CommandCode::StartPath, 0), common::kKernelSuccess);
  EXPECT_EQ(k.state().pathStarted, 0u);
}

TEST(PathCommandsTest, PathModeOffDropsAQueueThatNoMotionWorksOn) {
  PathKernel k;
  ASSERT_EQ(k.SetWord(CommandCode::EnablePath, 1), common::kKernelSuccess);
  ASSERT_EQ(k.Move({1, 0, 0}), common::kKernelSuccess);
  ASSERT_EQ(k.Move({1, 0, 0}), common::kKernelSuccess);
  k.state().motionActive = 1;
  ASSERT_EQ(k.SetWord(CommandCode::EnablePath, 0), common::kKernelSuccess);
  EXPECT_EQ(k.queue().count, 2) << "a running motion keeps its queue";
  ASSERT_EQ(k.SetWord(CommandCode::EnablePath, 1), common::kKernelMovementSegmentActive);
  k.state().motionActive = 0;
  k.state().pathMode = 1;
  ASSERT_EQ(k.SetWord(CommandCode::EnablePath, 0), common::kKernelSuccess);
  EXPECT_EQ(k.state().pathMode, 0u);
  EXPECT_EQ(k.queue().count, 0);
  EXPECT_EQ(k.queue().head, nullptr);
}

TEST(PathCommandsTest, QueueSizeTakesOnlyPositiveCapacities) {
  PathKernel k;
  for (const std::int32_t refused : {0, -1, INT32_MIN}) {
    EXPECT_EQ(k.SetWord(CommandCode::SetBufferSize, static_cast<std::uint32_t>(refused)),
              common::kKernelPathBufferError);
    EXPECT_EQ(k.queue().capacity, 4);
  }
  ASSERT_EQ(k.SetWord(CommandCode::SetBufferSize, 9), common::kKernelSuccess);
  EXPECT_EQ(k.queue().capacity, 9);
}

TEST(PathCommandsTest, PathCoordinatesCountOnlyConfiguredCoordinates) {
  struct Case {
    std::uint32_t mask;
    StatusCode result;
    std::uint32_t readBack;
  };
  const Case cases[] = {
      {0b011, common::kKernelSuccess, 0b011},
      // Bits above the three coordinates are ignored.
      {0xFFFFFFF0u | 0b101, common::kKernelSuccess, 0b101},
      {0, common::kKernelSuccess, 0},
  };
  for (const Case& c : cases) {
    PathKernel k;
    EXPECT_EQ(k.SetWord(CommandCode::SetPathCoor, c.mask), c.result) << c.mask;
    ASSERT_EQ(k.Run(CommandCode::GetPathCoor), common::kKernelSuccess);
    EXPECT_EQ(k.AnswerWord(0), c.readBack) << c.mask;
    EXPECT_EQ(k.data().motionRuntime.path.axes[2].onPath, (c.readBack & 0b100) != 0);
  }
  PathKernel four;
  four.data().coordinateCount = 5;
  EXPECT_EQ(four.SetWord(CommandCode::SetPathCoor, 0b1111),
            common::kKernelPathCoordinateCountInvalid);
  four.Run(CommandCode::GetPathCoor);
  EXPECT_EQ(four.AnswerWord(0), 0b111u) << "a refused mask changes nothing";
}

std::string EventName(const char* tag) {
  return std::string("path_commands_test_") + tag + "_" + std::to_string(::getpid());
}

common::StatusCode QueueEvent(PathKernel& k, const std::string& name) {
  auto room = k.block().MutableBytes().subspan(testing::cb::PayloadAt(0), 261);
  std::fill(room.begin(), room.end(), std::uint8_t{0});
  std::copy(name.begin(), name.end(), room.begin());
  return k.Run(CommandCode::EventToSet);
}

TEST(PathCommandsTest, AnEventSegmentHoldsItsEventUnsignalledEvenWhenALastPathLeftItSet) {
  PathKernel k;
  k.state().pathMode = 1;
  const std::string name = EventName("event");
  auto earlier = os::Event::CreateOrOpen(name, os::EventReset::Manual, true).take();
  ASSERT_EQ(QueueEvent(k, name), common::kKernelSuccess);
  ASSERT_NE(k.queue().tail, nullptr);
  EXPECT_EQ(k.queue().tail->segmentKind, motion::SegmentKind::kEvent);
  EXPECT_EQ(os::WaitForOne(earlier, 0).kind, os::WaitKind::Timeout);
  SetKernelPathEvent(k.queue().tail->eventHandle);
  EXPECT_EQ(os::WaitForOne(earlier, 0).kind, os::WaitKind::Signalled);
}

TEST(PathCommandsTest, AnEventNameWithoutItsEndIsRefused) {
  PathKernel k;
  k.state().pathMode = 1;
  EXPECT_EQ(QueueEvent(k, std::string(261, 'e')), common::kKernelMovementDataInvalid);
  EXPECT_EQ(QueueEvent(k, ""), common::kKernelMovementDataInvalid);
  EXPECT_EQ(k.queue().count, 0);
}

// Leaving CNC mode and ending the kernel give back every segment, wherever
// the path holds it: queued, kept behind the head, waiting as an event.
TEST(PathCommandsTest, LeavingCncModeOrEndingTheKernelLeavesNoSegment) {
  struct Ending {
    const char* name;
    void (*end)(PathKernel&);
  };
  const Ending endings[] = {
      {"CNC exit", [](PathKernel& k) { k.Run(CommandCode::CncExit); }},
      {"kernel end", [](PathKernel& k) { StopApplicationLink(k.kernel()); }},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    PathKernel k;
    k.state().pathMode = 1;
    ASSERT_EQ(k.Move({1, 2, 3}), common::kKernelSuccess);
    ASSERT_EQ(QueueEvent(k, EventName("ending")), common::kKernelSuccess);
    motion::PathMotion& path = k.data().motionRuntime.path;
    path.kept = NewPathSegment();
    motion::PathSegment* pending = NewPathSegment();
    ASSERT_NE(path.kept, nullptr);
    ASSERT_NE(pending, nullptr);
    motion::PushSegment(path.pending, *pending);

    ending.end(k);
    EXPECT_EQ(path.queue.head, nullptr);
    EXPECT_EQ(path.queue.count, 0);
    EXPECT_EQ(path.kept, nullptr);
    EXPECT_TRUE(path.pending.empty());
    EXPECT_TRUE(path.retired.empty());
  }
}

TEST(PathCommandsTest, PlaneRotationIsReadBackAsSet) {
  PathKernel k;
  k.Word(0, 1);
  k.Word(4, static_cast<std::uint32_t>(-30));
  ASSERT_EQ(k.Run(CommandCode::SetPlaneRotPar), common::kKernelSuccess);
  k.Word(0, 7);
  EXPECT_EQ(k.Run(CommandCode::SetPlaneRotPar), common::kKernelPlaneRotationParameterInvalid);
  k.Word(0, 0);
  k.Word(4, 0);
  ASSERT_EQ(k.Run(CommandCode::GetPlaneRotPar), common::kKernelSuccess);
  EXPECT_EQ(k.AnswerWord(0), 1u);
  EXPECT_EQ(static_cast<std::int32_t>(k.AnswerWord(4)), -30);
}

TEST(PathCommandsTest, PathVelocityFactorIsAnsweredAsGivenForEveryPercent) {
  PathKernel k;
  for (const std::uint32_t refused : {0u, 10001u, 0xFFFFFFFFu}) {
    EXPECT_EQ(k.SetWord(CommandCode::SetPathVelFac, refused),
              common::kKernelPathVelocityFactorInvalid);
  }
  for (std::uint32_t percent = 1; percent <= 10000; ++percent) {
    ASSERT_EQ(k.SetWord(CommandCode::SetPathVelFac, percent), common::kKernelSuccess);
    ASSERT_EQ(k.Run(CommandCode::GetPathVelFac), common::kKernelSuccess);
    ASSERT_EQ(k.AnswerWord(0), percent);
    ASSERT_DOUBLE_EQ(k.data().motion.path.pathVelFacInverse, 1.0 / (percent * 0.01));
  }
}

TEST(PathCommandsTest, PathVelocityFactorBeforeAnySettingIsTheConfiguredOne) {
  const struct {
    double inverse;
    std::uint32_t percent;
  } cases[] = {{1.0, 100}, {0.01, 10000}, {100.0, 1}, {2.0, 50}};
  for (const auto& c : cases) {
    PathKernel k;
    k.data().motion.path.pathVelFacInverse = c.inverse;
    ASSERT_EQ(k.Run(CommandCode::GetPathVelFac), common::kKernelSuccess);
    EXPECT_EQ(k.AnswerWord(0), c.percent) << c.inverse;
  }
}

}  // namespace
}  // namespace vantor::kernel

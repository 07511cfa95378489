// Commands 16 and 82 before they touch a drive: each condition in its
// order, the node mask, the home shift's arithmetic, and the homing-active
// mark the kernel takes back when command 16 ends.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/core/canopen/home_shift.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/homing_checks.h"
#include "kernel/tests/axis_kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;
using testing::Condition;

// The axis commands' stand-in kernel (a plain node 0 and a gantry node 1
// with slave id 3, every flag good, no motion) with what homing reads
// besides: its events, and drives that take a home shift through a 3:10
// gear.
struct HomingKernel : testing::AxisKernel {
  HomingKernel() {
    NodeConfiguration& nodes = data().nodeConfiguration;
    nodes.homingActiveEvent = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    nodes.homingBreakEvent = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    for (std::uint32_t k = 0; k < 2; ++k) {
      Node(k).homeShiftCapable = 1;
      Node(k).gear = {3, 10, 0};
    }
    Node(1).axes[0].gear = {3, 10, 0};
  }

  StatusCode CheckReference(canopen::NodeMask mask) {
    KernelDataLock lock(data());
    return CheckReferenceRequest(data(), mask);
  }
  StatusCode CheckShift(std::int32_t index, double shift) {
    KernelDataLock lock(data());
    return CheckHomeShiftRequest(data(), index, shift);
  }
  StatusCode Dispatch(std::uint32_t code, std::uint32_t first, std::uint32_t second = 0) {
    PutWord(0, first);
    PutWord(4, second);
    return Run(code);
  }
};

class HomingCommandsTest : public ::testing::Test {
 protected:
  HomingKernel& Fresh() {
    kernel = std::make_unique<HomingKernel>();
    return *kernel;
  }
  std::unique_ptr<HomingKernel> kernel = std::make_unique<HomingKernel>();
};

// Case i applies condition i and every later one: each is answered before
// all that follow it.
template <typename Check>
void ExpectEachInItsOrder(const std::vector<Condition>& conditions, Check&& check) {
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    SCOPED_TRACE(conditions[i].name);
    HomingKernel fresh;
    for (std::size_t j = i; j < conditions.size(); ++j) conditions[j].apply(fresh.data());
    EXPECT_EQ(check(fresh), conditions[i].answer);
  }
}

TEST_F(HomingCommandsTest, ReferenceConditionsInTheirOrder) {
  using K = KernelData;
  const std::vector<Condition> conditions{
      {"test mode without Cartesian coordinates", [](K& d) { d.state.testMode = 1; },
       common::kKernelTestModeActive},
      {"cycle", [](K& d) { d.state.cycleRunning = 0; }, kCycleNotRunning},
      {"bus", [](K& d) { d.state.busOk = 0; }, common::kKernelCanBusDisturbed},
      {"SYNC", [](K& d) { d.state.syncRunning = 0; }, common::kKernelSyncObjectFailed},
      {"peripheral PDOs", [](K& d) { d.state.peripheryPdoOk = 0; },
       common::kKernelPeripheryPdoInvalid},
      {"movement", [](K& d) { d.state.motionActive = 1; }, common::kKernelMovementSegmentActive},
      {"path mode", [](K& d) { d.state.pathStarted = 1; }, common::kKernelPathModeError},
      {"stop mode", [](K& d) { d.state.motionStop = 1; }, common::kKernelStopModeActive},
      {"break mode", [](K& d) { d.state.motionBreak = 1; }, common::kKernelBreakModeActive},
      {"manual mode", [](K& d) { d.state.teachMode = 1; }, common::kKernelManualModeActive},
      {"a selected node not started",
       [](K& d) { d.nodeConfiguration.records[0].can->latched.Set(StatusFlag::A, false); },
       common::kKernelNodeWasInErrorState},
      {"move-out", [](K& d) { d.state.limitSwitchLeave = 1; },
       common::kKernelLimitSwitchMoveOutActive},
      {"handling axis in velocity mode",
       [](K& d) { d.nodeConfiguration.records[0].can->handlingAxis = 1; },
       common::kKernelAxisNumberInvalid},
      {"distance control", [](K& d) { d.nodeConfiguration.records[1].can->regulatorActive = 1; },
       common::kKernelDistanceControlActive},
      {"stop on input", [](K& d) { d.state.stopOnInputInitialised = 1; },
       common::kKernelStopOnInputAlreadyInitialized},
      {"handwheel", [](K& d) { d.state.handwheelActive = 1; },
       common::kKernelHandwheelAlreadyActive},
  };
  ExpectEachInItsOrder(conditions, [](HomingKernel& k) { return k.CheckReference(0b11); });
  HomingKernel& k = *kernel;
  EXPECT_EQ(k.CheckReference(0b11), common::kKernelSuccess);
  k.data().motion.cartesianCoordinates = 1;
  k.data().state.testMode = 1;
  EXPECT_EQ(k.CheckReference(0b11), common::kKernelSuccess) << "test mode with Cartesian axes";
}

TEST_F(HomingCommandsTest, ReferenceLooksOnlyAtTheSelectedNodesAndNotAtHomingFlags) {
  HomingKernel& k = *kernel;
  k.Node(1).latched.Set(StatusFlag::A, false);
  k.Node(1).handlingAxis = 1;
  for (StatusFlag flag : {StatusFlag::D, StatusFlag::E, StatusFlag::F}) {
    k.Node(0).latched.Set(flag, false);
    k.Node(0).current.Set(flag, false);
  }
  EXPECT_EQ(k.CheckReference(0b01), common::kKernelSuccess);
  EXPECT_EQ(k.CheckReference(0b10), common::kKernelNodeWasInErrorState);
}

TEST_F(HomingCommandsTest, HomeShiftConditionsInTheirOrder) {
  using K = KernelData;
  const std::vector<Condition> conditions{
      {"reset pending", [](K& d) { d.state.resetPending = 1; }, common::kKernelResetNotDone},
      {"cycle", [](K& d) { d.state.cycleRunning = 0; }, kCycleNotRunning},
      {"bus", [](K& d) { d.state.busOk = 0; }, common::kKernelCanBusDisturbed},
      {"no such node", [](K& d) { d.nodeConfiguration.table.nodeCount = 0; },
       common::kKernelAxisNumberInvalid},
      {"no home shift", [](K& d) { d.nodeConfiguration.records[1].can->homeShiftCapable = 0; },
       common::kKernelDriveFirmwareWrong},
      {"not homed",
       [](K& d) { d.nodeConfiguration.records[1].can->current.Set(StatusFlag::D, false); },
       common::kKernelNodeWasInErrorState},
      {"stop on input triggered", [](K& d) { d.state.stopOnInputTriggered = 1; },
       common::kKernelStopOnInputStopActive},
      {"handwheel", [](K& d) { d.state.handwheelActive = 1; },
       common::kKernelHandwheelAlreadyActive},
      {"movement", [](K& d) { d.state.motionActive = 1; }, common::kKernelMovementSegmentActive},
      {"path mode", [](K& d) { d.state.pathMode = 1; }, common::kKernelPathModeError},
      {"slave without a gear",
       [](K& d) { d.nodeConfiguration.records[1].can->axes[0].gear.denominator = 0; },
       common::kKernelMovementDataInvalid},
  };
  ExpectEachInItsOrder(conditions, [](HomingKernel& k) { return k.CheckShift(1, 10.0); });
}

TEST_F(HomingCommandsTest, HomeShiftRangeAndNodeIndex) {
  HomingKernel& k = *kernel;
  struct Case {
    const char* name;
    std::int32_t index;
    double shift;
    StatusCode answer;
  };
  // Gear 3/10: 7158278826 position units are 2147483647.8 increments.
  const Case cases[] = {
      {"largest shift", 0, 7158278823.0, common::kKernelSuccess},
      {"beyond the drive's range", 0, 7158278830.0, common::kKernelMovementDataInvalid},
      {"beyond it negative", 0, -7158278830.0, common::kKernelMovementDataInvalid},
      {"negative index", -1, 1.0, common::kKernelAxisNumberInvalid},
      {"index past the table", 2, 1.0, common::kKernelAxisNumberInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(k.CheckShift(c.index, c.shift), c.answer);
  }
  k.Node(0).gear.numerator = 0;
  EXPECT_EQ(k.CheckShift(0, 1.0), common::kKernelMovementDataInvalid) << "zero numerator";
  k.Node(0).gear.numerator = 3;
  k.Node(0).handlingAxis = 1;
  k.Node(0).handlingMode = 1;
  k.data().nodeConfiguration.records[0].motion.standing = 0;
  EXPECT_EQ(k.CheckShift(0, 1.0), common::kKernelSegmentMotionAlreadyActive)
      << "a handling axis still on its way";
}

TEST(HomeShiftSplit, IncrementsAndRemainders) {
  struct Case {
    double shift;
    std::uint32_t numerator, denominator;
    std::int32_t remainder;
    canopen::HomeShiftSplit expected;
  };
  const Case cases[] = {
      {5, 1, 1, 0, {5, 0, 5.0}},         {0, 3, 10, 0, {0, 0, 0.0}},
      {1, 3, 10, 0, {0, 3, 0.0}},        {1, 3, 10, 9, {1, 2, 10.0 / 3.0}},
      {-1, 3, 10, 0, {0, -3, 0.0}},      {-4, 3, 10, -3, {-1, -5, -10.0 / 3.0}},
      {100, 10, 1, 0, {1000, 0, 100.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.shift << " x " << c.numerator << "/" << c.denominator
                                      << " + " << c.remainder);
    const canopen::HomeShiftSplit split =
        canopen::SplitHomeShift(c.shift, c.numerator, c.denominator, c.remainder);
    EXPECT_EQ(split.increments, c.expected.increments);
    EXPECT_EQ(split.remainder, c.expected.remainder);
    EXPECT_DOUBLE_EQ(split.applied, c.expected.applied);
  }
  // Ten shifts below one increment add up to exactly three.
  std::int32_t remainder = 0;
  std::int32_t given = 0;
  for (int i = 0; i < 10; ++i) {
    const canopen::HomeShiftSplit split = canopen::SplitHomeShift(1, 3, 10, remainder);
    remainder = split.remainder;
    given += split.increments;
  }
  EXPECT_EQ(given, 3);
  EXPECT_EQ(remainder, 0);
}

TEST_F(HomingCommandsTest, GatesAnswerFirstAndTheHomingMarkIsTakenBack) {
  HomingKernel& k = *kernel;
  ASSERT_TRUE(k.data().nodeConfiguration.homingActiveEvent.Set());
  k.data().state.resetPending = 1;
  EXPECT_EQ(k.Dispatch(16, 0b11), common::kKernelResetNotDone);
  EXPECT_EQ(os::WaitForOne(k.data().nodeConfiguration.homingActiveEvent, 0).kind,
            os::WaitKind::Timeout)
      << "a dead caller's mark does not outlive the command";
  EXPECT_EQ(k.Dispatch(82, 0, 5), common::kKernelResetNotDone);
  k.data().state.resetPending = 0;
  k.data().state.cycleRunning = 0;
  EXPECT_EQ(k.Dispatch(16, 0b11), kCycleNotRunning);
  EXPECT_EQ(k.Dispatch(82, 0, 5), kCycleNotRunning);
  k.data().state.cycleRunning = 1;
  k.data().state.handwheelActive = 1;
  EXPECT_EQ(k.Dispatch(16, 0b11), common::kKernelHandwheelAlreadyActive);
  EXPECT_EQ(k.Dispatch(82, 7, 5), common::kKernelAxisNumberInvalid);
}

}  // namespace
}  // namespace vantor::kernel

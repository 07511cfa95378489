// The velocity-proportional output's commands 101 to 104 on an in-process
// kernel in CNC mode, and the stop that freeing the node objects makes.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>

#include "common/command_codes.h"
#include "common/velocity_output_records.h"
#include "kernel/core/canopen/can_object_cycle.h"
#include "kernel/core/velocity_output_control.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/tests/kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace vs = common::velocity_output_start;
namespace vp = common::velocity_output_parameters;
namespace vr = common::velocity_output_state;
using common::CommandCode;
using common::kKernelSuccess;

constexpr std::uint16_t kCobId = 0x214;        // node 20's first receive PDO
constexpr std::uint16_t kConfiguredFill = 40;  // 80 ms at 2 ms

struct Start {
  std::uint32_t mode = 2;
  std::uint32_t delay = 100000;  // 50 cycles
  std::uint32_t direction = 1;
  std::uint32_t guarding = 0;
  std::uint8_t nodeId = 20;
  std::uint16_t cobId = kCobId;
  std::uint32_t length = 2;
  std::uint32_t answerTimeout = 5000;
  std::uint32_t period = 2000;
};

struct Parameters {
  std::uint32_t enable = 1;
  std::int32_t gain = 1;
  std::int32_t divisor = 1;
  std::int32_t offset = 0;
  std::uint32_t delay = 100000;
};

class VelocityOutputCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateStandardRequestArea(kernel_);
    KernelData& data = kernel_.data;
    testing::CreateKernelDataLocks(data);
    KernelStateFlags& s = data.state;
    for (std::uint32_t* word :
         {&s.resetPending, &s.velocityOutputActive, &s.pathMode, &s.pathStarted, &s.motionActive,
          &s.motionBreak, &s.quickStopping, &s.stopped, &s.powerOff, &s.teachMode,
          &s.stopOnInputActive, &s.handwheelActive}) {
      *word = 0;
    }
    s.cycleRunning = 1;
    s.busOk = 1;
    s.syncRunning = 1;
    s.peripheryPdoOk = 1;
    s.SetCncInitialised(true);
    data.motion.path.cycleTime = 0.002;
    data.motion.fill.fillLevel = kConfiguredFill;
    data.savedConfiguration.motion.fill.fillLevel = kConfiguredFill;
    data.velocityOutput = {};
    data.nodeConfiguration.table.nodeCount = 0;
    canopen::ResetCanObjectList(kernel_.canObjects);
  }

  common::StatusCode Run(CommandCode code) {
    auto block = kernel_.Block();
    block.Set(cb::kCommandCode, static_cast<std::uint32_t>(code));
    block.Set(cb::kResult, kKernelSuccess);
    EXPECT_EQ(DispatchCommand(kernel_), AfterCommand::KeepServing);
    EXPECT_EQ(os::WaitForOne(kernel_.standard.kernelReady, 0).kind, os::WaitKind::Signalled);
    kernel_.standard.kernelReady.Reset();
    return block.Get(cb::kResult);
  }

  common::StatusCode StartOutput(const Start& s = {}) {
    auto block = kernel_.Block();
    block.Set(vs::kMode, s.mode);
    block.Set(vs::kDelayMicroseconds, s.delay);
    block.Set(vs::kDirection, s.direction);
    block.Set(vs::kGuarding, s.guarding);
    block.Set(vs::kNodeId, s.nodeId);
    block.Set(vs::kCobId, s.cobId);
    block.Set(vs::kDataLength, s.length);
    block.Set(vs::kCompare, 1);
    auto mask = block.MutableBytes(vs::kMask);
    mask[0] = 0xF0;
    auto expected = block.MutableBytes(vs::kExpected);
    expected[7] = 0x5A;
    block.Set(vs::kAnswerTimeout, s.answerTimeout);
    block.Set(vs::kPeriod, s.period);
    return Run(CommandCode::ActivateVelPropOutputMode);
  }
  common::StatusCode SetParameters(const Parameters& p = {}) {
    auto block = kernel_.Block();
    block.Set(vp::kEnable, p.enable);
    block.Set(vp::kGain, p.gain);
    block.Set(vp::kDivisor, p.divisor);
    block.Set(vp::kOffset, p.offset);
    block.Set(vp::kDelayMicroseconds, p.delay);
    return Run(CommandCode::SetVelPropOutputWorkPar);
  }
  common::StatusCode StopOutput() { return Run(CommandCode::DeactivateVelPropOutputMode); }

  struct Read {
    common::StatusCode result;
    std::uint32_t active, mode, largest, smallest, delay, enable;
    std::int32_t gain, divisor, offset;
    std::uint32_t effective;
  };
  Read ReadOutput() {
    auto block = kernel_.Block();
    for (std::size_t at = cb::kPayloadOffset; at < cb::kPayloadOffset + vr::kRecordSize; ++at) {
      static_cast<void>(block.Store<std::uint8_t>(at, 0xEE));
    }
    const common::StatusCode result = Run(CommandCode::GetVelPropOutputActPar);
    return {result,
            block.Get(vr::kActive),
            block.Get(vr::kMode),
            block.Get(vr::kLargestDelayMicroseconds),
            block.Get(vr::kSmallestDelayMicroseconds),
            block.Get(vr::kDelayMicroseconds),
            block.Get(vr::kEnable),
            block.Get(vr::kGain),
            block.Get(vr::kDivisor),
            block.Get(vr::kOffset),
            block.Get(vr::kEffectiveDelayMicroseconds)};
  }

  canopen::CanObjectEntry* Object() { return canopen::FindCanObject(kCobId, kernel_.canObjects); }

  void ExpectOff() {
    EXPECT_EQ(kernel_.data.state.velocityOutputActive, 0u);
    EXPECT_EQ(Object(), nullptr);
    EXPECT_EQ(kernel_.canObjects.kernelObjects.velocityOutputOn, 0u);
    EXPECT_EQ(kernel_.data.motion.fill.fillLevel, kConfiguredFill);
    EXPECT_EQ(kernel_.data.velocityOutput.delayMicroseconds, 0u);
  }

  Kernel kernel_;
};

TEST_F(VelocityOutputCommands, StartRefusalsOneConditionAtATime) {
  struct Case {
    const char* what;
    std::function<void(VelocityOutputCommands&, Kernel&, Start&)> spoil;
    common::StatusCode result;
  };
  using F = VelocityOutputCommands;
  const Case cases[] = {
      {"not initialised", [](F&, Kernel& k, Start&) { k.data.state.SetCncInitialised(false); },
       common::kKernelCncNotInitialized},
      {"reset pending", [](F&, Kernel& k, Start&) { k.data.state.resetPending = 1; },
       common::kKernelResetNotDone},
      {"SYNC not running", [](F&, Kernel& k, Start&) { k.data.state.syncRunning = 0; },
       common::kKernelSyncObjectFailed},
      {"peripheral PDO faulty", [](F&, Kernel& k, Start&) { k.data.state.peripheryPdoOk = 0; },
       common::kKernelPeripheryPdoInvalid},
      {"path mode", [](F&, Kernel& k, Start&) { k.data.state.pathMode = 1; },
       common::kKernelPathModeError},
      {"path started", [](F&, Kernel& k, Start&) { k.data.state.pathStarted = 1; },
       common::kKernelPathModeError},
      {"motion active", [](F&, Kernel& k, Start&) { k.data.state.motionActive = 1; },
       common::kKernelMovementSegmentActive},
      {"motion break", [](F&, Kernel& k, Start&) { k.data.state.motionBreak = 1; },
       common::kKernelBreakModeActive},
      {"quick stopping", [](F&, Kernel& k, Start&) { k.data.state.quickStopping = 1; },
       common::kKernelQuickStopActive},
      {"stopped", [](F&, Kernel& k, Start&) { k.data.state.stopped = 1; },
       common::kKernelQuickStopActive},
      {"a node not ready",
       [](F&, Kernel& k, Start&) {
         NodeConfiguration& nodes = k.data.nodeConfiguration;
         ASSERT_NE(nodes.Place(0, canopen::NodeSetup{}), nullptr);
         nodes.table.nodeCount = 1;
       },
       common::kKernelNodeWasInErrorState},
      {"power off", [](F&, Kernel& k, Start&) { k.data.state.powerOff = 1; },
       common::kKernelManualModeActive},
      {"teach mode", [](F&, Kernel& k, Start&) { k.data.state.teachMode = 1; },
       common::kKernelTeachInModeActive},
      {"stop on input", [](F&, Kernel& k, Start&) { k.data.state.stopOnInputActive = 1; },
       common::kKernelStopOnInputAlreadyInitialized},
      {"handwheel", [](F&, Kernel& k, Start&) { k.data.state.handwheelActive = 1; },
       common::kKernelHandwheelAlreadyInitialized},
      {"delay below the fill level", [](F&, Kernel&, Start& s) { s.delay = 79999; },
       common::kKernelVelPropOutputParameterInvalid},
      {"an SDO request identifier", [](F&, Kernel&, Start& s) { s.cobId = 0x601; },
       common::kKernelVelPropOutputParameterInvalid},
      {"object list full",
       [](F&, Kernel& k, Start&) {
         while (k.canObjects.pool.Take() != nullptr) {
         }
       },
       common::kKernelOutOfResources},
  };
  for (const Case& c : cases) {
    SetUp();
    Start start;
    c.spoil(*this, kernel_, start);
    EXPECT_EQ(StartOutput(start), c.result) << c.what;
    ExpectOff();
  }
}

TEST_F(VelocityOutputCommands, ASecondStartIsRefusedAndChangesNothing) {
  ASSERT_EQ(StartOutput(), kKernelSuccess);
  Start other;
  other.cobId = 0x294;
  other.delay = 200000;
  EXPECT_EQ(StartOutput(other), common::kKernelVelPropOutputAlreadyActive);
  EXPECT_EQ(kernel_.data.motion.fill.fillLevel, 50);
  EXPECT_EQ(canopen::FindCanObject(0x294, kernel_.canObjects), nullptr);
}

TEST_F(VelocityOutputCommands, StartAppendsAnInactiveObjectAndReadShowsTheOutput) {
  const Read off = ReadOutput();
  EXPECT_EQ(off.result, kKernelSuccess);
  EXPECT_EQ(off.active, 0u);
  EXPECT_EQ(off.mode, 0u);
  EXPECT_EQ(off.largest, 996000u);
  EXPECT_EQ(off.smallest, 80000u);
  EXPECT_EQ(off.delay, 0u);
  EXPECT_EQ(off.enable, 0u);
  EXPECT_EQ(off.gain, 0);
  EXPECT_EQ(off.divisor, 0);
  EXPECT_EQ(off.offset, 0);
  EXPECT_EQ(off.effective, 0u);

  canopen::CanObjectParameters user;
  user.cobId = 0x050;
  ASSERT_NE(canopen::AppendCanObject(kernel_.canObjects, user), nullptr);
  ASSERT_EQ(StartOutput(), kKernelSuccess);
  EXPECT_EQ(kernel_.data.state.velocityOutputActive, 1u);
  EXPECT_EQ(kernel_.data.motion.fill.fillLevel, 50) << "the delay in cycles";
  const canopen::CanObjectEntry* object = Object();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(kernel_.canObjects.head->next, object) << "behind the last entry";
  EXPECT_EQ(object->active, 0u);
  EXPECT_EQ(object->direction, 1u);
  EXPECT_EQ(object->nodeId, 20u);
  EXPECT_EQ(object->length, 2);
  EXPECT_EQ(object->compare, 1u);
  EXPECT_EQ(object->mask[0], 0xF0);
  EXPECT_EQ(object->expected[7], 0x5A);
  EXPECT_EQ(object->answerTimeout, 5000);
  EXPECT_EQ(object->period, 2000);

  const Read on = ReadOutput();
  EXPECT_EQ(on.active, 1u);
  EXPECT_EQ(on.mode, 2u);
  EXPECT_EQ(on.smallest, 80000u) << "from the configured fill level";
  EXPECT_EQ(on.delay, 100000u);
  EXPECT_EQ(on.enable, 0u);
  EXPECT_EQ(on.gain, 1);
  EXPECT_EQ(on.divisor, 1);
  EXPECT_EQ(on.offset, 0);
  EXPECT_EQ(on.effective, 0u);

  ASSERT_EQ(SetParameters({1, -3, 7, 12, 500000}), kKernelSuccess);
  const Read set = ReadOutput();
  EXPECT_EQ(set.enable, 1u);
  EXPECT_EQ(set.gain, -3);
  EXPECT_EQ(set.divisor, 7);
  EXPECT_EQ(set.offset, 12);
  EXPECT_EQ(set.effective, 100000u) << "at most the start delay";
  EXPECT_EQ(kernel_.data.velocityOutput.delayCycles, 50);
  ASSERT_EQ(SetParameters({0, 1, 1, 0, 30000}), kKernelSuccess);
  EXPECT_EQ(ReadOutput().effective, 30000u);
  EXPECT_EQ(kernel_.data.velocityOutput.delayCycles, 15);
  EXPECT_EQ(Object()->active, 0u);
}

TEST_F(VelocityOutputCommands, ParameterRefusals) {
  struct Case {
    const char* what;
    std::function<void(Kernel&, Parameters&)> spoil;
    common::StatusCode result;
  };
  const Case cases[] = {
      {"not initialised", [](Kernel& k, Parameters&) { k.data.state.SetCncInitialised(false); },
       common::kKernelCncNotInitialized},
      {"reset pending", [](Kernel& k, Parameters&) { k.data.state.resetPending = 1; },
       common::kKernelResetNotDone},
      {"cycle not running", [](Kernel& k, Parameters&) { k.data.state.cycleRunning = 0; },
       0xC9100008},
      {"bus disturbed", [](Kernel& k, Parameters&) { k.data.state.busOk = 0; },
       common::kKernelCanBusDisturbed},
      {"divisor 0", [](Kernel&, Parameters& p) { p.divisor = 0; },
       common::kKernelVelPropOutputParameterInvalid},
  };
  EXPECT_EQ(SetParameters(), common::kKernelVelPropOutputInactive);
  for (const Case& c : cases) {
    SetUp();
    ASSERT_EQ(StartOutput(), kKernelSuccess);
    Parameters p{1, 5, 1, 9, 100000};
    c.spoil(kernel_, p);
    EXPECT_EQ(SetParameters(p), c.result) << c.what;
    EXPECT_EQ(kernel_.data.velocityOutput.gain, 1.0) << c.what;
    EXPECT_EQ(kernel_.data.velocityOutput.divisor, 1.0) << c.what;
    EXPECT_EQ(Object()->active, 0u) << c.what;
  }
}

TEST_F(VelocityOutputCommands, StopRestoresTheFillLevelAndRemovesTheObject) {
  EXPECT_EQ(StopOutput(), kKernelSuccess) << "an output that is off";
  ASSERT_EQ(StartOutput(), kKernelSuccess);
  struct Case {
    const char* what;
    std::uint32_t KernelStateFlags::*flag;
    common::StatusCode result;
  };
  const Case refusals[] = {
      {"reset pending", &KernelStateFlags::resetPending, common::kKernelResetNotDone},
      {"path mode", &KernelStateFlags::pathMode, common::kKernelPathModeError},
      {"path started", &KernelStateFlags::pathStarted, common::kKernelPathModeError},
      {"motion active", &KernelStateFlags::motionActive, common::kKernelMovementSegmentActive},
  };
  for (const Case& c : refusals) {
    kernel_.data.state.*c.flag = 1;
    EXPECT_EQ(StopOutput(), c.result) << c.what;
    kernel_.data.state.*c.flag = 0;
    EXPECT_NE(Object(), nullptr) << c.what;
  }
  EXPECT_EQ(kernel_.data.motion.fill.fillLevel, 50);
  ASSERT_EQ(StopOutput(), kKernelSuccess);
  ExpectOff();
  EXPECT_EQ(ReadOutput().active, 0u);
  // The identifier is free again.
  EXPECT_EQ(StartOutput(), kKernelSuccess);
}

TEST_F(VelocityOutputCommands, TheScheduledObjectSendsTheOutputsValue) {
  ASSERT_EQ(StartOutput(), kKernelSuccess);
  ASSERT_EQ(SetParameters({1, 2, 1, 1234, 0}), kKernelSuccess);
  common::ExchangeBuffer exchange;
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  const auto sent = [&]() -> std::array<std::uint8_t, 2> {
    canopen::ScheduleCanObjects(kernel_.canObjects, exchange);
    const auto record = *common::MessageRecordIn(exchange, 1);
    EXPECT_EQ(record.Get(common::message_record::kCobId), kCobId);
    EXPECT_EQ(record.Get(common::message_record::kLength), 2);
    const auto data = record.GetBytes(common::message_record::kData);
    Object()->scheduled = 0;
    Object()->record = 0;
    Object()->countdown = 0;
    kernel_.canObjects.freeRecords[1] = 1;
    return {data[0], data[1]};
  };
  EXPECT_EQ(sent(), (std::array<std::uint8_t, 2>{0xD2, 0x04})) << "an empty ring: the offset";
  PushPathVelocity(-20000.0, kernel_.data.velocityOutput);
  // -40000 + 1234 = -38766, capped to -32767 = 0x8001.
  EXPECT_EQ(sent(), (std::array<std::uint8_t, 2>{0x01, 0x80}));
}

TEST_F(VelocityOutputCommands, FreeingTheNodeObjectsStopsTheOutput) {
  ASSERT_EQ(StartOutput(), kKernelSuccess);
  kernel_.data.state.resetPending = 1;
  StopVelPropOutput(kernel_.data, kernel_.canObjects);
  EXPECT_EQ(kernel_.data.state.velocityOutputActive, 1u) << "not while a reset is pending";
  kernel_.data.state.resetPending = 0;

  FreeNodeObjects(kernel_);
  EXPECT_EQ(kernel_.data.state.velocityOutputActive, 0u);
  EXPECT_EQ(kernel_.data.motion.fill.fillLevel, kConfiguredFill);
  EXPECT_EQ(kernel_.data.velocityOutput.delayMicroseconds, 0u);
  EXPECT_EQ(kernel_.canObjects.kernelObjects.velocityOutputOn, 0u);
  EXPECT_EQ(kernel_.canObjects.kernelObjects.velocityOutputContext, nullptr);
}

}  // namespace
}  // namespace vantor::kernel

// What the cycle reads from the drives' answers besides positions and
// status rows, and how it follows the handling axes: one interpolated drive
// (node 0) and one handling drive (node 1), their answers written into the
// exchange record as the driver leaves them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kernel/core/drive_answer_watches.h"
#include "kernel/core/handling_axes_cycle.h"
#include "kernel/core/motion_cycle.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace xb = common::exchange_buffer;
namespace mr = common::message_record;

constexpr std::uint16_t kOperationEnabled = 0x0027;
constexpr std::uint16_t kInternalLimitActive = 0x0800;

struct TwoDriveKernel {
  std::unique_ptr<KernelData> data = std::make_unique<KernelData>();
  std::unique_ptr<common::ExchangeBuffer> exchange = std::make_unique<common::ExchangeBuffer>();

  TwoDriveKernel() {
    for (std::uint32_t i = 0; i < 2; ++i) {
      canopen::NodeSetup setup;
      setup.nodeId = static_cast<std::uint8_t>(i + 1);
      setup.sendRecord = 2 * i + 1;
      setup.answerRecord = 2 * i + 2;
      canopen::NodeObject* node = data->nodeConfiguration.Place(i, setup);
      node->latched.SetAll(true);
      node->current.SetAll(true);
      data->motionRuntime.nodes[i].answerValid = 1;
    }
    Node(1).handlingAxis = 1;
    data->nodeConfiguration.table.nodeCount = 2;
    data->nodeConfiguration.interpolatedNodeCount = 1;
    data->coordinateCount = 2;
    data->motionRuntime.path.axisCount = 2;
    data->globalSlot.request.record = 5;
    data->globalSlot.request.replied = {1, 1};
    data->motion.path.cycleTime = 0.001;
    exchange->Set(xb::kCycleMicroseconds, 1000u);
  }

  canopen::NodeObject& Node(std::uint32_t i) { return *data->nodeConfiguration.records[i].can; }

  void Answer(std::uint32_t i, std::int32_t raw, std::uint16_t statusword, std::uint8_t byte7,
              std::uint8_t length = 8) {
    auto answer = *common::MessageRecordIn(*exchange, 2 * i + 2);
    std::uint8_t bytes[8]{};
    std::memcpy(bytes, &raw, 4);
    bytes[4] = static_cast<std::uint8_t>(statusword);
    bytes[5] = static_cast<std::uint8_t>(statusword >> 8);
    bytes[7] = byte7;
    static_cast<void>(answer.CopyIn(mr::kData.kOffset, bytes));
    answer.Set(mr::kLength, length);
    answer.Set(mr::kResult, 0);
  }

  void Update() { UpdateAxesFromDrives(*data, *exchange); }
};

TEST(WatchStopOnInput, AMatchingInputOfAnInterpolatedDriveTriggersTheStop) {
  const struct {
    const char* name;
    std::uint32_t armed, active, quickStopping;
    std::uint8_t length, inputs;
    std::uint32_t triggered;
    std::uint8_t port;
  } cases[] = {
      {"match", 1, 1, 0, 8, 0b0101'0000, 1, 0b0101'0000},
      {"bits outside the mask do not matter", 1, 1, 0, 8, 0b0101'1111, 1, 0b0101'1111},
      {"no match", 1, 1, 0, 8, 0b0001'0000, 0, 0b0001'0000},
      {"short answer keeps the port", 1, 1, 0, 6, 0b0101'0000, 0, 0b1010'0000},
      {"armed but not active", 1, 0, 0, 8, 0b0101'0000, 0, 0b0101'0000},
      {"during a drive stop", 1, 1, 1, 8, 0b0101'0000, 0, 0b0101'0000},
      {"not armed", 0, 1, 0, 8, 0b0101'0000, 0, 0b1010'0000},
  };
  for (const auto& c : cases) {
    TwoDriveKernel kernel;
    StopOnInputWatch& watch = kernel.data->motionRuntime.stopOnInput;
    watch = {c.armed, 0b1111'0000, 0b0101'0000};
    kernel.data->motionRuntime.nodes[0].inputPort = 0b1010'0000;
    kernel.data->state.stopOnInputActive = c.active;
    kernel.data->state.quickStopping = c.quickStopping;
    kernel.Answer(0, 0, kOperationEnabled, c.inputs, c.length);
    // The handling drive's inputs are not watched.
    kernel.Answer(1, 0, kOperationEnabled, 0b0101'0000);
    kernel.Update();
    EXPECT_EQ(kernel.data->state.stopOnInputTriggered, c.triggered) << c.name;
    EXPECT_EQ(kernel.data->motionRuntime.nodes[0].inputPort, c.port) << c.name;
    EXPECT_EQ(kernel.data->motionRuntime.nodes[1].inputHit, 0u) << c.name;
  }
}

TEST(ReadHandwheelFlagBytes, FlagBytesSetTheHandFlagsAndClearMissingModeFlags) {
  const struct {
    const char* name;
    std::uint32_t evaluate;
    std::uint8_t first, second;
    bool secondAnswers;
    std::uint32_t latched, f1, f2, handStep;
    std::uint32_t firstHand, secondHand;
  } cases[] = {
      {"every mode bit on both", 1, 0b0111'1000, 0b0111'0000, true, 1, 1, 1, 1, 1, 0},
      {"F1 missing on one", 1, 0b0101'1000, 0b0111'1000, true, 1, 0, 1, 1, 1, 1},
      {"latched and F2 missing", 1, 0b0010'0000, 0b0111'0000, true, 0, 1, 0, 1, 0, 0},
      {"bit 2 clears the hand step", 1, 0b0111'0100, 0b0111'0000, true, 1, 1, 1, 0, 0, 0},
      {"a drive without an answer", 1, 0b0000'0000, 0b0000'0000, false, 5, 5, 5, 1, 7, 7},
      {"not evaluated", 0, 0b0111'1000, 0b0111'1000, true, 0, 0, 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    TwoDriveKernel kernel;
    KernelStateFlags& s = kernel.data->state;
    MotionRuntime& runtime = kernel.data->motionRuntime;
    runtime.handwheel = {c.evaluate, 1};
    s.handwheelLatched = s.handwheelF1 = s.handwheelF2 = 5;
    runtime.nodes[0].handFlag = runtime.nodes[1].handFlag = 7;
    runtime.nodes[1].answerValid = c.secondAnswers ? 1 : 0;
    kernel.Answer(0, 0, kOperationEnabled, c.first);
    kernel.Answer(1, 0, kOperationEnabled, c.second);
    kernel.Update();
    EXPECT_EQ(s.handwheelLatched, c.latched) << c.name;
    EXPECT_EQ(s.handwheelF1, c.f1) << c.name;
    EXPECT_EQ(s.handwheelF2, c.f2) << c.name;
    EXPECT_EQ(runtime.handwheel.handStep, c.handStep) << c.name;
    EXPECT_EQ(runtime.nodes[0].handFlag, c.firstHand) << c.name;
    EXPECT_EQ(runtime.nodes[1].handFlag, c.secondHand) << c.name;
  }
}

TEST(WatchDriveLimitStops, TheDriveSideOfAnInternalLimitClearsThatSidesFlags) {
  // Lower limit -100, upper 300.
  const struct {
    const char* name;
    std::uint32_t node;
    std::uint32_t handwheelActive;
    std::uint16_t statusword;
    std::int32_t position;
    bool lowerCleared, upperCleared;
    std::uint32_t limitsOk;
  } cases[] = {
      {"at the lower limit", 1, 0, kInternalLimitActive, -100, true, false, 0},
      {"beyond the upper limit", 1, 0, kInternalLimitActive, 350, false, true, 0},
      {"nearer the lower limit", 1, 0, kInternalLimitActive, 99, true, false, 0},
      {"midway counts as upper", 1, 0, kInternalLimitActive, 100, false, true, 0},
      {"no limit active", 1, 0, 0, -500, false, false, 1},
      {"interpolated drive is not watched", 0, 0, kInternalLimitActive, -100, false, false, 1},
      {"... except in hand operation", 0, 1, kInternalLimitActive, -100, true, false, 0},
  };
  for (const auto& c : cases) {
    TwoDriveKernel kernel;
    for (std::uint32_t i = 0; i < 2; ++i) {
      kernel.Node(i).handlingLimitWord = 1;
      kernel.Node(i).softwareLimit1 = -100.0;
      kernel.Node(i).softwareLimit2 = 300.0;
      kernel.data->coordinates[i].settings.limitsEnabled = 1;
      kernel.data->coordinates[i].settings.negativeLimit = -1e9;
      kernel.data->coordinates[i].settings.positiveLimit = 1e9;
    }
    kernel.data->state.handwheelActive = c.handwheelActive;
    for (std::uint32_t i = 0; i < 2; ++i) {
      const bool watched = i == c.node;
      kernel.Answer(i, watched ? c.position : 0, kOperationEnabled | (watched ? c.statusword : 0),
                    0);
    }
    kernel.Update();
    const CoordinateRecord& coordinate = kernel.data->coordinates[c.node];
    EXPECT_EQ(coordinate.negativeLimitOkLatched, c.lowerCleared ? 0u : 1u) << c.name;
    EXPECT_EQ(coordinate.negativeLimitOkCurrent, c.lowerCleared ? 0u : 1u) << c.name;
    EXPECT_EQ(coordinate.positiveLimitOkLatched, c.upperCleared ? 0u : 1u) << c.name;
    EXPECT_EQ(coordinate.positiveLimitOkCurrent, c.upperCleared ? 0u : 1u) << c.name;
    EXPECT_EQ(kernel.data->state.limitsOk, c.limitsOk) << c.name;
  }

  // Once the drive leaves its limit the current flags come back; the
  // latched ones wait for the reset.
  TwoDriveKernel kernel;
  kernel.Node(1).handlingLimitWord = 1;
  kernel.Node(1).softwareLimit1 = -100.0;
  kernel.Node(1).softwareLimit2 = 300.0;
  kernel.Answer(1, -100, kOperationEnabled | kInternalLimitActive, 0);
  kernel.Update();
  kernel.Answer(1, -90, kOperationEnabled, 0);
  kernel.Update();
  EXPECT_EQ(kernel.data->coordinates[1].negativeLimitOkCurrent, 1u);
  EXPECT_EQ(kernel.data->coordinates[1].negativeLimitOkLatched, 0u);
}

TEST(MeasureHandlingAxisVelocities, ADriveWithoutPositionIsJudgedByItsCommand) {
  const struct {
    const char* name;
    std::int32_t raw;
    double commanded;
    std::uint16_t statusword;  // bit 10: target reached
    double velocity;
    std::uint32_t inMotion;
  } cases[] = {
      {"no position, commanded", 2147483647, -40.0, 0x0427, 40.0, 1},
      {"no position, target not reached", -2147483647, 0.0, 0x0027, 0.0, 1},
      {"no position, standing", 2147483647, 0.0, 0x0427, 0.0, 0},
      {"a position moving", 50, 0.0, 0x0427, 50000.0, 1},
      {"a position, target not reached", 0, 0.0, 0x0027, 0.0, 0},
  };
  for (const auto& c : cases) {
    TwoDriveKernel kernel;
    kernel.data->nodeConfiguration.records[0].can->latched.Set(StatusFlag::D, true);
    kernel.data->nodeConfiguration.records[1].motion.commandedVelocity = c.commanded;
    kernel.Answer(0, 0, kOperationEnabled, 0);
    kernel.Answer(1, c.raw, c.statusword, 0);
    kernel.Update();
    MeasureVelocities(*kernel.data);
    MeasureHandlingAxisVelocities(*kernel.data);
    const NodeObject& node = kernel.data->nodeConfiguration.records[1];
    EXPECT_DOUBLE_EQ(node.motion.measuredVelocity, c.velocity) << c.name;
    EXPECT_EQ(node.motion.inMotion, c.inMotion) << c.name;
    EXPECT_EQ(kernel.data->motionRuntime.nodes[1].inMotion, c.inMotion) << c.name;
    // The handling record follows the drive's target reached.
    EXPECT_EQ(node.motion.standing, (c.statusword & 0x0400) != 0 ? 1u : 0u) << c.name;
  }
}

TEST(SignalHandlingAxesStopped, TheEventComesOnceTheSelectedHandlingAxesStandOrTheWaitRunsOut) {
  const struct {
    const char* name;
    std::uint32_t nodes;
    canopen::NodeMask selected;
    std::uint32_t interpolatedMoving, handlingMoving;
    int cyclesUntilSet;  // -1: not within the settle time's cycles
  } cases[] = {
      {"no nodes", 0, 0b11, 0, 0, 1},
      {"selected handling axis moving", 2, 0b10, 0, 1, 5},
      {"selected handling axis standing", 2, 0b10, 0, 0, 1},
      {"moving axis not selected", 2, 0b01, 1, 1, 1},
  };
  for (const auto& c : cases) {
    TwoDriveKernel kernel;
    KernelData& data = *kernel.data;
    data.nodeConfiguration.table.nodeCount = c.nodes;
    data.nodeConfiguration.interpolatedNodeCount = std::min(c.nodes, 1u);
    data.nodeConfiguration.motionDoneEvent =
        os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    data.motion.moveEndMaxWaitTime = 5.0;  // ms, five cycles
    data.motionRuntime.handlingWait = {c.selected, 5.0};
    data.motionRuntime.nodes[0].inMotion = c.interpolatedMoving;
    data.motionRuntime.nodes[1].inMotion = c.handlingMoving;
    int cycles = 0;
    while (cycles < 10 && os::WaitForOne(data.nodeConfiguration.motionDoneEvent, 0).kind ==
                              os::WaitKind::Timeout) {
      SignalHandlingAxesStopped(data);
      ++cycles;
    }
    EXPECT_EQ(cycles, c.cyclesUntilSet) << c.name;
    // While it stays signalled the countdown is reloaded.
    SignalHandlingAxesStopped(data);
    EXPECT_DOUBLE_EQ(data.motionRuntime.handlingWait.settle_ms, 5.0) << c.name;
  }
}

}  // namespace
}  // namespace vantor::kernel

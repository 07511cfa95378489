// The cycle's motion steps on the kernel records, without a bus: the
// synchronised start's reply, a drive's cyclic answer taken into the
// positions and status rows, and the drive stop's test.
#include "kernel/core/motion_cycle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "kernel/core/canopen/drive_stop_steps.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace xb = common::exchange_buffer;
namespace mr = common::message_record;

struct OneNodeKernel {
  std::unique_ptr<KernelData> data = std::make_unique<KernelData>();
  std::unique_ptr<common::ExchangeBuffer> exchange = std::make_unique<common::ExchangeBuffer>();

  OneNodeKernel() {
    canopen::NodeSetup setup;
    setup.nodeId = 5;
    setup.sendRecord = 1;
    setup.answerRecord = 2;
    canopen::NodeObject* node = data->nodeConfiguration.Place(0, setup);
    node->scalingOn = 1;
    node->scalingDivisor = 100.0;
    node->latched.SetAll(true);
    node->current.SetAll(true);
    data->nodeConfiguration.table.nodeCount = 1;
    data->nodeConfiguration.interpolatedNodeCount = 1;
    data->coordinateCount = 1;
    data->motionRuntime.path.axisCount = 1;
    data->globalSlot.request.record = 3;
    exchange->Set(xb::kCycleMicroseconds, 1000u);
  }

  canopen::NodeObject& Node() { return *data->nodeConfiguration.records[0].can; }

  void Answer(std::int32_t raw, std::uint16_t statusword, std::uint8_t inputs) {
    auto answer = *common::MessageRecordIn(*exchange, 2);
    std::uint8_t bytes[8]{};
    std::memcpy(bytes, &raw, 4);
    bytes[4] = static_cast<std::uint8_t>(statusword);
    bytes[5] = static_cast<std::uint8_t>(statusword >> 8);
    bytes[6] = inputs;
    static_cast<void>(answer.CopyIn(mr::kData.kOffset, bytes));
    answer.Set(mr::kResult, 0);
  }
};

TEST(TrackGlobalSlotReply, SynchronisationRunsWhileBothFramesReply) {
  const struct {
    std::uint8_t code;
    std::uint8_t result;
    std::uint32_t syncRunning;
    std::uint32_t firstArmed;
  } cases[] = {
      {23, 0, 1, 1},  // both frames answer
      {23, 1, 0, 0},  // the first frame failed
      {23, 2, 0, 1},  // the second frame failed
      {13, 0, 0, 1},  // no reply this cycle: nothing replied yet
  };
  for (const auto& c : cases) {
    OneNodeKernel kernel;
    canopen::GlobalRequest& slot = kernel.data->globalSlot.request;
    slot.armed = {1, 1};
    auto record = *common::MessageRecordIn(*kernel.exchange, 3);
    record.Set(mr::kCode, c.code);
    record.Set(mr::kResult, c.result);
    TrackGlobalSlotReply(*kernel.data, *kernel.exchange);
    EXPECT_EQ(kernel.data->state.syncRunning, c.syncRunning) << int(c.code) << "/" << int(c.result);
    EXPECT_EQ(slot.armed[0], c.firstArmed);
  }
}

TEST(UpdateAxesFromDrives, TakesTheAnswerIntoPositionAndRows) {
  OneNodeKernel kernel;
  kernel.data->motionRuntime.nodes[0].answerValid = 1;
  kernel.data->globalSlot.request.replied[0] = 1;
  kernel.Answer(-12345, 0x8027, 0x00);
  UpdateAxesFromDrives(*kernel.data, *kernel.exchange);
  const NodeAxisRuntime& axis = kernel.data->motionRuntime.nodes[0];
  EXPECT_DOUBLE_EQ(axis.actual, -123.45);
  EXPECT_DOUBLE_EQ(axis.change, -123.45);
  EXPECT_DOUBLE_EQ(kernel.data->motionRuntime.axes[0].actual, -123.45);
  EXPECT_TRUE(AllDrivesReportBit15(*kernel.data));
  EXPECT_EQ(kernel.data->state.drivesOk, 1u);

  // A limit switch: the rows say so, and the drives are no longer good.
  kernel.Answer(-12300, 0x0027, 0x01);
  UpdateAxesFromDrives(*kernel.data, *kernel.exchange);
  EXPECT_DOUBLE_EQ(axis.change, 0.45);
  EXPECT_FALSE(AllDrivesReportBit15(*kernel.data));
  EXPECT_FALSE(kernel.Node().latched.Has(StatusFlag::E));
  EXPECT_EQ(kernel.data->state.drivesOk, 0u);

  // Without cyclic data nothing is taken.
  kernel.data->motionRuntime.nodes[0].answerValid = 0;
  kernel.Answer(999999, 0x0027, 0x00);
  UpdateAxesFromDrives(*kernel.data, *kernel.exchange);
  EXPECT_DOUBLE_EQ(axis.change, 0.0);
  EXPECT_DOUBLE_EQ(axis.actual, -123.0);
}

TEST(MotionAllowed, NeedsSynchronisationEnableAndHaltPermission) {
  OneNodeKernel kernel;
  KernelStateFlags& s = kernel.data->state;
  kernel.data->motionRuntime.nodes[0].inMotion = 1;
  s.syncRunning = 1;
  s.driveEnable = 1;
  s.haltOk = 1;
  EXPECT_TRUE(MotionAllowed(*kernel.data));
  for (std::uint32_t* word : {&s.syncRunning, &s.driveEnable, &s.haltOk}) {
    *word = 0;
    EXPECT_FALSE(MotionAllowed(*kernel.data));
    *word = 1;
  }
  s.motionBreak = 1;
  EXPECT_FALSE(MotionAllowed(*kernel.data));
  s.motionBreak = 0;
  kernel.Node().current.Set(StatusFlag::I, false);
  EXPECT_FALSE(MotionAllowed(*kernel.data));
}

// A path under way with one pending event, and the node's mutexes made.
struct RunningPath : OneNodeKernel {
  motion::PathSegment line;
  motion::PathSegment event;

  RunningPath() {
    NodeObject& node = data->nodeConfiguration.records[0];
    node.requestMutex = std::move(*os::Mutex::CreateUnnamed(false));
    node.accessMutex = std::move(*os::Mutex::CreateUnnamed(false));
    line.isMotion = true;
    motion::AppendSegment(data->motionRuntime.path.queue, line);
    event.segmentKind = motion::SegmentKind::kEvent;
    motion::PushSegment(data->motionRuntime.path.pending, event);
    data->state.motionActive = 1;
    data->state.pathActive = 1;
    exchange->Set(xb::kRingControl, xb::kRingRunning);
  }
};

TEST(SuperviseMotionStop, QuickStopsEveryDriveWhenMotionIsNoLongerAllowed) {
  RunningPath kernel;
  kernel.data->state.driveEnable = 0;
  SuperviseMotionStop(*kernel.data, *kernel.exchange);
  const KernelStateFlags& s = kernel.data->state;
  EXPECT_EQ(s.quickStopping, 1u);
  EXPECT_EQ(s.motionActive, 0u);
  EXPECT_EQ(s.pathActive, 0u);
  EXPECT_EQ(kernel.exchange->Get(xb::kRingControl), xb::kRingNotInUse);
  EXPECT_EQ(kernel.Node().request.stepFunction, &canopen::QuickStopStep);
  const motion::PathMotion& path = kernel.data->motionRuntime.path;
  EXPECT_EQ(path.queue.head, nullptr);
  EXPECT_TRUE(path.pending.empty());
  EXPECT_EQ(path.retired.count, 2u);

  // The drive has answered: the stop ends and holds.
  kernel.Node().request.stepFunction = nullptr;
  SuperviseMotionStop(*kernel.data, *kernel.exchange);
  EXPECT_EQ(s.quickStopping, 0u);
  EXPECT_EQ(s.stopped, 1u);
  EXPECT_EQ(kernel.data->motionRuntime.nodes[0].answerValid, 1u);
  // The node's mutexes are free again.
  const NodeObject& node = kernel.data->nodeConfiguration.records[0];
  std::thread other([&] {
    EXPECT_EQ(os::WaitForOne(node.requestMutex, 0).kind, os::WaitKind::Signalled);
    static_cast<void>(node.requestMutex.Release());
  });
  other.join();
}

TEST(SuperviseMotionStop, NodeMutexesHeldElsewherePostponeTheStopWithTheRingStopped) {
  RunningPath kernel;
  kernel.data->state.driveEnable = 0;
  const NodeObject& node = kernel.data->nodeConfiguration.records[0];
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    EXPECT_EQ(os::WaitForOne(node.accessMutex, 5000).kind, os::WaitKind::Signalled);
    held = true;
    while (!release) std::this_thread::yield();
    static_cast<void>(node.accessMutex.Release());
  });
  while (!held) std::this_thread::yield();
  SuperviseMotionStop(*kernel.data, *kernel.exchange);
  EXPECT_EQ(kernel.data->state.quickStopping, 0u);
  EXPECT_EQ(kernel.data->state.motionActive, 0u);
  EXPECT_EQ(kernel.exchange->Get(xb::kRingControl), xb::kRingNotInUse);
  EXPECT_EQ(kernel.Node().request.stepFunction, nullptr);
  EXPECT_TRUE(kernel.data->motionRuntime.path.pending.empty()) << "events dropped unset";
  release = true;
  holder.join();
  SuperviseMotionStop(*kernel.data, *kernel.exchange);
  EXPECT_EQ(kernel.data->state.quickStopping, 1u);
  EXPECT_EQ(kernel.Node().request.stepFunction, &canopen::QuickStopStep);
}

// An application's raw request may hold the nodes' access mutexes on the
// cycle thread itself, where a retaken mutex would not keep the stop out:
// the stop and the resumption wait for its end, and while they own the
// nodes the stopping word keeps the next raw frame to a node back.
TEST(SuperviseMotionStop, AnApplicationRequestOnTheBusPostponesTheStopAndTheResumption) {
  enum class Step { Stop, Resume };
  for (const Step step : {Step::Stop, Step::Resume}) {
    RunningPath kernel;
    KernelStateFlags& s = kernel.data->state;
    const auto run = [&] {
      if (step == Step::Stop) {
        SuperviseMotionStop(*kernel.data, *kernel.exchange);
      } else {
        ResumeAfterStop(*kernel.data, *kernel.exchange);
      }
    };
    if (step == Step::Stop) s.driveEnable = 0;
    kernel.data->motionRuntime.applicationRequestPending = 1;
    run();
    EXPECT_EQ(kernel.Node().request.stepFunction, nullptr) << int(step);
    EXPECT_EQ(kernel.data->nodeConfiguration.stoppingWord, 0u) << int(step);
    EXPECT_EQ(s.quickStopping + s.resuming, 0u) << int(step);
    if (step == Step::Stop) {
      EXPECT_EQ(s.motionActive, 0u);
      EXPECT_EQ(kernel.exchange->Get(xb::kRingControl), xb::kRingNotInUse);
    }

    kernel.data->motionRuntime.applicationRequestPending = 0;
    run();
    EXPECT_NE(kernel.Node().request.stepFunction, nullptr) << int(step);
    EXPECT_EQ(kernel.data->nodeConfiguration.stoppingWord, 1u) << int(step);

    kernel.Node().request.stepFunction = nullptr;
    kernel.Node().request.requestResult = common::kKernelSuccess;
    run();
    EXPECT_EQ(kernel.data->nodeConfiguration.stoppingWord, 0u) << int(step);
    EXPECT_EQ(s.quickStopping + s.resuming, 0u) << int(step);
  }
}

}  // namespace
}  // namespace vantor::kernel

// The stop-on-input mode over the real channel-1 driver and simulated
// drives: configured with one drive's input, armed, a move under way, the
// input set on that drive: every drive stops by itself, the kernel sees the
// stop, the latched positions read back, and the disarm takes the drives'
// positions over so that the next move starts where they stand.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "common/stop_on_input_records.h"
#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/services/path_events.h"
#include "kernel/services/path_segments.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel {
namespace {

using canopen::testing::BusDrive;
using common::StatusCode;
using testing::KernelBusFixture;
using namespace std::chrono_literals;
namespace sp = common::stop_on_input_parameters;
namespace cb = common::communication_block;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr double kBootWaitMicroseconds = 200000.0;
constexpr double kPathVelocity = 5000.0;  // units/s
constexpr std::uint16_t kStopOnInput = 0x205C;

std::vector<BusDrive> Drives() {
  std::vector<BusDrive> drives(3);
  for (BusDrive& drive : drives) drive.guarding = {100, 3};
  return drives;
}

class StopOnInputBusTest : public KernelBusFixture {
 protected:
  StopOnInputBusTest() : KernelBusFixture(Drives()) { exchangeAnswerCycles_ = 200; }

  template <typename Look>
  auto UnderLock(Look look) {
    KernelDataLock lock(kernel_.data);
    return look(kernel_.data);
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle(
                  {.nodes = {{1, 0}, {2, 0}}, .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    // The cycle runs its hooks under the kernel data lock: set between two
    // cycles.
    UnderLock([this](KernelData&) {
      afterExchange_ = [this](common::ExchangeBuffer& exchange) { steps_.ProcessMotion(exchange); };
      return 0;
    });
    ASSERT_EQ(Run(15), kOk);
    UnderLock([](KernelData& data) {
      for (std::uint32_t i = 0; i < 2; ++i) {
        canopen::NodeObject& node = *data.nodeConfiguration.Node(i)->can;
        node.latched.Set(StatusFlag::D, true);
        node.current.Set(StatusFlag::D, true);
      }
      return 0;
    });
  }

  void TearDown() override {
    StopTheCycle();
    motion::PathFlags flags;
    motion::ClearSegmentQueue(kernel_.data.motionRuntime.path, flags);
    FreeRetiredSegments(kernel_.data, events_);
    KernelBusFixture::TearDown();
  }

  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  std::int32_t PositionOf(std::uint8_t id) {
    return Models([&](sim::Machine&) { return Drive(id).ReportedPosition(); });
  }
  std::uint64_t DriveObject(std::uint8_t id, std::uint8_t subindex) {
    return Models(
        [&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(kStopOnInput, subindex); });
  }

  // Code 87 with drive 1's own input (mode 2, or mode 3 with a mask of
  // axis 0 alone): bits 4 and 5 watched, bit 4 set fires.
  StatusCode ConfigureOnDriveOne(std::uint32_t perMoveStopValue = 0, std::uint8_t mode = 2) {
    sp::Record record;
    record.Set(sp::kPerMoveStopValue, perMoveStopValue);
    record.Set(sp::kMode, mode);
    record.Set(sp::kInputMask, 0x30);
    record.Set(sp::kInputLevels, 0x10);
    record.Set(sp::kInputAxis, 0);
    record.Set(sp::kInputSlave, -1);
    record.Set(sp::kAxisMask, mode == 3 ? 1u : 0u);
    kernel_.Block().CopyIn(sp::kBlockOffset, record.Bytes());
    return Run(87);
  }

  StatusCode RunMode(bool arm) {
    kernel_.Block().Set(common::stop_on_input_run::kArm, arm ? 1u : 0u);
    return Run(92);
  }

  // A single absolute line to (x, y), queued and started as code 36 does
  // once its guards passed.
  void MoveTo(double x, double y) {
    UnderLock([&](KernelData& data) {
      std::vector<motion::CoordinateInput> coordinates(2);
      for (motion::CoordinateInput& coordinate : coordinates) coordinate.onPath = true;
      const std::span<const motion::NodeLimits> limits(data.planning.nodeLimits.data(), 2);
      const motion::PlaneRotation rotation{};
      const motion::PlanningContext context{data.motion.path, rotation, false, coordinates, limits};
      motion::PathMotion& path = data.motionRuntime.path;
      const std::vector<motion::CommandValue> values{{x, true}, {y, true}};
      auto* segment = new motion::PathSegment;
      const motion::LinearMove move{false, true, false, values};
      if (!motion::PrepareLinearSegment(move, path.queue.tail, *segment, context)) {
        delete segment;
        ADD_FAILURE() << "line to " << x << ", " << y << " refused";
        return 0;
      }
      motion::AppendSegment(path.queue, *segment);
      path.ramp = {};
      path.segmentFinished = true;
      path.programmedVelocity = kPathVelocity;
      data.state.motionActive = 1;
      data.state.pathActive = 1;
      return 0;
    });
  }

  // Code 36: an absolute feed move to (x, y) on linear coordinates.
  StatusCode MoveCommand(std::int64_t x, std::int64_t y) {
    UnderLock([](KernelData& data) {
      for (std::uint32_t i = 0; i < 2; ++i) data.coordinates[i].settings.linear = 1;
      data.motionRuntime.path.linearProcessVelocity = kPathVelocity;
      return 0;
    });
    auto block = kernel_.Block();
    block.Set(cb::kCurrentCoordinateCount, 2);
    block.Set(common::Field<std::uint32_t, 0x44>{}, 1);
    block.Set(common::Field<std::uint32_t, 0x48>{}, 0);
    block.Set(common::Field<std::int64_t, 0x4C>{}, x);
    block.Set(common::Field<std::int64_t, 0x54>{}, y);
    return Run(36);
  }

  CanObjectCycleSteps steps_{kernel_.data, kernel_.canObjects};
  KernelPathEvents events_;
};

class StopOnInputModeBusTest : public StopOnInputBusTest,
                               public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(StopOnInputModeBusTest, AnInputOnOneDriveStopsEveryDriveAndTheDisarmTakesTheirPositions) {
  ASSERT_EQ(ConfigureOnDriveOne(0, GetParam()), kOk);
  EXPECT_EQ(DriveObject(1, 2), 2u) << "drive 1 watches its own input";
  EXPECT_EQ(DriveObject(2, 2), 1u) << "drive 2 stops on what it receives";
  ASSERT_EQ(RunMode(true), kOk);
  EXPECT_EQ(UnderLock([](KernelData& d) { return d.state.stopOnInputActive; }), 1u);

  MoveTo(400000, 200000);
  ASSERT_TRUE(WaitFor([&] { return PositionOf(1) > 2000 && PositionOf(2) > 1000; }))
      << "at " << PositionOf(1) << ", " << PositionOf(2) << "; motion "
      << UnderLock([](KernelData& d) { return d.state.motionActive; }) << ", coordinates "
      << UnderLock([](KernelData& d) { return d.coordinateCount; }) << ", triggered "
      << UnderLock([](KernelData& d) { return d.state.stopOnInputTriggered; }) << ", latched "
      << DriveObject(1, 12) << "/" << DriveObject(2, 12);
  Models([&](sim::Machine&) {
    Drive(1).SetUserInputs(0x10);
    return 0;
  });

  ASSERT_TRUE(WaitFor(
      [&] { return UnderLock([](KernelData& d) { return d.state.stopOnInputTriggered != 0; }); }));
  ASSERT_TRUE(WaitFor([&] { return DriveObject(1, 12) >= 128 && DriveObject(2, 12) >= 128; }));
  ASSERT_TRUE(
      WaitFor([&] { return UnderLock([](KernelData& d) { return d.state.motionActive == 0; }); }));
  const std::int32_t stopped[2] = {PositionOf(1), PositionOf(2)};
  EXPECT_LT(stopped[0], 400000);
  EXPECT_LT(stopped[1], 200000);

  // The latched positions as the drives hold them.
  ASSERT_EQ(Run(89), kOk);
  for (std::uint8_t id : {1, 2}) {
    const auto latched = static_cast<std::int32_t>(DriveObject(id, 5));
    EXPECT_EQ(kernel_.Block().Load<std::int64_t>(cb::PayloadAt(8 * (id - 1u))), latched)
        << "drive " << int{id};
    EXPECT_LE(latched, stopped[id - 1]);
  }

  ASSERT_EQ(RunMode(false), kOk);
  UnderLock([&](KernelData& d) {
    EXPECT_EQ(d.state.stopOnInputActive, 0u);
    EXPECT_EQ(d.state.stopOnInputTriggered, 0u);
    for (std::uint32_t i = 0; i < 2; ++i) {
      EXPECT_EQ(d.nodeConfiguration.Node(i)->can->position, static_cast<double>(stopped[i]));
    }
    return 0;
  });
  Models([&](sim::Machine&) {
    Drive(1).SetUserInputs(0);
    return 0;
  });
  MoveTo(stopped[0] + 3000, stopped[1] - 2000);
  EXPECT_TRUE(WaitFor(
      [&] { return PositionOf(1) == stopped[0] + 3000 && PositionOf(2) == stopped[1] - 2000; }));
}

INSTANTIATE_TEST_SUITE_P(OneDriveAndAxisMask, StopOnInputModeBusTest, ::testing::Values(2, 3));

TEST_F(StopOnInputBusTest, ParametersReadBackAndASecondConfigurationIsRefused) {
  ASSERT_EQ(Run(88), kOk);
  EXPECT_EQ(kernel_.Block().Load<std::uint8_t>(sp::kBlockOffset), 0) << "none stored";
  ASSERT_EQ(ConfigureOnDriveOne(), kOk);
  EXPECT_EQ(ConfigureOnDriveOne(), common::kKernelStopOnInputAlreadyInitialized);
  ASSERT_EQ(Run(88), kOk);
  sp::Record stored;
  kernel_.Block().CopyOut(sp::kBlockOffset, stored.MutableBytes());
  EXPECT_EQ(stored.Get(sp::kMode), 2);
  EXPECT_EQ(stored.Get(sp::kSourceNodeId), 1);
  EXPECT_EQ(stored.Get(sp::kSourceCobId), 0x381);
  EXPECT_EQ(stored.Get(sp::kSourceValid), 1u);

  // Mode 0 switches the drives off again.
  sp::Record off;
  kernel_.Block().CopyIn(sp::kBlockOffset, off.Bytes());
  ASSERT_EQ(Run(87), kOk);
  EXPECT_EQ(UnderLock([](KernelData& d) { return d.state.stopOnInputInitialised; }), 0u);
  EXPECT_EQ(DriveObject(1, 1), 0u);
  EXPECT_EQ(RunMode(true), common::kKernelStopOnInputNotInitialized);
}

TEST_F(StopOnInputBusTest, MovesWithThePerMoveFlagSetTheStopDecelerationFromTheMove) {
  ASSERT_EQ(ConfigureOnDriveOne(1), kOk);
  // Configured with each axis's largest acceleration.
  const std::uint64_t yLimit = DriveObject(2, 3);
  EXPECT_GT(yLimit, 0u);
  ASSERT_EQ(RunMode(true), kOk);

  // X travels twice as far as Y: its drive takes twice the share of the
  // path's deceleration.
  ASSERT_EQ(MoveCommand(40000, 20000), kOk);
  const auto x = static_cast<double>(DriveObject(1, 3));
  const auto y = static_cast<double>(DriveObject(2, 3));
  EXPECT_GT(y, 0.0);
  EXPECT_NEAR(x, 2.0 * y, 2.0);
  ASSERT_TRUE(
      WaitFor([&] { return UnderLock([](KernelData& d) { return d.state.motionActive == 0; }); }));

  // A move without Y: its drive stops with its own limit again.
  ASSERT_EQ(MoveCommand(46000, 20000), kOk);
  EXPECT_EQ(DriveObject(2, 3), yLimit);
  EXPECT_TRUE(WaitFor([&] { return PositionOf(1) == 46000 && PositionOf(2) == 20000; }))
      << "at " << PositionOf(1) << ", " << PositionOf(2);
}

TEST_F(StopOnInputBusTest, AnArmThatFailsOnOneDriveLeavesNoneArmed) {
  ASSERT_EQ(ConfigureOnDriveOne(), kOk);
  Models([&](sim::Machine&) {
    DriveNode(2).Faults().ForceAbort({kStopOnInput, 11, sim::canopen::SdoAbortCode::kGeneral});
    return 0;
  });
  EXPECT_EQ(RunMode(true), common::kKernelOperationFailed);
  EXPECT_EQ(UnderLock([](KernelData& d) { return d.state.stopOnInputActive; }), 0u);
  EXPECT_EQ(DriveObject(1, 11), 0u) << "drive 1 took the arm, and its disarm";
}

}  // namespace
}  // namespace vantor::kernel

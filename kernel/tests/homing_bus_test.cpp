// Commands 16 and 82 over the real channel-1 driver and simulated drives on
// the virtual clock: X on drive 1, Y on drive 2 with its gantry slave on
// drive 3 (the pair takes the gantry control PDO). Every drive stands a
// short way above its negative limit switch, where its default homing
// method finds the reference.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
using canopen::testing::BusDrive;
using common::StatusCode;
using testing::KernelBusFixture;
using namespace std::chrono_literals;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr std::uint8_t kMaster = 2;
constexpr std::uint8_t kSlave = 3;
constexpr std::uint32_t kGantryNode = 1;
constexpr std::int32_t kNegativeLimit = -1500000;
constexpr std::int32_t kStart = kNegativeLimit + 8000;
constexpr double kBootWaitMicroseconds = 200000.0;

std::vector<BusDrive> Drives() {
  std::vector<BusDrive> drives(3);
  for (BusDrive& drive : drives) {
    drive.guarding = {100, 3};
    drive.config.negativeLimit = kNegativeLimit;
    drive.config.positiveLimit = -kNegativeLimit;
    drive.config.startPosition = kStart;
  }
  drives[kMaster - 1].config.gantryPdoHoming = true;
  drives[kSlave - 1].config.gantryPdoHoming = true;
  return drives;
}

class HomingOnTheBusTest : public KernelBusFixture {
 protected:
  HomingOnTheBusTest() : KernelBusFixture(Drives()) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {{1, 0}, {kMaster, kSlave}},
                                          .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    ASSERT_EQ(Run(15), kOk);
  }

  StatusCode Reference(std::uint32_t mask) {
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(0), mask));
    return Run(16);
  }
  StatusCode ShiftHome(std::int32_t node, std::int32_t shift) {
    static_cast<void>(kernel_.Block().Store<std::int32_t>(cb::PayloadAt(0), node));
    static_cast<void>(kernel_.Block().Store<std::int32_t>(cb::PayloadAt(4), shift));
    return Run(82);
  }

  template <typename Look>
  auto UnderLock(Look&& look) {
    KernelDataLock lock(kernel_.data);
    return look(kernel_.data);
  }
  // The cycle calls its hooks under the kernel data lock, so they change
  // only between two cycles.
  void SetCycleHooks(std::function<void()> beforeEveryCycle,
                     std::function<void(common::ExchangeBuffer&)> afterExchange = nullptr) {
    UnderLock([&](KernelData&) {
      beforeEveryCycle_ = std::move(beforeEveryCycle);
      afterExchange_ = std::move(afterExchange);
      return 0;
    });
  }
  // Takes the hooks off the cycle when the test's scope ends, also on a
  // failed assertion: declared after what the hooks refer to, it goes
  // first.
  class HooksRemoved {
   public:
    explicit HooksRemoved(HomingOnTheBusTest& test) : test_(test) {}
    HooksRemoved(const HooksRemoved&) = delete;
    HooksRemoved& operator=(const HooksRemoved&) = delete;
    ~HooksRemoved() { test_.SetCycleHooks(nullptr); }

   private:
    HomingOnTheBusTest& test_;
  };
  canopen::NodeObject& Node(std::uint32_t k) {
    return *kernel_.data.nodeConfiguration.records[k].can;
  }
  double SetPosition(std::uint32_t coordinate) {
    return UnderLock(
        [&](KernelData& data) { return data.motionRuntime.path.axes[coordinate].setPosition; });
  }
  std::uint64_t DriveObject(std::uint8_t id, std::uint16_t index, std::uint8_t subindex) {
    return Models([&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(index, subindex); });
  }
  bool Homed(std::uint32_t k) {
    return UnderLock([&](KernelData&) {
      return Node(k).latched.Has(StatusFlag::D) && Node(k).current.Has(StatusFlag::D);
    });
  }

  // Lets `count` more cycles pass (bounded by real time).
  bool LetCyclesPass(int count, std::atomic<int>& cycles) {
    const int until = cycles.load() + count;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (cycles.load() < until) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // The pair after a failed run: flags D and N gone, both drives coupled
  // again, enabled in interpolated position mode with their own homing
  // values.
  void ExpectThePairGivenBack() {
    UnderLock([&](KernelData&) {
      for (const kernel::NodeStatusRow* row :
           {&Node(kGantryNode).latched, &Node(kGantryNode).current}) {
        EXPECT_FALSE(row->Has(StatusFlag::D));
        EXPECT_FALSE(row->Has(StatusFlag::N));
      }
      return 0;
    });
    EXPECT_EQ(DriveObject(kMaster, 0x2043, 1), 2u);
    EXPECT_EQ(DriveObject(kSlave, 0x2043, 1), 1u);
    for (std::uint8_t id : {kMaster, kSlave}) {
      SCOPED_TRACE(int{id});
      EXPECT_EQ(DriveObject(id, 0x6061, 0), 7u);
      EXPECT_EQ(DriveState(id) & 0x6F, 0x27);
      EXPECT_EQ(DriveObject(id, 0x6098, 0), 17u);
      EXPECT_EQ(DriveObject(id, 0x6099, 1), 20000u);
      EXPECT_EQ(DriveObject(id, 0x609A, 0), 500000u);
      EXPECT_EQ(DriveObject(id, 0x2043, 9), 0u);
    }
  }
};

// After homing every coordinate's set position is its node's position (the
// drives' new zero) and no workpiece zero point is left; a home shift moves
// the shifted node's set position with the home and leaves the others and
// the zero points.
TEST_F(HomingOnTheBusTest, PositionsAndZeroPointsFollowHomingAndTheHomeShift) {
  UnderLock([](KernelData& data) {
    data.motionRuntime.path.axes[0].setPosition = 12.5;
    data.motionRuntime.path.axes[1].setPosition = -3.0;
    data.coordinates[0].zeroOffset = 4.0;
    data.coordinates[1].zeroOffset = -2.0;
    data.nodeConfiguration.records[0].zeroPoint = 4.0;
    data.nodeConfiguration.records[1].zeroPoint = -2.0;
    return 0;
  });
  const auto expectNoZeroPoints = [&] {
    UnderLock([](KernelData& data) {
      for (std::uint32_t k : {0u, 1u}) {
        EXPECT_EQ(data.coordinates[k].zeroOffset, 0.0) << k;
        EXPECT_EQ(data.nodeConfiguration.records[k].zeroPoint, 0.0) << k;
      }
      return 0;
    });
  };
  ASSERT_EQ(Reference(0b11), kOk);
  for (std::uint32_t k : {0u, 1u}) {
    EXPECT_TRUE(Homed(k)) << k;
    EXPECT_EQ(SetPosition(k), 0.0) << k;
  }
  expectNoZeroPoints();
  EXPECT_EQ(DriveObject(kMaster, 0x6061, 0), 7u);

  ASSERT_EQ(ShiftHome(0, 25), kOk);
  EXPECT_EQ(DriveObject(1, 0x2056, 2), 25u) << "gear 1/1: one increment per unit";
  EXPECT_EQ(SetPosition(0), -25.0);
  EXPECT_EQ(UnderLock([&](KernelData&) { return Node(0).position; }), -25.0);
  EXPECT_EQ(SetPosition(1), 0.0) << "the pair's coordinate is not shifted";
  expectNoZeroPoints();
}

// The cycle's motion processing runs beside the homing of X. The node's
// records carry SDO exchanges meanwhile; none of their answers may be read
// as the drive's state: the drives stay fit for motion, no quick stop
// follows, and X keeps the controlword the run left it (halted after a
// break).
TEST_F(HomingOnTheBusTest, HomingLeavesTheDrivesFitForMotion) {
  struct Case {
    const char* name;
    bool breakTheRun;
    StatusCode answer;
    std::uint64_t controlword;
  };
  const Case cases[] = {
      {"broken", true, common::kKernelOperationFailed, 0x010F},
      {"homed", false, kOk, 0x000F},
  };
  // Homing on the index pulse above the switch leaves X off its switch.
  ASSERT_TRUE(
      Models([&](sim::Machine&) { return DriveNode(1).Objects().SetUnsigned(0x6098, 0, 1); }));
  CanObjectCycleSteps steps{kernel_.data, kernel_.canObjects};
  std::atomic<int> cycles{0};
  std::atomic<bool> breakTheRun{false};
  // The plain steps see the kernel's break event and both nodes as
  // interpolated axes, as in the kernel's own cycle.
  HomingBreakEvent breakEvent(kernel_.data.nodeConfiguration);
  const HooksRemoved removed(*this);
  SetCycleHooks(
      [&] {
        homing_ = {.breakSignal = &breakEvent, .interpolatedNodeCount = 2};
        ++cycles;
        if (breakTheRun.load() && Drive(1).MachinePosition() < kStart - 500) {
          static_cast<void>(kernel_.data.nodeConfiguration.homingBreakEvent.Set());
          breakTheRun = false;
        }
      },
      [&](common::ExchangeBuffer& exchange) { steps.ProcessMotion(exchange); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    breakTheRun = c.breakTheRun;
    EXPECT_EQ(Reference(0b01), c.answer);
    ASSERT_TRUE(LetCyclesPass(100, cycles));
    UnderLock([&](KernelData& data) {
      EXPECT_EQ(data.state.quickStopping, 0u);
      EXPECT_EQ(data.state.stopped, 0u);
      for (std::uint32_t k : {0u, 1u}) {
        EXPECT_TRUE(Node(k).latched.Has(StatusFlag::G)) << "node " << k;
      }
      return 0;
    });
    EXPECT_EQ(DriveObject(1, 0x6040, 0), c.controlword);
  }
}

// A break while the pair searches its switches ends the run with the break;
// the pair is halted and given back uncoupled from homing.
TEST_F(HomingOnTheBusTest, ABreakWhileThePairSearchesEndsItsRun) {
  std::atomic<bool> broke{false};
  const HooksRemoved removed(*this);
  SetCycleHooks([&] {
    if (broke.load()) return;
    if (Drive(kMaster).MachinePosition() < kStart - 2000) {
      static_cast<void>(kernel_.data.nodeConfiguration.homingBreakEvent.Set());
      broke = true;
    }
  });
  EXPECT_EQ(Reference(0b10), common::kKernelHomingBroken);
  ASSERT_TRUE(broke.load()) << "the pair never moved";
  EXPECT_GT(Drive(kMaster).MachinePosition(), kNegativeLimit) << "stopped before its switch";
  EXPECT_GT(Drive(kSlave).MachinePosition(), kNegativeLimit);
  ExpectThePairGivenBack();
}

// The slave, sent to its home switch, meets its limit switch first: its
// homing error is the slave's result and the pair's run fails.
TEST_F(HomingOnTheBusTest, ASlaveOnTheWrongSwitchFailsThePair) {
  ASSERT_TRUE(Models([&](sim::Machine&) {
    return Drive(kSlave).SetSwitchPosition(sim::drives::DriveSwitch::kPositiveLimit,
                                           kStart + 3000) &&
           Drive(kSlave).SetSwitchPosition(sim::drives::DriveSwitch::kHome, kStart + 60000);
  }));
  UnderLock([&](KernelData&) {
    Node(kGantryNode).axes[0].drive.homing.method = 19;  // home switch, above its edge
    return 0;
  });
  EXPECT_EQ(Reference(0b10), common::kKernelOperationFailed);
  UnderLock([&](KernelData&) {
    EXPECT_EQ(Node(kGantryNode).axes[0].axisResult, common::kKernelHomingInternalError);
    EXPECT_EQ(Node(kGantryNode).request.lastResult, kOk) << "the master did not fail";
    return 0;
  });
  EXPECT_FALSE(Homed(kGantryNode));
  EXPECT_EQ(DriveObject(kSlave, 0x6061, 0), 7u);
  EXPECT_EQ(DriveObject(kMaster, 0x6061, 0), 7u);
}

}  // namespace
}  // namespace vantor::kernel

// A handling axis with a gantry slave over the real channel-1 driver and
// simulated drives: node 1 interpolated on drive 1, node 2 a handling axis
// on the dual drive 2 with its slave on drive 3. A change of move mode
// reaches the node's own drive and its slave.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "kernel/tests/drives_on_the_bus_fixture.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the fixture's drives

constexpr std::uint32_t kHandlingAxis = 1;

class HandlingGantryOnTheBus : public DrivesOnTheBusFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {{1, 0}, {kDualDrive, kSlaveDrive}},
                                          .interpolatedCount = 1,
                                          .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    ASSERT_EQ(Run(15), kOk);
    // The drives stand where homing would have left them.
    UnderLock([](KernelData& data) {
      for (std::uint32_t k = 0; k < 2; ++k) {
        canopen::NodeObject& can = *data.nodeConfiguration.Node(k)->can;
        can.latched.Set(StatusFlag::D, true);
        can.current.Set(StatusFlag::D, true);
      }
      return 0;
    });
    ClearDriveLogs();
  }

  StatusCode MoveMode(bool position) {
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(0), kHandlingAxis));
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(4), position ? 1 : 0));
    return Run(65);
  }
};

TEST_F(HandlingGantryOnTheBus, AMoveModeReachesTheNodesDriveAndItsSlave) {
  ASSERT_EQ(MoveMode(false), kOk);
  for (const std::uint8_t id : {kDualDrive, kSlaveDrive}) {
    EXPECT_TRUE(Logged(id, "download 6060:00 1 0x03")) << "drive " << int{id};
    EXPECT_TRUE(Logged(id, "download 60FF:00 4 0x00000000")) << "drive " << int{id};
  }
  ClearDriveLogs();
  ASSERT_EQ(MoveMode(true), kOk);
  for (const std::uint8_t id : {kDualDrive, kSlaveDrive}) {
    EXPECT_TRUE(Logged(id, "download 6060:00 1 0x01")) << "drive " << int{id};
    EXPECT_TRUE(Logged(id, "upload 6062:00")) << "drive " << int{id};
  }
  ExpectRecordsArmed();
  EXPECT_TRUE(LogOf(1).empty()) << "the interpolated drive is left alone";
}

// The move goes by process data to the pair; the node's PDOs then carry
// the controlword and the set-points again.
TEST_F(HandlingGantryOnTheBus, APositionMoveOfThePairGoesByProcessData) {
  const auto position = [&](std::uint8_t id) {
    return Models([&](sim::Machine&) { return Drive(id).ReportedPosition(); });
  };
  const std::int32_t start = position(kDualDrive);
  const auto put = [&](std::size_t at, std::int64_t value) {
    static_cast<void>(kernel_.Block().Store<std::int64_t>(cb::PayloadAt(at), value));
  };
  static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(0), kHandlingAxis));
  static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(4), 1));
  put(8, 20000);
  put(16, 4000);
  put(24, start + 1000);
  ASSERT_EQ(Run(67), kOk);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (position(kDualDrive) != start + 1000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(position(kDualDrive), start + 1000);
  UnderLock([&](KernelData& data) {
    const canopen::NodeObject& can = *data.nodeConfiguration.Node(kHandlingAxis)->can;
    EXPECT_EQ(can.request.lastResult, common::kKernelSuccess);
    EXPECT_EQ(data.nodeConfiguration.Node(kHandlingAxis)->motion.targetPosition, start + 1000.0);
    return 0;
  });
  ExpectRecordsArmed();
}

}  // namespace
}  // namespace vantor::kernel

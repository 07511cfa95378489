#include "kernel/core/canopen/handling_axis_services.h"

#include <gtest/gtest.h>

#include <vector>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

constexpr common::StatusCode kOk = common::kKernelSuccess;

class HandlingAxisServices : public ::testing::Test {
 protected:
  HandlingAxisServices()
      : nodes({5}), server(5), host(nodes.table, bus), context{host, nodes.table} {
    server.acceptUnknownDownloads = true;
    bus.Attach(server);
  }

  testing::TestNodes nodes;
  testing::SdoServer server;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(HandlingAxisServices, AHeldAxisTakesItsPositionDemandAsTargetAndPosition) {
  server.Define(0x6062, 0, 4, static_cast<std::uint32_t>(-3000));
  nodes[0].scalingOn = 1;
  nodes[0].scalingDivisor = 4.0;
  ASSERT_EQ(HoldHandlingAxisPosition(context, 0), kOk);
  EXPECT_EQ(server.Value(0x6040, 0), 0x010Fu);
  EXPECT_EQ(server.Value(0x6060, 0), 1u);
  EXPECT_EQ(server.Value(0x607A, 0), static_cast<std::uint32_t>(-3000));
  EXPECT_DOUBLE_EQ(nodes[0].position, -750.0);
  EXPECT_EQ(host.axisPositionsTaken, std::vector<std::uint32_t>{0});
}

TEST_F(HandlingAxisServices, TheDriveLimitsAreTakenOverOrTheirLackReported) {
  EXPECT_EQ(SyncHandlingAxisLimits(context, 0), common::kKernelDriveFirmwareWrong)
      << "a drive without software limits";

  server.Define(0x607D, 1, 4, static_cast<std::uint32_t>(-8000));
  server.Define(0x607D, 2, 4, 12000);
  server.Define(0x2058, 0, 1, 1);
  nodes[0].scalingOn = 1;
  nodes[0].scalingDivisor = 2.0;
  ASSERT_EQ(SyncHandlingAxisLimits(context, 0), kOk);
  EXPECT_DOUBLE_EQ(nodes[0].softwareLimit1, -4000.0);
  EXPECT_DOUBLE_EQ(nodes[0].softwareLimit2, 6000.0);
  EXPECT_EQ(nodes[0].handlingLimitWord, 1u);
}

TEST(MotionStateControlword, EachStateInEachMode) {
  const struct {
    HandlingMotionState state;
    bool positionMode;
    std::uint16_t word;
  } cases[] = {
      {HandlingMotionState::Run, true, 0x001F},  {HandlingMotionState::Run, false, 0x000F},
      {HandlingMotionState::Halt, true, 0x010F}, {HandlingMotionState::Halt, false, 0x010F},
      {HandlingMotionState::End, true, 0x080F},  {HandlingMotionState::End, false, 0x010F},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MotionStateControlword(c.state, c.positionMode), c.word)
        << static_cast<int>(c.state) << " " << c.positionMode;
  }
}

}  // namespace
}  // namespace vantor::canopen

// The exchange of two interpolated axes (code 72) on an in-process kernel
// with two ready nodes and three coordinates: which pairs it refuses, that
// the drive with its coordinate, positions and limits goes to the other axis
// for the commands, the cycle and the reset alike, and that a second
// exchange brings everything back.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/exchange_buffer.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/motion_cycle.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/tests/path_commands_fixture.h"

namespace vantor::kernel {
namespace {

using common::CommandCode;
using common::StatusCode;
using testing::PathKernel;

namespace mr = common::message_record;
namespace xb = common::exchange_buffer;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr std::uint32_t kAxes = 2;

class AxisExchangeTest : public ::testing::Test {
 protected:
  AxisExchangeTest() : k_(true) {
    k_.PlaceReadyNode(1);
    // Each drive with its own records, sent in the order of the axes.
    for (std::uint32_t i = 0; i < kAxes; ++i) {
      canopen::NodeObject& node = Drive(i);
      node.sendRecord = 1 + 2 * i;
      node.answerRecord = 2 + 2 * i;
    }
  }

  canopen::NodeObject& Drive(std::uint32_t record) {
    return *k_.data().nodeConfiguration.records[record].can;
  }
  std::uint32_t NodeIdOfAxis(std::uint32_t axis) {
    return k_.data().nodeConfiguration.Node(axis)->can->nodeId;
  }

  StatusCode Exchange(std::uint32_t a, std::uint32_t b) {
    k_.Word(0, a);
    k_.Word(4, b);
    return k_.Run(CommandCode::ExchangeInterAxis);
  }

  // The answer of a position command: one 64-bit value per coordinate or
  // node.
  std::array<std::int64_t, 3> Positions(CommandCode code) {
    EXPECT_EQ(k_.Run(code), kOk);
    std::array<std::int64_t, 3> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] =
          k_.block().Load<std::int64_t>(common::communication_block::PayloadAt(8 * i)).value_or(0);
    }
    return values;
  }

  // Per axis i distinct values in every record that belongs to a drive or
  // to its coordinate.
  void GiveEachAxisItsOwnValues() {
    KernelData& data = k_.data();
    for (std::uint32_t i = 0; i < 3; ++i) {
      const double n = 1.0 + i;
      data.motionRuntime.nodes[i].actual = 10.5 * n;
      data.motionRuntime.nodes[i].statusword = static_cast<std::uint16_t>(0x100 * n);
      data.motionRuntime.axes[i].actual = 100.25 * n;
      data.motionRuntime.path.axes[i].setPosition = 1000.0 * n;
      data.coordinates[i].zeroOffset = 3.0 * n;
      data.coordinates[i].settings.negativeLimit = -20.0 * n;
      data.coordinates[i].settings.linear = i != 1 ? 1 : 0;
      data.savedConfiguration.coordinates[i].negativeLimit = -30.0 * n;
      data.planning.cylinderRadii[i] = 7.0 * n;
      data.planning.nodeLimits[i].maxVelocity = 50.0 * n;
      data.planning.rampOverridesSet[i] = i == 0 ? 1 : 0;
      data.motionRuntime.path.entryAxes[i].slot = i;
      data.motionRuntime.path.entryAxes[i].lastSent = static_cast<std::int32_t>(5 * n);
      data.motionRuntime.path.entryAxes[i].coordinate = i;
    }
    for (std::uint32_t i = 0; i < kAxes; ++i) {
      data.nodeConfiguration.Node(i)->zeroPoint = 0.5 * (1.0 + i);
    }
  }

  PathKernel k_;
};

TEST_F(AxisExchangeTest, PairsThatAreNotTwoInterpolatedAxesWithNodesAreRefused) {
  const struct {
    const char* name;
    std::uint32_t a;
    std::uint32_t b;
    void (*state)(KernelData&);
  } cases[] = {
      {"the same axis", 1, 1, [](KernelData&) {}},
      {"second not interpolated", 0, 1,
       [](KernelData& d) { d.nodeConfiguration.interpolatedNodeCount = 1; }},
      {"first not interpolated", 1, 0,
       [](KernelData& d) { d.nodeConfiguration.interpolatedNodeCount = 1; }},
      {"interpolated without a node", 0, 2, [](KernelData&) {}},
      {"beyond the node table", 0, 8, [](KernelData&) {}},
      {"far beyond", 0xFFFFFFFF, 0, [](KernelData&) {}},
      {"first in the rotated plane", 0, 1,
       [](KernelData& d) {
         d.planeRotation = {1, 0, 2, 0, 0.0};
       }},
      {"second in the rotated plane", 0, 1,
       [](KernelData& d) {
         d.planeRotation = {2, 2, 1, 0, 0.0};
       }},
  };
  for (const auto& c : cases) {
    PathKernel k(true);
    k.PlaceReadyNode(1);
    c.state(k.data());
    k.data().coordinates[0].zeroOffset = 1.0;
    k.Word(0, c.a);
    k.Word(4, c.b);
    EXPECT_EQ(k.Run(CommandCode::ExchangeInterAxis), common::kKernelAxisNumberInvalid) << c.name;
    const NodeConfiguration& nodes = k.data().nodeConfiguration;
    EXPECT_EQ(nodes.Node(0)->can->nodeId, 1u) << c.name;
    EXPECT_EQ(nodes.table.nodes[0], &*nodes.records[0].can) << c.name;
    EXPECT_EQ(k.data().coordinates[0].zeroOffset, 1.0) << c.name;
  }
}

TEST_F(AxisExchangeTest, ARotatedPlaneOfOtherAxesLetsThePairGo) {
  k_.data().planeRotation = {1, 2, 3, 0, 0.0};
  EXPECT_EQ(Exchange(1, 0), kOk);
  EXPECT_EQ(NodeIdOfAxis(0), 2u);
  EXPECT_EQ(NodeIdOfAxis(1), 1u);
}

TEST_F(AxisExchangeTest, TheDriveAndItsCoordinateGoToTheOtherAxisAndComeBack) {
  GiveEachAxisItsOwnValues();
  const auto coordinates = Positions(CommandCode::GetPosition);
  const auto desired = Positions(CommandCode::GetDesiredPos);
  const auto drives = Positions(CommandCode::GetAxisPosition);

  ASSERT_EQ(Exchange(0, 1), kOk);
  KernelData& data = k_.data();
  const NodeConfiguration& nodes = data.nodeConfiguration;
  for (const CommandCode code :
       {CommandCode::GetPosition, CommandCode::GetDesiredPos, CommandCode::GetAxisPosition}) {
    const auto& before = code == CommandCode::GetPosition     ? coordinates
                         : code == CommandCode::GetDesiredPos ? desired
                                                              : drives;
    const auto after = Positions(code);
    EXPECT_EQ(after[0], before[1]) << static_cast<int>(code);
    EXPECT_EQ(after[1], before[0]) << static_cast<int>(code);
    EXPECT_EQ(after[2], before[2]) << static_cast<int>(code);
  }
  // The requests, the cycle and the status reach the drive by the table,
  // the commands by the axis: both name the same record.
  EXPECT_EQ(NodeIdOfAxis(0), 2u);
  EXPECT_EQ(NodeIdOfAxis(1), 1u);
  for (std::uint32_t i = 0; i < kAxes; ++i) {
    EXPECT_EQ(nodes.table.ByNumber(i + 1), &*nodes.Node(i)->can) << i;
  }
  EXPECT_EQ(data.motionRuntime.nodes[0].statusword, 0x200);
  EXPECT_EQ(data.coordinates[0].settings.negativeLimit, -40.0);
  EXPECT_EQ(data.coordinates[0].settings.linear, 0);
  EXPECT_EQ(data.savedConfiguration.coordinates[0].negativeLimit, -60.0);
  EXPECT_EQ(data.planning.cylinderRadii[0], 14.0);
  EXPECT_EQ(data.planning.nodeLimits[0].maxVelocity, 100.0);
  EXPECT_EQ(data.planning.rampOverridesSet[0], 0u);
  EXPECT_EQ(data.planning.rampOverridesSet[1], 1u);
  const auto& entries = data.motionRuntime.path.entryAxes;
  EXPECT_EQ(entries[0].slot, 1u);
  EXPECT_EQ(entries[0].lastSent, 10);
  EXPECT_EQ(entries[0].coordinate, 0u);
  EXPECT_EQ(entries[1].slot, 0u);
  EXPECT_EQ(entries[1].coordinate, 1u);
  EXPECT_EQ(entries[2].slot, 2u);

  ASSERT_EQ(Exchange(1, 0), kOk);
  EXPECT_EQ(Positions(CommandCode::GetPosition), coordinates);
  EXPECT_EQ(Positions(CommandCode::GetDesiredPos), desired);
  EXPECT_EQ(Positions(CommandCode::GetAxisPosition), drives);
  EXPECT_EQ(NodeIdOfAxis(0), 1u);
  EXPECT_EQ(nodes.table.nodes[0], &*nodes.records[0].can);
  EXPECT_EQ(data.coordinates[0].settings.negativeLimit, -20.0);
  EXPECT_EQ(entries[0].slot, 0u);
  EXPECT_EQ(data.planning.rampOverridesSet[0], 1u);
}

// The drive at answer record 2 + 2k reports `raw[k]`, enabled and at its
// set-point.
void Answer(common::ExchangeBuffer& exchange, const std::array<std::int32_t, kAxes>& raw) {
  for (std::uint32_t k = 0; k < kAxes; ++k) {
    auto answer = *common::MessageRecordIn(exchange, 2 + 2 * k);
    std::uint8_t bytes[8]{};
    std::memcpy(bytes, &raw[k], sizeof raw[k]);
    bytes[4] = 0x27;
    bytes[5] = 0x80;
    static_cast<void>(answer.CopyIn(mr::kData.kOffset, bytes));
  }
}

TEST_F(AxisExchangeTest, TheCycleTakesEachDrivesAnswerIntoItsNewAxisWithoutAJump) {
  KernelData& data = k_.data();
  auto exchange = std::make_unique<common::ExchangeBuffer>();
  exchange->Set(xb::kCycleMicroseconds, 1000u);
  data.globalSlot.request.replied[0] = 1;
  for (std::uint32_t i = 0; i < kAxes; ++i) Drive(i).cyclicExchange = 1;
  FollowCyclicAnswers(data);
  Answer(*exchange, {1000, 2000});
  UpdateAxesFromDrives(data, *exchange);
  ASSERT_EQ(data.motionRuntime.nodes[0].actual, 1000.0);

  ASSERT_EQ(Exchange(0, 1), kOk);
  UpdateAxesFromDrives(data, *exchange);
  EXPECT_EQ(data.motionRuntime.nodes[0].actual, 2000.0);
  EXPECT_EQ(data.motionRuntime.nodes[1].actual, 1000.0);
  EXPECT_EQ(data.motionRuntime.nodes[0].change, 0.0);
  EXPECT_EQ(data.motionRuntime.nodes[1].change, 0.0);
}

TEST_F(AxisExchangeTest, TheExchangeLeavesTheSetPointColumnsAResetWouldDerive) {
  KernelData& data = k_.data();
  SetUpMotionRuntime(data);
  ASSERT_EQ(data.motionRuntime.path.entryAxes[0].slot, 0u);
  ASSERT_EQ(Exchange(0, 1), kOk);
  const auto exchanged = data.motionRuntime.path.entryAxes;
  EXPECT_EQ(exchanged[0].slot, 1u);
  SetUpMotionRuntime(data);
  for (std::uint32_t i = 0; i < kAxes; ++i) {
    EXPECT_EQ(data.motionRuntime.path.entryAxes[i].slot, exchanged[i].slot) << i;
    EXPECT_EQ(data.motionRuntime.path.entryAxes[i].coordinate, exchanged[i].coordinate) << i;
  }
}

TEST_F(AxisExchangeTest, TheConfigurationThatAResetTakesBackKeepsTheExchange) {
  KernelData& data = k_.data();
  for (std::uint32_t i = 0; i < kAxes; ++i) {
    data.savedConfiguration.nodes[i].setup.nodeId = static_cast<std::uint8_t>(i + 1);
    data.savedConfiguration.nodes[i].setup.sendRecord = 1 + 2 * i;
    data.savedConfiguration.nodes[i].setup.answerRecord = 2 + 2 * i;
    data.savedConfiguration.coordinates[i].negativeLimit = -30.0 * (i + 1);
  }
  data.savedConfiguration.coordinateCount = 3;
  data.savedConfiguration.interpolatedNodeCount = 2;
  ASSERT_EQ(Exchange(0, 1), kOk);
  // The process-data layout of the first reset names the drive by its axis.
  KernelServiceHost host(data, k_.kernel().canObjects);
  host.StoreConfiguredRpdoNumbers(0, 3, 4);
  EXPECT_EQ(data.savedConfiguration.nodes[1].setup.controlRpdo, 3);
  EXPECT_EQ(data.savedConfiguration.nodes[1].setup.motionRpdo, 4);
  EXPECT_EQ(data.savedConfiguration.nodes[0].setup.controlRpdo, 1);
  RestoreConfiguredRecords(data);
  EXPECT_EQ(NodeIdOfAxis(0), 2u);
  EXPECT_EQ(data.nodeConfiguration.Node(0)->can->answerRecord, 4u);
  EXPECT_EQ(data.nodeConfiguration.Node(0)->settings.setup.nodeId, 2u);
  EXPECT_EQ(data.nodeConfiguration.Node(0)->can->controlRpdo, 3);
  EXPECT_EQ(data.coordinates[0].settings.negativeLimit, -60.0);
  EXPECT_EQ(data.coordinates[1].settings.negativeLimit, -30.0);
}

}  // namespace
}  // namespace vantor::kernel

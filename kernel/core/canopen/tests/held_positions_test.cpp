#include "kernel/core/canopen/held_positions.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;

// Nodes on drives 1 and up, each drive's position demand 100 x its id.
struct HeldBench {
  explicit HeldBench(std::size_t count) : nodes(Ids(count)), host(nodes.table, bus) {
    for (std::size_t k = 0; k < count; ++k) {
      drives.push_back(std::make_unique<testing::SdoServer>(static_cast<std::uint8_t>(k + 1)));
      drives.back()->Define(0x6062, 0, 4,
                            static_cast<std::uint32_t>(-100 * static_cast<std::int32_t>(k + 1)));
      bus.Attach(*drives.back());
    }
  }
  static std::vector<std::uint8_t> Ids(std::size_t count) {
    std::vector<std::uint8_t> ids;
    for (std::size_t k = 0; k < count; ++k) ids.push_back(static_cast<std::uint8_t>(k + 1));
    return ids;
  }
  // Enabled and homed in both rows, its distance regulator on.
  void MakeHeld(std::size_t k) {
    nodes[k].regulatorActive = 1;
    nodes[k].SetFlagInBothRows(StatusFlag::G, true);
    nodes[k].SetFlagInBothRows(StatusFlag::D, true);
  }

  testing::TestNodes nodes;
  std::vector<std::unique_ptr<testing::SdoServer>> drives;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context{host, nodes.table};
};

TEST(HeldPositions, ANodeIsHeldWhenItKeepsItsPlaceByItselfAndIsEnabledAndHomed) {
  struct Row {
    const char* what;
    bool regulator;
    bool modeHolds;  // stop-on-input or handwheel initialised
    bool enabledLatched;
    bool enabledCurrent;
    bool homedLatched;
    bool homedCurrent;
    bool held;
  };
  const Row rows[] = {
      {"distance regulator", true, false, true, true, true, true, true},
      {"stop-on-input or handwheel", false, true, true, true, true, true, true},
      {"nothing holds it", false, false, true, true, true, true, false},
      {"enabled in one row only", true, false, false, true, true, true, false},
      {"homed in one row only", true, false, true, true, true, false, false},
  };
  for (const Row& row : rows) {
    HeldBench bench(1);
    NodeObject& node = bench.nodes[0];
    node.regulatorActive = row.regulator ? 1 : 0;
    bench.host.stopOnInput = row.modeHolds;
    node.latched.Set(StatusFlag::G, row.enabledLatched);
    node.current.Set(StatusFlag::G, row.enabledCurrent);
    node.latched.Set(StatusFlag::D, row.homedLatched);
    node.current.Set(StatusFlag::D, row.homedCurrent);
    HeldPositions held;
    held.mask = 0x80;  // what an earlier reset kept is not carried on
    EXPECT_EQ(ReadHoldPositions(bench.context, held), common::kKernelSuccess) << row.what;
    EXPECT_EQ(held.mask, row.held ? 1u : 0u) << row.what;
    EXPECT_EQ(held.positions[0], row.held ? -100 : 0) << row.what;
    EXPECT_EQ(bench.drives[0]->uploads6062, row.held ? 1 : 0) << row.what;
  }
}

TEST(HeldPositions, OnlyTheFirstSixNodesCanBeHeld) {
  HeldBench bench(7);
  for (std::size_t k = 0; k < 7; ++k) bench.MakeHeld(k);
  HeldPositions held;
  EXPECT_EQ(ReadHoldPositions(bench.context, held), common::kKernelSuccess);
  EXPECT_EQ(held.mask, 0x3Fu);
  EXPECT_EQ(held.positions[5], -600);
  EXPECT_EQ(held.positions[6], 0);
  EXPECT_EQ(bench.drives[6]->uploads6062, 0);
}

TEST(HeldPositions, AFailedReadIsTheAnswerAndKeepsNothing) {
  HeldBench bench(2);
  bench.MakeHeld(0);
  bench.MakeHeld(1);
  bench.drives[1]->silent = true;
  HeldPositions held;
  EXPECT_EQ(ReadHoldPositions(bench.context, held), common::kKernelOperationFailed);
  EXPECT_EQ(held.mask, 0u);
  EXPECT_EQ(bench.nodes[1].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(RestoreHeldPositions(bench.context, held), common::kKernelSuccess);
  EXPECT_TRUE(bench.host.profileMasks.empty());
}

TEST(HeldPositions, TheStillHomedNodesGoBackToTheirKeptPositions) {
  HeldBench bench(3);
  for (std::size_t k = 0; k < 3; ++k) bench.MakeHeld(k);
  HeldPositions held;
  ASSERT_EQ(ReadHoldPositions(bench.context, held), common::kKernelSuccess);
  ASSERT_EQ(held.mask, 0x7u);
  // Node 1 lost its home in between; bit 5 names a node the table no
  // longer has.
  bench.nodes[1].current.Set(StatusFlag::D, false);
  held.mask |= 1u << 5;
  held.positions[5] = 12345;
  for (std::size_t k = 0; k < 3; ++k) bench.nodes[k].position = 7.0;

  EXPECT_EQ(RestoreHeldPositions(bench.context, held), common::kKernelSuccess);
  ASSERT_EQ(bench.host.profileMasks.size(), 1u);
  EXPECT_EQ(bench.host.profileMasks[0], 0x5u);
  EXPECT_TRUE(bench.host.profileIncludedNode[0]);
  EXPECT_EQ(bench.host.profilePositions[0][0], -100);
  EXPECT_EQ(bench.host.profilePositions[0][2], -300);
  EXPECT_EQ(bench.nodes[0].position, -100.0);
  EXPECT_EQ(bench.nodes[1].position, 7.0);
  EXPECT_EQ(bench.nodes[2].position, -300.0);
  EXPECT_EQ(bench.host.positionsTaken, 1);
}

TEST(HeldPositions, AFailedMoveIsTheAnswerAndLeavesThePositions) {
  HeldBench bench(1);
  bench.MakeHeld(0);
  HeldPositions held;
  ASSERT_EQ(ReadHoldPositions(bench.context, held), common::kKernelSuccess);
  bench.nodes[0].position = 7.0;
  bench.host.profileResult = common::kKernelOperationFailed;
  EXPECT_EQ(RestoreHeldPositions(bench.context, held), common::kKernelOperationFailed);
  EXPECT_EQ(bench.nodes[0].position, 7.0);
  EXPECT_EQ(bench.host.positionsTaken, 0);

  // No node homed any more: nothing moves.
  bench.host.profileMasks.clear();
  bench.nodes[0].latched.Set(StatusFlag::D, false);
  EXPECT_EQ(RestoreHeldPositions(bench.context, held), common::kKernelSuccess);
  EXPECT_TRUE(bench.host.profileMasks.empty());
}

TEST(HeldPositions, AStoppedCycleAnswersAtOnce) {
  HeldBench bench(1);
  bench.MakeHeld(0);
  bench.host.cycleRunning = false;
  HeldPositions held;
  EXPECT_EQ(ReadHoldPositions(bench.context, held), kernel::kCycleNotRunning);
  EXPECT_EQ(held.mask, 0u);
}

}  // namespace
}  // namespace vantor::canopen

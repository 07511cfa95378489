#include "kernel/core/canopen/guarding_setup.h"

#include <gtest/gtest.h>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
constexpr common::StatusCode kOk = common::kKernelSuccess;

// Drives 5 and 7 as nodes, node 5 with axis drive 6.
class GuardingSetup : public ::testing::Test {
 protected:
  GuardingSetup()
      : nodes({5, 7}, {{6}}),
        drive5(5),
        drive6(6),
        drive7(7),
        host(nodes.table, bus),
        context{host, nodes.table} {
    ResetCanObjectList(*host.canObjects);
    for (testing::SdoServer* drive : {&drive5, &drive6, &drive7}) {
      drive->Define(0x100C, 0, 2, 100);
      drive->Define(0x100D, 0, 1, 3);
      bus.Attach(*drive);
    }
    for (std::size_t k = 0; k < 2; ++k) {
      nodes[k].SetFlagInBothRows(StatusFlag::A, true);
      nodes[k].SetFlagInBothRows(StatusFlag::D, true);
    }
  }
  CanObjectEntry* Entry(std::uint8_t id) {
    return FindCanObject(static_cast<std::uint16_t>(0x700 + id), *host.canObjects);
  }

  testing::TestNodes nodes;
  testing::SdoServer drive5;
  testing::SdoServer drive6;
  testing::SdoServer drive7;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(GuardingSetup, EveryDriveIsListedThenStarted) {
  drive6.Define(0x100C, 0, 2, 250);
  EXPECT_EQ(ReadGuardingParameters(context), kOk);
  EXPECT_EQ(host.canObjectsLockDepth, 0);
  for (std::uint8_t id : {5, 6, 7}) {
    CanObjectEntry* entry = Entry(id);
    ASSERT_NE(entry, nullptr) << int{id};
    EXPECT_TRUE(entry->IsGuarding());
    EXPECT_FALSE(entry->IsTransmit());
    EXPECT_EQ(entry->active, 0u);
    EXPECT_EQ(entry->length, 1);
    EXPECT_EQ(entry->data[0], kGuardingToggleBit);
    EXPECT_EQ(entry->period, id == 6 ? 250000 : 100000) << int{id};
    EXPECT_EQ(entry->answerTimeout, entry->period);
  }
  EXPECT_EQ(nodes[0].guarded, 1u);
  EXPECT_EQ(nodes[0].axes[0].guarded, 1u);
  EXPECT_FALSE(nodes[0].latched.Has(StatusFlag::A));
  EXPECT_FALSE(nodes[0].current.Has(StatusFlag::D));

  // A second read with a new time changes only the times.
  drive7.Define(0x100C, 0, 2, 40);
  nodes[1].SetFlagInBothRows(StatusFlag::D, true);
  EXPECT_EQ(ReadGuardingParameters(context), kOk);
  EXPECT_EQ(Entry(7)->period, 40000);
  EXPECT_TRUE(nodes[1].current.Has(StatusFlag::D)) << "a listed entry keeps the flags";

  Entry(5)->failures = 2;
  Entry(5)->data[0] = 0x05;
  nodes[1].SetFlagInBothRows(StatusFlag::A, true);
  Entry(7)->data[0] = 0x05;
  EXPECT_EQ(StartGuarding(context), kOk);
  for (std::uint8_t id : {5, 6, 7}) EXPECT_EQ(Entry(id)->active, 1u) << int{id};
  EXPECT_EQ(Entry(5)->failures, 0);
  EXPECT_EQ(Entry(5)->data[0], kGuardingToggleBit) << "a node not yet started expects a toggle";
  EXPECT_TRUE(nodes[0].latched.Has(StatusFlag::A));
  EXPECT_TRUE(nodes[0].current.Has(StatusFlag::A));
  EXPECT_EQ(Entry(7)->data[0], 0x05) << "a started node keeps its toggle";
}

TEST_F(GuardingSetup, AZeroGuardTimeFailsItsNodeAndTakesItsEntryOut) {
  ASSERT_EQ(ReadGuardingParameters(context), kOk);
  ASSERT_NE(Entry(7), nullptr);
  drive7.Define(0x100C, 0, 2, 0);
  EXPECT_EQ(ReadGuardingParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelNodeParameterInvalid);
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_EQ(Entry(7), nullptr);
  EXPECT_EQ(nodes[1].guarded, 0u);
  EXPECT_NE(Entry(5), nullptr);

  drive7.Define(0x100C, 0, 2, 100);
  drive6.Define(0x100D, 0, 1, 0);
  EXPECT_EQ(ReadGuardingParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].axes[0].axisResult, common::kKernelNodeParameterInvalid);
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_EQ(Entry(6), nullptr);
  EXPECT_EQ(nodes[0].axes[0].guarded, 0u);
  EXPECT_NE(Entry(5), nullptr) << "the node's own entry stays";
}

}  // namespace
}  // namespace vantor::canopen

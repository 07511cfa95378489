// The process-data layout and the modes over the real channel-1 driver and
// simulated drives: the drives' own dictionaries show what they took.
#include <gtest/gtest.h>

#include <cstdint>

#include "kernel/core/canopen/modes_of_operation.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using testing::RealBusFixture;

constexpr common::StatusCode kOk = common::kKernelSuccess;

class PdoLayoutBus : public RealBusFixture {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartBus()); }

  std::uint64_t Value(std::uint8_t id, std::uint16_t index, std::uint8_t subindex) {
    return Models([&](sim::Machine&) -> std::uint64_t {
      const auto* entry = DriveNode(id).Objects().Find(index, subindex);
      return entry != nullptr ? entry->Unsigned() : 0xDEADBEEF;
    });
  }
};

TEST_F(PdoLayoutBus, TheStartUpLayoutIsWhatTheDrivesHold) {
  interpolatedNodes_ = 3;
  nodes_.table.timeStamp.objectIndex = 0x2053;
  // No SYNC node is flagged: drive 1 sends the time stamp.
  ASSERT_EQ(SetStartModes(context_), kOk);
  ASSERT_EQ(ResetAllRpdos(context_), kOk);
  ASSERT_EQ(MapControlwordRpdo(context_, 1), kOk);
  ASSERT_EQ(MapSetpointRpdo(context_, 2), kOk);
  ASSERT_EQ(MapTimeStampRpdo(context_, 3), kOk);
  ASSERT_EQ(ResetAllTpdos(context_), kOk);
  ASSERT_EQ(MapFeedbackTpdo(context_, 1), kOk);
  ASSERT_EQ(MapTimeStampTpdo(context_, 2), kOk);

  for (std::uint8_t id : testing::kDriveIds) {
    SCOPED_TRACE(::testing::Message() << "drive " << int{id});
    EXPECT_EQ(Value(id, 0x6060, 0), 7u);
    EXPECT_EQ(Value(id, 0x1400, 1) & 0x7FF, 0x200u + id);
    EXPECT_EQ(Value(id, 0x1400, 2), 0u);
    EXPECT_EQ(Value(id, 0x1600, 0), 1u);
    EXPECT_EQ(Value(id, 0x1600, 1), 0x60400010u);
    EXPECT_EQ(Value(id, 0x1401, 1) & 0x7FF, 0x300u + id);
    EXPECT_EQ(Value(id, 0x1401, 2), 0xFFu);
    EXPECT_EQ(Value(id, 0x1601, 0), 3u);
    EXPECT_EQ(Value(id, 0x1601, 3), 0x60C10310u);
    EXPECT_EQ(Value(id, 0x1800, 1) & 0x7FF, 0x180u + id);
    EXPECT_EQ(Value(id, 0x1800, 2), 1u);
    EXPECT_EQ(Value(id, 0x1800, 3), 10u);
    EXPECT_EQ(Value(id, 0x1A00, 0), 3u);
    EXPECT_EQ(Value(id, 0x1A00, 3), 0x60FD0008u);
    EXPECT_EQ(Value(id, 0x1403, 2), 0xF1u);
    EXPECT_EQ(Value(id, 0x1603, 0), 0u);
    EXPECT_EQ(Value(id, 0x1803, 3), 65000u);
    EXPECT_EQ(Value(id, 0x1A03, 0), 0u);
    if (id == 1) {
      EXPECT_EQ(Value(id, 0x1402, 2), 0xF1u);
      EXPECT_EQ(Value(id, 0x1602, 0), 0u);
      EXPECT_EQ(Value(id, 0x1801, 1) & 0x7FF, 0x281u);
      EXPECT_EQ(Value(id, 0x1801, 2), 0xFDu);
      EXPECT_EQ(Value(id, 0x1A01, 0), 1u);
      EXPECT_EQ(Value(id, 0x1A01, 1), 0x20530020u);
    } else {
      EXPECT_EQ(Value(id, 0x1402, 1) & 0x7FF, 0x281u);
      EXPECT_EQ(Value(id, 0x1402, 2), 0xFFu);
      EXPECT_EQ(Value(id, 0x1602, 1), 0x10130020u);
      EXPECT_EQ(Value(id, 0x1801, 2), 0xF1u);
      EXPECT_EQ(Value(id, 0x1A01, 0), 0u);
    }
  }
  EXPECT_EQ(nodes_.table.timeStamp.cobId, 0x281);
}

TEST_F(PdoLayoutBus, AHandlingDriveInProfilePositionHoldsItsPosition) {
  interpolatedNodes_ = 2;
  nodes_[2].handlingAxis = 1;
  const std::uint64_t demand = Value(3, 0x6062, 0);
  ASSERT_EQ(SetStartModes(context_), kOk);
  EXPECT_EQ(Value(3, 0x6060, 0), 1u);
  EXPECT_EQ(Value(3, 0x607A, 0), demand);
  EXPECT_EQ(nodes_[2].position, static_cast<double>(static_cast<std::int32_t>(demand)));
  EXPECT_EQ(LoggedControlwords(3).back(), 0x000F);
}

}  // namespace
}  // namespace vantor::canopen

// The first reset's identification of the external handling axes and the
// position option, over the real channel-1 driver and simulated drives:
// drives 1 and 2 are nodes (2 a handling axis), drive 3 an external axis
// that is asked and drive 4 one that is not. The drives' own logs and
// dictionaries show what reached them.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/canopen/module_identification.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"

namespace vantor::canopen {
namespace {

using testing::RealBusFixture;

constexpr common::StatusCode kOk = common::kKernelSuccess;
// Cycles an external axis waits for each answer.
constexpr std::int32_t kExternalReload = 40;

class IdentificationAndOptionBus : public RealBusFixture {
 protected:
  IdentificationAndOptionBus() : RealBusFixture(4) { UseNodes(nodes_.table); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartBus());
    nodes_[1].handlingAxis = 1;
    SetText(1, "ZEB11 K905 01.60.03 servo");
    SetText(3, "HRX37 K905 01.40.02 x");
    for (std::uint8_t id : {1, 2, 3, 4}) ClearDriveLog(id);
  }

  std::uint64_t Value(std::uint8_t id, std::uint16_t index, std::uint8_t subindex) {
    return Models([&](sim::Machine&) -> std::uint64_t {
      const auto* entry = DriveNode(id).Objects().Find(index, subindex);
      return entry != nullptr ? entry->Unsigned() : 0xDEADBEEF;
    });
  }
  void SetValue(std::uint8_t id, std::uint16_t index, std::uint8_t subindex, std::uint64_t value) {
    EXPECT_TRUE(Models([&](sim::Machine&) {
      return DriveNode(id).Objects().SetUnsigned(index, subindex, value);
    }));
  }

  void SetText(std::uint8_t id, std::string_view text) {
    EXPECT_TRUE(Models(
        [&](sim::Machine&) { return DriveNode(id).Objects().SetDefaultText(0x100A, 0, text); }));
  }

  static ExternalAxis External(std::uint8_t id, std::uint32_t deviceTypeFlag) {
    return {.active = deviceTypeFlag == 1 ? 1u : 0u,
            .countdownReload = kExternalReload,
            .sdoRequestCobId = static_cast<std::uint16_t>(0x600 + id),
            .sdoResponseCobId = static_cast<std::uint16_t>(0x580 + id),
            .description = {}};
  }

  testing::TestNodes nodes_{{1, 2}};
  ServiceContext context_{*this, nodes_.table};
};

std::string_view Text(const ModuleDescription& d) { return d.data(); }

TEST_F(IdentificationAndOptionBus, AFlagOneExternalAxisIsIdentifiedAndAFlagZeroOneNeverAsked) {
  std::array<ExternalAxis, 2> external = {External(3, 1), External(4, 0)};
  ASSERT_EQ(IdentifyModules(context_, external), kOk);
  EXPECT_EQ(Text(nodes_[0].description), "ZEB11_K905_01.60.03");
  EXPECT_EQ(Text(external[0].description), "HRX37_K905_01.40.02");
  EXPECT_EQ(Text(external[1].description), "Unknown Amplify");

  const auto asked = SdoAccessesOf(3);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front().index, 0x100A);
  EXPECT_TRUE(SdoAccessesOf(4).empty()) << "no frame to a flag-0 axis";
  // Node 1 lent its slot and has its own pair back.
  EXPECT_EQ(nodes_[0].sdoRequestCobId, 0x601);
  EXPECT_EQ(nodes_[0].sdoResponseCobId, 0x581);
}

TEST_F(IdentificationAndOptionBus, WithoutNodesAnExternalAxisIsStillIdentified) {
  testing::TestNodes none({});
  UseNodes(none.table);
  ServiceContext bare{*this, none.table};
  std::array<ExternalAxis, 1> external = {External(3, 1)};
  EXPECT_EQ(IdentifyExternalAxes(bare, external), kOk);
  EXPECT_EQ(Text(external[0].description), "HRX37_K905_01.40.02");
  EXPECT_EQ(none.table.nodeCount, 0u);
  for (std::uint8_t id : {1, 2, 4}) EXPECT_TRUE(SdoAccessesOf(id).empty()) << int{id};
}

TEST_F(IdentificationAndOptionBus, ThePositionOptionGoesOffInPathModeAndBackAsRead) {
  for (std::uint8_t id : {1, 2}) SetValue(id, 0x60FB, 6, 0x25);
  ASSERT_EQ(ReadDriveParameters(context_), kOk);
  EXPECT_EQ(nodes_[0].drive.positionOption, 0x25);

  // Not configured: the drives are not written.
  ClearDriveLog(1);
  EXPECT_EQ(WritePositionOption(context_, 1), kOk);
  EXPECT_TRUE(SdoAccessesOf(1).empty());

  working_.positionOption = true;
  EXPECT_EQ(WritePositionOption(context_, 1), kOk);
  EXPECT_EQ(Value(1, 0x60FB, 6), 0u);
  EXPECT_EQ(Value(2, 0x60FB, 6), 0x25u) << "a handling axis keeps its option";
  EXPECT_EQ(WritePositionOption(context_, 0), kOk);
  EXPECT_EQ(Value(1, 0x60FB, 6), 0x25u) << "the byte read at start-up";
}

}  // namespace
}  // namespace vantor::canopen

#include "kernel/core/canopen/module_identification.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "kernel/core/canopen/module_type.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

constexpr common::StatusCode kOk = common::kKernelSuccess;

std::string Describe(std::uint32_t variant, const std::string& answer) {
  std::array<char, 50> buffer{};
  std::copy_n(answer.begin(), std::min(answer.size(), buffer.size() - 1), buffer.begin());
  DescribeModuleType(variant, buffer);
  return std::string(buffer.data());
}

TEST(ModuleTypeTest, EveryRuleGivesItsTypeBoardAndVersion) {
  struct Case {
    std::uint32_t variant;
    const char* answer;
    const char* description;
  };
  const Case cases[] = {
      {0, "HRX37 K905 01.40.02 x", "HRX37_K905_01.40.02"},
      {0, "HRX 01.40.02", "HRX37_K903_01.40.02"},
      {0, "PWK 01.41.00.01", "PWK5090_K903_01.41.00.01"},
      {0, "AB 01.41.00.01", "HRX37_K903_01.41.00.01"},
      {0, "ZEB22/ZEB44 K905 01.62.00 dual", "ZEB22_K905_01.62.00"},
      {1, "ZEB22/ZEB44 K905 01.62.00 dual", "ZEB44_K905_01.62.00"},
      {7, "ZEB22/ZEB44 01.62.00", "ZEB44_K903_01.62.00"},
      {0, "K905 01.70.00", "ZEB11_K905_01.70.00"},
      {0, "servo 01.60.03", "ZEB11_K905_01.60.03"},
      {0, "v6.3 01.00.07", "PWK5090_K902_01.00.07"},
      {0, "K903 01.10.00", "ZEB11_K903_01.10.00"},
      {0, "x 01.20.01", "ZEB11_K903_01.20.01"},
      {0, "x 01.55.00", "ZEB11_K903_01.55.00"},
      // First match wins: "HRX" before "K905" alone.
      {0, "K905 HRX 01.1", "HRX37_K905_01.1"},
      // The version part ends at its first blank, and starts at the first "01.".
      {0, "01.53.00 and 01.54.00", "ZEB11_K903_01.53.00"},
      // A matching rule without a version part.
      {0, "HRX37 K905", "Modul_Unknown"},
      {0, "v6.3", "Modul_Unknown"},
      // No rule.
      {0, "drive 01.99.00", "Modul_Unknown"},
      {0, "", "Modul_Unknown"},
      // A long version part: the whole description has 25 characters.
      {0, "K905 01.60.0123456789012345678", "ZEB11_K905_01.60.01234567"},
      // The simulated drives' own texts.
      {0, "ZEB11 K905 01.60.03 servo", "ZEB11_K905_01.60.03"},
      {0, "ZEB22/ZEB44 K905 01.62.00 dual power stage, two ", "ZEB22_K905_01.62.00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(c.variant, c.answer), c.description) << c.answer;
  }
  EXPECT_EQ(std::string("ZEB11_K905_01.60.01234567").size(), kMaxModuleDescription);
}

TEST(ModuleTypeTest, AnUnterminatedOrTinyBufferStaysInside) {
  std::array<char, 8> small{'K', '9', '0', '5', ' ', '0', '1', '.'};
  DescribeModuleType(0, small);
  EXPECT_EQ(std::string(small.data()), "ZEB11_K");
  std::array<char, 1> one{'x'};
  DescribeModuleType(0, one);
  EXPECT_EQ(one[0], '\0');
}

// Drives 5 and 7 as nodes, node 5 with axis drive 6; drive 9 an external
// handling axis.
class Identification : public ::testing::Test {
 protected:
  Identification()
      : nodes({5, 7}, {{6}}),
        drive5(5),
        drive6(6),
        drive7(7),
        drive9(9),
        host(nodes.table, bus),
        context{host, nodes.table} {
    for (testing::SdoServer* drive : {&drive5, &drive6, &drive7, &drive9}) bus.Attach(*drive);
    drive5.DefineText(0x100A, 0, "PWK 01.41.00.01");
    drive6.DefineText(0x100A, 0, "HRX37 K905 01.40.02 x");
    drive7.DefineText(0x100A, 0, kDualText);
    drive7.Define(0x6510, 10, 1, 1);
    drive9.DefineText(0x100A, 0, "ZEB11 K905 01.60.03 servo");
  }

  static std::string Text(const ModuleDescription& description) {
    return std::string(description.data());
  }
  std::vector<testing::LoggedFrame> FramesTo(std::uint16_t cobId) const {
    std::vector<testing::LoggedFrame> out;
    for (const auto& frame : bus.frames) {
      if (frame.cobId == cobId) out.push_back(frame);
    }
    return out;
  }

  static constexpr const char* kDualText =
      "ZEB22/ZEB44 K905 01.62.00 dual power stage, two axis firmware build 2026";
  testing::TestNodes nodes;
  testing::SdoServer drive5;
  testing::SdoServer drive6;
  testing::SdoServer drive7;
  testing::SdoServer drive9;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(Identification, NodesAxesAndExternalAxesGetTheirDescriptions) {
  std::array<ExternalAxis, 2> external{};
  external[0] = {1, 10, 0x609, 0x589, {}};
  external[1] = {0, 10, 0x60A, 0x58A, {}};
  nodes[0].requestRecord.Set(common::Field<std::uint32_t, 60>{}, 0x1234u);

  EXPECT_EQ(IdentifyModules(context, external), kOk);
  EXPECT_EQ(Text(nodes[0].description), "PWK5090_K903_01.41.00.01");
  EXPECT_EQ(Text(nodes[0].axes[0].description), "HRX37_K905_01.40.02");
  EXPECT_EQ(Text(nodes[1].description), "ZEB44_K905_01.62.00");
  EXPECT_EQ(Text(nodes[1].reference.description), "ZEB44_K905_01.62.00");
  EXPECT_EQ(Text(external[0].description), "ZEB11_K905_01.60.03");
  EXPECT_EQ(Text(external[1].description), "Unknown Amplify");
  EXPECT_TRUE(FramesTo(0x60A).empty()) << "an inactive axis is not asked";
  // Node 1 lent its slot and has it back.
  EXPECT_EQ(nodes[0].sdoRequestCobId, 0x605);
  EXPECT_EQ(nodes[0].sdoResponseCobId, 0x585);
  EXPECT_EQ(nodes[0].requestRecord.Get(common::Field<std::uint32_t, 60>{}), 0x1234u);
}

TEST_F(Identification, TheDualDrivesLongAnswerIsCutAt49AndAborted) {
  EXPECT_EQ(IdentifyModules(context, {}), kOk);
  // Seven segments of seven bytes, then the abort instead of an eighth request.
  EXPECT_EQ(drive7.segmentsSent, 7);
  ASSERT_EQ(drive7.abortsReceived.size(), 1u);
  const auto toDrive7 = FramesTo(0x607);
  std::vector<testing::LoggedFrame> segmentRequests;
  for (const auto& frame : toDrive7) {
    if ((frame.data[0] & 0xE0) == 0x60) segmentRequests.push_back(frame);
  }
  ASSERT_EQ(segmentRequests.size(), 7u);
  for (std::size_t i = 0; i < segmentRequests.size(); ++i) {
    EXPECT_EQ(segmentRequests[i].data[0], i % 2 == 0 ? 0x60 : 0x70) << "toggle of request " << i;
  }
  const auto abort = std::find_if(toDrive7.begin(), toDrive7.end(),
                                  [](const auto& frame) { return frame.data[0] == 0x80; });
  ASSERT_NE(abort, toDrive7.end());
  EXPECT_EQ(abort->data[1], 0x0A);
  EXPECT_EQ(abort->data[2], 0x10);
  EXPECT_EQ(abort->data[3], 0x00);
  // The stage is asked after the abort.
  const auto stage = std::find_if(abort, toDrive7.end(), [](const auto& frame) {
    return frame.data[0] == 0x40 && frame.data[1] == 0x10 && frame.data[2] == 0x65 &&
           frame.data[3] == 10;
  });
  EXPECT_NE(stage, toDrive7.end());
  EXPECT_EQ(drive5.abortsReceived.size(), 0u) << "a short answer is read to its end";
}

TEST_F(Identification, AFailingNodeKeepsItsOldDescriptionAndAnExternalFailureIsItsOwn) {
  nodes[1].description = {'o', 'l', 'd'};
  drive7.silent = true;
  EXPECT_EQ(IdentifyModules(context, {}), common::kKernelOperationFailed);
  EXPECT_EQ(Text(nodes[1].description), "old");
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(Text(nodes[0].description), "PWK5090_K903_01.41.00.01");

  drive7.silent = false;
  drive9.silent = true;
  std::array<ExternalAxis, 2> external{};
  external[0] = {1, 10, 0x609, 0x589, {}};
  external[1] = {1, 10, 0x606, 0x586, {}};  // answers through drive 6
  EXPECT_EQ(IdentifyExternalAxes(context, external), common::kKernelExternalHandlingAxisError);
  EXPECT_EQ(Text(external[0].description), "");
  EXPECT_EQ(Text(external[1].description), "HRX37_K905_01.40.02") << "the next is still asked";
}

TEST_F(Identification, WithoutNodesTheExternalAxesAreAskedThroughASlotOfTheirOwn) {
  testing::TestNodes none({});
  testing::FakeHost bare(none.table, bus);
  ServiceContext bareContext{bare, none.table};
  std::array<ExternalAxis, 2> external{};
  external[0] = {1, 10, 0x609, 0x589, {}};
  external[1] = {0, 10, 0x60A, 0x58A, {}};
  EXPECT_EQ(IdentifyExternalAxes(bareContext, external), kOk);
  EXPECT_EQ(Text(external[0].description), "ZEB11_K905_01.60.03");
  EXPECT_EQ(Text(external[1].description), "Unknown Amplify");
  EXPECT_FALSE(FramesTo(0x609).empty());
  EXPECT_EQ(none.table.nodeCount, 0u) << "the stand-in leaves the table";
  EXPECT_EQ(none.table.nodes[0], nullptr);

  bare.spareAvailable = false;
  EXPECT_EQ(IdentifyExternalAxes(bareContext, external), common::kKernelOutOfResources);
  EXPECT_EQ(none.table.nodeCount, 0u);
  EXPECT_EQ(bare.lockDepth, 0);
}

TEST_F(Identification, OnlyWhileAResetIsPendingAndNeverPastAStoppedCycle) {
  host.resetPending = false;
  EXPECT_EQ(IdentifyModules(context, {}), kOk);
  EXPECT_TRUE(bus.frames.empty());
  host.resetPending = true;
  host.endCycleAfter = 2;
  EXPECT_EQ(IdentifyModules(context, {}), kernel::kCycleNotRunning);
  EXPECT_EQ(host.lockDepth, 0);
}

}  // namespace
}  // namespace vantor::canopen

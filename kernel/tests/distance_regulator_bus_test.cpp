// The A/D conversion and distance regulator over the bus: the conversion
// switched on reaches the drive and the CAN object that polls its PDO is
// set up; the regulator's range on a gantry pair follows the pair's
// gear; the regulator goes on and off; a repeated reset switches both off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/services/distance_regulator_commands.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/tests/drives_on_the_bus_fixture.h"

namespace vantor::kernel {
namespace {

using namespace testing;  // NOLINT: the fixture's drives

constexpr std::uint32_t kReset = 15;
constexpr std::uint32_t kSetGantryGear = 74;
constexpr std::uint32_t kConversion = 75;
constexpr std::uint32_t kValue = 76;
constexpr std::uint32_t kFactor = 77;
constexpr std::uint32_t kArea = 78;
constexpr std::uint32_t kRegulator = 79;
constexpr std::uint32_t kRegulatorStatus = 80;
constexpr std::uint32_t kParameters = 81;
// Node 2 carries the dual drive with its gantry slave.
constexpr std::uint32_t kPairNode = 1;

class DistanceRegulatorOnTheBusTest : public DrivesOnTheBusFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DrivesOnTheBusFixture::SetUp());
    MarkEveryNodeHomed();
  }
  void Words(const std::vector<std::uint32_t>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(4 * i), words[i]));
    }
  }
  void Half(std::size_t at, std::uint16_t value) {
    static_cast<void>(kernel_.Block().Store<std::uint16_t>(cb::PayloadAt(at), value));
  }
  std::uint32_t AnswerWord(std::size_t at) {
    return kernel_.Block().Load<std::uint32_t>(cb::PayloadAt(at)).value_or(0xDEADBEEF);
  }
  std::uint16_t AnswerHalf(std::size_t at) {
    return kernel_.Block().Load<std::uint16_t>(cb::PayloadAt(at)).value_or(0xDEAD);
  }
  StatusCode Area(std::uint32_t node, std::uint16_t response, std::uint32_t range) {
    Words({node, 0, 0, 0, range});
    for (std::size_t at = 4; at <= 10; at += 2) Half(at, 10);
    Half(12, response);
    return Run(kArea);
  }
  std::uint64_t DriveValue(std::uint8_t id, std::uint8_t sub) {
    return Models([&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(0x2055, sub); });
  }
  std::uint32_t NodeFlag(std::uint32_t node, std::uint32_t canopen::NodeObject::*flag) {
    return UnderLock(
        [&](KernelData& data) { return data.nodeConfiguration.table.nodes[node]->*flag; });
  }
};

TEST_F(DistanceRegulatorOnTheBusTest, TheConversionReachesTheDriveWithTheObjectThatPollsIt) {
  Words({0, 1});
  ASSERT_EQ(Run(kConversion), kOk);
  EXPECT_TRUE(Logged(1, "download 2055:01 1 0x00")) << "no slave: no coupling";
  EXPECT_TRUE(Logged(1, "download 2055:0C 1 0x01"));
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::adActive), 1u);
  ExpectRecordsArmed();

  ClearDriveLogs();
  ASSERT_EQ(Run(kConversion), kOk) << "on while on";
  EXPECT_TRUE(LogOf(1).empty()) << "nothing sent";

  // The cycle's CAN object list polls the drive's A/D PDO for it.
  const auto object = UnderLock([&](KernelData&) {
    const canopen::CanObjectEntry* entry = canopen::FindCanObject(0x381, kernel_.canObjects);
    return entry != nullptr ? *entry : canopen::CanObjectEntry{};
  });
  EXPECT_EQ(object.cobId, 0x381);
  EXPECT_EQ(object.direction, 0u) << "received";
  EXPECT_EQ(object.active, 1u);
  EXPECT_EQ(object.length, 4);
  EXPECT_EQ(object.period, 300000) << "microseconds";
  Words({0});
  ASSERT_EQ(Run(kValue), kOk);
  EXPECT_EQ(AnswerWord(8), 0u) << "nothing received yet";

  Words({0, 3});
  Half(4, 3);
  Half(6, 2);
  EXPECT_EQ(Run(kFactor), common::kKernelAdConverterActive) << "not while converting";
  EXPECT_FALSE(Logged(1, "download 2055:09"));

  Words({0, 0});
  ASSERT_EQ(Run(kConversion), kOk);
  EXPECT_EQ(DriveValue(1, 12), 0u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::adActive), 0u);
  Words({0});
  EXPECT_EQ(Run(kValue), common::kKernelAdConverterNotInitialized);

  Words({0});
  Half(4, 3);
  Half(6, 2);
  ASSERT_EQ(Run(kFactor), kOk);
  EXPECT_EQ(DriveValue(1, 9), 3u);
  EXPECT_EQ(DriveValue(1, 10), 2u);
}

TEST_F(DistanceRegulatorOnTheBusTest, OnAPairGearedTwoToOneTheRangeScales) {
  // The pair and its slave share the gear 2/1: coupled.
  Words({kPairNode, 2, 1, 2, 1});
  ASSERT_EQ(Run(kSetGantryGear), kOk);
  ClearDriveLogs();

  EXPECT_EQ(Area(kPairNode, 3, 2080705), common::kKernelDistanceControlDataInvalid);
  EXPECT_TRUE(LogOf(kDualDrive).empty());
  ASSERT_EQ(Area(kPairNode, 3, 2080704), kOk);
  EXPECT_EQ(DriveValue(kDualDrive, 11), 5u) << "a response of 3 is sent as 5";
  EXPECT_EQ(DriveValue(kDualDrive, 14), 2080704u);
  for (const std::uint8_t id : {kDualDrive, kSlaveDrive}) {
    EXPECT_EQ(DriveValue(id, 15), 0u) << "coupled, drive " << int{id};
    EXPECT_EQ(DriveValue(id, 16), 32767u) << "drive " << int{id};
  }
  EXPECT_EQ(NodeFlag(kPairNode, &canopen::NodeObject::workingAreaSet), 1u);

  Words({kPairNode});
  ASSERT_EQ(Run(kParameters), kOk);
  const double cycleSeconds =
      UnderLock([](KernelData& data) { return data.motion.path.cycleTime; });
  EXPECT_EQ(AnswerHalf(20), static_cast<std::uint16_t>(1.0 / cycleSeconds)) << "cycles per second";
  EXPECT_EQ(AnswerHalf(22), 5u);
  EXPECT_EQ(AnswerWord(24), 2080704u) << "the range limit";
  EXPECT_EQ(AnswerWord(28), 2080704u);

  // The slave geared apart: uncoupled, the range tested unscaled.
  Words({kPairNode, 2, 1, 3, 1});
  ASSERT_EQ(Run(kSetGantryGear), kOk);
  ASSERT_EQ(Area(kPairNode, 8, 4161409), kOk);
  EXPECT_EQ(DriveValue(kSlaveDrive, 15), 1u);
  EXPECT_EQ(DriveValue(kSlaveDrive, 16), 32768u);
  EXPECT_EQ(Area(kPairNode, 8, 4161410), common::kKernelDistanceControlDataInvalid);
}

TEST_F(DistanceRegulatorOnTheBusTest, TheRegulatorRunsOnTheConversionAndARepeatedResetEndsBoth) {
  Words({0, 1});
  EXPECT_EQ(Run(kRegulator), common::kKernelAdConverterNotInitialized);
  ASSERT_EQ(Run(kConversion), kOk);
  EXPECT_EQ(Run(kRegulator), common::kKernelDistanceControlAreaNotSet);
  ASSERT_EQ(Area(0, 10, 1000), kOk);
  EXPECT_EQ(DriveValue(1, 15), 1u) << "no slave";
  EXPECT_EQ(DriveValue(1, 16), 1u);
  Words({0, 1});
  ASSERT_EQ(Run(kRegulator), kOk);
  EXPECT_EQ(DriveValue(1, 20), 1u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::regulatorActive), 1u);
  EXPECT_TRUE(Logged(1, "download 1A00:04 4 0x20551108")) << "the state in the feedback";
  ExpectRecordsArmed();

  Words({0, 0});
  EXPECT_EQ(Run(kConversion), common::kKernelDistanceControlActive);

  ClearDriveLogs();
  ASSERT_EQ(Run(kReset), kOk);
  EXPECT_EQ(DriveValue(1, 12), 0u);
  EXPECT_EQ(DriveValue(1, 20), 0u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::regulatorActive), 0u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::adActive), 0u);
  Words({0});
  EXPECT_EQ(Run(kValue), common::kKernelAdConverterNotInitialized);
  // And on again from the start, with one CAN object for it.
  Words({0, 1});
  ASSERT_EQ(Run(kConversion), kOk);
  EXPECT_EQ(UnderLock([&](KernelData&) {
              std::size_t count = 0;
              for (const canopen::CanObjectEntry* e = kernel_.canObjects.head; e != nullptr;
                   e = e->next) {
                if (e->cobId == 0x381) ++count;
              }
              return count;
            }),
            1u);
}

// The reset's step on its own (a successful start of the nodes clears the
// flags before it runs): a drive that does not answer keeps its flags and
// fails the step, the next node is still switched off.
TEST_F(DistanceRegulatorOnTheBusTest, TheResetsStepGoesOnPastADriveThatDoesNotAnswer) {
  UnderLock([](KernelData& data) {
    canopen::NodeTable& table = data.nodeConfiguration.table;
    table.nodes[0]->adActive = table.nodes[0]->regulatorActive = 1;
    table.nodes[kPairNode]->regulatorActive = 1;
    return 0;
  });
  Models([&](sim::Machine&) {
    Drive(1).SetSilent(true);
    for (const std::uint8_t id : {kDualDrive, kSlaveDrive}) {
      DriveNode(id).Objects().SetUnsigned(0x2055, 20, 1);
    }
    return 0;
  });
  KernelServiceHost host(kernel_.data, kernel_.canObjects);
  canopen::ServiceContext context = host.Context();
  EXPECT_EQ(SwitchAnalogueFunctionsOffStep(kernel_, context), common::kKernelOperationFailed);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::adActive), 1u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::regulatorActive), 1u);
  EXPECT_EQ(NodeFlag(kPairNode, &canopen::NodeObject::regulatorActive), 0u);
  EXPECT_EQ(DriveValue(kDualDrive, 20), 0u);
  EXPECT_EQ(DriveValue(kSlaveDrive, 20), 0u) << "the slave too";

  Models([&](sim::Machine&) {
    Drive(1).SetSilent(false);
    return 0;
  });
  EXPECT_EQ(SwitchAnalogueFunctionsOffStep(kernel_, context), kOk);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::adActive), 0u);
  EXPECT_EQ(NodeFlag(0, &canopen::NodeObject::regulatorActive), 0u);
}

}  // namespace
}  // namespace vantor::kernel

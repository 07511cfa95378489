#include "kernel/core/cnc_configuration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/cnc_init_record.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {
namespace {

namespace ir = common::cnc_init_record;
using common::kKernelInitParameterInvalid;
using common::kKernelSuccess;

constexpr ChannelFacts kChannel{
    .cycleMicroseconds = 2000, .bitRateCode = 5, .lookAheadEntries = 40};

// A record as the library packs it into the block: the fixed part, then the
// three lists. By default three interpolated drives (ids 1..3, node 1 the
// SYNC node, node 3 with gantry slave 30), three coordinates and one
// handling axis: one step away from every refusal below.
struct Record {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(common::kMaxCncInitPayloadSize + 64);
  struct Coordinate {
    std::int32_t linear = 1, path = 1, limits = 0;
    double positive = 0.0, negative = 0.0;
  };
  struct Axis {
    std::int32_t id = 0, gantry = 0, slave = 0;
  };
  struct HandlingAxis {
    std::int32_t id = 0, deviceType = 0;
  };
  std::vector<Coordinate> coordinates = {{}, {}, {0, 1, 1, 5.5, -5.5}};
  std::vector<Axis> axes = {{1}, {2}, {3, 1, 30}};
  std::vector<HandlingAxis> handlingAxes = {{40, 1}};
  std::int32_t interpolated = 3;

  common::ByteView<common::kCncInitRecordSize> Fixed() {
    return common::ByteView<common::kCncInitRecordSize>(bytes.data());
  }

  Record() {
    auto r = Fixed();
    r.Set(ir::kSynNodeNo, 1);
    r.Set(ir::kMaxNoBufferedPathVec, 10);
    r.Set(ir::kAmplifyMaxNoBufferedDesCoor, std::int16_t{20});
    r.Set(ir::kTeachInAmplifyMaxNoBufferedDesCoor, std::int16_t{10});
    r.Set(ir::kTeachInLookAheadDesPosiMaxNo, std::int16_t{30});
    r.Set(ir::kResetNodeDelayTime, 1'000'000.0);
    r.Set(ir::kCanMsgMaxWaitTime, 9000.0);
  }

  // Writes the counts and the lists as they stand; counts may be set apart
  // from the lists afterwards.
  std::span<const std::uint8_t> Pack() {
    auto r = Fixed();
    r.Set(ir::kCoorNo, static_cast<std::int32_t>(coordinates.size()));
    r.Set(ir::kAxisNo, static_cast<std::int32_t>(axes.size()));
    r.Set(ir::kInterAxisNo, interpolated);
    r.Set(ir::kHandlingAxisNo, static_cast<std::int32_t>(handlingAxes.size()));
    std::size_t at = common::kCncInitRecordSize;
    auto put = [&](auto value) {
      std::memcpy(bytes.data() + at, &value, sizeof value);
      at += sizeof value;
    };
    for (const auto& c : coordinates) {
      put(c.linear), put(c.path), put(c.limits), put(std::int32_t{0}), put(c.positive),
          put(c.negative);
    }
    for (const auto& a : axes) put(a.id), put(a.gantry), put(a.slave);
    for (const auto& h : handlingAxes) put(h.id), put(h.deviceType);
    return {bytes.data(), common::kMaxCncInitPayloadSize};
  }
};

CncConfigurationResult Read(Record& record, const ChannelFacts& channel = kChannel) {
  return ReadCncConfiguration(record.Pack(), channel);
}

TEST(CncConfigurationTest, BuildsNodesCoordinatesHandlingAxesAndTheGlobalSlot) {
  Record record;
  const auto read = Read(record);
  ASSERT_EQ(read.result, kKernelSuccess);
  const CncConfiguration& c = read.configuration;
  EXPECT_EQ(c.nodeCount, 3);
  EXPECT_EQ(c.largestSlaveAxisCount, 1u);
  EXPECT_EQ(c.globalSlot.record, 7u);
  EXPECT_EQ(c.motion.path.cycleTime, 0.002);
  const NodeSettings& gantry = c.nodes[2];
  EXPECT_EQ(gantry.setup.nodeId, 3);
  EXPECT_EQ(gantry.setup.sendRecord, 5u);
  EXPECT_EQ(gantry.setup.answerRecord, 6u);
  EXPECT_EQ(gantry.setup.axisCount, 1u);
  EXPECT_EQ(gantry.setup.axisNodeIds[0], 30u);
  EXPECT_EQ(gantry.slaveNodeId, 30u);
  EXPECT_EQ(gantry.guardingCobId, 0x703);
  EXPECT_EQ(gantry.resetDelayMilliseconds, 1000);
  EXPECT_EQ(c.nodes[0].isSyncNode, 1u);
  EXPECT_EQ(c.nodes[1].isSyncNode, 0u);
  EXPECT_EQ(c.nodes[1].setup.axisCount, 0u);
  EXPECT_EQ(c.coordinates[2].linear, 0);
  EXPECT_EQ(c.coordinates[2].negativeLimit, -5.5);
  const HandlingAxisSettings& handling = c.handlingAxes[0];
  EXPECT_EQ(handling.nodeId, 40);
  EXPECT_EQ(handling.deviceTypeFlag, 1u);
  // 9000 us over 2000 us cycles: 4 cycles plus one, 10000 us back.
  EXPECT_EQ(handling.countdownReload, 5);
  EXPECT_EQ(handling.answerTimeoutMicroseconds, 10000u);
  EXPECT_EQ(handling.sdoRequestCobId, 0x628);
  // The node template is kept for the answers' received-data condition.
  auto r = record.Fixed();
  r.Set(ir::kNodeRequestTemplateWord1, std::uint16_t{39});
  r.MutableBytes(ir::kNodeRequestTemplateBytes)[0] = 11;
  const auto templated = Read(record);
  EXPECT_EQ(templated.configuration.nodes[1].requestTemplate.words[1], 39);
  EXPECT_EQ(templated.configuration.nodes[1].requestTemplate.bytes[0], 11);
}

TEST(CncConfigurationTest, NoNodesNoCoordinatesPutTheHandlingAxesRightBehindTheRecord) {
  Record record;
  record.coordinates.clear();
  record.axes.clear();
  record.interpolated = 0;
  record.handlingAxes = {{5, 0}, {6, 1}};
  const auto read = Read(record);
  ASSERT_EQ(read.result, kKernelSuccess);
  EXPECT_EQ(read.configuration.nodeCount, 0);
  EXPECT_EQ(read.configuration.handlingAxes[0].nodeId, 5);
  EXPECT_EQ(read.configuration.handlingAxes[1].nodeId, 6);
  EXPECT_EQ(read.configuration.globalSlot.record, 1u);
}

TEST(CncConfigurationTest, VelocityFactorsFollowTheirRules) {
  struct Case {
    double circle, path, carry;
    double circleInverse, pathInverse, carryKept;
  };
  for (const Case& c : std::vector<Case>{{0.0, 2.0, 0.0, 1.0, 0.5, 1.0},
                                         {4.0, 0.005, -3.0, 0.25, 100.0, 1.0},
                                         {1.0, 100.01, 0.7, 1.0, 0.01, 0.7},
                                         {1.0, 100.0, 2.0, 1.0, 0.01, 2.0}}) {
    Record record;
    auto r = record.Fixed();
    r.Set(ir::kCircleVelFac, c.circle);
    r.Set(ir::kPathVelFac, c.path);
    r.Set(ir::kCarryAxisVelFac, c.carry);
    const auto read = Read(record);
    ASSERT_EQ(read.result, kKernelSuccess);
    const motion::PathParameters& p = read.configuration.motion.path;
    EXPECT_DOUBLE_EQ(p.circleVelFacInverse, c.circleInverse) << c.circle;
    EXPECT_DOUBLE_EQ(p.pathVelFacInverse, c.pathInverse) << c.path;
    EXPECT_DOUBLE_EQ(p.CarryAxisVelFac, c.carryKept) << c.carry;
  }
}

TEST(CncConfigurationTest, HandwheelTextEndsAtItsZeroAndAfterFiftyCharacters) {
  Record record;
  auto r = record.Fixed();
  r.Set(ir::kHandwheelCanNodeNo, 0);  // not looked at while inactive
  r.Set(ir::kHandwheelInhibitTime, 7);
  std::memset(record.bytes.data() + ir::kHandwheelModell.kOffset, 'W',
              ir::kHandwheelModell.kCapacity);
  const auto inactive = Read(record);
  ASSERT_EQ(inactive.result, kKernelSuccess);
  EXPECT_EQ(inactive.configuration.handwheel.linked, 0u);
  EXPECT_EQ(inactive.configuration.handwheel.inhibitTime, 0);
  EXPECT_EQ(inactive.configuration.handwheel.model[0], '\0');

  r.Set(ir::kHandwheelActive, 1u);
  r.Set(ir::kHandwheelCanNodeNo, 99);
  const auto unterminated = Read(record);
  ASSERT_EQ(unterminated.result, kKernelSuccess);
  const HandwheelSettings& full = unterminated.configuration.handwheel;
  EXPECT_EQ(full.linked, 1u);
  EXPECT_EQ(full.nodeId, 99);
  EXPECT_EQ(full.inhibitTime, 7);
  EXPECT_EQ(std::string(full.model.data()), std::string(50, 'W'));

  record.bytes[ir::kHandwheelModell.kOffset + 5] = 0;
  EXPECT_EQ(std::string(Read(record).configuration.handwheel.model.data()), "WWWWW");
}

TEST(CncConfigurationTest, ThePositionOptionReachesTheDrivesWorkingValues) {
  for (const auto& [word, on] : std::vector<std::pair<std::int32_t, bool>>{{0, false}, {1, true}}) {
    Record record;
    record.Fixed().Set(ir::kPathSmooth, word);
    const auto read = Read(record);
    ASSERT_EQ(read.result, kKernelSuccess) << word;
    EXPECT_EQ(read.configuration.drive.positionOption, on) << word;
  }
}

struct RefusalCase {
  const char* name;
  std::function<void(Record&)> change;
  common::StatusCode expected = kKernelInitParameterInvalid;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) { return out << c.name; }

class CncConfigurationRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CncConfigurationRefusalTest, RefusesBeforeItBuildsAnything) {
  Record record;
  record.Pack();
  GetParam().change(record);
  // Read as the case left it: a count it wrote stays apart from the lists.
  const auto read =
      ReadCncConfiguration({record.bytes.data(), common::kMaxCncInitPayloadSize}, kChannel);
  EXPECT_EQ(read.result, GetParam().expected);
}

// Re-packs the lists after a change of them.
std::function<void(Record&)> Lists(std::function<void(Record&)> change) {
  return [change](Record& r) {
    change(r);
    r.Pack();
  };
}
std::function<void(Record&)> Word(std::size_t offset, std::int32_t value) {
  return [offset, value](Record& r) { std::memcpy(r.bytes.data() + offset, &value, sizeof value); };
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CncConfigurationRefusalTest,
    ::testing::Values(
        RefusalCase{"nine_coordinates", Word(ir::kCoorNo.kOffset, 9)},
        RefusalCase{"negative_coordinates", Word(ir::kCoorNo.kOffset, -1)},
        RefusalCase{"nine_axes", Word(ir::kAxisNo.kOffset, 9)},
        RefusalCase{"negative_axes", Word(ir::kAxisNo.kOffset, -1)},
        RefusalCase{"seven_nodes_reach_record_15",
                    Lists([](Record& r) { r.axes = {{1}, {2}, {3}, {4}, {5}, {6}, {7}}; })},
        RefusalCase{"seven_handling_axes", Word(ir::kHandlingAxisNo.kOffset, 7)},
        RefusalCase{"interpolated_above_nodes", Word(ir::kInterAxisNo.kOffset, 4)},
        RefusalCase{"node_id_0", Lists([](Record& r) { r.axes[1].id = 0; })},
        RefusalCase{"node_id_128", Lists([](Record& r) { r.axes[1].id = 128; })},
        RefusalCase{"slave_id_0", Lists([](Record& r) { r.axes[2].slave = 0; })},
        RefusalCase{"slave_id_200", Lists([](Record& r) { r.axes[2].slave = 200; })},
        RefusalCase{"gantry_flag_2", Lists([](Record& r) { r.axes[2].gantry = 2; })},
        RefusalCase{"handling_id_0", Lists([](Record& r) { r.handlingAxes[0].id = 0; })},
        RefusalCase{"active_handwheel_id_128",
                    [](Record& r) {
                      r.Fixed().Set(ir::kHandwheelActive, 1u);
                      r.Fixed().Set(ir::kHandwheelCanNodeNo, 128);
                    }},
        RefusalCase{"slave_id_of_another_node", Lists([](Record& r) { r.axes[2].slave = 2; })},
        RefusalCase{"two_sync_nodes", Lists([](Record& r) { r.axes[1].id = 1; })},
        RefusalCase{"interpolated_without_sync_node", Word(ir::kSynNodeNo.kOffset, 9)},
        RefusalCase{"four_path_coordinates",
                    Lists([](Record& r) { r.coordinates = {{}, {}, {}, {}}; })},
        RefusalCase{"reset_delay_above_5000_ms",
                    [](Record& r) { r.Fixed().Set(ir::kResetNodeDelayTime, 5'001'000.0); }},
        RefusalCase{"no_segment_queue", Word(ir::kMaxNoBufferedPathVec.kOffset, 0)},
        RefusalCase{"position_option_2", Word(ir::kPathSmooth.kOffset, 2)},
        RefusalCase{"position_option_negative", Word(ir::kPathSmooth.kOffset, -1)}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(CncConfigurationTest, CycleTimeZeroIsAStoppedCycleNotADivision) {
  Record record;
  ChannelFacts stopped = kChannel;
  stopped.cycleMicroseconds = 0;
  EXPECT_EQ(Read(record, stopped).result, kCycleNotRunning);
}

TEST(CncConfigurationTest, ListsBeyondThePayloadAreRefused) {
  Record record;
  const auto packed = record.Pack();
  const std::size_t listsEnd = common::kCncInitRecordSize + 3 * 32 + 3 * 12 + 8;
  EXPECT_EQ(ReadCncConfiguration(packed.first(listsEnd), kChannel).result, kKernelSuccess);
  EXPECT_EQ(ReadCncConfiguration(packed.first(listsEnd - 1), kChannel).result,
            kKernelInitParameterInvalid);
  EXPECT_EQ(ReadCncConfiguration(packed.first(100), kChannel).result, kKernelInitParameterInvalid);
}

}  // namespace
}  // namespace vantor::kernel

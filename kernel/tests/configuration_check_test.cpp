#include "kernel/core/configuration_check.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "kernel/core/kernel_arithmetic.h"

namespace vantor::kernel {
namespace {

using common::kKernelInitParameterInvalid;
using common::kKernelSuccess;

// Three interpolated drives with ids 1..3 (node 1 gives the SYNC) and one
// handling drive with a gantry slave on id 20: a configuration the cycle
// can run, one rule away from every refusal below.
struct Configuration {
  std::vector<ConfiguredNode> nodes = {
      {1, true, 1000, 0, 0}, {2, false, 1000, 0, 0}, {3, false, 5000, 0, 0}, {4, false, 0, 1, 20}};
  ConfigurationToCheck check{.coordinateCount = 3,
                             .pathCoordinateCount = 3,
                             .nodeCount = 4,
                             .interpolatedNodeCount = 3,
                             .bitRateCode = 2,
                             .nodes = {},
                             .maxBufferedPathSegments = 1,
                             .driveBufferDepth = 16,
                             .lookAheadEntries = 17,
                             .teachInDriveBufferDepth = 6,
                             .teachInLookAheadEntries = 7};

  common::StatusCode Validate() {
    check.nodes = nodes;
    return ValidateConfiguration(check);
  }
};

struct MutationCase {
  const char* name;
  std::function<void(Configuration&)> mutate;
  common::StatusCode expected;
};

void PrintTo(const MutationCase& c, std::ostream* out) { *out << c.name; }

class ValidateConfigurationTest : public testing::TestWithParam<MutationCase> {};

TEST_P(ValidateConfigurationTest, AppliesEachRule) {
  Configuration configuration;
  ASSERT_EQ(configuration.Validate(), kKernelSuccess) << "the base configuration must pass";
  GetParam().mutate(configuration);
  EXPECT_EQ(configuration.Validate(), GetParam().expected) << GetParam().name;
}

void Nodes(Configuration& c, std::vector<ConfiguredNode> nodes, int interpolated) {
  c.nodes = std::move(nodes);
  c.check.nodeCount = static_cast<std::int32_t>(c.nodes.size());
  c.check.interpolatedNodeCount = interpolated;
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ValidateConfigurationTest,
    testing::Values(
        MutationCase{"8 coordinates", [](Configuration& c) { c.check.coordinateCount = 8; },
                     kKernelSuccess},
        MutationCase{"9 coordinates", [](Configuration& c) { c.check.coordinateCount = 9; },
                     kKernelInitParameterInvalid},
        MutationCase{"negative coordinates",
                     [](Configuration& c) {
                       c.check.coordinateCount = -1;
                       c.check.pathCoordinateCount = 0;
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"4 path coordinates",
                     [](Configuration& c) {
                       c.check.coordinateCount = 5;
                       c.check.pathCoordinateCount = 4;
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"no nodes, no coordinates",
                     [](Configuration& c) {
                       Nodes(c, {}, 0);
                       c.check.coordinateCount = 0;
                       c.check.pathCoordinateCount = 0;
                       c.check.bitRateCode = 0;
                     },
                     kKernelSuccess},
        MutationCase{"9 nodes",
                     [](Configuration& c) {
                       Nodes(c, {{1, true}, {2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}}, 3);
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"6 interpolated nodes",
                     [](Configuration& c) {
                       Nodes(c, {{1, true}, {2}, {3}, {4}, {5}, {6}}, 6);
                     },
                     kKernelSuccess},
        MutationCase{"7 interpolated nodes",
                     [](Configuration& c) {
                       Nodes(c, {{1, true}, {2}, {3}, {4}, {5}, {6}, {7}}, 7);
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"more interpolated than nodes",
                     [](Configuration& c) {
                       Nodes(c, {{1, true}, {2}}, 3);
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"node list shorter than the count",
                     [](Configuration& c) { c.nodes.pop_back(); }, kKernelInitParameterInvalid},
        MutationCase{"two SYNC nodes", [](Configuration& c) { c.nodes[1].isSyncNode = true; },
                     kKernelInitParameterInvalid},
        MutationCase{"no SYNC node with 2 interpolated",
                     [](Configuration& c) {
                       Nodes(c, {{1}, {2}}, 2);
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"no SYNC node with 1 interpolated",
                     [](Configuration& c) {
                       Nodes(c, {{1}, {2}}, 1);
                     },
                     kKernelSuccess},
        MutationCase{"bit-rate code 0", [](Configuration& c) { c.check.bitRateCode = 0; },
                     kKernelInitParameterInvalid},
        MutationCase{"bit-rate code 6", [](Configuration& c) { c.check.bitRateCode = 6; },
                     kKernelInitParameterInvalid},
        MutationCase{"bit-rate code 7", [](Configuration& c) { c.check.bitRateCode = 7; },
                     kKernelSuccess},
        MutationCase{"bit-rate code 8", [](Configuration& c) { c.check.bitRateCode = 8; },
                     kKernelInitParameterInvalid},
        MutationCase{"duplicate node ids", [](Configuration& c) { c.nodes[2].nodeId = 1; },
                     kKernelInitParameterInvalid},
        MutationCase{"boot wait 5001",
                     [](Configuration& c) { c.nodes[0].bootWaitMilliseconds = 5001; },
                     kKernelInitParameterInvalid},
        MutationCase{"no path segment buffer",
                     [](Configuration& c) { c.check.maxBufferedPathSegments = 0; },
                     kKernelInitParameterInvalid},
        MutationCase{"drive buffer 15", [](Configuration& c) { c.check.driveBufferDepth = 15; },
                     kKernelInitParameterInvalid},
        MutationCase{"drive buffer 31",
                     [](Configuration& c) {
                       c.check.driveBufferDepth = 31;
                       c.check.lookAheadEntries = 32;
                     },
                     kKernelSuccess},
        MutationCase{"drive buffer 32",
                     [](Configuration& c) {
                       c.check.driveBufferDepth = 32;
                       c.check.lookAheadEntries = 33;
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"look-ahead equal to the drive buffer",
                     [](Configuration& c) { c.check.lookAheadEntries = 16; },
                     kKernelInitParameterInvalid},
        MutationCase{"look-ahead 498", [](Configuration& c) { c.check.lookAheadEntries = 498; },
                     kKernelSuccess},
        MutationCase{"look-ahead 499", [](Configuration& c) { c.check.lookAheadEntries = 499; },
                     kKernelInitParameterInvalid},
        MutationCase{"teach-in buffer 5",
                     [](Configuration& c) { c.check.teachInDriveBufferDepth = 5; },
                     kKernelInitParameterInvalid},
        MutationCase{"teach-in buffer above the drive buffer",
                     [](Configuration& c) {
                       c.check.teachInDriveBufferDepth = 17;
                       c.check.teachInLookAheadEntries = 17;
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"teach-in look-ahead equal to its buffer",
                     [](Configuration& c) { c.check.teachInLookAheadEntries = 6; },
                     kKernelInitParameterInvalid},
        MutationCase{"teach-in look-ahead above the look-ahead",
                     [](Configuration& c) { c.check.teachInLookAheadEntries = 18; },
                     kKernelInitParameterInvalid},
        MutationCase{"two slave axes", [](Configuration& c) { c.nodes[3].slaveAxisCount = 2; },
                     kKernelInitParameterInvalid},
        MutationCase{"slave id equal to a node id",
                     [](Configuration& c) { c.nodes[3].firstSlaveNodeId = 2; },
                     kKernelInitParameterInvalid},
        MutationCase{"slave id equal to its own node id",
                     [](Configuration& c) { c.nodes[3].firstSlaveNodeId = 4; },
                     kKernelInitParameterInvalid},
        MutationCase{"slave id inside another node's slave range",
                     [](Configuration& c) {
                       c.nodes[1].slaveAxisCount = 1;
                       c.nodes[1].firstSlaveNodeId = 20;
                     },
                     kKernelInitParameterInvalid},
        MutationCase{"two slaves on different ids",
                     [](Configuration& c) {
                       c.nodes[1].slaveAxisCount = 1;
                       c.nodes[1].firstSlaveNodeId = 21;
                     },
                     kKernelSuccess}),
    [](const testing::TestParamInfo<MutationCase>& info) {
      std::string name = info.param.name;
      for (auto& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

struct MultipleCase {
  std::uint32_t value;
  std::optional<std::uint32_t> expected;
};

TEST(NextMultipleOf512Test, RoundsUpStrictlyAndRefusesOverflow) {
  const MultipleCase cases[] = {{0, 512u},
                                {1, 512u},
                                {511, 512u},
                                {512, 1024u},
                                {1000, 1024u},
                                {1024, 1536u},
                                // Far beyond a 16-bit block count: no wrap.
                                {512u * 40000u, 512u * 40001u},
                                {0xFFFFFDFFu, 0xFFFFFE00u},
                                {0xFFFFFE00u, std::nullopt},
                                {0xFFFFFFFFu, std::nullopt}};
  for (const auto& c : cases) {
    EXPECT_EQ(NextMultipleOf512(c.value), c.expected) << c.value;
  }
}

}  // namespace
}  // namespace vantor::kernel

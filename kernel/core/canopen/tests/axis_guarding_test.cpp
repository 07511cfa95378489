// Guarding of the further axes through their objects in the CAN object list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/core/canopen/axis_guarding.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

constexpr common::StatusCode kOk = common::kKernelSuccess;

// Node 1 leads axes 2 and 3, node 4 leads axis 5; every axis has a
// guarding object in the list.
class AxisGuarding : public ::testing::Test {
 protected:
  AxisGuarding() {
    ResetCanObjectList(list_);
    for (std::uint8_t id : {2, 3, 5}) {
      CanObjectParameters guarding;
      guarding.guarding = 1;
      guarding.nodeId = id;
      guarding.cobId = static_cast<std::uint16_t>(0x700 + id);
      guarding.length = 1;
      EXPECT_NE(AppendCanObject(list_, guarding), nullptr);
    }
    nodes_[0].axes[0].guarded = 1;
    nodes_[0].axes[1].guarded = 1;
    nodes_[1].axes[0].guarded = 1;
  }
  CanObjectEntry& Entry(std::uint8_t id) {
    return *FindCanObject(static_cast<std::uint16_t>(0x700 + id), list_);
  }
  void Fail(std::uint8_t id, common::StatusCode result) {
    Entry(id).result = result;
    Entry(id).failures = kFailuresToFail;
  }

  testing::TestNodes nodes_{{1, 4}, {{2, 3}, {5}}};
  CanObjectList list_;
};

TEST_F(AxisGuarding, StartMakesEveryGuardedAxisActiveAndFresh) {
  nodes_[0].axes[1].guarded = 0;
  for (std::uint8_t id : {2, 3, 5}) {
    Fail(id, 0xC9130019);
    Entry(id).data[0] = 0x05;
  }
  EXPECT_EQ(StartGuardingOnAxes(nodes_.table, list_), kOk);
  for (std::uint8_t id : {2, 5}) {
    EXPECT_EQ(Entry(id).active, 1u) << int{id};
    EXPECT_EQ(Entry(id).failures, 0) << int{id};
    EXPECT_EQ(Entry(id).result, kOk) << int{id};
    EXPECT_EQ(Entry(id).data[0], kGuardingToggleBit) << int{id};
  }
  EXPECT_EQ(Entry(3).active, 0u) << "an unguarded axis stays as it was";
  EXPECT_EQ(Entry(3).result, 0xC9130019u);
}

struct FirstErrorCase {
  std::string name;
  std::vector<std::pair<std::uint8_t, common::StatusCode>> failed;
  bool axis0Guarded;
  common::StatusCode expected;
};

void PrintTo(const FirstErrorCase& c, std::ostream* out) { *out << c.name; }

class FirstAxisErrorOf : public AxisGuarding,
                         public ::testing::WithParamInterface<FirstErrorCase> {};

TEST_P(FirstAxisErrorOf, NodeOne) {
  nodes_[0].axes[0].guarded = GetParam().axis0Guarded ? 1 : 0;
  for (const auto& [id, result] : GetParam().failed) Fail(id, result);
  EXPECT_EQ(FirstAxisError(nodes_[0], list_), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstAxisErrorOf,
    ::testing::Values(
        FirstErrorCase{"all in order", {}, true, kOk},
        FirstErrorCase{"second axis failed", {{3, 0xC9130019}}, true, 0xC9130019},
        FirstErrorCase{
            "first failed axis wins", {{3, 0xC9130019}, {2, 0xC913001A}}, true, 0xC913001A},
        FirstErrorCase{"unguarded axis does not count", {{2, 0xC913001A}}, false, kOk},
        FirstErrorCase{"another node's axis does not count", {{5, 0xC9130019}}, true, kOk}),
    [](const ::testing::TestParamInfo<FirstErrorCase>& info) {
      std::string name = info.param.name;
      for (char& c : name) {
        if (c == ' ' || c == '\'') c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace vantor::canopen

#include "kernel/core/canopen/can_object_admission.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/core/canopen/node_can_objects.h"

namespace vantor::canopen {
namespace {

// Node 1 carries the axes 10 and 11 (11 guarded), node 2 none; the list
// holds a user object on 0x050.
class ConfiguredNodes : public ::testing::Test {
 protected:
  ConfiguredNodes() {
    NodeSetup first;
    first.nodeId = 1;
    first.axisCount = 2;
    first.axisNodeIds[0] = 10;
    first.axisNodeIds[1] = 11;
    NodeSetup second;
    second.nodeId = 2;
    second.sendRecord = 3;
    second.answerRecord = 4;
    owned_.push_back(std::make_unique<NodeObject>(first));
    owned_.push_back(std::make_unique<NodeObject>(second));
    owned_[0]->axes[1].guarded = 1;
    for (std::size_t k = 0; k < owned_.size(); ++k) table_.nodes[k] = owned_[k].get();
    table_.nodeCount = static_cast<std::uint32_t>(owned_.size());
    table_.UpdateLargestAxisCount();
    ResetCanObjectList(list_);
    CanObjectParameters user;
    user.direction = 1;
    user.nodeId = 40;
    user.cobId = 0x050;
    user.length = 2;
    user.answerTimeout = 1000;
    user.period = 1000;
    EXPECT_NE(AppendCanObject(list_, user), nullptr);
  }

  std::vector<std::unique_ptr<NodeObject>> owned_;
  NodeTable table_;
  CanObjectList list_;
};

TEST_F(ConfiguredNodes, UserCobIdAdmission) {
  struct Case {
    const char* what;
    std::uint32_t guarding;
    std::uint32_t node;
    std::uint32_t cobId;
    std::uint32_t free;
  };
  const Case cases[] = {
      {"a free identifier", 0, 20, 0x051, 1},
      {"NMT", 0, 20, 0x000, 0},
      {"SYNC", 0, 20, 0x080, 0},
      {"time stamp", 0, 20, 0x100, 0},
      {"beyond 11 bits", 0, 20, 0x800, 0},
      {"far beyond 11 bits", 0, 20, 0x10051, 0},
      {"node id 0", 0, 0, 0x051, 0},
      {"node id 128", 0, 128, 0x051, 0},
      {"a configured node's id", 0, 2, 0x051, 0},
      {"an axis's id", 0, 10, 0x051, 0},
      {"any node's emergency", 0, 20, 0x0A5, 0},
      {"any node's SDO response", 0, 20, 0x5FF, 0},
      {"any node's SDO request", 0, 20, 0x601, 0},
      {"any node's guarding", 0, 20, 0x77F, 0},
      {"the own node's PDOs", 0, 20, 0x214, 1},
      {"the own node's last TPDO", 0, 20, 0x494, 1},
      {"another node's PDO", 0, 20, 0x215, 0},
      {"another node's last RPDO", 0, 20, 0x57F, 0},
      {"a PDO base without node id", 0, 20, 0x480, 1},
      {"already in the list", 0, 20, 0x050, 0},
      {"guarding of its own node", 1, 20, 0x714, 1},
      {"guarding of another node", 1, 20, 0x715, 0},
      {"guarding on a PDO", 1, 20, 0x194, 0},
      {"guarding of a configured node", 1, 1, 0x701, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsUserCobIdFree(c.guarding, c.node, c.cobId, table_, list_), c.free) << c.what;
  }
}

TEST_F(ConfiguredNodes, HandwheelIdentifiersAreTakenOnlyWhileLinked) {
  list_.kernelObjects.handwheelCobIds = {0x060, 0x061, 0x062};
  EXPECT_EQ(IsUserCobIdFree(0, 20, 0x062, table_, list_), 1u);
  list_.kernelObjects.handwheelLinked = 1;
  for (std::uint16_t cobId : list_.kernelObjects.handwheelCobIds) {
    EXPECT_EQ(IsUserCobIdFree(0, 20, cobId, table_, list_), 0u) << cobId;
  }
}

TEST_F(ConfiguredNodes, NodeIdsInUseAreTheAxesIds) {
  EXPECT_EQ(IsNodeIdInUse(10, table_), 1u);
  EXPECT_EQ(IsNodeIdInUse(11, table_), 1u);
  EXPECT_EQ(IsNodeIdInUse(1, table_), 0u);
  // Axis slots beyond a node's axis count are not its axes.
  owned_[0]->axisCount = 1;
  EXPECT_EQ(IsNodeIdInUse(11, table_), 0u);
}

TEST_F(ConfiguredNodes, ApplicationFrameAdmission) {
  struct Case {
    const char* what;
    std::uint16_t cobId;
    std::array<std::uint8_t, 8> data;
    std::uint8_t length;
    std::uint16_t answerCobId;
    bool admitted;
    bool kernelNode;
  };
  const Case cases[] = {
      {"NMT to a configured node", 0x000, {0x01, 0x01}, 2, 0, false, false},
      {"NMT broadcast", 0x000, {0x01, 0x00}, 2, 0, true, false},
      {"NMT to an unconfigured node", 0x000, {0x81, 0x14}, 2, 0, true, false},
      {"SYNC", 0x080, {}, 0, 0, false, false},
      {"time stamp", 0x100, {}, 0, 0, false, false},
      {"a frame without an answer", 0x020, {0x01}, 1, 0x000, false, false},
      {"an answer on SYNC", 0x020, {0x01}, 1, 0x080, false, false},
      {"a node's TPDO", 0x181, {}, 0, 0, false, false},
      {"a node's RPDO", 0x502, {0x01}, 1, 0x021, false, false},
      {"a node's emergency", 0x081, {}, 0, 0, false, false},
      {"an answer on a node's guarding", 0x020, {0x01}, 1, 0x701, false, false},
      {"remote request to a node's SDO", 0x601, {}, 0, 0, true, true},
      {"upload from a node", 0x601, {0x40, 0x41, 0x60, 0x00}, 8, 0x581, true, true},
      {"segment upload from a node", 0x602, {0x60}, 8, 0x582, true, true},
      {"abort to a node", 0x601, {0x80, 0x41, 0x60}, 8, 0x581, true, true},
      {"abort with another answer", 0x601, {0x80}, 8, 0x590, true, true},
      {"upload with another answer", 0x601, {0x40, 0x41, 0x60}, 8, 0x590, false, false},
      {"controlword download", 0x601, {0x2B, 0x40, 0x60, 0x00}, 8, 0x581, false, false},
      {"digital outputs sub 0", 0x601, {0x23, 0xFE, 0x60, 0x00}, 8, 0x581, true, true},
      {"digital outputs sub 1", 0x601, {0x23, 0xFE, 0x60, 0x01}, 8, 0x581, false, false},
      {"drive option sub 7", 0x601, {0x2F, 0x10, 0x65, 0x07}, 8, 0x581, true, true},
      {"drive option sub 6", 0x601, {0x2F, 0x10, 0x65, 0x06}, 8, 0x581, false, false},
      {"maker object sub 10", 0x601, {0x2F, 0x43, 0x20, 0x0A}, 8, 0x581, true, true},
      {"maker object sub 1", 0x601, {0x2F, 0x43, 0x20, 0x01}, 8, 0x581, false, false},
      {"maker range any sub", 0x601, {0x23, 0x4F, 0x20, 0x09}, 8, 0x581, true, true},
      {"maker range end", 0x601, {0x23, 0xD4, 0x27, 0x02}, 8, 0x581, true, true},
      {"past a maker range", 0x601, {0x23, 0xD5, 0x27, 0x02}, 8, 0x581, false, false},
      {"block transfer specifier", 0x601, {0xC0, 0x41, 0x60}, 8, 0x581, false, false},
      {"a node's SDO answer to a stranger", 0x620, {0x40}, 8, 0x581, false, false},
      {"an axis's SDO upload", 0x60A, {0x40, 0x41, 0x60}, 8, 0x58A, true, true},
      {"an axis's controlword", 0x60B, {0x2B, 0x40, 0x60}, 8, 0x58B, false, false},
      {"an axis's TPDO", 0x18A, {}, 0, 0, false, false},
      {"an axis's SDO answer to a stranger", 0x620, {0x40}, 8, 0x58A, false, false},
      {"a list object", 0x050, {}, 0, 0, false, false},
      {"an answer on a list object", 0x620, {0x40}, 8, 0x050, false, false},
      {"a stranger's SDO", 0x620, {0x40, 0x41, 0x60}, 8, 0x5A0, true, false},
  };
  for (const Case& c : cases) {
    const CanRequestFrame frame{c.cobId, c.data, c.length, c.answerCobId};
    const CanRequestAdmission admission = CheckApplicationCanRequest(frame, true, table_, list_);
    EXPECT_EQ(admission.admitted, c.admitted) << c.what;
    EXPECT_EQ(admission.kernelNodeRequest, c.kernelNode) << c.what;
  }
}

TEST_F(ConfiguredNodes, OutsideCncModeEveryFrameIsAdmitted) {
  const CanRequestFrame toNode{0x601, {0x2B, 0x40, 0x60}, 8, 0x581};
  const CanRequestAdmission admission = CheckApplicationCanRequest(toNode, false, table_, list_);
  EXPECT_TRUE(admission.admitted);
  EXPECT_FALSE(admission.kernelNodeRequest);
}

TEST_F(ConfiguredNodes, DroppingNodeObjectsTakesOnlyGuardingObjectsOfGuardedIds) {
  owned_[1]->guarded = 1;
  CanObjectParameters guarding;
  guarding.guarding = 1;
  guarding.length = 1;
  guarding.answerTimeout = 100;
  guarding.period = 100;
  for (std::uint16_t cobId : {0x702, 0x70B, 0x70A}) {
    guarding.cobId = cobId;
    ASSERT_NE(AppendCanObject(list_, guarding), nullptr);
  }
  const std::size_t freeBefore = list_.pool.FreeCount();
  DropNodeCanObjects(list_, table_);
  EXPECT_EQ(FindCanObject(0x702, list_), nullptr);
  EXPECT_EQ(FindCanObject(0x70B, list_), nullptr);
  // Axis 10 is not guarded: its object stays, as does the user object.
  EXPECT_NE(FindCanObject(0x70A, list_), nullptr);
  EXPECT_NE(FindCanObject(0x050, list_), nullptr);
  EXPECT_EQ(list_.pool.FreeCount(), freeBefore + 2);
}

}  // namespace
}  // namespace vantor::canopen

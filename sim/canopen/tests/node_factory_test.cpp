#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/canopen/node_factory.h"
#include "sim/canopen/tests/node_harness.h"

namespace vantor::sim::canopen {
namespace {

using nlohmann::json;
using nodetest::Frame;
using nodetest::kMs;
using ::testing::HasSubstr;

TEST(NodeFactory, AGenericNodeTakesItsOptions) {
  const json options = {{"boot_time_ms", 250},
                        {"bit_rate", "500000"},
                        {"device_type", "0x00020192"},
                        {"software_version", "HRX37 K905 01.40.02 x"},
                        {"guard_time_ms", 100},
                        {"life_time_factor", 3},
                        {"short_expedited_upload", true},
                        {"absent_objects", {"1018:04", "1013"}}};
  NodeCreation creation = CreateNode("generic", 9, options);
  ASSERT_NE(creation.station, nullptr) << creation.error;
  NodeStation& station = *creation.station;
  const ObjectDictionary& objects = station.Node().Objects();
  EXPECT_EQ(station.Node().Id(), 9);
  EXPECT_EQ(station.BitTime(), 2000u);
  EXPECT_EQ(station.NextDeadline(), 250 * kMs);
  EXPECT_EQ(objects.Unsigned(0x1000, 0), 0x00020192u);
  EXPECT_EQ(objects.Find(0x100A, 0)->Text(), "HRX37 K905 01.40.02 x");
  EXPECT_EQ(objects.Unsigned(0x100C, 0), 100u);
  EXPECT_EQ(objects.Unsigned(0x100D, 0), 3u);
  EXPECT_EQ(objects.Locate(0x1018, 4), SdoAbortCode::kSubindexMissing);
  EXPECT_EQ(objects.Locate(0x1013, 0), SdoAbortCode::kObjectMissing);

  station.AdvanceTo(250 * kMs);
  ASSERT_EQ(station.FrameToSend(), Frame(0x709, {0x00}));
  station.FrameSent(250 * kMs);
  station.FrameReceived(Frame(0x609, {0x40, 0x0D, 0x10, 0x00, 0, 0, 0, 0}), 251 * kMs);
  EXPECT_EQ(station.FrameToSend(), Frame(0x589, {0x4F, 0x0D, 0x10, 0x00, 3}));
}

TEST(NodeFactory, BadDescriptionsAreRefusedWithAReason) {
  struct Case {
    const char* name;
    std::string kind;
    unsigned nodeId;
    json options;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"unknown kind", "servo", 5, json::object(), "unknown node kind 'servo'"},
      {"node id 0", "generic", 0, json::object(), "outside 1..127"},
      {"node id 128", "generic", 128, json::object(), "outside 1..127"},
      {"options not an object", "generic", 5, json::array(), "must be a JSON object"},
      {"typing slip", "generic", 5, {{"boot_time", 5}}, "unknown node option 'boot_time'"},
      {"negative boot time", "generic", 5, {{"boot_time_ms", -1}}, "'boot_time_ms'"},
      {"guard time too large", "generic", 5, {{"guard_time_ms", 70000}}, "'guard_time_ms'"},
      {"bit rate 0", "generic", 5, {{"bit_rate", 0}}, "'bit_rate'"},
      {"bit rate above 1 Mbit/s", "generic", 5, {{"bit_rate", 2000000}}, "'bit_rate'"},
      {"name not a string", "generic", 5, {{"device_name", 5}}, "'device_name'"},
      {"flag not a bool",
       "generic",
       5,
       {{"short_expedited_upload", 1}},
       "'short_expedited_upload'"},
      {"leniency not a bool",
       "generic",
       5,
       {{"short_sdo_requests", "yes"}},
       "'short_sdo_requests'"},
      {"write-order leniency not a bool",
       "generic",
       5,
       {{"pdo_changes_while_valid", 0}},
       "'pdo_changes_while_valid'"},
      {"bad hex number", "generic", 5, {{"vendor_id", "0xZZ"}}, "'vendor_id'"},
      {"absent object not text", "generic", 5, {{"absent_objects", {0x1013}}}, "'absent_objects'"},
      {"absent subindex too large",
       "generic",
       5,
       {{"absent_objects", {"1018:100"}}},
       "'absent_objects'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NodeCreation creation = CreateNode(c.kind, c.nodeId, c.options);
    EXPECT_EQ(creation.station, nullptr);
    EXPECT_THAT(creation.error, HasSubstr(c.reason));
  }
}

TEST(NodeFactory, TheWriteOrderLeniencyIsOnUnlessTheDescriptionTurnsItOff) {
  struct Case {
    const char* name;
    json options;
    SdoAbortCode answer;
  };
  const std::vector<Case> cases = {
      {"not given", json::object(), SdoAbortCode::kNone},
      {"on", {{"pdo_changes_while_valid", true}}, SdoAbortCode::kNone},
      {"off", {{"pdo_changes_while_valid", false}}, SdoAbortCode::kDeviceState},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NodeCreation creation = CreateNode("generic", 5, c.options);
    ASSERT_NE(creation.station, nullptr) << creation.error;
    // A new transmission type for receive PDO 1, which is valid from the start.
    const std::uint8_t synchronous = 0;
    EXPECT_EQ(
        creation.station->Node().Objects().Write(0x1400, 2, {&synchronous, 1}, WriteOrigin::kSdo),
        c.answer);
  }
}

TEST(NodeFactory, AMachineDescriptionEntryNamesTheNodeId) {
  NodeCreation creation =
      CreateNodeFromEntry("generic", json{{"kind", "canopen_generic"}, {"node_id", "0x12"}});
  ASSERT_NE(creation.station, nullptr) << creation.error;
  EXPECT_EQ(creation.station->Node().Id(), 0x12);
  EXPECT_THAT(CreateNodeFromEntry("generic", json{{"kind", "canopen_generic"}}).error,
              HasSubstr("'node_id' is missing"));
}

// A kind of the test's own: its "probe_level" becomes the device type, and
// level 0 is refused by the build function itself.
bool BuildProbeNode(NodeStation& station, const json& options, std::string& error) {
  const unsigned level = options.value("probe_level", 1u);
  if (level == 0) {
    error = "probe level 0 is no level";
    return false;
  }
  station.Node().Objects().SetDefaultUnsigned(0x1000, 0, level);
  return true;
}

bool RefuseEverything(NodeStation& /*station*/, const json& /*options*/, std::string& error) {
  error = "the impostor was used";
  return false;
}

// Once per process, so that the test also holds when repeated.
bool RegisterProbeKind() {
  static const bool registered = RegisterNodeKind({"probe", {"probe_level"}, &BuildProbeNode});
  return registered;
}

TEST(NodeKindRegistration, UnusableOrTakenDefinitionsAreRefused) {
  ASSERT_TRUE(RegisterProbeKind());
  struct Case {
    const char* name;
    NodeKindDefinition kind;
  };
  const std::vector<Case> cases = {
      {"the built-in kind's name", {"generic", {}, &RefuseEverything}},
      {"a registered kind's name", {"probe", {"probe_level"}, &RefuseEverything}},
      {"no name", {"", {}, &BuildProbeNode}},
      {"no build function", {"probe_without_build", {}, nullptr}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(RegisterNodeKind(c.kind));
  }
  // The first definitions stay in force.
  EXPECT_NE(CreateNode("generic", 5, json::object()).station, nullptr);
  EXPECT_NE(CreateNode("probe", 5, json::object()).station, nullptr);
  EXPECT_EQ(CreateNode("probe_without_build", 5, json::object()).error,
            "unknown node kind 'probe_without_build'");
  const std::vector<std::string_view> names = NodeKindNames();
  EXPECT_EQ(names.front(), "generic");
  EXPECT_EQ(std::count(names.begin(), names.end(), "probe"), 1);
}

TEST(NodeKindRegistration, ARegisteredKindIsCreatedWithItsOptions) {
  ASSERT_TRUE(RegisterProbeKind());
  struct Case {
    const char* name;
    json options;
    const char* reason;  // empty: the node is created
    std::uint32_t deviceType;
  };
  const std::vector<Case> cases = {
      {"its own option", {{"probe_level", 7}}, "", 7},
      {"the common options", {{"boot_time_ms", 5}, {"device_name", "probe"}}, "", 1},
      {"an option of no kind", {{"probe_levle", 7}}, "unknown node option 'probe_levle'", 0},
      {"a common option malformed", {{"bit_rate", 0}}, "'bit_rate'", 0},
      {"an option its build refuses", {{"probe_level", 0}}, "probe level 0 is no level", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NodeCreation creation = CreateNode("probe", 5, c.options);
    if (std::string_view(c.reason).empty()) {
      ASSERT_NE(creation.station, nullptr) << creation.error;
      EXPECT_EQ(creation.station->Node().Objects().Unsigned(0x1000, 0), c.deviceType);
    } else {
      EXPECT_EQ(creation.station, nullptr);
      EXPECT_THAT(creation.error, HasSubstr(c.reason));
    }
  }
  // The generic kind does not take the probe's option.
  EXPECT_THAT(CreateNode("generic", 5, {{"probe_level", 7}}).error,
              HasSubstr("unknown node option 'probe_level'"));
}

TEST(NodeStationQueue, TheFrontFrameStaysUntilSentAndBusOffDropsTheQueue) {
  NodeOptions options;
  options.nodeId = 3;
  NodeStation station(options);
  station.AdvanceTo(0);
  station.FrameReceived(nodetest::Remote(0x703), 0);
  ASSERT_EQ(station.PendingFrames(), 2u);
  EXPECT_EQ(station.FrameToSend(), Frame(0x703, {0x00}));
  station.FrameFailed(CanTransmitError::kNoAcknowledge, 1);
  EXPECT_EQ(station.FrameToSend(), Frame(0x703, {0x00}));
  station.FrameSent(2);
  EXPECT_EQ(station.FrameToSend(), Frame(0x703, {0x7F}));
  station.FrameFailed(CanTransmitError::kBusOff, 3);
  EXPECT_EQ(station.FrameToSend(), std::nullopt);
}

TEST(NodeStationQueue, AFullQueueDropsAndCountsTheNewestFrames) {
  NodeOptions options;
  options.nodeId = 3;
  NodeStation station(options);
  station.AdvanceTo(0);
  for (std::size_t i = 0; i < NodeStation::kTransmitQueueCapacity + 4; ++i) {
    station.FrameReceived(nodetest::Remote(0x703), 0);
  }
  EXPECT_EQ(station.PendingFrames(), NodeStation::kTransmitQueueCapacity);
  EXPECT_EQ(station.DroppedFrames(), 5u);
  EXPECT_EQ(station.FrameToSend(), Frame(0x703, {0x00}));
}

}  // namespace
}  // namespace vantor::sim::canopen

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/canopen/node_factory.h"
#include "sim/drives/drive_config.h"
#include "sim/drives/drive_kinds.h"

namespace vantor::sim::drives {
namespace {

using ::testing::HasSubstr;

class DeviceKindsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterDeviceNodeKinds()); }
};

TEST_F(DeviceKindsTest, FactoryBuildsEachKindWithItsIdentity) {
  auto drive = canopen::CreateNode("ds402_drive", 3, nlohmann::json{{"variant", "dual"}});
  ASSERT_NE(drive.station, nullptr) << drive.error;
  EXPECT_EQ(drive.station->Node().Objects().Find(0x100A, 0)->Text(),
            ModuleText(DriveVariant::kDual));
  EXPECT_EQ(drive.station->Node().Objects().Unsigned(0x1000, 0), 0x00020192u);

  auto gateway = canopen::CreateNode("handwheel_gateway", 20, nlohmann::json::object());
  ASSERT_NE(gateway.station, nullptr) << gateway.error;
  EXPECT_NE(gateway.station->Node().Objects().Find(0x1008, 0)->Text().find("UNIGATE ICCO-SC"),
            std::string::npos);

  auto io = canopen::CreateNode("io_module", 10, nlohmann::json::object());
  ASSERT_NE(io.station, nullptr) << io.error;
  EXPECT_TRUE(io.station->Node().Objects().Find(0x6000, 1) != nullptr);
}

TEST_F(DeviceKindsTest, BehaviourOptionsReachTheDrive) {
  auto drive = canopen::CreateNode("ds402_drive", 3, nlohmann::json{{"quick_stop_option_code", 2}});
  ASSERT_NE(drive.station, nullptr) << drive.error;
  EXPECT_EQ(drive.station->Node().Objects().Unsigned(0x605A, 0), 2u);
  EXPECT_EQ(drive.station->Node().Objects().Unsigned(0x6007, 0), 3u);  // quick stop
  EXPECT_EQ(drive.station->Node().Objects().Unsigned(0x1029, 1), 0u);  // to pre-operational
}

// The maximum acceleration is the drive's stored one: a reset node brings
// it back, not the delivery value.
TEST_F(DeviceKindsTest, TheStoredMaximumAccelerationOutlivesAResetNode) {
  auto drive = canopen::CreateNode("ds402_drive", 3, nlohmann::json{{"max_acceleration", 40000}});
  ASSERT_NE(drive.station, nullptr) << drive.error;
  canopen::ObjectDictionary& objects = drive.station->Node().Objects();
  EXPECT_EQ(objects.Unsigned(0x60C5, 0), 40000u);
  ASSERT_TRUE(objects.SetUnsigned(0x60C5, 0, 3000));
  EXPECT_EQ(objects.Unsigned(0x60C5, 0), 3000u);
  objects.RestoreDefaults(0x0000, 0xFFFF);
  EXPECT_EQ(objects.Unsigned(0x60C5, 0), 40000u);
}

TEST_F(DeviceKindsTest, RegisteringAgainChangesNothing) {
  EXPECT_TRUE(RegisterDeviceNodeKinds());
  const std::vector<std::string_view> names = canopen::NodeKindNames();
  for (const char* kind : {"ds402_drive", "io_module", "handwheel_gateway"}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), kind), 1) << kind;
  }
}

// A drive option that cannot be used fails the node's creation with the
// option's own reason, instead of building a drive stuck in fault.
TEST_F(DeviceKindsTest, DescriptionSlipsFailTheCreation) {
  struct Case {
    const char* name;
    nlohmann::json options;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"misspelt option", {{"home_swich", 5}}, "unknown node option 'home_swich'"},
      {"index spacing 0", {{"index_spacing", 0}}, "'index_spacing' must be above 0"},
      {"unknown variant", {{"variant", "turbo"}}, "'variant' must be"},
      {"limits crossed",
       {{"negative_limit", 5}, {"positive_limit", 5}},
       "'negative_limit' must lie below 'positive_limit'"},
      {"position out of range", {{"start_position", 3000000000}}, "'start_position'"},
      {"flag not a bool", {{"gantry_pdo_homing", 1}}, "'gantry_pdo_homing'"},
      {"position factor of 0", {{"position_factor_divisor", 0}}, "'position_factor_divisor'"},
      {"no acceleration", {{"max_acceleration", 0}}, "'max_acceleration' must be above 0"},
      {"quick stop code without a ramp",
       {{"quick_stop_option_code", 3}},
       "'quick_stop_option_code' must be 1, 2, 5 or 6"},
      {"no missed SYNC allowed", {{"missed_sync_limit", 0}}, "'missed_sync_limit' must be above 0"},
      {"leniency not a bool",
       {{"enable_from_ready_to_switch_on", "yes"}},
       "'enable_from_ready_to_switch_on'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const canopen::NodeCreation creation = canopen::CreateNode("ds402_drive", 3, c.options);
    EXPECT_EQ(creation.station, nullptr);
    EXPECT_THAT(creation.error, HasSubstr(c.reason));
  }
}

TEST(DriveConfigTest, OptionsAreCheckedOneByOne) {
  struct Case {
    const char* json;
    bool ok;
  };
  for (const Case& c :
       {Case{R"({"negative_limit": -5, "positive_limit": "0x10"})", true},
        Case{R"({"negative_limit": 5, "positive_limit": 5})", false},
        Case{R"({"index_spacing": -1})", false}, Case{R"({"start_position": 3000000000})", false},
        Case{R"({"home_switch": "12a"})", false}, Case{R"({"variant": "turbo"})", false},
        Case{R"({"gantry_pdo_homing": 1})", false}, Case{R"({"start_position": "-0x10"})", true},
        Case{R"({"quick_stop_option_code": 5, "missed_sync_limit": "0x20"})", true},
        Case{R"({"quick_stop_option_code": 0})", false},
        Case{R"({"missed_sync_limit": -3})", false},
        Case{R"({"enable_from_ready_to_switch_on": false})", true}}) {
    DriveConfig config;
    std::string error;
    EXPECT_EQ(ParseDriveConfig(nlohmann::json::parse(c.json), config, error), c.ok) << c.json;
    EXPECT_EQ(error.empty(), c.ok) << c.json;
  }
}

}  // namespace
}  // namespace vantor::sim::drives

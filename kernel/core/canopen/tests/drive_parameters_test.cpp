#include "kernel/core/canopen/drive_parameters.h"

#include <gtest/gtest.h>

#include <functional>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
constexpr common::StatusCode kOk = common::kKernelSuccess;

// A drive whose parameters pass the rule: gear 4/2, velocities scaled.
void DefineDriveParameters(testing::SdoServer& drive) {
  drive.Define(0x607F, 0, 4, 8000);
  drive.Define(0x60C5, 0, 4, 4000);
  drive.Define(0x2040, 0, 4, 6000);
  drive.Define(0x6083, 0, 4, 300);
  drive.Define(0x60FF, 0, 4, 0xFFFFFF38);  // -200
  drive.Define(0x6081, 0, 4, 500);
  drive.Define(0x6082, 0, 4, 50);
  drive.Define(0x60FB, 6, 1, 0x21);
  drive.Define(0x60FB, 5, 2, 12);
  drive.Define(0x6093, 1, 4, 4);
  drive.Define(0x6093, 2, 4, 2);
  drive.Define(0x2041, 0, 1, 0);
  drive.Define(0x608A, 0, 1, 0);
  drive.Define(0x607C, 0, 4, 0xFFFFFF9C);  // -100
  drive.Define(0x6098, 0, 1, 3);
  drive.Define(0x6099, 1, 4, 40);
  drive.Define(0x6099, 2, 4, 10);
  drive.Define(0x609A, 0, 4, 70);
  drive.Define(0x6510, 13, 4, 25);
  drive.Define(0x607E, 0, 1, 0xC0);
}

// Drives 5 and 7 as nodes; node 5 also leads axis drive 6.
class DriveParameterServices : public ::testing::Test {
 protected:
  DriveParameterServices()
      : nodes({5, 7}, {{6}}),
        drive5(5),
        drive6(6),
        drive7(7),
        host(nodes.table, bus),
        context{host, nodes.table} {
    for (testing::SdoServer* drive : {&drive5, &drive6, &drive7}) {
      DefineDriveParameters(*drive);
      bus.Attach(*drive);
    }
  }

  std::vector<testing::LoggedFrame> DownloadsTo(std::uint8_t id) const {
    std::vector<testing::LoggedFrame> out;
    for (const auto& frame : bus.frames) {
      if (frame.cobId == 0x600 + id && (frame.data[0] & 0xE0) == 0x20) out.push_back(frame);
    }
    return out;
  }

  testing::TestNodes nodes;
  testing::SdoServer drive5;
  testing::SdoServer drive6;
  testing::SdoServer drive7;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(DriveParameterServices, ReadOutConvertsScalesAndKeepsAReference) {
  drive7.Define(0x608A, 0, 1, 1);  // drive 7 does not scale its velocities
  EXPECT_EQ(ReadDriveParameters(context), kOk);
  const DriveParameters& node5 = nodes[0].drive;
  EXPECT_DOUBLE_EQ(node5.maxProfileVelocity, 4000.0);  // 8000 over ratio 2
  EXPECT_DOUBLE_EQ(node5.maxAcceleration, 2000.0);
  EXPECT_DOUBLE_EQ(node5.maxVelocity, 3000.0);
  EXPECT_DOUBLE_EQ(node5.targetVelocity, -200.0);
  EXPECT_DOUBLE_EQ(node5.homing.homeOffset, -100.0);
  EXPECT_DOUBLE_EQ(node5.homeSwitchDistance, 25.0);
  EXPECT_EQ(node5.positionOption, 0x21);
  EXPECT_EQ(node5.positionOptionSubindex, 6);
  EXPECT_EQ(node5.polarity, 0xC0);
  EXPECT_EQ(node5.directionFlag, 1u);
  EXPECT_EQ(node5.velocityScaling, 1u);
  EXPECT_EQ(nodes[0].gear.numerator, 4u);
  EXPECT_EQ(nodes[0].gear.denominator, 2u);
  EXPECT_DOUBLE_EQ(nodes[0].scalingDivisor, 2.0);
  EXPECT_EQ(nodes[0].reference.gear.numerator, 4u);
  EXPECT_DOUBLE_EQ(nodes[0].reference.drive.maxVelocity, 3000.0);
  EXPECT_DOUBLE_EQ(nodes[1].drive.maxProfileVelocity, 8000.0) << "no scaling: no division";
  EXPECT_EQ(nodes[1].drive.velocityScaling, 0u);
  // The axis's own values are in its record.
  EXPECT_DOUBLE_EQ(nodes[0].axes[0].drive.profileVelocity, 500.0);
  EXPECT_EQ(nodes[0].axes[0].axisResult, kOk);
  // The homing values, which the reset writes back, are those read.
  for (const HomingParameters* homing : {&nodes[0].drive.homing, &nodes[0].axes[0].drive.homing}) {
    EXPECT_EQ(homing->method, 3);
    EXPECT_DOUBLE_EQ(homing->homeOffset, -100.0);
    EXPECT_DOUBLE_EQ(homing->switchSearchSpeed, 40.0);
    EXPECT_DOUBLE_EQ(homing->zeroSearchSpeed, 10.0);
    EXPECT_DOUBLE_EQ(homing->acceleration, 70.0);
  }
  // Method 3 adds the home-switch distance.
  EXPECT_DOUBLE_EQ(HomePositionOffset(nodes.table, 1, -1), -75.0);
  EXPECT_DOUBLE_EQ(HomePositionOffset(nodes.table, 1, 1), 0.0) << "no second axis";
  EXPECT_DOUBLE_EQ(HomePositionOffset(nodes.table, 3, -1), 0.0) << "no third node";
}

TEST_F(DriveParameterServices, EachZeroParameterFailsItsNode) {
  struct Case {
    std::uint16_t index;
    std::uint8_t subindex;
    std::uint8_t size;
    std::uint32_t value;
  };
  const Case cases[] = {{0x607F, 0, 4, 0},          {0x60C5, 0, 4, 0}, {0x2040, 0, 4, 0},
                        {0x60FB, 5, 2, 0},          {0x6093, 1, 4, 0}, {0x6093, 2, 4, 0},
                        {0x6099, 1, 4, 0},          {0x6099, 2, 4, 0}, {0x609A, 0, 4, 0},
                        {0x6510, 13, 4, 0xFFFFFFFF}};  // a negative home-switch distance
  for (const Case& c : cases) {
    DefineDriveParameters(drive7);
    drive7.Define(c.index, c.subindex, c.size, c.value);
    EXPECT_EQ(ReadDriveParameters(context), common::kKernelOperationFailed)
        << std::hex << c.index << "/" << int{c.subindex};
    EXPECT_EQ(nodes[1].request.lastResult, common::kKernelNodeParameterInvalid)
        << std::hex << c.index << "/" << int{c.subindex};
    EXPECT_EQ(nodes[0].request.lastResult, kOk);
  }
}

TEST_F(DriveParameterServices, OlderDrivesUseSub4AndMayLackTheHomeSwitchDistance) {
  // Rebuild drive 7 without 0x60FB sub 6 and 0x6510 sub 13.
  testing::SdoServer compact(7);
  for (const auto& [index, sub, size, value] :
       std::vector<std::tuple<std::uint16_t, std::uint8_t, std::uint8_t, std::uint32_t>>{
           {0x607F, 0, 4, 8000},
           {0x60C5, 0, 4, 4000},
           {0x2040, 0, 4, 6000},
           {0x6083, 0, 4, 300},
           {0x60FF, 0, 4, 0},
           {0x6081, 0, 4, 500},
           {0x6082, 0, 4, 50},
           {0x60FB, 4, 1, 0x11},
           {0x60FB, 5, 2, 12},
           {0x6093, 1, 4, 1},
           {0x6093, 2, 4, 1},
           {0x2041, 0, 1, 1},
           {0x608A, 0, 1, 1},
           {0x607C, 0, 4, 0},
           {0x6098, 0, 1, 1},
           {0x6099, 1, 4, 40},
           {0x6099, 2, 4, 10},
           {0x609A, 0, 4, 70},
           {0x607E, 0, 1, 0}}) {
    compact.Define(index, sub, size, value);
  }
  testing::FakeBus compactBus;
  compactBus.Attach(drive5);
  compactBus.Attach(drive6);
  compactBus.Attach(compact);
  testing::FakeHost compactHost(nodes.table, compactBus);
  ServiceContext compactContext{compactHost, nodes.table};

  EXPECT_EQ(ReadDriveParameters(compactContext), kOk);
  EXPECT_EQ(nodes[1].drive.positionOptionSubindex, 4);
  EXPECT_EQ(nodes[1].drive.positionOption, 0x11);
  EXPECT_DOUBLE_EQ(nodes[1].drive.homeSwitchDistance, 0.0);
  EXPECT_DOUBLE_EQ(HomePositionOffset(nodes.table, 2, -1), 0.0);

  compactHost.working.positionOption = true;
  EXPECT_EQ(WritePositionOption(compactContext, 1), kOk);
  EXPECT_EQ(compact.Value(0x60FB, 4), 0u);
  EXPECT_EQ(drive5.Value(0x60FB, 6), 0u);
  EXPECT_EQ(WritePositionOption(compactContext, 0), kOk);
  EXPECT_EQ(compact.Value(0x60FB, 4), 0x11u) << "the byte read at start-up";
  EXPECT_EQ(drive5.Value(0x60FB, 6), 0x21u);
  EXPECT_EQ(drive6.Value(0x60FB, 6), 0x21u) << "the axis takes its own byte";
}

TEST_F(DriveParameterServices, NothingIsReadUnlessAResetIsPending) {
  host.resetPending = false;
  EXPECT_EQ(ReadDriveParameters(context), kOk);
  EXPECT_TRUE(bus.frames.empty());
}

TEST_F(DriveParameterServices, AnAxisWithAnotherGearThanItsNodeFails) {
  drive6.Define(0x6093, 2, 4, 3);
  EXPECT_EQ(ReadDriveParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_EQ(nodes[0].axes[0].axisResult, common::kKernelNodeParameterInvalid);

  DefineDriveParameters(drive6);
  drive6.Define(0x608A, 0, 1, 1);  // the velocity-scaling flag differs
  EXPECT_EQ(ReadDriveParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].axes[0].axisResult, common::kKernelNodeParameterInvalid);
}

TEST_F(DriveParameterServices, WorkingValuesGoToNodesAndAxes) {
  ASSERT_EQ(ReadDriveParameters(context), kOk);
  host.working = {.cycleDivider = 2, .pathBufferDepth = 20, .teachInBufferDepth = 8};
  struct Case {
    const char* name;
    std::function<common::StatusCode()> run;
    std::uint16_t index;
    std::uint8_t subindex;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"path depth", [&] { return WriteBufferDepth(context, 0); }, 0x60C4, 2, 20},
      {"teach-in depth", [&] { return WriteBufferDepth(context, 1); }, 0x60C4, 2, 8},
      {"period", [&] { return WriteInterpolationPeriod(context); }, 0x60C2, 1, 1024},
      {"period unit", [&] { return WriteInterpolationPeriod(context); }, 0x60C2, 2, 0xFA},
      {"sub-mode", [&] { return WriteInterpolationSubMode(context); }, 0x60C0, 0, 0xFFFF},
      {"target velocity", [&] { return RestoreProfileParameters(context); }, 0x60FF, 0, 0xFFFFFF38},
      {"end velocity", [&] { return RestoreProfileParameters(context); }, 0x6082, 0, 50},
  };
  for (const Case& c : cases) {
    for (testing::SdoServer* drive : {&drive5, &drive6, &drive7}) {
      for (const Case& other : cases) drive->Define(other.index, other.subindex, 4, 0x5A5A);
    }
    EXPECT_EQ(c.run(), kOk) << c.name;
    for (testing::SdoServer* drive : {&drive5, &drive6, &drive7}) {
      EXPECT_EQ(drive->Value(c.index, c.subindex), c.expected)
          << c.name << " " << int{drive->nodeId()};
    }
  }
}

TEST_F(DriveParameterServices, BridgingOffFreesBothSwitchesOfEveryNode) {
  for (std::size_t k = 0; k < 2; ++k) {
    nodes[k].SetFlagInBothRows(StatusFlag::F, false);
    nodes[k].SetFlagInBothRows(StatusFlag::E, false);
  }
  for (testing::SdoServer* drive : {&drive5, &drive6, &drive7}) drive->Define(0x2054, 0, 1, 7);
  EXPECT_EQ(SetLimitSwitchBridging(context, true, true), kOk);
  EXPECT_TRUE(host.limitSwitchBridge);
  EXPECT_EQ(drive6.Value(0x2054, 0), 1u);
  EXPECT_FALSE(nodes[0].current.Has(StatusFlag::F)) << "switching on leaves the flags";

  EXPECT_EQ(SetLimitSwitchBridging(context, false, true), kOk);
  EXPECT_FALSE(host.limitSwitchBridge);
  for (std::size_t k = 0; k < 2; ++k) {
    for (StatusFlag flag : {StatusFlag::F, StatusFlag::E}) {
      EXPECT_TRUE(nodes[k].latched.Has(flag)) << k;
      EXPECT_TRUE(nodes[k].current.Has(flag)) << k;
    }
  }
  EXPECT_EQ(drive5.Value(0x2054, 0), 0u);
  EXPECT_EQ(drive6.Value(0x2054, 0), 0u);

  drive7.silent = true;
  EXPECT_EQ(SetLimitSwitchBridging(context, true, false), common::kKernelOperationFailed);
  EXPECT_FALSE(host.limitSwitchBridge) << "a failure leaves the flag";
  EXPECT_EQ(nodes[1].request.lastResult, kOk) << "not collected";
}

TEST_F(DriveParameterServices, GearChangeRescalesAndTheRestoreGoesBack) {
  ASSERT_EQ(ReadDriveParameters(context), kOk);  // ratio 2
  nodes[0].position = 1000.0;
  nodes[0].softwareLimit2 = 400.0;
  nodes[0].profileVelocity = 60.0;
  EXPECT_EQ(SetGearRatio(context, 0, 8, 1), kOk);  // ratio 8: factor 1/4
  EXPECT_EQ(drive5.Value(0x6093, 1), 8u);
  EXPECT_EQ(drive5.Value(0x6093, 2), 1u);
  EXPECT_DOUBLE_EQ(nodes[0].position, 250.0);
  EXPECT_DOUBLE_EQ(nodes[0].softwareLimit2, 100.0);
  EXPECT_DOUBLE_EQ(nodes[0].profileVelocity, 15.0);
  EXPECT_DOUBLE_EQ(nodes[0].drive.maxVelocity, 750.0);
  EXPECT_DOUBLE_EQ(nodes[0].axes[0].drive.profileVelocity, 125.0);
  EXPECT_EQ(nodes[0].gear.changed, 1u);
  EXPECT_EQ(drive7.Value(0x6093, 1), 4u) << "only the one node";

  EXPECT_EQ(RestoreGearRatios(context), kOk);
  EXPECT_EQ(drive5.Value(0x6093, 1), 4u);
  EXPECT_EQ(drive5.Value(0x6093, 2), 2u);
  EXPECT_DOUBLE_EQ(nodes[0].position, 1000.0);
  EXPECT_DOUBLE_EQ(nodes[0].softwareLimit2, 400.0);
  EXPECT_DOUBLE_EQ(nodes[0].scalingDivisor, 2.0);
  EXPECT_EQ(nodes[0].gear.changed, 0u);

  // Nothing changed: nothing is sent.
  const std::size_t sent = bus.frames.size();
  EXPECT_EQ(RestoreGearRatios(context), kOk);
  EXPECT_EQ(bus.frames.size(), sent);

  drive5.silent = true;
  nodes[0].SetFlagInBothRows(StatusFlag::N, true);
  EXPECT_EQ(SetGearRatio(context, 0, 3, 1), common::kKernelOperationFailed);
  EXPECT_FALSE(nodes[0].latched.Has(StatusFlag::N));
  EXPECT_FALSE(nodes[0].current.Has(StatusFlag::N));
  EXPECT_DOUBLE_EQ(nodes[0].position, 1000.0) << "a failed change rescales nothing";
}

// Node 5 homes as a gantry with the PDO and leads axes 6 and 8; node 7
// has no axes and never takes part.
TEST(GantryHomeOffsetCheck, TheFarthestDriveMustReportTheGantryPhases) {
  struct Drive {
    double homeOffset;
    std::int8_t method;
    double switchDistance;
    std::uint32_t wait;
  };
  // Which drive fails: none, the node (-1) or an axis.
  constexpr int kNone = -2;
  constexpr int kNode = -1;
  struct Case {
    const char* name;
    Drive node, axis0, axis1;
    int failing;
  };
  const Case cases[] = {
      {"axis farther and reporting", {0, 17, 0, 0}, {10, 17, 0, 1}, {5, 17, 0, 0}, kNone},
      {"axis farther and silent", {0, 17, 0, 1}, {10, 17, 0, 0}, {5, 17, 0, 1}, 0},
      {"node farthest and silent", {10, 17, 0, 0}, {5, 17, 0, 1}, {-5, 17, 0, 1}, kNode},
      {"a tie with the node stays with it", {5, 17, 0, 0}, {5, 17, 0, 1}, {5, 17, 0, 1}, kNode},
      {"a tie among axes goes to the first", {0, 17, 0, 1}, {8, 17, 0, 0}, {8, 17, 0, 1}, 0},
      {"the last axis farthest", {0, 17, 0, 1}, {8, 17, 0, 1}, {9, 17, 0, 0}, 1},
      {"method 3 adds the switch distance", {10, 17, 0, 0}, {0, 3, 20, 1}, {0, 17, 20, 0}, kNone},
      {"method 17 does not", {10, 17, 0, 1}, {0, 3, 5, 1}, {0, 17, 20, 0}, kNone},
  };
  for (const bool pdoHoming : {true, false}) {
    for (const Case& c : cases) {
      testing::TestNodes nodes({5, 7}, {{6, 8}});
      const auto put = [](DriveParameters& drive, std::uint32_t& wait, const Drive& d) {
        drive.homing.homeOffset = d.homeOffset;
        drive.homing.method = d.method;
        drive.homeSwitchDistance = d.switchDistance;
        wait = d.wait;
      };
      nodes[0].gantryPdoHoming = pdoHoming ? 1 : 0;
      put(nodes[0].drive, nodes[0].gantryWait, c.node);
      put(nodes[0].axes[0].drive, nodes[0].axes[0].gantryWait, c.axis0);
      put(nodes[0].axes[1].drive, nodes[0].axes[1].gantryWait, c.axis1);
      nodes[1].gantryPdoHoming = 1;
      nodes[1].gantryWait = 0;

      // Without the gantry PDO homing nothing is judged.
      const int failing = pdoHoming ? c.failing : kNone;
      const auto expected = [&](int drive) {
        return drive == failing ? common::kKernelNodeParameterInvalid : kOk;
      };
      SCOPED_TRACE(::testing::Message() << c.name << (pdoHoming ? "" : ", no PDO homing"));
      EXPECT_EQ(CheckGantryHomeOffsets(nodes.table), failing == kNone);
      EXPECT_EQ(nodes[0].request.lastResult, expected(kNode));
      EXPECT_EQ(nodes[0].axes[0].axisResult, expected(0));
      EXPECT_EQ(nodes[0].axes[1].axisResult, expected(1));
      EXPECT_EQ(nodes[1].request.lastResult, kOk) << "a node without axes";
    }
  }
}

TEST_F(DriveParameterServices, TheReadOutFailsAGantryWhoseFarthestDriveDoesNotReport) {
  // Axis drive 6 lies 50 beyond its node and does not report the phases.
  drive6.Define(0x607C, 0, 4, 50);
  nodes[0].gantryPdoHoming = 1;
  nodes[0].axes[0].gantryWait = 0;
  EXPECT_EQ(ReadDriveParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].axes[0].axisResult, common::kKernelNodeParameterInvalid);
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_DOUBLE_EQ(nodes[0].reference.drive.maxVelocity, 3000.0) << "the reference is kept";

  nodes[0].axes[0].gantryWait = 1;
  nodes[0].axes[0].axisResult = kOk;
  EXPECT_EQ(ReadDriveParameters(context), kOk);

  // A failed read is not judged again: the node keeps the read's cause.
  nodes[0].axes[0].gantryWait = 0;
  drive7.silent = true;
  EXPECT_EQ(ReadDriveParameters(context), common::kKernelOperationFailed);
  EXPECT_EQ(nodes[0].axes[0].axisResult, kOk);
}

TEST_F(DriveParameterServices, AStoppedCycleEndsEveryService) {
  const std::function<common::StatusCode()> services[] = {
      [&] { return ReadDriveParameters(context); },
      [&] { return WriteBufferDepth(context, 0); },
      [&] { return WriteInterpolationPeriod(context); },
      [&] { return WriteInterpolationSubMode(context); },
      [&] { return RestoreProfileParameters(context); },
      [&] { return SetLimitSwitchBridging(context, true, true); },
      [&] { return SetGearRatio(context, 1, 2, 1); },
  };
  for (std::size_t i = 0; i < std::size(services); ++i) {
    host.cycleRunning = true;
    host.endCycleAfter = 1;  // the cycle ends inside the wait
    EXPECT_EQ(services[i](), kernel::kCycleNotRunning) << i;
    EXPECT_EQ(host.cycleRunning, false) << i;
    EXPECT_EQ(services[i](), kernel::kCycleNotRunning) << i << " before arming";
    EXPECT_EQ(host.lockDepth, 0) << i;
  }
}

}  // namespace
}  // namespace vantor::canopen

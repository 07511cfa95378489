#include "kernel/core/canopen/home_axes.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "kernel/core/canopen/gantry_homing_runs.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using common::StatusCode;
using kernel::StatusFlag;
using testing::LoggedFrame;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr StatusCode kFailed = common::kKernelOperationFailed;

class BreakFlag final : public HomingBreakSignal {
 public:
  bool IsSet() noexcept override { return set; }
  void Reset() noexcept override { set = false; }
  bool set = false;
};

// A drive that takes every write and reports `statusword` on its first
// transmit PDO and on 0x6041.
struct Drive {
  explicit Drive(std::uint8_t id) : server(id) {
    server.acceptUnknownDownloads = true;
    server.Define(0x6098, 0, 1, 3);
    server.Define(0x6041, 0, 2, 0);
    server.onUpload = [this](std::uint16_t index, std::uint8_t) -> std::optional<std::uint32_t> {
      if (index == 0x6041) return statusword;
      return std::nullopt;
    };
  }
  std::uint32_t Value(std::uint16_t index, std::uint8_t subindex = 0) const {
    return server.Value(index, subindex).value_or(0xDEADBEEF);
  }
  testing::SdoServer server;
  std::uint16_t statusword = 0x1027;
};

// Nodes `ids` (with the axes of `axisIds`) whose drives all home at once.
struct Bench {
  Bench(std::vector<std::uint8_t> ids, std::vector<std::vector<std::uint32_t>> axisIds = {})
      : nodes(ids, axisIds), host(nodes.table, bus), context{host, nodes.table} {
    for (std::uint8_t id : ids) drives.push_back(std::make_unique<Drive>(id));
    for (const auto& axes : axisIds) {
      for (std::uint32_t id : axes) drives.push_back(std::make_unique<Drive>(id));
    }
    for (auto& drive : drives) bus.Attach(drive->server);
    bus.onRemoteRequest = [this](std::uint16_t cobId) -> std::optional<LoggedFrame> {
      for (auto& drive : drives) {
        if (cobId != 0x180 + drive->server.nodeId()) continue;
        if (drive->server.silent) return std::nullopt;
        if (breakAtPoll != 0 && ++polls == breakAtPoll) breakFlag.set = true;
        const std::uint16_t word = drive->statusword;
        return LoggedFrame{cobId,
                           7,
                           {0, 0, 0, 0, static_cast<std::uint8_t>(word),
                            static_cast<std::uint8_t>(word >> 8), 0, 0}};
      }
      return std::nullopt;
    };
    host.homing.breakSignal = &breakFlag;
    run.breakSignal = &breakFlag;
  }
  Drive& drive(std::uint8_t id) {
    for (auto& d : drives) {
      if (d->server.nodeId() == id) return *d;
    }
    return *drives.front();
  }
  StatusCode Home(NodeMask mask) { return HomeAxes(context, mask, run); }
  bool Homed(std::size_t k) {
    return nodes[k].latched.Has(StatusFlag::D) && nodes[k].current.Has(StatusFlag::D);
  }
  // The frames sent on an identifier, data bytes only.
  std::vector<std::vector<std::uint8_t>> FramesOn(std::uint16_t cobId) const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const LoggedFrame& f : bus.frames) {
      if (f.cobId == cobId) out.emplace_back(f.data.begin(), f.data.begin() + f.length);
    }
    return out;
  }

  testing::TestNodes nodes;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
  std::vector<std::unique_ptr<Drive>> drives;
  BreakFlag breakFlag;
  HomingRun run;
  int breakAtPoll = 0;
  int polls = 0;
};

TEST(HomeAxes, PlainAxesHomeSideBySide) {
  Bench one({5});
  ASSERT_EQ(one.Home(0b1), kOk);
  Bench three({5, 6, 7});
  for (std::size_t k = 0; k < 3; ++k) three.nodes[k].position = 50.0;
  // Bits beyond the table select nothing.
  ASSERT_EQ(three.Home(0xFF), kOk);
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(three.Homed(k));
    EXPECT_EQ(three.nodes[k].position, 0.0);
    EXPECT_EQ(three.nodes[k].request.lastResult, kOk);
    EXPECT_EQ(three.drive(static_cast<std::uint8_t>(5 + k)).Value(0x1800, 2), 1u);
  }
  // Only the transmit PDO's preparation and restore go one node after the
  // other.
  EXPECT_LT(three.host.cycles, 2 * one.host.cycles);
}

TEST(HomeAxes, BreakInThePlainRunSkipsTheGantries) {
  Bench bench({5, 6, 9}, {{}, {}, {10}});
  bench.breakAtPoll = 3;  // in the run of one plain node
  bench.drive(5).statusword = 0x0027;
  bench.drive(6).statusword = 0x0027;
  EXPECT_EQ(bench.Home(0b111), kFailed);
  int broken = 0;
  for (std::size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_FALSE(bench.Homed(k));
    EXPECT_NE(bench.nodes[k].request.lastResult, kOk);
    broken += bench.nodes[k].request.lastResult == common::kKernelHomingBroken;
    EXPECT_EQ(bench.drive(static_cast<std::uint8_t>(5 + k)).Value(0x1800, 2), 1u)
        << "the transmit PDO comes back whatever happened";
  }
  EXPECT_GE(broken, 1);
  EXPECT_FALSE(bench.breakFlag.set);
  EXPECT_TRUE(bench.FramesOn(0x609).empty()) << "the gantry pair was never started";
}

TEST(HomeAxes, FailedPreparationRunsNoHomingButRestoresEveryNode) {
  Bench bench({5, 6});
  bench.drive(6).server.refuseDownload = [](std::uint16_t index, std::uint8_t, std::uint32_t v) {
    return index == 0x1800 && v == 253;
  };
  EXPECT_EQ(bench.Home(0b11), kFailed);
  EXPECT_EQ(bench.nodes[0].request.lastResult, kOk);
  EXPECT_EQ(bench.nodes[1].request.lastResult, common::kKernelCanMessageInvalid);
  EXPECT_EQ(bench.bus.remoteRequests, 0) << "no node started homing";
  EXPECT_EQ(bench.drive(5).Value(0x1800, 2), 1u);
  EXPECT_FALSE(bench.Homed(0));
}

TEST(HomeAxes, TestModeRunLeavingAnotherMethodClearsTheRunEnable) {
  Bench bench({5});
  bench.host.homing.testMode = 1;
  bench.run.testMode = 1;
  bench.nodes[0].SetFlagInBothRows(StatusFlag::N, true);
  bench.drive(5).server.refuseDownload = [](std::uint16_t index, std::uint8_t, std::uint32_t v) {
    return index == 0x6098 && v == 3;  // the own method cannot be given back
  };
  EXPECT_EQ(bench.Home(0b1), kFailed);
  EXPECT_FALSE(bench.nodes[0].latched.Has(StatusFlag::N));
  EXPECT_FALSE(bench.nodes[0].current.Has(StatusFlag::N));
}

// A gantry pair: node 9 with its slave drive 10.
struct GantryBench : Bench {
  explicit GantryBench(std::uint32_t pdoHoming) : Bench({9}, {{10}}) {
    nodes[0].gantryPdoHoming = pdoHoming;
    nodes[0].drive.homing = {3, -250.0, 1000.0, 200.0, 5000.0};
    nodes[0].axes[0].drive.homing = {3, 300.0, 800.0, 210.0, 6000.0};
    for (std::uint8_t id : {9, 10}) drive(id).statusword = 0x9827;
  }
};

TEST(HomeAxes, GantryPairByStatuswordPollsEndsCoupledWithItsOwnValues) {
  GantryBench bench(0);
  bench.nodes[0].position = 77.0;
  bench.nodes[0].homeShiftRemainder = 5;
  ASSERT_EQ(bench.Home(0b1), kOk);
  EXPECT_TRUE(bench.Homed(0));
  EXPECT_EQ(bench.nodes[0].position, 0.0);
  EXPECT_EQ(bench.nodes[0].homeShiftRemainder, 0);
  EXPECT_EQ(bench.nodes[0].axes[0].homedByGantry, 1u);
  EXPECT_EQ(bench.drive(9).Value(0x2043, 1), 2u);
  EXPECT_EQ(bench.drive(10).Value(0x2043, 1), 1u);
  for (std::uint8_t id : {9, 10}) {
    SCOPED_TRACE(int{id});
    const HomingParameters& own =
        id == 9 ? bench.nodes[0].drive.homing : bench.nodes[0].axes[0].drive.homing;
    EXPECT_EQ(bench.drive(id).Value(0x6098), own.method);
    EXPECT_EQ(static_cast<std::int32_t>(bench.drive(id).Value(0x607C)), own.homeOffset);
    EXPECT_EQ(bench.drive(id).Value(0x6099, 1), own.switchSearchSpeed);
    EXPECT_EQ(bench.drive(id).Value(0x609A), own.acceleration);
    EXPECT_EQ(bench.drive(id).Value(0x2043, 9), 0u);
    EXPECT_EQ(bench.drive(id).Value(0x6060), 1u);
    EXPECT_EQ(bench.drive(id).Value(0x6040), 0x0Fu);
  }
}

TEST(HomeAxes, FailedSearchParametersLeaveThePairAsConfigured) {
  GantryBench bench(0);
  bench.nodes[0].SetFlagInBothRows(StatusFlag::D, true);
  bench.nodes[0].SetFlagInBothRows(StatusFlag::N, true);
  // The slave refuses the lowered acceleration of the search run.
  bench.drive(10).server.refuseDownload = [](std::uint16_t index, std::uint8_t, std::uint32_t v) {
    return index == 0x609A && v == 5000;
  };
  EXPECT_EQ(bench.Home(0b1), kFailed);
  EXPECT_EQ(bench.nodes[0].axes[0].axisResult, common::kKernelCanMessageInvalid);
  EXPECT_FALSE(bench.Homed(0));
  EXPECT_FALSE(bench.nodes[0].latched.Has(StatusFlag::N));
  EXPECT_EQ(bench.drive(9).Value(0x2043, 1), 2u);
  EXPECT_EQ(bench.drive(10).Value(0x2043, 1), 1u);
  EXPECT_EQ(bench.drive(10).Value(0x609A), 6000u);
  EXPECT_EQ(bench.drive(9).Value(0x6099, 1), 1000u) << "the lowered speed is taken back";
  EXPECT_EQ(static_cast<std::int32_t>(bench.drive(10).Value(0x607C)), 300);
  EXPECT_EQ(bench.drive(10).Value(0x6098), 3u);
  EXPECT_EQ(bench.drive(10).Value(0x6060), 1u);
}

TEST(HomeAxes, GantryPdoPhases) {
  using Bytes = std::vector<std::vector<std::uint8_t>>;
  struct Case {
    const char* name;
    std::uint32_t slaveWaits;
    std::uint8_t method;
    Bytes frames;
  };
  const Bytes phases{{0x0F, 0, 0, 0}, {0x1F, 0, 0, 0}, {0x1F, 0, 1, 0}, {0x1F, 0, 1, 1},
                     {0x0F, 0, 1, 1}, {0x0F, 0, 1, 1}, {0x1F, 0, 1, 1}};
  const Case cases[] = {
      {"both drives report", 1, 3, phases},
      {"slave without the wait flag", 0, 3, phases},
      {"home on the current position", 1, 34, {{0x0F, 0, 0, 0}, {0x0F, 0, 1, 1}, {0x1F, 0, 1, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GantryBench bench(1);
    bench.nodes[0].axes[0].gantryWait = c.slaveWaits;
    bench.nodes[0].drive.homing.method = c.method;
    ASSERT_EQ(bench.Home(0b1), kOk);
    Bytes fourByte;
    for (auto& frame : bench.FramesOn(0x209)) {
      if (frame.size() == 4) fourByte.push_back(frame);
    }
    EXPECT_EQ(fourByte, c.frames);
    EXPECT_TRUE(bench.Homed(0));
    EXPECT_EQ(bench.drive(10).Value(0x609A), 6000u) << "own acceleration back";
  }
}

TEST(HomeAxes, AStoppedCycleEndsTheRunAtOnce) {
  for (const bool gantry : {false, true}) {
    SCOPED_TRACE(gantry ? "gantry pair" : "plain node");
    GantryBench pair(0);
    Bench plain({5});
    Bench& bench = gantry ? static_cast<Bench&>(pair) : plain;
    bench.host.endCycleAfter = 3;
    EXPECT_EQ(bench.Home(0b1), kernel::kCycleNotRunning);
    EXPECT_EQ(bench.nodes[0].request.stepFunction, nullptr) << "no slot left armed";
    EXPECT_FALSE(bench.Homed(0));
  }
}

TEST(GantrySearchMethod, SwitchMethodsStopOnTheSwitch) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {{1, 17}, {2, 18},  {3, 19}, {6, 21},
                                                         {4, 4},  {34, 34}, {17, 17}};
  for (const auto& [configured, search] : cases) {
    EXPECT_EQ(GantrySearchMethod(configured), search) << int{configured};
  }
}

}  // namespace
}  // namespace vantor::canopen

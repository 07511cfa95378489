#include "kernel/core/canopen/drive_state_steps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kernel/core/canopen/node_services.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
using Words = std::vector<std::uint16_t>;

constexpr common::StatusCode kOk = common::kKernelSuccess;

// One node with a drive on the bus and a cycle the test runs.
struct Bench {
  explicit Bench(std::uint16_t startState)
      : nodes({5}), drive(5, startState), host(nodes.table, bus), context{host, nodes.table} {
    bus.Attach(drive.server());
  }

  common::StatusCode Run(NodeStepFunction step) {
    const common::StatusCode run =
        RunOnNodes(context, nodes.table.AllNodes(), step, [](NodeObject&, auto) {});
    EXPECT_EQ(run, kOk);
    EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
    EXPECT_EQ(nodes[0].request.step, 0);
    EXPECT_TRUE(nodes.signals[0]->IsSet());
    return nodes[0].request.requestResult;
  }

  testing::TestNodes nodes;
  testing::Ds402Drive drive;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

struct SequenceCase {
  std::uint16_t startState;
  Words controlwords;
  common::StatusCode result;
};

// Runs `step` from each case's starting state and checks its result, the
// controlwords it wrote in order and, after success, that the drive is in
// `reached`; `alsoCheck` looks at the bench afterwards.
template <std::size_t N, typename Check>
void RunFromEachStartingState(NodeStepFunction step, const SequenceCase (&cases)[N],
                              std::uint16_t reached, Check&& alsoCheck) {
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "start 0x" << std::hex << c.startState);
    Bench bench(c.startState);
    EXPECT_EQ(bench.Run(step), c.result);
    EXPECT_EQ(bench.drive.controlwords(), c.controlwords);
    if (c.result == kOk) {
      EXPECT_EQ(bench.drive.state(), reached);
    }
    alsoCheck(c, bench);
  }
}

TEST(DriveEnableStep, FromEachStartingState) {
  const SequenceCase cases[] = {
      {0x60, {0x06, 0x07, 0x0F}, kOk},
      {0x21, {0x07, 0x0F}, kOk},
      {0x23, {0x0F}, kOk},
      {0x27, {}, kOk},
      {0x07, {0x00, 0x06, 0x07, 0x0F}, kOk},
      {0x2F, {0x00, 0x80, 0x06, 0x07, 0x0F}, kOk},
      {0x0F, {}, common::kKernelExternalNodeControlForbidden},
      {0x20, {}, common::kKernelExternalNodeControlForbidden},
      {0x40, {}, common::kKernelNodeAnswerUnknown},
  };
  RunFromEachStartingState(DriveEnableStep, cases, 0x27, [](const SequenceCase& c, Bench& bench) {
    EXPECT_EQ(bench.nodes[0].requestRecord.Get(enable_request::kAlreadyEnabled),
              c.startState == 0x27 ? 1u : 0u);
  });
}

TEST(DriveDisableStep, FromEachStartingState) {
  const SequenceCase cases[] = {
      {0x60, {}, kOk},
      {0x21, {0x00}, kOk},
      {0x23, {0x00}, kOk},
      {0x27, {0x00}, kOk},
      {0x07, {0x00}, kOk},
      {0x2F, {0x00, 0x80}, kOk},
      {0x0F, {}, common::kKernelExternalNodeControlForbidden},
      {0x20, {}, common::kKernelExternalNodeControlForbidden},
      {0x40, {}, common::kKernelNodeAnswerUnknown},
  };
  RunFromEachStartingState(DriveDisableStep, cases, 0x60, [](const SequenceCase&, Bench&) {});
}

TEST(DriveEnableStep, ExactFramesFromSwitchOnDisabled) {
  using testing::LoggedFrame;
  Bench bench(0x60);
  ASSERT_EQ(bench.Run(DriveEnableStep), kOk);
  const LoggedFrame readState{0x605, 4, {0x40, 0x41, 0x60, 0, 0, 0, 0, 0}};
  const auto controlword = [](std::uint8_t value) {
    return LoggedFrame{0x605, 6, {0x2B, 0x40, 0x60, 0, value, 0, 0, 0}};
  };
  EXPECT_EQ(bench.bus.frames,
            (std::vector<LoggedFrame>{readState, controlword(0x06), controlword(0x07),
                                      controlword(0x0F), readState}));
}

TEST(DriveEnableStep, FaultResetWaitsItsTimeBeforeShutdown) {
  Bench bench(0x2F);
  ASSERT_EQ(bench.Run(DriveEnableStep), kOk);
  const auto& frames = bench.bus.frames;
  const auto controlwordFrame = [&](std::uint8_t value) {
    return std::find_if(frames.begin(), frames.end(), [&](const testing::LoggedFrame& f) {
      return f.data[0] == 0x2B && f.data[1] == 0x40 && f.data[2] == 0x60 && f.data[4] == value;
    });
  };
  const auto reset = controlwordFrame(0x80);
  const auto shutdown = controlwordFrame(0x06);
  ASSERT_NE(reset, frames.end());
  ASSERT_NE(shutdown, frames.end());
  const int waited = bench.bus.frameExchanges[static_cast<std::size_t>(shutdown - frames.begin())] -
                     bench.bus.frameExchanges[static_cast<std::size_t>(reset - frames.begin())];
  // 100000 microseconds at 1000 per cycle: the drive gets at least 100 cycles.
  EXPECT_GE(waited, 100);
  EXPECT_LE(waited, 110);
}

TEST(DriveEnableStep, DriveThatFaultsOnEnableIsReportedInError) {
  Bench bench(0x60);
  bench.drive.faultOnEnable = true;
  EXPECT_EQ(bench.Run(DriveEnableStep), common::kKernelNodeInErrorState);
}

TEST(DriveEnableStep, SilentDriveEndsWithTheTimeOut) {
  Bench bench(0x60);
  bench.drive.server().silent = true;
  EXPECT_EQ(bench.Run(DriveEnableStep), common::kKernelCanMessageTimeout);
  EXPECT_EQ(bench.bus.frames.size(), 3u);
}

TEST(DriveEnableStep, DriverFaultEndsTheSequenceWithTheDriverCode) {
  Bench bench(0x60);
  bench.host.exchange.Set(common::exchange_buffer::kStatus, common::kDriverBusOff);
  EXPECT_EQ(bench.Run(DriveEnableStep), common::kDriverBusOff);
}

// ---- Drive option ----------------------------------------------------------------------------

struct OptionCase {
  const char* name;
  std::uint16_t state;
  std::optional<std::uint32_t> option;  // nothing: the drive lacks the object
  bool changed;
  bool failed;
};

TEST(ClearDriveOptionStep, ClearsOnlyWhereSetAndRunning) {
  const OptionCase cases[] = {
      {"not set", 0x27, 0, false, false},
      {"set, running", 0x27, 1, true, false},
      {"set, not running", 0x60, 1, false, false},
      {"missing", 0x27, std::nullopt, false, true},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.state);
    if (c.option) bench.drive.server().Define(0x6510, 7, 1, *c.option);
    bench.drive.server().Define(0x60FE, 0, 1, 0);
    bench.nodes[0].SetFlagInBothRows(StatusFlag::N, true);
    const common::StatusCode result = bench.Run(ClearDriveOptionStep);
    EXPECT_EQ(result != kOk, c.failed);
    EXPECT_EQ(bench.nodes[0].requestRecord.Get(option_request::kOptionChanged),
              c.changed ? 1u : 0u);
    if (c.changed) {
      EXPECT_EQ(bench.drive.server().Value(0x6510, 7), 0u);
      EXPECT_EQ(bench.drive.server().Value(0x60FE, 0), 1u);
      EXPECT_FALSE(bench.nodes[0].latched.Has(StatusFlag::N));
      EXPECT_FALSE(bench.nodes[0].current.Has(StatusFlag::N));
    } else {
      EXPECT_TRUE(bench.nodes[0].current.Has(StatusFlag::N));
      EXPECT_EQ(bench.drive.server().Value(0x60FE, 0), 0u);
    }
  }
}

TEST(SetDriveOptionStep, WritesTheOptionBack) {
  Bench bench(0x27);
  bench.drive.server().Define(0x6510, 7, 1, 0);
  EXPECT_EQ(bench.Run(SetDriveOptionStep), kOk);
  EXPECT_EQ(bench.drive.server().Value(0x6510, 7), 1u);
}

}  // namespace
}  // namespace vantor::canopen

#include "kernel/core/canopen/homing_steps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using common::StatusCode;
using kernel::StatusFlag;
using testing::LoggedFrame;
using Accesses = std::vector<std::string>;

constexpr StatusCode kOk = common::kKernelSuccess;
constexpr StatusCode kBroken = common::kKernelHomingBroken;
constexpr StatusCode kRefused = common::kKernelCanMessageInvalid;

class BreakFlag final : public HomingBreakSignal {
 public:
  bool IsSet() noexcept override { return set; }
  void Reset() noexcept override { set = false; }
  bool set = false;
};

// One node (id 5) whose drive answers SDOs and its first transmit PDO. The
// statusword it reports is `state`; after the start it reports homing
// attained from the `pollsToHome`-th poll on.
struct HomingBench {
  explicit HomingBench(std::uint16_t startState, std::uint8_t method = 3)
      : nodes({5}), server(5), host(nodes.table, bus), state(startState) {
    server.Define(0x6040, 0, 2, 0);
    server.Define(0x6060, 0, 1, 7);
    server.Define(0x6098, 0, 1, method);
    server.Define(0x1800, 2, 1, 1);
    server.onDownload = [this](std::uint16_t index, std::uint8_t subindex, std::uint32_t value) {
      Log(index, subindex, "=" + Hex(value));
      if (index == 0x6040 && value == 0x1F) running = true;
    };
    server.onUpload = [this](std::uint16_t index, std::uint8_t subindex) {
      Log(index, subindex, "?");
      return std::optional<std::uint32_t>{};
    };
    bus.Attach(server);
    bus.onRemoteRequest = [this](std::uint16_t cobId) -> std::optional<LoggedFrame> {
      if (cobId != 0x185) return std::nullopt;
      if (running) ++runPolls;
      if (breakAtPoll != 0 && runPolls == breakAtPoll) breakFlag.set = true;
      std::uint16_t word = state;
      if (running && runPolls >= pollsToHome) word |= ds402::kHomingAttained;
      if (running && runPolls == errorAtPoll) word = errorWord;
      return LoggedFrame{0x185,
                         tpdoLength,
                         {0x10, 0x20, 0, 0, static_cast<std::uint8_t>(word),
                          static_cast<std::uint8_t>(word >> 8), 0, 0}};
    };
  }

  static std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
  }
  void Log(std::uint16_t index, std::uint8_t subindex, const std::string& what) {
    accesses.push_back(Hex(index) + (subindex != 0 ? "." + Hex(subindex) : "") + what);
    if (breakAtAccess != 0 && accesses.size() == breakAtAccess) breakFlag.set = true;
  }

  StatusCode Run(NodeStepFunction step, bool testMode = false, std::uint32_t interpolated = 1) {
    host.homing = {&breakFlag, testMode ? 1u : 0u, interpolated, handwheelLinked};
    ArmNodeRequest(nodes[0], step);
    for (int cycle = 0; cycle < 5000 && nodes[0].request.stepFunction != nullptr; ++cycle) {
      host.RunCycle();
    }
    EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
    EXPECT_EQ(nodes[0].request.step, 0);
    EXPECT_TRUE(nodes.signals[0]->IsSet());
    return nodes[0].request.requestResult;
  }
  NodeObject& node() { return nodes[0]; }
  bool Homed() { return node().latched.Has(StatusFlag::D) && node().current.Has(StatusFlag::D); }
  std::uint32_t MethodChanged() { return node().requestRecord.Get(homing_request::kMethodChanged); }

  testing::TestNodes nodes;
  testing::SdoServer server;
  testing::FakeBus bus;
  testing::FakeHost host;
  BreakFlag breakFlag;
  std::uint16_t state;
  bool running = false;
  int runPolls = 0;
  int pollsToHome = 3;
  int breakAtPoll = 0;
  int errorAtPoll = 0;
  std::uint16_t errorWord = 0;
  std::size_t breakAtAccess = 0;
  std::uint8_t tpdoLength = 7;
  std::uint32_t handwheelLinked = 0;
  Accesses accesses;
};

const Accesses kPlainRun{"6040=F", "6060=6", "6040=1F", "6040=F", "6060=7", "6040=F"};

TEST(HomingStep, FromEachStartingState) {
  struct Case {
    std::uint16_t startState;
    StatusCode result;
  };
  const Case cases[] = {
      {0x27, kOk},
      {0x07, common::kKernelNodeInErrorState},
      {0x21, common::kKernelNodeInErrorState},
      {0x23, common::kKernelNodeInErrorState},
      {0x2F, common::kKernelNodeInErrorState},
      {0x60, common::kKernelNodeInErrorState},
      {0x0F, common::kKernelExternalNodeControlForbidden},
      {0x20, common::kKernelExternalNodeControlForbidden},
      {0x40, common::kKernelNodeAnswerUnknown},
      // Bits outside the state do not count.
      {0x0427, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "start 0x" << std::hex << c.startState);
    HomingBench bench(c.startState);
    bench.node().position = 123.0;
    bench.node().homeShiftRemainder = 7;
    bench.node().SetFlagInBothRows(StatusFlag::D, true);
    EXPECT_EQ(bench.Run(HomingStep), c.result);
    EXPECT_EQ(bench.Homed(), c.result == kOk);
    if (c.result == kOk) {
      EXPECT_EQ(bench.accesses, kPlainRun);
      EXPECT_EQ(bench.node().position, 0.0);
      EXPECT_EQ(bench.node().homeShiftRemainder, 0);
      EXPECT_TRUE(bench.node().current.Has(StatusFlag::E));
      EXPECT_TRUE(bench.node().current.Has(StatusFlag::F));
    } else {
      EXPECT_EQ(bench.accesses, Accesses{}) << "a drive in the wrong state is not touched";
      EXPECT_EQ(bench.node().position, 123.0);
    }
  }
}

TEST(HomingStep, TestModeMethodAndWorkingMode) {
  struct Case {
    const char* name;
    bool testMode;
    std::uint8_t method;
    std::uint32_t interpolated;  // nodes in front that are interpolated axes
    Accesses accesses;
  };
  const Case cases[] = {
      {"plain run, interpolated axis", false, 3, 1, kPlainRun},
      {"plain run, handling axis",
       false,
       3,
       0,
       {"6040=F", "6060=6", "6040=1F", "6040=F", "6060=1", "6040=F"}},
      {"test mode, method already 34",
       true,
       34,
       1,
       {"6040=F", "6098?", "6060=6", "6040=1F", "6040=F", "6060=7", "6040=F"}},
      {"test mode, own method given back",
       true,
       3,
       1,
       {"6040=F", "6098?", "6098=22", "6060=6", "6040=1F", "6040=F", "6098=3", "6060=7", "6040=F"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomingBench bench(0x27, c.method);
    EXPECT_EQ(bench.Run(HomingStep, c.testMode, c.interpolated), kOk);
    EXPECT_EQ(bench.accesses, c.accesses);
    EXPECT_EQ(bench.server.Value(0x6098, 0), c.method);
    EXPECT_EQ(bench.node().homedInTestMode, c.testMode ? 1u : 0u);
    EXPECT_EQ(bench.MethodChanged(), 0u);
    EXPECT_TRUE(bench.Homed());
  }
}

// A break set when the drive receives access k (0: before the start) is
// seen at the next check; test mode ignores it from the homing mode to the
// end of the run. A drive that was started is halted, outside test mode.
TEST(HomingStep, BreakAtEachStep) {
  struct Case {
    bool testMode;
    std::size_t breakAtAccess;
    int breakAtPoll;
    Accesses accesses;
  };
  const Case cases[] = {
      {false, 0, 0, {}},
      {false, 1, 0, {"6040=F"}},
      {false, 2, 0, {"6040=F", "6060=6"}},
      {false, 3, 0, {"6040=F", "6060=6", "6040=1F", "6040=10F"}},
      {false, 0, 2, {"6040=F", "6060=6", "6040=1F", "6040=10F"}},
      {false, 4, 0, {"6040=F", "6060=6", "6040=1F", "6040=F"}},
      {false, 5, 0, {"6040=F", "6060=6", "6040=1F", "6040=F", "6060=7"}},
      {false, 6, 0, kPlainRun},
      {true, 1, 0, {"6040=F"}},
      {true, 2, 0, {"6040=F", "6098?"}},
      {true,
       3,
       0,
       {"6040=F", "6098?", "6098=22", "6060=6", "6040=1F", "6040=F", "6098=3", "6060=7"}},
      {true,
       0,
       2,
       {"6040=F", "6098?", "6098=22", "6060=6", "6040=1F", "6040=F", "6098=3", "6060=7"}},
      {true,
       9,
       0,
       {"6040=F", "6098?", "6098=22", "6060=6", "6040=1F", "6040=F", "6098=3", "6060=7", "6040=F"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.testMode ? "test mode" : "plain") << ", access "
                                      << c.breakAtAccess << ", poll " << c.breakAtPoll);
    HomingBench bench(0x27);
    bench.breakFlag.set = c.breakAtAccess == 0 && c.breakAtPoll == 0;
    bench.breakAtAccess = c.breakAtAccess;
    bench.breakAtPoll = c.breakAtPoll;
    bench.node().SetFlagInBothRows(StatusFlag::D, true);
    EXPECT_EQ(bench.Run(HomingStep, c.testMode), kBroken);
    EXPECT_EQ(bench.accesses, c.accesses);
    EXPECT_FALSE(bench.Homed());
    EXPECT_FALSE(bench.breakFlag.set) << "the node that saw the break resets it";
  }
}

TEST(HomingStep, FailuresMarkAChangedMethodOnlyInTestMode) {
  struct Case {
    const char* name;
    bool testMode;
    std::uint8_t method;
    std::uint16_t refusedIndex;
    std::uint32_t refusedValue;
    std::uint32_t methodChanged;
  };
  const Case cases[] = {
      {"forcing 34 refused", true, 3, 0x6098, 34, 1},
      {"homing mode refused", true, 3, 0x6060, 6, 1},
      {"homing mode refused, method was 34", true, 34, 0x6060, 6, 0},
      {"own method refused back", true, 3, 0x6098, 3, 1},
      {"homing mode refused outside test mode", false, 3, 0x6060, 6, 0},
      {"working mode refused", true, 3, 0x6060, 7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomingBench bench(0x27, c.method);
    bench.server.refuseDownload = [&](std::uint16_t index, std::uint8_t, std::uint32_t value) {
      return index == c.refusedIndex && value == c.refusedValue;
    };
    EXPECT_EQ(bench.Run(HomingStep, c.testMode), kRefused);
    EXPECT_EQ(bench.MethodChanged(), c.methodChanged);
    EXPECT_FALSE(bench.Homed());
  }
}

TEST(HomingStep, HomingErrorOrLostEnableEndsTheRunWithoutHalt) {
  for (const std::uint16_t word : {std::uint16_t{0x2027}, std::uint16_t{0x0007}}) {
    SCOPED_TRACE(::testing::Message() << "word 0x" << std::hex << word);
    HomingBench bench(0x27);
    bench.pollsToHome = 10;
    bench.errorAtPoll = 2;
    bench.errorWord = word;
    EXPECT_EQ(bench.Run(HomingStep), common::kKernelHomingInternalError);
    EXPECT_EQ(bench.accesses, (Accesses{"6040=F", "6060=6", "6040=1F"}));
    EXPECT_FALSE(bench.Homed());
  }
}

TEST(HomingStep, HaltWaitsFourTimesTheCountdownAndKeepsTheRunsResult) {
  HomingBench bench(0x27);
  bench.pollsToHome = 100;
  bench.breakAtPoll = 2;
  // After the start the drive answers no SDO: the halt waits in vain.
  bench.server.onDownload = [&](std::uint16_t index, std::uint8_t, std::uint32_t value) {
    if (index != 0x6040 || value != 0x1F) return;
    bench.running = true;
    bench.server.silent = true;
  };
  EXPECT_EQ(bench.Run(HomingStep), kBroken);
  std::vector<int> halts;
  for (std::size_t i = 0; i < bench.bus.frames.size(); ++i) {
    const LoggedFrame& f = bench.bus.frames[i];
    if (f.cobId == 0x605 && f.data[1] == 0x40 && f.data[2] == 0x60 && f.data[4] == 0x0F &&
        f.data[5] == 0x01) {
      halts.push_back(bench.bus.frameExchanges[i]);
    }
  }
  ASSERT_GE(halts.size(), 2u);
  EXPECT_EQ(halts[1] - halts[0], 4 * bench.node().countdownReload);
}

TEST(HomingStep, TransmitPdoLengthFollowsTheHandwheel) {
  struct Case {
    std::uint32_t handwheelLinked;
    std::uint8_t length;
    StatusCode result;
  };
  const Case cases[] = {{0, 7, kOk}, {1, 8, kOk}, {1, 7, kRefused}, {0, 8, kRefused}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "handwheel " << c.handwheelLinked << ", length " << int{c.length});
    HomingBench bench(0x27);
    bench.handwheelLinked = c.handwheelLinked;
    bench.tpdoLength = c.length;
    EXPECT_EQ(bench.Run(HomingStep), c.result);
  }
}

TEST(HomingStep, DoneKeepsTheBreakForTheOtherNodes) {
  HomingBench bench(0x27);
  bench.breakFlag.set = true;
  CycleContext cycle{bench.host.exchange, bench.nodes.table, 1000, nullptr};
  cycle.homing.breakSignal = &bench.breakFlag;
  FinishHomingDone(cycle, bench.node());
  EXPECT_TRUE(bench.breakFlag.set);
  EXPECT_TRUE(bench.Homed());
  FinishHomingFailed(cycle, bench.node());
  EXPECT_FALSE(bench.breakFlag.set);
  EXPECT_FALSE(bench.Homed());
}

TEST(CyclicTpdoSteps, SetTheTransmissionType) {
  HomingBench bench(0x27);
  EXPECT_EQ(bench.Run(DisableCyclicTpdoStep), kOk);
  EXPECT_EQ(bench.Run(EnableCyclicTpdoStep), kOk);
  EXPECT_EQ(bench.accesses, (Accesses{"1800.2=FD", "1800.2=1"}));
  bench.server.refuseDownload = [](std::uint16_t, std::uint8_t, std::uint32_t) { return true; };
  EXPECT_EQ(bench.Run(EnableCyclicTpdoStep), kRefused);
}

}  // namespace
}  // namespace vantor::canopen

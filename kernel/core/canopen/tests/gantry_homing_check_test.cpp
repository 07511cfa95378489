#include <gtest/gtest.h>

#include <optional>

#include "kernel/core/canopen/startup_probes.h"
#include "kernel/core/canopen/tests/gantry_bench.h"

namespace vantor::canopen {
namespace {

using common::StatusCode;
constexpr StatusCode kOk = common::kKernelSuccess;
constexpr StatusCode kFailed = common::kKernelOperationFailed;
constexpr StatusCode kWrong = common::kKernelNodeParameterInvalid;

// What one drive answers for 0x6510 sub 20, sub 21 and 0x2043 sub 14;
// nothing: the drive lacks the object.
struct GantryObjects {
  std::optional<std::uint32_t> pdoHoming;
  std::optional<std::uint32_t> homingMode;
  std::optional<std::uint32_t> waitReport;
};

void Define(testing::SdoServer& drive, const GantryObjects& objects) {
  if (objects.pdoHoming) drive.Define(0x6510, 20, 1, *objects.pdoHoming);
  if (objects.homingMode) drive.Define(0x6510, 21, 1, *objects.homingMode);
  if (objects.waitReport) drive.Define(0x2043, 14, 1, *objects.waitReport);
}

constexpr GantryObjects kNone{};
constexpr GantryObjects kPdoPair{1, 1, 1};

TEST(GantryHomingCheck, FlagsAndFailuresFollowWhatTheDrivesAnswer) {
  struct Row {
    const char* what;
    GantryObjects plain;  // drive 5
    GantryObjects node;   // drive 7
    GantryObjects axis;   // drive 17
    std::int32_t startUpMode;
    StatusCode result;
    StatusCode plainResult;
    StatusCode nodeResult;
    StatusCode axisResult;
    std::uint32_t pdoHoming;  // of the gantry node (the plain node's is always 0)
    std::uint32_t nodeWait;
    std::uint32_t axisWait;
  };
  const Row rows[] = {
      {"no drive has the objects", kNone, kNone, kNone, 0, kOk, {}, {}, {}, 0, 1, 1},
      {"a gantry pair homing by PDO", kNone, kPdoPair, kPdoPair, 0, kOk, {}, kOk, kOk, 1, 1, 1},
      {"a gantry pair without the PDO",
       {0, 1, 1},
       {0, 1, 1},
       {0, 1, 1},
       0,
       kOk,
       kOk,
       kOk,
       kOk,
       0,
       1,
       1},
      {"the slave alone reports the phases",
       kNone,
       {1, 1, 0},
       {1, 1, 1},
       0,
       kOk,
       {},
       kOk,
       kOk,
       1,
       0,
       1},
      {"neither drive reports the phases",
       kNone,
       {1, 1, 0},
       {1, 1, 0},
       0,
       kFailed,
       {},
       kWrong,
       kWrong,
       0,
       0,
       0},
      {"a plain node answering 1 for sub 20",
       kPdoPair,
       kNone,
       kNone,
       0,
       kFailed,
       kWrong,
       kOk,
       {},
       0,
       1,
       1},
      {"a plain node answering 0 for sub 21",
       {0, 0, 1},
       kNone,
       kNone,
       0,
       kFailed,
       kWrong,
       kOk,
       {},
       0,
       1,
       1},
      {"the slave answers another sub 20",
       kNone,
       {1, 1, 1},
       {0, 1, 1},
       0,
       kFailed,
       {},
       kOk,
       kWrong,
       0,
       1,
       1},
      {"the slave lacks sub 20", kNone, kPdoPair, kNone, 0, kFailed, {}, {}, kWrong, 0, 1, 1},
      {"sub 21 of 0 with a start-up mode",
       kNone,
       {1, 0, 1},
       {1, 0, 1},
       1,
       kOk,
       {},
       kOk,
       kOk,
       1,
       1,
       1},
      {"sub 21 of 0 without a start-up mode",
       kNone,
       {1, 0, 1},
       {1, 0, 1},
       0,
       kFailed,
       {},
       kWrong,
       kOk,
       0,
       1,
       1},
      {"a silent phase report with a start-up mode",
       kNone,
       {1, 1, 0},
       {1, 1, 1},
       1,
       kFailed,
       {},
       kWrong,
       kOk,
       0,
       1,
       1},
  };
  for (const Row& row : rows) {
    testing::GantryBench bench;
    Define(bench.drive5(), row.plain);
    Define(bench.drive7(), row.node);
    Define(bench.drive17(), row.axis);
    bench.gantry().startUpMode = row.startUpMode;
    EXPECT_EQ(ReadGantryHomingObjects(bench.context), row.result) << row.what;
    if (row.plainResult != 0) {
      EXPECT_EQ(bench.plain().request.lastResult, row.plainResult) << row.what;
    }
    if (row.nodeResult != 0) {
      EXPECT_EQ(bench.gantry().request.lastResult, row.nodeResult) << row.what;
    }
    if (row.axisResult != 0) {
      EXPECT_EQ(bench.gantry().axes[0].axisResult, row.axisResult) << row.what;
    }
    EXPECT_EQ(bench.plain().gantryPdoHoming, 0u) << row.what;
    EXPECT_EQ(bench.plain().gantryWait, 1u) << row.what;
    EXPECT_EQ(bench.gantry().gantryPdoHoming, row.pdoHoming) << row.what;
    EXPECT_EQ(bench.gantry().gantryWait, row.nodeWait) << row.what;
    EXPECT_EQ(bench.gantry().axes[0].gantryWait, row.axisWait) << row.what;
    EXPECT_EQ(bench.gantry().sdoRequestCobId, 0x607) << row.what;
  }
}

TEST(GantryHomingCheck, ASilentDriveEndsTheCheckWithItsResultAndNoFlagChanges) {
  testing::GantryBench bench;
  Define(bench.drive7(), kPdoPair);
  Define(bench.drive17(), kPdoPair);
  bench.drive17().silent = true;
  EXPECT_EQ(ReadGantryHomingObjects(bench.context), kFailed);
  EXPECT_EQ(bench.gantry().axes[0].axisResult, common::kKernelCanMessageTimeout);
  EXPECT_EQ(bench.gantry().gantryPdoHoming, 0u);
  EXPECT_EQ(bench.gantry().gantryWait, 1u);
}

}  // namespace
}  // namespace vantor::canopen

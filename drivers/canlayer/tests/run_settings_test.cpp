// The run record's rules, one field at a time, and the cycle arithmetic.
#include "drivers/canlayer/run_settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

struct RecordCase {
  const char* name;
  std::function<void(RunRecordFields&)> change;
  bool accepted;
};

TEST(RunRecordCheckTest, EachFieldBreaksItsRuleInTurnAndBoundariesPass) {
  const RecordCase cases[] = {
      {"valid fixed cycle", [](RunRecordFields&) {}, true},
      {"kind of another driver", [](RunRecordFields& f) { f.kind = 0; }, false},
      {"kind PC/104", [](RunRecordFields& f) { f.kind = 1; }, false},
      {"channel 2 on channel 1", [](RunRecordFields& f) { f.channel = 2; }, false},
      {"tick divider 0", [](RunRecordFields& f) { f.tickDivider = 0; }, false},
      {"tick divider 1", [](RunRecordFields& f) { f.tickDivider = 1; }, true},
      {"tick divider 15", [](RunRecordFields& f) { f.tickDivider = 15; }, true},
      {"tick divider 16", [](RunRecordFields& f) { f.tickDivider = 16; }, false},
      {"bit rate 0", [](RunRecordFields& f) { f.bitRate = 0; }, true},
      {"bit rate 6 has no timing", [](RunRecordFields& f) { f.bitRate = 6; }, false},
      {"bit rate 8", [](RunRecordFields& f) { f.bitRate = 8; }, false},
      {"N = 0", [](RunRecordFields& f) { f.cycleDivider = 0; }, false},
      {"N negative", [](RunRecordFields& f) { f.cycleDivider = -3; }, false},
      {"N = 1", [](RunRecordFields& f) { f.cycleDivider = 1; }, true},
      {"mode 2", [](RunRecordFields& f) { f.mode = 2; }, false},
      {"send tick N - 1", [](RunRecordFields& f) { f.sendTick = 4; }, true},
      {"send tick N", [](RunRecordFields& f) { f.sendTick = 5; }, false},
      {"send tick negative", [](RunRecordFields& f) { f.sendTick = -1; }, false},
      {"fixed cycle ignores the buffered fields",
       [](RunRecordFields& f) {
         f.fillLimit = 499;
         f.pollInterval = 0;
         f.pollBudget = 0;
       },
       true},
      {"buffered, fill limit 498", [](RunRecordFields& f) { f.mode = 1; }, true},
      {"buffered, fill limit 499",
       [](RunRecordFields& f) {
         f.mode = 1;
         f.fillLimit = 499;
       },
       false},
      {"buffered, negative fill limit",
       [](RunRecordFields& f) {
         f.mode = 1;
         f.fillLimit = -5;
       },
       true},
      {"buffered, poll interval 0",
       [](RunRecordFields& f) {
         f.mode = 1;
         f.pollInterval = 0;
       },
       false},
      {"buffered, poll budget 0",
       [](RunRecordFields& f) {
         f.mode = 1;
         f.pollBudget = 0;
       },
       false},
      {"buffered cycle ignores the send tick",
       [](RunRecordFields& f) {
         f.mode = 1;
         f.sendTick = 99;
       },
       true},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunRecordFields fields;
    c.change(fields);
    const common::RunRecord record = MakeRunRecord(fields);
    const RunRecordCheck check = CheckRunRecord(record.View(), common::InterfaceKind::Pci, 1);
    EXPECT_EQ(check.status, c.accepted ? common::kDriverSuccess : common::kDriverInvalidRunRecord);
  }
}

TEST(RunRecordCheckTest, AcceptedRecordCarriesItsSettings) {
  RunRecordFields fields;
  fields.mode = 1;
  fields.latency = 7;
  fields.tickDivider = 3;
  fields.bitRate = 4;
  fields.cycleDivider = 9;
  fields.fillLimit = 120;
  fields.pollInterval = 2;
  fields.pollBudget = 40;
  const common::RunRecord record = MakeRunRecord(fields);
  const RunRecordCheck check = CheckRunRecord(record.View(), common::InterfaceKind::Pci, 1);
  ASSERT_EQ(check.status, common::kDriverSuccess);
  EXPECT_TRUE(check.settings.latencyMeasurement);
  EXPECT_EQ(check.settings.tickClockDivider, 3);
  EXPECT_EQ(check.settings.bitRateCode, 4);
  EXPECT_EQ(check.settings.cycleDivider, 9);
  EXPECT_EQ(check.settings.mode, RunMode::kBuffered);
  EXPECT_EQ(check.settings.fillLimit, 120);
  EXPECT_EQ(check.settings.pollInterval, 2);
  EXPECT_EQ(check.settings.pollBudget, 40);
}

TEST(CycleArithmeticTest, CycleTimeAndLengthInCounterTicks) {
  EXPECT_EQ(CycleTimeMicroseconds(4, 5), 2560u);
  EXPECT_EQ(CycleTimeMicroseconds(15, 32767), 32767u * 15u * 128u);
  // 2560 us at 10 MHz, plus one.
  EXPECT_EQ(CycleLengthTicks(4, 5, 10'000'000), 25601);
  // A counter faster than the clock output: the split keeps it exact.
  EXPECT_EQ(CycleLengthTicks(1, 1, 3'579'545'000), 3'579'545'000LL * 2048 / 16'000'000 + 1);
  EXPECT_EQ(CycleLengthTicks(15, 32767, 10'000'000), 32767LL * 15 * 1280 + 1);
}

}  // namespace
}  // namespace vantor::canlayer::testing

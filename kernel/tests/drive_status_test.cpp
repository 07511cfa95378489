// The drives' status rows as one cyclic answer leaves them, and what the
// rows allow: running (all flags good) and motion (the drive stop's test).
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "kernel/core/drive_status.h"

namespace vantor::kernel {
namespace {

using F = StatusFlag;

NodeStatusRow Good() {
  NodeStatusRow row;
  row.SetAll(true);
  return row;
}

NodeStatusRow GoodWithout(std::initializer_list<F> cleared) {
  NodeStatusRow row = Good();
  for (const F flag : cleared) row.Set(flag, false);
  return row;
}

std::string Cleared(const NodeStatusRow& row) {
  static const char* const kNames = "ABCIGHJKLFEDMN";
  std::string text;
  for (std::size_t i = 0; i < kStatusFlagCount; ++i) {
    if (row.flags[i] == 0) text += kNames[i];
  }
  return text;
}

struct AnswerCase {
  const char* name;
  DriveAnswer answer;
  const char* cleared;  // in both rows, in row order
  bool faultReactionEntered;
};

TEST(EvaluateDriveStatus, ClearsFailedFlagsInBothRows) {
  const AnswerCase cases[] = {
      {"operation enabled", {0x00, 0x0027, 0, 0, false, false, false}, "", false},
      {"switch-on disabled", {0x00, 0x0060, 0, 0, false, false, false}, "GH", false},
      {"fault reaction", {0x00, 0x000F, 0, 0, false, false, false}, "IG", true},
      {"fault reaction, quick stop bit", {0x00, 0x002F, 0, 0, false, false, false}, "IG", true},
      {"bit 4", {0x00, 0x0037, 0, 0, false, false, false}, "J", false},
      {"warning", {0x00, 0x00A7, 0, 0, false, false, false}, "K", false},
      {"bit 8", {0x00, 0x0127, 0, 0, false, false, false}, "L", false},
      {"following error", {0x00, 0x2027, 0, 0, false, false, false}, "M", false},
      {"negative limit switch", {0x01, 0x0027, 0, 0, false, false, false}, "E", false},
      {"positive limit switch", {0x02, 0x0027, 0, 0, false, false, false}, "F", false},
      {"both limit switches", {0x03, 0x0027, 0, 0, false, false, false}, "FE", false},
      {"other input bits", {0xF4, 0x0027, 0, 0, false, false, false}, "", false},
      {"send failed", {0x00, 0x0027, 3, 0, false, false, false}, "B", false},
      // Without an answer its contents are not looked at.
      {"no answer", {0x03, 0x0060, 0, 2, false, false, false}, "ACD", false},
      {"drive error", {0x00, 0x0027, 0, 0, true, false, false}, "AD", false},
      {"node check failed", {0x00, 0x0027, 0, 0, false, true, false}, "AD", false},
  };
  for (const AnswerCase& c : cases) {
    NodeStatusRow latched = Good();
    NodeStatusRow current = Good();
    const DriveStatusOutcome outcome = EvaluateDriveStatus(c.answer, latched, current);
    EXPECT_EQ(Cleared(current), c.cleared) << c.name;
    EXPECT_EQ(Cleared(latched), c.cleared) << c.name;
    EXPECT_EQ(outcome.faultReactionEntered, c.faultReactionEntered) << c.name;
  }
}

TEST(EvaluateDriveStatus, GoodAnswersRestoreOnlyTheCurrentRow) {
  NodeStatusRow latched = Good();
  NodeStatusRow current = Good();
  const DriveAnswer fault{0x01, 0x000F, 1, 0, false, false, false};
  EXPECT_TRUE(EvaluateDriveStatus(fault, latched, current).faultReactionEntered);
  // Still in the fault reaction: not entered again.
  EXPECT_FALSE(EvaluateDriveStatus(fault, latched, current).faultReactionEntered);

  const DriveAnswer good{0x00, 0x0027, 0, 0, false, false, false};
  EvaluateDriveStatus(good, latched, current);
  EXPECT_EQ(Cleared(current), "");
  EXPECT_EQ(Cleared(latched), "BIGE");

  // A and D come back only through homing and the reset, never here.
  NodeStatusRow currentWithoutA = GoodWithout({F::A, F::D, F::N});
  NodeStatusRow latchedAll = Good();
  EvaluateDriveStatus(good, latchedAll, currentWithoutA);
  EXPECT_EQ(Cleared(currentWithoutA), "ADN");
}

TEST(EvaluateDriveStatus, TargetReachedOnlyMattersForHandlingAxes) {
  NodeStatusRow latched = Good();
  NodeStatusRow current = Good();
  EXPECT_FALSE(
      EvaluateDriveStatus({0, 0x0027, 0, 0, false, false, true}, latched, current).targetReached);
  EXPECT_TRUE(
      EvaluateDriveStatus({0, 0x0427, 0, 0, false, false, true}, latched, current).targetReached);
  EXPECT_TRUE(
      EvaluateDriveStatus({0, 0x0027, 0, 0, false, false, false}, latched, current).targetReached);
}

struct AllowanceCase {
  const char* name;
  NodeStatusRow latched;
  NodeStatusRow current;
  bool inMotion;
  StopAllowance allowance;
  bool allowed;
};

TEST(StopAllowance, RowsFlagsAndModes) {
  const NodeStatusRow good = Good();
  const NodeStatusRow disabled = GoodWithout({F::G, F::H});
  const StopAllowance normal{};
  const StopAllowance powerOff{true, false, false};
  const StopAllowance testMode{false, true, false};
  const StopAllowance bridge{false, false, true};
  const AllowanceCase cases[] = {
      {"all good", good, good, true, normal, true},
      {"power off needs switch-on disabled", good, good, true, powerOff, false},
      {"power off, switch-on disabled", disabled, disabled, true, powerOff, true},
      {"switch-on disabled without power off", disabled, disabled, true, normal, false},
      {"current warning", good, GoodWithout({F::K}), true, normal, false},
      {"latched warning", GoodWithout({F::K}), good, true, normal, false},
      {"not homed does not stop", GoodWithout({F::D}), GoodWithout({F::D}), true, normal, true},
      {"limit switch", good, GoodWithout({F::E}), true, normal, false},
      {"limit switch, bridged", GoodWithout({F::E}), GoodWithout({F::E}), true, bridge, true},
      {"limit switch, test mode", GoodWithout({F::F}), GoodWithout({F::F}), true, testMode, true},
      {"following error, standing", good, GoodWithout({F::M}), false, normal, false},
      {"following error, in motion", good, GoodWithout({F::M}), true, normal, true},
      {"following error, test mode", good, GoodWithout({F::M}), false, testMode, true},
      {"standing, no following error", good, good, false, normal, true},
      {"no run enable", good, GoodWithout({F::N}), true, normal, false},
      {"no latched run enable", GoodWithout({F::N}), good, true, normal, false},
      {"latched fault", GoodWithout({F::I}), good, true, bridge, false},
      {"answers lost", good, GoodWithout({F::C}), true, testMode, false},
  };
  for (const AllowanceCase& c : cases) {
    EXPECT_EQ(NodeAllowsMotion(c.latched, c.current, c.inMotion, c.allowance), c.allowed) << c.name;
  }
}

TEST(AllDriveFlagsOk, WarningsAsideEveryFlagCounts) {
  const NodeStatusRow good = Good();
  EXPECT_TRUE(AllDriveFlagsOk(good, good, false));
  EXPECT_TRUE(AllDriveFlagsOk(GoodWithout({F::K}), GoodWithout({F::K}), false));
  EXPECT_FALSE(AllDriveFlagsOk(GoodWithout({F::D}), good, false));
  EXPECT_FALSE(AllDriveFlagsOk(good, GoodWithout({F::M}), false));
  EXPECT_FALSE(AllDriveFlagsOk(good, good, true));
  const NodeStatusRow disabled = GoodWithout({F::G, F::H});
  EXPECT_TRUE(AllDriveFlagsOk(disabled, disabled, true));
  EXPECT_FALSE(AllDriveFlagsOk(disabled, disabled, false));
}

}  // namespace
}  // namespace vantor::kernel

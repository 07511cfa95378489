#include "kernel/core/drive_status.h"

namespace vantor::kernel {

namespace {

using F = StatusFlag;

constexpr std::uint16_t kStateMask = 0x6F;
constexpr std::uint16_t kOperationEnabled = 0x27;
constexpr std::uint16_t kSwitchOnDisabled = 0x60;
constexpr std::uint16_t kFaultReactionActive = 0x0F;
constexpr std::uint16_t kFaultReactionActiveQuickStop = 0x2F;
constexpr std::uint16_t kStatusBit4 = 1u << 4;
constexpr std::uint16_t kWarningBit = 1u << 7;
constexpr std::uint16_t kBit8 = 1u << 8;
constexpr std::uint16_t kTargetReachedBit = 1u << 10;
constexpr std::uint16_t kFollowingErrorBit = 1u << 13;

// A failed check clears both rows; a passed one sets the current flag.
void Check(NodeStatusRow& latched, NodeStatusRow& current, F flag, bool good) noexcept {
  if (good) {
    current.Set(flag, true);
  } else {
    current.Set(flag, false);
    latched.Set(flag, false);
  }
}

void Fail(NodeStatusRow& latched, NodeStatusRow& current, F flag) noexcept {
  Check(latched, current, flag, false);
}

bool RowReady(const NodeStatusRow& row, const StopAllowance& allowance) noexcept {
  if (!row.Has(F::A) || !row.Has(F::B) || !row.Has(F::C) || !row.Has(F::I)) return false;
  if (allowance.powerOff ? row.Has(F::H) : !row.Has(F::G)) return false;
  if (!row.Has(F::J) || !row.Has(F::K) || !row.Has(F::L)) return false;
  if (!allowance.limitSwitchBridge && !allowance.testMode && (!row.Has(F::F) || !row.Has(F::E))) {
    return false;
  }
  return true;
}

bool RowGood(const NodeStatusRow& row, bool powerOff) noexcept {
  for (const F flag : {F::A, F::B, F::C, F::I, F::J, F::L, F::E, F::F, F::D, F::M}) {
    if (!row.Has(flag)) return false;
  }
  return powerOff ? !row.Has(F::H) : row.Has(F::G);
}

}  // namespace

DriveStatusOutcome EvaluateDriveStatus(const DriveAnswer& answer, NodeStatusRow& latched,
                                       NodeStatusRow& current) noexcept {
  DriveStatusOutcome outcome;
  if (answer.answerResult != 0 || answer.driveError || answer.nodeCheckFailed) {
    Fail(latched, current, F::A);
    Fail(latched, current, F::D);
  }
  Check(latched, current, F::B, answer.sendResult == 0);
  Check(latched, current, F::C, answer.answerResult == 0);
  if (current.Has(F::C)) {
    const std::uint16_t sw = answer.statusword;
    const std::uint16_t state = sw & kStateMask;
    Check(latched, current, F::E, (answer.inputByte & 0x01) == 0);
    Check(latched, current, F::F, (answer.inputByte & 0x02) == 0);
    Check(latched, current, F::G, state == kOperationEnabled);
    Check(latched, current, F::H, state != kSwitchOnDisabled);
    const bool faultReaction =
        state == kFaultReactionActive || state == kFaultReactionActiveQuickStop;
    outcome.faultReactionEntered = faultReaction && current.Has(F::I);
    Check(latched, current, F::I, !faultReaction);
    Check(latched, current, F::J, (sw & kStatusBit4) == 0);
    Check(latched, current, F::K, (sw & kWarningBit) == 0);
    Check(latched, current, F::L, (sw & kBit8) == 0);
    Check(latched, current, F::M, (sw & kFollowingErrorBit) == 0);
  }
  outcome.targetReached = !answer.handlingAxis || (answer.statusword & kTargetReachedBit) != 0;
  return outcome;
}

bool AllDriveFlagsOk(const NodeStatusRow& latched, const NodeStatusRow& current,
                     bool powerOff) noexcept {
  return RowGood(current, powerOff) && RowGood(latched, powerOff);
}

bool NodeAllowsMotion(const NodeStatusRow& latched, const NodeStatusRow& current, bool inMotion,
                      const StopAllowance& allowance) noexcept {
  if (!RowReady(current, allowance) || !RowReady(latched, allowance)) return false;
  if (!(inMotion || allowance.testMode || current.Has(F::M)) || !current.Has(F::N)) return false;
  return latched.Has(F::N);
}

}  // namespace vantor::kernel

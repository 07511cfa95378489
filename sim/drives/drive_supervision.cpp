// How the drive stops on its own terms: the quick stop as its option code
// 0x605A says, and its reaction (0x6007) when the node loses its master.
#include "sim/drives/drive_model.h"

namespace vantor::sim::drives {

namespace {
// Option codes 5 to 8 stay in quick stop active once the axis stands.
constexpr std::int16_t kFirstHoldingQuickStopCode = 5;
// Codes 1 and 5 stop on the profile deceleration, the others on the quick
// stop deceleration.
bool StopsOnProfileDeceleration(std::int16_t code) { return code == 1 || code == 5; }
}  // namespace

std::int16_t DriveModel::QuickStopOptionCode() const {
  return static_cast<std::int16_t>(SignedValue(object::kQuickStopOptionCode, 0));
}

ControlConditions DriveModel::Conditions() const {
  ControlConditions conditions;
  conditions.enableRefused = enableRefused_ || !configurationError_.empty();
  conditions.quickStopHolds = QuickStopOptionCode() >= kFirstHoldingQuickStopCode;
  conditions.enableFromReadyToSwitchOn = config_.behaviour.enableFromReadyToSwitchOn;
  return conditions;
}

double DriveModel::QuickStopDeceleration() const {
  return StopsOnProfileDeceleration(QuickStopOptionCode())
             ? UnsignedValue(object::kProfileDeceleration, 0)
             : UnsignedValue(object::kQuickStopDeceleration, 0);
}

void DriveModel::SettleQuickStop() {
  if (stateMachine_.State() != DriveState::kQuickStopActive) return;
  if (std::abs(axis_.velocity) > kStandstillVelocity) return;
  if (QuickStopOptionCode() >= kFirstHoldingQuickStopCode) return;
  stateMachine_.EndQuickStop();
  StopMotion();
}

void DriveModel::OnLifeGuardingLost(SimTime now) {
  now_ = std::max(now_, now);
  const auto option = static_cast<std::int16_t>(SignedValue(object::kAbortConnectionOption, 0));
  switch (option) {
    case abort_connection::kFault:
      // The node has sent the life guarding emergency already.
      stateMachine_.EnterFault();
      StopMotion();
      break;
    case abort_connection::kDisableVoltage:
      stateMachine_.DisableVoltage();
      StopMotion();
      break;
    case abort_connection::kQuickStop: {
      const bool wasEnabled = stateMachine_.State() == DriveState::kOperationEnabled;
      stateMachine_.QuickStop();
      if (!wasEnabled) StopMotion();
      SettleQuickStop();
      break;
    }
    default:
      return;
  }
  UpdateSyncWatch();
  Schedule();
  Publish();
}

}  // namespace vantor::sim::drives

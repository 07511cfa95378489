#include "sim/drives/drive_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/canopen/pdo_engine.h"
#include "sim/drives/drive_dictionary.h"

namespace vantor::sim::drives {

namespace {

using canopen::ObjectEntry;
using canopen::SdoAbortCode;
using canopen::WriteOrigin;

constexpr std::uint32_t kFollowingErrorCheckOff = 0xFFFFFFFFu;

std::int64_t LittleEndianSigned(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
    value |= std::uint64_t{bytes[i]} << (8 * i);
  const unsigned bits = static_cast<unsigned>(bytes.size() * 8);
  if (bits > 0 && bits < 64 && (value & (std::uint64_t{1} << (bits - 1))) != 0) {
    value |= ~std::uint64_t{0} << bits;
  }
  return static_cast<std::int64_t>(value);
}

bool IsKnownMode(std::int64_t mode) {
  switch (static_cast<OperationMode>(mode)) {
    case OperationMode::kLeaveLimitSwitch:
    case OperationMode::kNone:
    case OperationMode::kProfilePosition:
    case OperationMode::kProfileVelocity:
    case OperationMode::kHoming:
    case OperationMode::kInterpolatedPosition:
      return true;
  }
  return false;
}

}  // namespace

std::int32_t ToIncrements(double value) {
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(std::clamp(std::round(value), kMin, kMax));
}

DriveModel::DriveModel(canopen::CanopenNode& node, const DriveConfig& config,
                       std::string configurationError)
    : node_(node), config_(config), configurationError_(std::move(configurationError)) {
  AddDriveObjects(Objects(), config_);
  HookObjects();
  axis_.position = config_.startPosition;
  actual_ = axis_.position;
  if (!configurationError_.empty()) EnterFault(emergency::kParameterError);
  Publish();
}

std::int64_t DriveModel::SignedValue(std::uint16_t index, std::uint8_t sub) const {
  const ObjectEntry* entry = Objects().Find(index, sub);
  return entry == nullptr ? 0 : entry->Signed();
}

double DriveModel::UnsignedValue(std::uint16_t index, std::uint8_t sub) const {
  return static_cast<double>(Objects().Unsigned(index, sub));
}

OperationMode DriveModel::Mode() const {
  return static_cast<OperationMode>(SignedValue(object::kModesOfOperation, 0));
}

std::int32_t DriveModel::ReportedPosition() const { return ToIncrements(actual_ - zero_); }

void DriveModel::HookObjects() {
  canopen::ObjectDictionary& objects = Objects();
  objects.OnWritten(object::kControlword, 0,
                    [this](const ObjectEntry&, WriteOrigin) { OnControlword(); });
  objects.OnWriteCheck(object::kModesOfOperation, 0, [](std::span<const std::uint8_t> value) {
    return IsKnownMode(LittleEndianSigned(value)) ? SdoAbortCode::kNone : SdoAbortCode::kValueRange;
  });
  objects.OnWritten(object::kModesOfOperation, 0,
                    [this](const ObjectEntry&, WriteOrigin) { OnModeChanged(); });
  objects.OnWriteCheck(object::kHomingMethod, 0, [](std::span<const std::uint8_t> value) {
    return IsSupportedHomingMethod(static_cast<std::int8_t>(value[0])) ? SdoAbortCode::kNone
                                                                       : SdoAbortCode::kValueRange;
  });
  objects.OnWriteCheck(object::kAxisChain, chain::kState, [](std::span<const std::uint8_t> value) {
    return value[0] <= 2 ? SdoAbortCode::kNone : SdoAbortCode::kValueRange;
  });
  objects.OnWriteCheck(object::kInterpolationPeriod, 1, [](std::span<const std::uint8_t> value) {
    return LittleEndianSigned(value) != 0 ? SdoAbortCode::kNone : SdoAbortCode::kValueRange;
  });
  // Only microseconds and milliseconds make sense for a servo cycle.
  objects.OnWriteCheck(object::kInterpolationPeriod, 2, [](std::span<const std::uint8_t> value) {
    const auto exponent = static_cast<std::int8_t>(value[0]);
    return exponent == -6 || exponent == -3 ? SdoAbortCode::kNone : SdoAbortCode::kValueRange;
  });
  objects.OnWritten(object::kInterpolationBuffer, 6, [this](const ObjectEntry& entry, WriteOrigin) {
    if (entry.Unsigned() == 0) setPoints_.clear();
    Publish();
  });
  objects.OnWritten(object::kHomedMark, 0, [this](const ObjectEntry& entry, WriteOrigin) {
    keepZeroOnReset_ = entry.Unsigned() != 0;
  });
  if (objects.Find(object::kHomeShift, homeshift::kTrigger) != nullptr) {
    objects.OnWritten(object::kHomeShift, homeshift::kTrigger,
                      [this](const ObjectEntry&, WriteOrigin) { OnHomeShiftTrigger(); });
  }
  HookStopOnInput();
  HookAnalogueInput();
  for (const std::uint16_t index : {object::kTargetVelocity, object::kLimitSwitchBridge}) {
    objects.OnWritten(index, 0, [this](const ObjectEntry&, WriteOrigin) {
      Schedule();
      Publish();
    });
  }
}

void DriveModel::OnResetApplication(SimTime now) {
  now_ = now;
  stateMachine_.Reset();
  StopMotion();
  controlword_ = 0;
  halted_ = false;
  homingAttained_ = false;
  homingError_ = false;
  followingError_ = false;
  followingErrorSeconds_ = 0.0;
  homeShiftTrigger_ = 0;
  handwheelCounter_.reset();
  stoppedOnInput_ = false;
  // A drive marked as homed before the reset keeps its zero; any other
  // starts counting from the encoder again.
  if (!keepZeroOnReset_) zero_ = 0.0;
  keepZeroOnReset_ = false;
  nextStep_ = kNever;
  syncDeadline_ = kNever;
  if (!configurationError_.empty()) EnterFault(emergency::kParameterError);
  Publish();
}

void DriveModel::OnControlword() {
  const std::uint16_t previous = controlword_;
  controlword_ = static_cast<std::uint16_t>(Objects().Unsigned(object::kControlword, 0));
  const DriveState before = stateMachine_.State();
  DriveState after = stateMachine_.ApplyControlword(controlword_, Conditions());
  if (before == DriveState::kFault && after != DriveState::kFault) {
    if (!configurationError_.empty()) {
      stateMachine_.EnterFault();
      after = DriveState::kFault;
    } else {
      followingError_ = false;
      followingErrorSeconds_ = 0.0;
      node_.ClearEmergencies();
    }
  }
  const bool wasRunning =
      before == DriveState::kOperationEnabled || before == DriveState::kQuickStopActive;
  const bool running =
      after == DriveState::kOperationEnabled || after == DriveState::kQuickStopActive;
  if (wasRunning && !running) StopMotion();
  if (after == DriveState::kOperationEnabled && before != DriveState::kOperationEnabled) {
    // Enabled from standstill: the demand starts where the axis stands.
    StopMotion();
  }
  if (after == DriveState::kQuickStopActive) SettleQuickStop();
  halted_ = (controlword_ & controlword::kHalt) != 0;
  if (after == DriveState::kOperationEnabled) {
    const bool risingStart = (controlword_ & controlword::kNewSetPoint) != 0 &&
                             (previous & controlword::kNewSetPoint) == 0;
    switch (Mode()) {
      case OperationMode::kProfilePosition:
        if ((controlword_ & controlword::kEndMove) != 0) {
          profileTarget_.reset();
          pendingTarget_.reset();
        }
        if (risingStart) TakeProfileSetPoint();
        // The handshake ends once the master drops bit 4 and no set-point
        // waits any more.
        if ((controlword_ & controlword::kNewSetPoint) == 0 && !pendingTarget_) {
          setPointAcknowledged_ = false;
        }
        break;
      case OperationMode::kHoming:
        if (risingStart) StartHoming();
        break;
      case OperationMode::kLeaveLimitSwitch:
        if (risingStart) StartLeaveMove();
        break;
      case OperationMode::kInterpolatedPosition:
      case OperationMode::kProfileVelocity:
      case OperationMode::kNone:
        break;
    }
  }
  UpdateSyncWatch();
  Schedule();
  Publish();
}

void DriveModel::OnModeChanged() {
  // A mode change ends whatever the previous mode was doing.
  profileTarget_.reset();
  pendingTarget_.reset();
  homing_.reset();
  leaving_ = false;
  setPoints_.clear();
  segment_.reset();
  setPointAcknowledged_ = false;
  homingAttained_ = false;
  homingError_ = false;
  UpdateSyncWatch();
  Schedule();
  Publish();
}

void DriveModel::OnHomeShiftTrigger() {
  const auto trigger =
      static_cast<std::uint8_t>(Objects().Unsigned(object::kHomeShift, homeshift::kTrigger));
  if (homeShiftTrigger_ == 0 && trigger == 1) {
    zero_ += static_cast<double>(SignedValue(object::kHomeShift, homeshift::kIncrements));
  }
  homeShiftTrigger_ = trigger;
  Publish();
}

void DriveModel::EnterFault(std::uint16_t emergencyCode) {
  stateMachine_.EnterFault();
  StopMotion();
  node_.RaiseEmergency(emergencyCode, emergency::kGenericErrorBit);
  Publish();
}

void DriveModel::InjectFault(std::uint16_t emergencyCode) { EnterFault(emergencyCode); }

void DriveModel::InjectFollowingError() {
  followingError_ = true;
  EnterFault(emergency::kFollowingError);
}

void DriveModel::SetSilent(bool silent) { node_.Faults().SilenceAll(silent); }

void DriveModel::SetUserInputs(std::uint8_t bits) {
  userInputs_ = bits & inputs::kUserInputsMask;
  Publish();
}

void DriveModel::StopMotion() {
  axis_.position = actual_;
  axis_.velocity = 0.0;
  profileTarget_.reset();
  pendingTarget_.reset();
  homing_.reset();
  leaving_ = false;
  setPoints_.clear();
  segment_.reset();
  UpdateSyncWatch();
}

void DriveModel::TakeProfileSetPoint() {
  if (stoppedOnInput_) return;
  // One set-point waits at most; a further one is not taken (and not
  // acknowledged) until it has started.
  if (pendingTarget_) return;
  const bool immediately = (controlword_ & controlword::kChangeImmediately) != 0;
  if (immediately || ProfileTargetReached()) {
    StartProfileMove();
    return;
  }
  const double target = static_cast<double>(SignedValue(object::kTargetPosition, 0));
  const bool relative = (controlword_ & controlword::kRelative) != 0;
  // A relative set-point counts from the target it follows.
  pendingTarget_ = relative ? *profileTarget_ + target : target + zero_;
  setPointAcknowledged_ = true;
}

void DriveModel::StartProfileMove() {
  const double target = static_cast<double>(SignedValue(object::kTargetPosition, 0));
  const bool relative = (controlword_ & controlword::kRelative) != 0;
  const double base = profileTarget_ ? *profileTarget_ : axis_.position;
  profileTarget_ = relative ? base + target : target + zero_;
  setPointAcknowledged_ = true;
}

void DriveModel::StartPendingProfileMove() {
  if (!pendingTarget_ || !ProfileTargetReached()) return;
  profileTarget_ = pendingTarget_;
  pendingTarget_.reset();
  if ((controlword_ & controlword::kNewSetPoint) == 0) setPointAcknowledged_ = false;
}

bool DriveModel::ProfileTargetReached() const {
  return !profileTarget_ ||
         (std::abs(axis_.velocity) <= kStandstillVelocity &&
          std::abs(*profileTarget_ - axis_.position) <= kTargetToleranceIncrements);
}

void DriveModel::StartHoming() {
  HomingParameters parameters;
  parameters.method = static_cast<std::int8_t>(SignedValue(object::kHomingMethod, 0));
  parameters.switchSearchSpeed = UnsignedValue(object::kHomingSpeeds, 1);
  parameters.zeroSearchSpeed = UnsignedValue(object::kHomingSpeeds, 2);
  parameters.acceleration = UnsignedValue(object::kHomingAcceleration, 0);
  parameters.homeOffset = static_cast<double>(SignedValue(object::kHomeOffset, 0));
  parameters.gantryPhases =
      config_.gantryPdoHoming && Objects().Unsigned(object::kAxisChain, chain::kState) != 0;
  homingAttained_ = false;
  homingError_ = false;
  homing_.emplace(parameters, config_, axis_.position);
  FinishHoming(homing_->Status());
}

void DriveModel::FinishHoming(HomingStatus status) {
  if (status == HomingStatus::kAttained) {
    axis_.velocity = 0.0;
    zero_ = axis_.position;
    homingAttained_ = true;
    homing_.reset();
  } else if (status == HomingStatus::kError) {
    axis_.velocity = 0.0;
    homingError_ = true;
    homing_.reset();
  }
}

void DriveModel::StartLeaveMove() {
  if (NegativeLimitActive()) {
    leaveDirection_ = 1.0;
  } else if (PositiveLimitActive()) {
    leaveDirection_ = -1.0;
  } else {
    leaving_ = false;
    return;
  }
  leaving_ = true;
}

void DriveModel::Schedule() {
  if (nextStep_ == kNever && Moving()) nextStep_ = now_ + kMotionStep;
}

void DriveModel::AdvanceTo(SimTime now) {
  for (;;) {
    const SimTime next = std::min(nextStep_, syncDeadline_);
    if (next > now) break;
    now_ = next;
    if (syncDeadline_ == next) {
      syncDeadline_ = kNever;
      EnterFault(emergency::kSyncLoss);
    }
    if (nextStep_ == next) {
      Step(static_cast<double>(kMotionStep) * kSecondsPerNanosecond);
      nextStep_ = Moving() ? next + kMotionStep : kNever;
    }
  }
  now_ = std::max(now_, now);
}

void DriveModel::RefreshReadings(SimTime now) {
  // The clock wraps as a 32-bit microsecond count does.
  Objects().SetUnsigned(
      object::kDriveClock, 0,
      static_cast<std::uint32_t>(std::max(now_, now) / kNanosecondsPerMicrosecond));
}

SimTime DriveModel::NextDeadline() const { return std::min(nextStep_, syncDeadline_); }

bool DriveModel::Moving() const {
  if (std::abs(axis_.velocity) > kStandstillVelocity) return true;
  if (stalled_ && std::abs(axis_.position - actual_) > kTargetToleranceIncrements) return true;
  const DriveState state = stateMachine_.State();
  if (state != DriveState::kOperationEnabled) return false;
  switch (Mode()) {
    case OperationMode::kProfilePosition:
      // Without a profile velocity the axis cannot move toward its target.
      return profileTarget_ && std::abs(*profileTarget_ - axis_.position) > 0.0 &&
             ProfileLimits().velocity > 0.0;
    case OperationMode::kProfileVelocity:
      return SignedValue(object::kTargetVelocity, 0) != 0 && !halted_;
    case OperationMode::kHoming:
      return homing_.has_value();
    case OperationMode::kLeaveLimitSwitch:
      return leaving_;
    case OperationMode::kInterpolatedPosition:
      return segment_.has_value();
    case OperationMode::kNone:
      return false;
  }
  return false;
}

void DriveModel::Step(double seconds) {
  const double before = axis_.position;
  switch (stateMachine_.State()) {
    case DriveState::kOperationEnabled:
      StepOperation(seconds);
      break;
    case DriveState::kQuickStopActive:
      StepTowardVelocity(axis_, 0.0, QuickStopDeceleration(), seconds);
      SettleQuickStop();
      break;
    default:
      axis_.velocity = 0.0;
      break;
  }
  if (Mode() != OperationMode::kHoming || stateMachine_.State() != DriveState::kOperationEnabled) {
    ApplyLimitSwitches(before);
  }
  if (!stalled_) actual_ = axis_.position;
  CheckFollowingError(seconds);
  Publish();
}

void DriveModel::StepOperation(double seconds) {
  if (stoppedOnInput_) {
    StepStopOnInput(seconds);
    return;
  }
  const double acceleration = UnsignedValue(object::kProfileAcceleration, 0);
  const double deceleration = UnsignedValue(object::kProfileDeceleration, 0);
  switch (Mode()) {
    case OperationMode::kProfilePosition:
      if (halted_ || !profileTarget_) {
        StepTowardVelocity(axis_, 0.0, deceleration, seconds);
      } else {
        StepTowardPosition(axis_, *profileTarget_, ProfileLimits(), seconds);
        StartPendingProfileMove();
      }
      break;
    case OperationMode::kProfileVelocity: {
      const double velocity =
          halted_ ? 0.0 : static_cast<double>(SignedValue(object::kTargetVelocity, 0));
      StepTowardVelocity(axis_, velocity, acceleration, seconds);
      break;
    }
    case OperationMode::kHoming:
      if (homing_ && !halted_) {
        homing_->SetPhaseBytes(Objects().Unsigned(object::kAxisChain, chain::kPhaseByteA) != 0,
                               Objects().Unsigned(object::kAxisChain, chain::kPhaseByteB) != 0);
        FinishHoming(homing_->Step(axis_, seconds));
      } else {
        StepTowardVelocity(axis_, 0.0, UnsignedValue(object::kHomingAcceleration, 0), seconds);
      }
      break;
    case OperationMode::kLeaveLimitSwitch: {
      const double speed =
          leaving_ && !halted_ ? leaveDirection_ * UnsignedValue(object::kHomingSpeeds, 2) : 0.0;
      StepTowardVelocity(axis_, speed, UnsignedValue(object::kHomingAcceleration, 0), seconds);
      if (leaving_ && !NegativeLimitActive() && !PositiveLimitActive()) {
        leaving_ = false;
        axis_.velocity = 0.0;
      }
      break;
    }
    case OperationMode::kInterpolatedPosition:
      StepInterpolation();
      break;
    case OperationMode::kNone:
      break;
  }
}

void DriveModel::ApplyLimitSwitches(double before) {
  if (LimitsBridged() || Mode() == OperationMode::kLeaveLimitSwitch) return;
  bool stopped = false;
  if (config_.negativeLimit && axis_.position < before && axis_.position < *config_.negativeLimit) {
    axis_.position = std::min(before, static_cast<double>(*config_.negativeLimit));
    stopped = true;
  }
  if (config_.positiveLimit && axis_.position > before && axis_.position > *config_.positiveLimit) {
    axis_.position = std::max(before, static_cast<double>(*config_.positiveLimit));
    stopped = true;
  }
  if (stopped) {
    // The switch stops the axis where it is; a profile move ends there.
    axis_.velocity = 0.0;
    if (profileTarget_) profileTarget_ = axis_.position;
  }
}

void DriveModel::CheckFollowingError(double seconds) {
  const auto window =
      static_cast<std::uint32_t>(Objects().Unsigned(object::kFollowingErrorWindow, 0));
  if (window == kFollowingErrorCheckOff || stateMachine_.State() != DriveState::kOperationEnabled) {
    followingErrorSeconds_ = 0.0;
    return;
  }
  if (std::abs(axis_.position - actual_) <= window) {
    followingErrorSeconds_ = 0.0;
    return;
  }
  followingErrorSeconds_ += seconds;
  const double limit = UnsignedValue(object::kFollowingErrorTimeOut, 0) * 1e-3;
  if (followingErrorSeconds_ > limit) {
    followingError_ = true;
    EnterFault(emergency::kFollowingError);
  }
}

}  // namespace vantor::sim::drives

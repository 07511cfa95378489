#include "interface/status_evaluation.h"

#include <algorithm>

namespace vantor::interface {
namespace {

namespace cs = common::complete_status;
using cs::DriveStateWord;
using cs::StateWord;

// Which of an axis's two copies a rule reads: the latched one keeps a
// condition until the next reset, the current one shows it as it is now.
enum class Copy { Latched, Current };

// Read access to the complete status in the terms of the rules below.
class StatusImage {
 public:
  explicit StatusImage(CompleteStatusView record) : record_(record) {}

  bool Flag(StateWord word) const { return Word(cs::StateWordOffset(word)) != 0; }

  // A condition of the axis's drive is present when its OK word is 0.
  bool DriveCondition(std::uint32_t axis, Copy copy, DriveStateWord word) const {
    const auto section = copy == Copy::Latched ? cs::kLatchedDriveState : cs::kCurrentDriveState;
    return Word(cs::AxisOffset(section, axis, cs::DriveStateWordOffset(word))) == 0;
  }

  bool DriveConditionEver(std::uint32_t axis, DriveStateWord word) const {
    return DriveCondition(axis, Copy::Latched, word) || DriveCondition(axis, Copy::Current, word);
  }

  // The slave axes of an axis sit in the slave slots from the axis's own
  // on; the count comes from the kernel, so the walk stops at the last slot.
  bool SlavesOk(std::uint32_t axis, Copy copy) const {
    const auto section = copy == Copy::Latched ? cs::kLatchedSlaveState : cs::kCurrentSlaveState;
    const std::uint32_t count = Word(cs::AxisOffset(cs::kAxisTable, axis, cs::kSlaveCountWord));
    for (std::uint32_t j = 0; j < count && axis + j < cs::kMaxAxes; ++j) {
      if (Word(cs::AxisOffset(section, axis + j, cs::kSlaveNegativeLimitOKWord)) == 0 ||
          Word(cs::AxisOffset(section, axis + j, cs::kSlavePositiveLimitOKWord)) == 0) {
        return false;
      }
    }
    return true;
  }

  bool NegativeLimitSwitch(std::uint32_t axis, Copy copy) const {
    return DriveCondition(axis, copy, DriveStateWord::NegHweError) || !SlavesOk(axis, copy);
  }
  bool PositiveLimitSwitch(std::uint32_t axis, Copy copy) const {
    return DriveCondition(axis, copy, DriveStateWord::PosHweError) || !SlavesOk(axis, copy);
  }
  bool AnyLimitSwitch(std::uint32_t axis, Copy copy) const {
    return NegativeLimitSwitch(axis, copy) || PositiveLimitSwitch(axis, copy);
  }

  bool SlaveErrorReported(std::uint32_t axis) const {
    for (const auto section : {cs::kLatchedDriveState, cs::kCurrentDriveState}) {
      const auto number =
          record_.Load<std::int16_t>(cs::AxisOffset(section, axis, cs::kDriveErrorNumber));
      if (number == cs::kDriveErrorSlaveAxis) return true;
    }
    return false;
  }

  // The drive is able to follow: no fault, powered (unless hand operation
  // switched the power off on purpose) and not at its current limit.
  bool DrivePasses(std::uint32_t axis) const {
    if (DriveConditionEver(axis, DriveStateWord::FaultActive)) return false;
    if (!Flag(StateWord::HandModus) &&
        (DriveConditionEver(axis, DriveStateWord::NoOperationEnable) ||
         DriveConditionEver(axis, DriveStateWord::SwitchOnDisabled))) {
      return false;
    }
    return !DriveConditionEver(axis, DriveStateWord::NoAmplifyEnable) &&
           !DriveConditionEver(axis, DriveStateWord::CurrentLimitError);
  }

  bool DriveSpecificError(std::uint32_t axis) const {
    return !DrivePasses(axis) || DriveConditionEver(axis, DriveStateWord::ParInvalid);
  }

  bool CommunicationLost(std::uint32_t axis) const {
    return DriveConditionEver(axis, DriveStateWord::NmtError) ||
           DriveConditionEver(axis, DriveStateWord::TransmitError) ||
           DriveConditionEver(axis, DriveStateWord::ReceiveError);
  }

  // The SYNC and time-stamp messages, latched and current.
  bool MessagesOk() const {
    return record_.Get(cs::kLatchedSynObjOK) != 0 && record_.Get(cs::kLatchedTimeStampObjOK) != 0 &&
           record_.Get(cs::kCurrentSynObjOK) != 0 && record_.Get(cs::kCurrentTimeStampObjOK) != 0;
  }

  bool NegativeSoftwareLimit(std::uint32_t coordinate) const {
    return Word(cs::CurrentNegSweWarningOffset(coordinate)) == 0;
  }
  bool PositiveSoftwareLimit(std::uint32_t coordinate) const {
    return Word(cs::CurrentPosSweWarningOffset(coordinate)) == 0;
  }

  std::uint32_t AxisWord(cs::AxisSection section, std::uint32_t axis, std::size_t within) const {
    return Word(cs::AxisOffset(section, axis, within));
  }

 private:
  // An offset outside the record reads as 0: the condition counts as present.
  std::uint32_t Word(std::size_t offset) const {
    return record_.Load<std::uint32_t>(offset).value_or(0);
  }

  CompleteStatusView record_;
};

// Sets a 0/1 field and its twin bit.
void Put(std::uint32_t& field, std::uint32_t& flags, int bit, bool value) {
  field = value ? 1 : 0;
  PutFlagBit(flags, bit, value);
}

template <typename Predicate>
bool AnyBelow(std::uint32_t count, Predicate predicate) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (predicate(i)) return true;
  }
  return false;
}

}  // namespace

StatusCounts BoundedStatusCounts(std::uint32_t axes, std::uint32_t coordinates) {
  return {std::min<std::uint32_t>(axes, cs::kMaxAxes),
          std::min<std::uint32_t>(coordinates, cs::kMaxCoordinates)};
}

void BuildControllerStatus(CompleteStatusView record, StatusCounts counts,
                           LinkoraMotionControlStatus& status) {
  namespace bit = controller_bit;
  const StatusImage image(record);
  counts = BoundedStatusCounts(counts.axes, counts.coordinates);
  const auto anyAxis = [&](auto predicate) { return AnyBelow(counts.axes, predicate); };
  const auto anyCoordinate = [&](auto predicate) {
    return AnyBelow(counts.coordinates, predicate);
  };
  const auto ever = [&](DriveStateWord word) {
    return anyAxis([&](std::uint32_t i) { return image.DriveConditionEver(i, word); });
  };
  std::uint32_t& flags = status.Flags;

  status.NegHWLSMask = 0;
  status.PosHWLSMask = 0;
  for (std::uint32_t i = 0; i < counts.axes; ++i) {
    if (image.NegativeLimitSwitch(i, Copy::Current)) status.NegHWLSMask |= 1u << i;
    if (image.PositiveLimitSwitch(i, Copy::Current)) status.PosHWLSMask |= 1u << i;
  }
  status.NegSWLSMask = 0;
  status.PosSWLSMask = 0;
  for (std::uint32_t j = 0; j < counts.coordinates; ++j) {
    if (image.NegativeSoftwareLimit(j)) status.NegSWLSMask |= 1u << j;
    if (image.PositiveSoftwareLimit(j)) status.PosSWLSMask |= 1u << j;
  }

  Put(status.InMotion, flags, bit::kInMotion, image.Flag(StateWord::ProcessVec));
  Put(status.InStopMode, flags, bit::kInStopMode, image.Flag(StateWord::StopFlag));
  Put(status.InTeachMode, flags, bit::kInTeachMode, image.Flag(StateWord::TeachInModus));
  Put(status.InTestMode, flags, bit::kInTestMode, image.Flag(StateWord::TestModus));
  Put(status.CurrentOff, flags, bit::kCurrentOff, image.Flag(StateWord::HandModus));
  Put(status.InPathMotion, flags, bit::kInPathMotion, image.Flag(StateWord::ProcessPath));
  Put(status.IsMoving, flags, bit::kIsMoving, image.Flag(StateWord::MoveActive));
  Put(status.PathStart, flags, bit::kPathStart, image.Flag(StateWord::PathStart));
  Put(status.NeedReferenceRun, flags, bit::kNeedReferenceRun, ever(DriveStateWord::HomingError));
  Put(status.BreakError, flags, bit::kBreakError, image.Flag(StateWord::BreakFlag));
  Put(status.HWLSActive, flags, bit::kHwlsActive,
      anyAxis([&](std::uint32_t i) { return image.AnyLimitSwitch(i, Copy::Current); }));
  Put(status.SWLSActive, flags, bit::kSwlsActive, anyCoordinate([&](std::uint32_t j) {
        return image.NegativeSoftwareLimit(j) || image.PositiveSoftwareLimit(j);
      }));
  Put(status.HWLSDuringMotion, flags, bit::kHwlsDuringMotion,
      anyAxis([&](std::uint32_t i) { return image.AnyLimitSwitch(i, Copy::Latched); }));
  Put(status.AfterRunError, flags, bit::kAfterRunError, ever(DriveStateWord::FollowError));
  Put(status.PowerFail, flags, bit::kPowerFail, ever(DriveStateWord::MainVoltageError));
  Put(status.SCFail, flags, bit::kScFail, false);
  Put(status.HardwareFail, flags, bit::kHardwareFail, !image.Flag(StateWord::CanInterfaceOK));
  Put(status.CommunicationFail, flags, bit::kCommunicationFail,
      !image.MessagesOk() || anyAxis([&](std::uint32_t i) { return image.CommunicationLost(i); }));

  PutFlagBit(flags, bit::kSoiInit, image.Flag(StateWord::SoiInit));
  PutFlagBit(flags, bit::kSoiActive, image.Flag(StateWord::SoiActive));
  PutFlagBit(flags, bit::kSoiInputActive, image.Flag(StateWord::SoiInputActive));
  PutFlagBit(flags, bit::kHandwheelInit, image.Flag(StateWord::HandwheelInit));
  PutFlagBit(flags, bit::kHandwheelActive, image.Flag(StateWord::HandwheelActive));
  PutFlagBit(flags, bit::kHandwheelNotOk, !image.Flag(StateWord::HandwheelOK));
  PutFlagBit(flags, bit::kHandwheelLatched, image.Flag(StateWord::HandwheelLatched));
  PutFlagBit(flags, bit::kVpoActive, image.Flag(StateWord::VpoActive));
  PutFlagBit(flags, bit::kHandwheelF1, image.Flag(StateWord::HandwheelF1));
  PutFlagBit(flags, bit::kHandwheelF2, image.Flag(StateWord::HandwheelF2));
  PutFlagBit(flags, bit::kSlaveError,
             anyAxis([&](std::uint32_t i) { return image.SlaveErrorReported(i); }));
  for (const int unused : {22, 23, 24}) PutFlagBit(flags, unused, false);

  Put(status.IsInitialized, status.Flags2, bit::kIsInitialized, true);
  const bool driveSpecific = !image.Flag(StateWord::PerPdoOK) ||
                             anyAxis([&](std::uint32_t i) { return image.DriveSpecificError(i); });
  Put(status.CtrlSpecError, status.Flags2, bit::kCtrlSpecError, driveSpecific);
  PutFlagBit(status.Flags2, bit::kPowerState, anyAxis([&](std::uint32_t i) {
               return image.DriveCondition(i, Copy::Current, DriveStateWord::MainVoltageError);
             }));
}

void MarkDrillCycle(bool drilling, LinkoraMotionControlStatus& status) {
  namespace bit = controller_bit;
  PutFlagBit(status.Flags2, bit::kDrillCycleActive, drilling);
  status.IsBusy = (status.Flags2 & (1u << bit::kBusy)) != 0 || drilling ? 1 : 0;
  PutFlagBit(status.Flags2, bit::kBusy, drilling);
  status.DrillCycleActive = drilling ? 1 : 0;
}

void BuildAxisStatus(CompleteStatusView record, std::uint32_t axis, LinkoraAxisStatus& status) {
  namespace bit = axis_bit;
  const StatusImage image(record);
  if (axis >= cs::kMaxAxes) return;
  std::uint32_t& flags = status.Flags;
  const auto ever = [&](DriveStateWord word) { return image.DriveConditionEver(axis, word); };

  // A single axis moves on its own: it is in motion until it reports its
  // target reached, and the path's stop does not concern it.
  const bool singleAxis = image.AxisWord(cs::kAxisModes, axis, cs::kSingleAxisWord) != 0;
  const bool targetReached =
      image.AxisWord(cs::kAxisMotionWords, axis, cs::kTargetReachedWord) != 0;
  Put(status.InMotion, flags, bit::kInMotion,
      singleAxis ? !targetReached : image.Flag(StateWord::ProcessVec));
  Put(status.InStopMode, flags, bit::kInStopMode, !singleAxis && image.Flag(StateWord::StopFlag));
  Put(status.CurrentOff, flags, bit::kCurrentOff, image.Flag(StateWord::HandModus));
  Put(status.IsMoving, flags, bit::kIsMoving,
      image.AxisWord(cs::kAxisMotionWords, axis, cs::kMoveActiveWord) != 0);
  PutFlagBit(flags, bit::kTargetReached, targetReached);
  Put(status.NeedReferenceRun, flags, bit::kNeedReferenceRun, ever(DriveStateWord::HomingError));
  Put(status.HWLSNegActive, flags, bit::kHwlsNegActive,
      image.NegativeLimitSwitch(axis, Copy::Current));
  Put(status.HWLSPosActive, flags, bit::kHwlsPosActive,
      image.PositiveLimitSwitch(axis, Copy::Current));
  Put(status.HWLSDuringmotion, flags, bit::kHwlsDuringMotion,
      image.AnyLimitSwitch(axis, Copy::Latched));
  Put(status.SWLSNegActive, flags, bit::kSwlsNegActive, image.NegativeSoftwareLimit(axis));
  Put(status.SWLSPosActive, flags, bit::kSwlsPosActive, image.PositiveSoftwareLimit(axis));
  Put(status.AfterRunError, flags, bit::kAfterRunError, ever(DriveStateWord::FollowError));
  Put(status.CommunicationFail, flags, bit::kCommunicationFail,
      !image.MessagesOk() || image.CommunicationLost(axis));
  Put(status.PowerFail, flags, bit::kPowerFail, ever(DriveStateWord::MainVoltageError));
  Put(status.CurrentLimiter, flags, bit::kCurrentLimiter, ever(DriveStateWord::CurrentLimitError));

  Put(status.IsInitialized, status.Flags2, bit::kIsInitialized, true);
  Put(status.Ready, status.Flags2, bit::kReady, true);
  Put(status.HardwareSpecError, status.Flags2, bit::kHardwareSpecError,
      image.DriveSpecificError(axis));
  PutFlagBit(status.Flags2, bit::kSingleAxis, singleAxis);
  PutFlagBit(status.Flags2, bit::kVelocityMode,
             image.AxisWord(cs::kAxisModes, axis, cs::kPositionModeWord) == 0);
  PutFlagBit(status.Flags2, bit::kSlaveError, image.SlaveErrorReported(axis));
}

}  // namespace vantor::interface

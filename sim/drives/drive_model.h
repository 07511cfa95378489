// The simulated DS402 servo drive: device control, the modes of operation
// the kernel uses (profile position and velocity, homing, interpolated
// position with its set-point buffer, leaving a limit switch), limit
// switches, the following-error check and the maker objects' reactions,
// the quick stop as its option code says and its reaction to a lost
// master, over a kinematic axis that follows its demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "sim/canopen/canopen_node.h"
#include "sim/drives/axis_motion.h"
#include "sim/drives/drive_config.h"
#include "sim/drives/drive_objects.h"
#include "sim/drives/ds402_state_machine.h"
#include "sim/drives/homing_run.h"

namespace vantor::sim::drives {

// The axis is stepped this often while anything moves.
constexpr SimTime kMotionStep = 250 * kNanosecondsPerMicrosecond;
// Slower than this the axis stands (increments per second).
constexpr double kStandstillVelocity = 1e-9;
// Closer than this the axis stands on its target (increments).
constexpr double kTargetToleranceIncrements = 0.5;
constexpr double kSecondsPerNanosecond = 1e-9;

// The nearest whole increment, held to the signed 32-bit range.
std::int32_t ToIncrements(double value);

// The switches a drive's inputs report.
enum class DriveSwitch : std::uint8_t { kNegativeLimit, kPositiveLimit, kHome };

class DriveModel final : public canopen::NodeApplication {
 public:
  // Adds the drive's objects to the node and hooks their writes. A
  // non-empty `configurationError` is a parameter set the drive cannot
  // run with: it stays in fault and refuses to be reset out of it.
  DriveModel(canopen::CanopenNode& node, const DriveConfig& config,
             std::string configurationError = {});

  // Test hooks.
  void InjectFault(std::uint16_t emergencyCode);
  void InjectFollowingError();
  void SetStalled(bool stalled) { stalled_ = stalled; }
  void SetEnableRefused(bool refused) { enableRefused_ = refused; }
  // The node answers nothing and sends nothing at all.
  void SetSilent(bool silent);
  // Digital inputs 4..7 of 0x60FD.
  void SetUserInputs(std::uint8_t bits);
  // Moves a switch of the machine around the drive (nullopt: the switch is
  // not fitted). The inputs show it at once and a move stops on it; a
  // homing run under way keeps the switches it started with. False, and
  // nothing moved, when the negative limit would not lie below the
  // positive one, as a machine description requires too.
  bool SetSwitchPosition(DriveSwitch which, std::optional<std::int32_t> position);
  // The A/D converter's reading (0x2055 sub 4); false when the firmware
  // has no A/D converter.
  bool SetAnalogueValue(std::uint16_t value);

  DriveState State() const { return stateMachine_.State(); }
  // Where the axis stands on the machine's own scale.
  double MachinePosition() const { return actual_; }
  std::int32_t ReportedPosition() const;
  std::size_t BufferedSetPoints() const { return setPoints_.size(); }
  std::size_t DroppedSetPoints() const { return droppedSetPoints_; }
  const std::string& ConfigurationError() const { return configurationError_; }

  // NodeApplication
  void OnResetApplication(SimTime now) override;
  void OnRpdoApplied(int pdo, SimTime now) override;
  void OnSync(SimTime now) override;
  void OnLifeGuardingLost(SimTime now) override;
  void AdvanceTo(SimTime now) override;
  void RefreshReadings(SimTime now) override;
  SimTime NextDeadline() const override;

 private:
  canopen::ObjectDictionary& Objects() { return node_.Objects(); }
  const canopen::ObjectDictionary& Objects() const { return node_.Objects(); }
  std::int64_t SignedValue(std::uint16_t index, std::uint8_t sub) const;
  double UnsignedValue(std::uint16_t index, std::uint8_t sub) const;
  OperationMode Mode() const;

  void HookObjects();
  void OnControlword();
  void OnModeChanged();
  void OnHomeShiftTrigger();
  void EnterFault(std::uint16_t emergencyCode);
  void StopMotion();
  void StartProfileMove();
  void TakeProfileSetPoint();
  void StartPendingProfileMove();
  bool ProfileTargetReached() const;
  void StartHoming();
  void StartLeaveMove();
  void QueueSetPoint(std::int64_t position);
  void Schedule();
  void FinishHoming(HomingStatus status);
  void AcceptSetPointRecord(int pdo);

  // Hand operation: the handwheel gateway's frame reaches the drive
  // directly, and the selected drive moves by the pulses counted.
  void OnHandwheelFrame();
  bool HandwheelDriving() const;
  bool HandwheelSelected() const;

  // The A/D converter and regulator object 0x2055 (drive_analogue.cpp).
  void HookAnalogueInput();
  // The stop-on-input object 0x205C (drive_stop_on_input.cpp).
  void HookStopOnInput();
  void WatchStopInput();
  void StepStopOnInput(double seconds);
  std::uint8_t HandwheelFlags() const;
  RampLimits ProfileLimits() const;

  void Step(double seconds);
  void StepOperation(double seconds);
  void ConsumeSetPoint();
  // Set-points the buffer holds before it reports itself full (0x60C4 sub
  // 2, at least one, at most the buffer's size).
  std::size_t BufferedDepth() const;
  bool InterpolationActive() const;
  void StepInterpolation();
  void UpdateSyncWatch();

  // Quick stop: the option code in force, and the end of its ramp.
  std::int16_t QuickStopOptionCode() const;
  ControlConditions Conditions() const;
  double QuickStopDeceleration() const;
  void SettleQuickStop();
  void ApplyLimitSwitches(double before);
  void CheckFollowingError(double seconds);
  bool Moving() const;
  SimTime InterpolationPeriod() const;
  std::uint8_t Inputs() const;
  bool NegativeLimitActive() const;
  bool PositiveLimitActive() const;
  bool LimitsBridged() const;
  void Publish();
  std::uint16_t ComposeStatusword() const;

  canopen::CanopenNode& node_;
  DriveConfig config_;
  std::string configurationError_;
  Ds402StateMachine stateMachine_;
  AxisMotion axis_;
  double actual_ = 0.0;  // machine scale; axis_ carries the demand
  double zero_ = 0.0;    // machine position that reads 0
  SimTime now_ = 0;
  SimTime nextStep_ = kNever;
  // Interpolation periods without a SYNC end here in a sync loss.
  SimTime syncDeadline_ = kNever;

  std::uint16_t controlword_ = 0;
  bool halted_ = false;
  // Profile position: the target the axis runs to, and a set-point taken
  // without "change immediately" that waits until that target is reached.
  std::optional<double> profileTarget_;
  std::optional<double> pendingTarget_;
  bool setPointAcknowledged_ = false;
  // Homing.
  std::optional<HomingRun> homing_;
  bool homingAttained_ = false;
  bool homingError_ = false;
  // Interpolated position: the kernel's set-points, oldest first.
  std::deque<std::int32_t> setPoints_;
  std::size_t droppedSetPoints_ = 0;
  // The set-point taken at the last SYNC, crossed in one interpolation
  // period.
  struct InterpolationSegment {
    double from = 0.0;
    double to = 0.0;
    SimTime start = 0;
    SimTime duration = 1;
  };
  std::optional<InterpolationSegment> segment_;
  // Leaving a limit switch.
  bool leaving_ = false;
  double leaveDirection_ = 0.0;

  bool followingError_ = false;
  double followingErrorSeconds_ = 0.0;
  bool stalled_ = false;
  bool enableRefused_ = false;
  std::uint8_t userInputs_ = 0;
  bool keepZeroOnReset_ = false;
  std::uint8_t homeShiftTrigger_ = 0;
  std::optional<std::uint16_t> handwheelCounter_;
  // Stopped on the watched input; set-points wait for the disarm.
  bool stoppedOnInput_ = false;
};

}  // namespace vantor::sim::drives

// One homing run of a simulated drive: the legs of the DS402 homing
// method (searching a limit switch, the home switch edge or an index
// pulse, then the home offset travel), stepped with the axis. The run
// finds its reference on the machine's own scale; the drive then makes
// the end point its zero.
//
// A gantry run (a coupled drive that takes the gantry control PDO) stops
// after its switch search and after its index search until the kernel's
// phase bytes let it go on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "sim/drives/axis_motion.h"
#include "sim/drives/drive_config.h"

namespace vantor::sim::drives {

bool IsSupportedHomingMethod(std::int8_t method);

// The home switch of methods 5, 6, 21 and 22 is active at and below its
// edge, that of the others at and above it: the drive reads the switch the
// way its configured method expects it to be mounted.
bool HomeSwitchActiveBelowEdge(std::int8_t method);

struct HomingParameters {
  std::int8_t method = 0;
  double switchSearchSpeed = 0.0;  // 0x6099 sub 1
  double zeroSearchSpeed = 0.0;    // 0x6099 sub 2
  double acceleration = 0.0;       // 0x609A
  double homeOffset = 0.0;         // 0x607C: travel from the reference to the zero
  bool gantryPhases = false;
};

enum class HomingStatus : std::uint8_t {
  kRunning,
  kWaitingPhaseA,  // switch found, waits for the first phase byte
  kWaitingPhaseB,  // reference found, waits for the second phase byte
  kAttained,
  kError,  // a limit switch the method did not look for, or no search speed
};

class HomingRun {
 public:
  HomingRun(const HomingParameters& parameters, const DriveConfig& machine, double position);

  HomingStatus Status() const { return status_; }
  // The kernel's phase bytes of the gantry control PDO.
  void SetPhaseBytes(bool a, bool b);
  // One motion step; bridged limit switches stop nothing.
  HomingStatus Step(AxisMotion& axis, double seconds);

 private:
  enum class LegKind : std::uint8_t {
    kSearch,  // travel until the event, which becomes the reference
    kWaitPhaseA,
    kWaitPhaseB,
    kOffsetTravel,  // to reference + home offset
  };
  enum class Event : std::uint8_t {
    kNegativeLimitActive,
    kNegativeLimitReleased,
    kPositiveLimitActive,
    kPositiveLimitReleased,
    kHomeEdge,
    kIndexPulse,
  };
  struct Leg {
    LegKind kind = LegKind::kSearch;
    Event event = Event::kIndexPulse;
    double direction = 1.0;
    double speed = 0.0;
  };

  void Plan(double position);
  void AddSearch(Event event, double direction, double speed);
  void AddLeg(LegKind kind);
  // Where between `from` and `to` the leg's event happens, if it does.
  std::optional<double> FindEvent(const Leg& leg, double from, double to) const;
  bool HitsUnexpectedLimit(const Leg& leg, double from, double to) const;
  std::optional<double> NextIndexPulse(double from, double to) const;
  void NextLeg();

  static constexpr std::size_t kMaxLegs = 6;

  HomingParameters parameters_;
  DriveConfig machine_;
  std::array<Leg, kMaxLegs> legs_{};
  std::size_t legCount_ = 0;
  std::size_t current_ = 0;
  double reference_ = 0.0;
  bool phaseA_ = false;
  bool phaseB_ = false;
  HomingStatus status_ = HomingStatus::kRunning;
};

}  // namespace vantor::sim::drives

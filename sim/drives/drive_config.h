// What distinguishes one simulated drive from another: its firmware
// variant (which maker objects it has, its identification text) and the
// machine around it (limit and home switches, index pulses, where the axis
// stands at power-on). Read from the node options of a machine description.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace vantor::sim::drives {

enum class DriveVariant : std::uint8_t {
  kStandard,  // current single-axis firmware with every maker object
  kCompact,   // older firmware: position option at 0x60FB sub 4, no A/D, stop-on-input,
              // handwheel or home-shift objects, no gantry objects
  kDual,      // dual power stage: a 0x100A text longer than an SDO client buffers
};

std::optional<DriveVariant> ParseDriveVariant(std::string_view name);
// The identification text of 0x100A of a variant.
std::string_view ModuleText(DriveVariant variant);

// How the drive's firmware reacts where CANopen devices differ: its quick
// stop option code, its tolerance for missing SYNC frames, and the
// leniencies our kernel relies on, each one switch.
struct DriveBehaviour {
  // 0x605A at power-on: 1 or 2 stop on the profile or quick stop
  // deceleration and end in switch on disabled; 5 or 6 stop the same way
  // and stay in quick stop active until the master leaves it. With 6 the
  // kernel's resumption (enable operation from quick stop active) works.
  std::int16_t quickStopOptionCode = 6;
  // Interpolation periods without a SYNC, while interpolation is active,
  // after which the drive faults with a sync loss.
  std::uint32_t missedSyncLimit = 10;
  // Leniency: enable operation from ready to switch on goes through to
  // operation enabled in one command.
  bool enableFromReadyToSwitchOn = true;
};

// Whether 0x605A may hold `code`.
bool IsSupportedQuickStopOptionCode(std::int64_t code);

// Positions are in drive increments on the machine's own scale (where the
// switches sit); the drive's reported position is this scale shifted by the
// zero that homing sets.
struct DriveConfig {
  DriveVariant variant = DriveVariant::kStandard;
  // Limit switches are active at and beyond these positions.
  std::optional<std::int32_t> negativeLimit;
  std::optional<std::int32_t> positiveLimit;
  // The home switch is active at and above its edge (homing methods 3, 4,
  // 19, 20) or at and below it (5, 6, 21, 22).
  std::optional<std::int32_t> homeSwitch;
  // Index pulses sit at indexOffset + k * indexSpacing.
  std::int32_t indexSpacing = 4096;
  std::int32_t indexOffset = 0;
  std::int32_t startPosition = 0;
  // 0x2043 sub 14: the drive reports the gantry homing phases.
  bool reportsGantryPhases = true;
  // 0x6510 sub 20: the drive takes the gantry homing control PDO.
  bool gantryPdoHoming = false;
  // 0x6093 sub 1 and sub 2 as stored in the drive: increments per position
  // unit as a ratio, kept across a reset node.
  std::uint32_t positionFactorNumerator = 1;
  std::uint32_t positionFactorDivisor = 1;
  // 0x60C5 as stored in the drive (increments per second squared), kept
  // across a reset node: the master plans its paths with it.
  std::uint32_t maxAcceleration = 5000000;
  DriveBehaviour behaviour;
};

// The node options a drive understands beyond the common ones.
const std::set<std::string, std::less<>>& DriveOptionNames();

// The behaviour options among them.
const std::set<std::string, std::less<>>& DriveBehaviourOptionNames();

// Reads the drive's options; false and `error` when one is malformed.
bool ParseDriveConfig(const nlohmann::json& options, DriveConfig& config, std::string& error);
// The behaviour part of it.
bool ParseDriveBehaviour(const nlohmann::json& options, DriveBehaviour& behaviour,
                         std::string& error);

}  // namespace vantor::sim::drives

// Named tolerances of the motion core, in one place.
//
// Path quantities are in the user units of the axes: lengths in units,
// velocities in units/s, accelerations in units/s^2, jerks in units/s^3,
// times in seconds, angles in radians.
#pragma once

namespace vantor::motion {

// Magnitudes below this count as zero throughout the motion core: direction
// factors, distances, velocity differences, radicands of the ramp formulas.
inline constexpr double kNegligibleMagnitude = 1e-8;

// A path velocity below this (units/s) that enters the rising-acceleration
// phase is treated as a start from standstill.
inline constexpr double kStandstillVelocity_unitsPerSecond = 0.01;

// A braking ramp that ends this close to the end of its path (units) closes
// the rest at once; a larger gap is travelled, never jumped.
inline constexpr double kEndSnapDistance_units = 1e-6;

// An arc end computed from its sweep that lies this close to a whole unit
// is that whole unit: the rounding of the angle functions would otherwise
// leave it a hair below, which the set-point's truncation turns into a
// whole increment short.
inline constexpr double kWholeUnitSnap_units = 1e-6;

// Positions and drive values must stay inside the signed 32-bit range.
inline constexpr double kLargestDriveValue = 2147483647.0;

// Velocities are capped so that one cycle never moves a drive by more than
// this many increments.
inline constexpr double kLargestIncrementsPerCycle = 32767.0;

// Interface value that marks an unprogrammed coordinate: 2^62 in 64-bit mode
// (0x3FFFFFFFFFFFFFFF rounds to the same double), 0x3FFFFFFF in 32-bit mode.
inline constexpr double kNoMoveMarker64 = 4611686018427387904.0;
inline constexpr double kNoMoveMarker32 = 1073741823.0;

// Most phase hand-overs inside one profile step: a guard against phases
// handing over to each other without using the cycle's time.
inline constexpr int kMaxPhaseHandOversPerStep = 64;

}  // namespace vantor::motion

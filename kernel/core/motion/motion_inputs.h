// What segment preparation reads of the kernel's configuration: the
// coordinates, the node limits and the path settings of the motion record.
// They are plain inputs; the preparation never changes them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vantor::motion {

// At most eight coordinates, coordinate i moving node object i; at most six
// of them interpolated and at most three on the path.
inline constexpr std::size_t kMaxCoordinates = 8;
inline constexpr std::size_t kMaxInterpolatedAxes = 6;
inline constexpr std::size_t kMaxPathAxes = 3;

// A gantry node drives a second (slave) axis.
inline constexpr std::size_t kMaxAxesPerNode = 2;

struct CoordinateInput {
  bool linear = true;          // LinearCoor: false for a rotational coordinate
  bool onPath = false;         // PathCoor: takes part in path moves
  double zeroOffset = 0.0;     // units, added to absolute targets
  double position = 0.0;       // units, current set position
  double cylinderRadius = 0.0; // units: path length per radian of a rotational path coordinate
};

// The limit factors of one ramp override set.
struct RampOverride {
  double velocityFactor = 1.0;
  double accelerationFactor = 1.0;
  double jerkFactor = 1.0;
};

// Which override set scales the node limits of a move.
enum class RampOverrideSet : std::uint32_t { kNormal = 0, kClamp = 1, kRapid = 2 };

struct NodeLimits {
  // The configured (unscaled) limits of the node's axis.
  double maxVelocity = 0.0;      // units/s
  double maxAcceleration = 0.0;  // units/s^2
  double maxJerk = 0.0;          // units/s^3
  double kv = 0.0;               // velocity gain of the position loop, 1/s
  bool scalingEnabled = false;
  double scalingDivisor = 1.0;
  std::uint32_t axisCount = 1;   // axis entries of the node (a gantry has two)
  std::array<double, kMaxAxesPerNode> axisScalingFactors{1.0, 1.0};  // increments per unit
  std::array<RampOverride, 3> overrides{};  // indexed by RampOverrideSet
};

// The settings of the motion record that planning reads.
struct PathParameters {
  bool int32Values = false;              // command values are 32-bit integers
  double cycleTime = 0.0;                // s
  double circleVelFacInverse = 1.0;      // 1 / CircleVelFac
  double RadiusRoundingError = 0.0;      // units
  double AngleRoundingError = 0.0;       // rad
  double RadiusError = 0.0;              // units: permitted contour deviation of arcs
  double pathVelFacInverse = 1.0;        // 1 / PathVelFac
  double CarryAxisVelFac = 1.0;          // factor of the axis velocity jump allowed at a corner
  double PathError = 0.0;                // units: permitted deviation at a corner
  double AngleToRadianFac = 0.0;         // rad per angle unit
  double pathAccelerationLimit = 0.0;    // units/s^2, ignored when <= 0
  double singleRotaryAccelerationLimit = 0.0;
  double pathJerkLimit = 0.0;            // units/s^3, ignored when <= 0
  double singleRotaryJerkLimit = 0.0;
};

// The rotated plane of the programmed coordinates.
struct PlaneRotation {
  std::uint32_t plane = 0;      // 0 off, 1, 2 or 3
  std::int32_t axisA = -1;      // first coordinate of the rotated plane
  std::int32_t axisB = -1;      // second coordinate
  std::int32_t angleValue = 0;  // as commanded
  double angle = 0.0;           // rad

  bool IsOn() const noexcept { return plane != 0; }
};

}  // namespace vantor::motion

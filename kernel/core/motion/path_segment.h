// One queued path segment: a line, an arc or helix, a path-velocity change
// or an event. Prepared at command time, planned by the look-ahead while
// queued, consumed by the interpolation.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/motion/event_factory.h"
#include "kernel/core/motion/motion_inputs.h"

namespace vantor::motion {

enum class AxisShape : std::uint32_t { kLinear = 0, kCircular = 1 };

struct SegmentAxisPart {
  AxisShape shape = AxisShape::kLinear;
  // Linear: direction factor d/L. Circular: sweep angle / L, rad per unit.
  double factor = 0.0;
  double start = 0.0;           // units
  double end = 0.0;             // units
  // Negated direction component at the segment end, per unit path velocity.
  double exitDirection = 0.0;
  // Circular only.
  bool cosineAxis = false;      // position = centre + r cos(phi), else r sin(phi)
  bool decreasing = false;      // the angle decreases along the arc
  double radius = 0.0;          // units
  double startAngle = 0.0;      // rad in [0, 2 pi)
  double centre = 0.0;          // units, absolute
};

enum class SegmentKind : std::uint32_t { kMotionOrVelocity = 0, kEvent = 1 };

// Why a preparation was refused.
enum class SegmentError : std::uint32_t {
  kNone = 0,
  kZeroLength = 1,        // nothing to move: reported as success, nothing queued
  kGeometryOrRange = 2,   // bad geometry, a target out of range, unusable limits
  kCylinderArc = 5,       // an arc while a rotational coordinate is on the path
  kVelocityValue = 0xC9130028u,  // a path-velocity segment with a value not above 0
};

// The result code a refused preparation is reported with.
std::uint32_t ResultOfSegmentError(SegmentError error) noexcept;

// Constants of `ReachableEndVelocity`, derived from the segment's jerk J,
// acceleration A and length L.
struct ReachConstants {
  double twoAOverJ = 0.0;               // 2A/J
  double aCubedOverJSquared = 0.0;      // A^3/J^2
  double aSquaredOverTwoJ = 0.0;        // A^2/(2J)
  double trapezoidConstant = 0.0;       // A^4/(4J^2) + 2 L A
  double aSquaredOverJ = 0.0;           // A^2/J
  double lSquaredJOverFour = 0.0;       // L^2 J / 4
  double sqrtJLOverTwo = 0.0;           // sqrt(J) L / 2
  double length = 0.0;                  // L
};

struct PathSegment {
  std::uint32_t state = 0;      // interpolation state, 0 until started
  bool isMotion = false;        // line or arc
  bool inLookAhead = false;     // the look-ahead works on this segment
  bool isPath = false;          // interpolated path move, else a single-axis move
  std::uint32_t singleAxis = 0; // the moving axis of a single-axis move
  bool passThroughA = false;    // velocity and event segments
  bool passThroughB = false;
  bool allocated = true;
  bool mayMove = true;          // cleared by the interpolation at a software limit

  double jerk = 0.0;            // units/s^3, largest path jerk
  double acceleration = 0.0;    // units/s^2, largest path acceleration
  double velocity = 0.0;        // units/s, largest path velocity
  double exitVelocity = 0.0;    // units/s, planned velocity at the end
  double candidateExitVelocity = 0.0;  // a lower exit proposed, not yet committed
  bool candidatePending = false;
  bool wasLimited = false;      // look-ahead: bounded by own limits on the last pass
  bool reachedTop = false;      // look-ahead: passed on its own velocity on the last pass
  double length = 0.0;          // units
  double endVelocity = 0.0;     // units/s allowed at the transition to the next segment
  ReachConstants reach;

  SegmentKind segmentKind = SegmentKind::kMotionOrVelocity;
  PathEventHandle eventHandle;  // event segment
  double velocityA = 0.0;       // velocity segment: new linear path velocity
  double velocityB = 0.0;       // velocity segment: new rotary velocity
  SegmentError error = SegmentError::kNone;
  // Event segment on the pending list: microseconds until the drives reach it.
  std::int64_t eventDelay_us = 0;

  PathSegment* next = nullptr;      // younger
  PathSegment* previous = nullptr;  // older

  std::array<SegmentAxisPart, kMaxCoordinates> axes{};
};

}  // namespace vantor::motion

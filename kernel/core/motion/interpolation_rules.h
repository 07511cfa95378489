// The small rules of the set-point interpolation: how a segment's velocity
// profile is loaded, the velocity a segment starts with, the velocity the
// axes off the path allow, the software-limit test of one step and the
// conversion of a set position into a drive value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/velocity_profile.h"

namespace vantor::motion {

// What the interpolation knows of one motion axis (coordinate).
struct PathAxis {
  bool onPath = false;
  bool linear = true;
  bool limitsEnabled = false;
  double lowerLimit = 0.0;  // units
  double upperLimit = 0.0;  // units
  // The set position last handed to the drives, units.
  double setPosition = 0.0;
};

// Loads a segment into the profile: its length, limits and committed exit;
// the profile starts at `entryVelocity` in the constant-velocity phase
// without acceleration and is asked for `requestedVelocity`.
void StartSegmentProfile(PathVelocityProfile& profile, const PathSegment& segment,
                         double entryVelocity, double requestedVelocity) noexcept;

// The velocity a motion segment starts with, given the path velocity `v` at
// the end of `previous` (the motion segment before it, or none).
double SegmentStartVelocity(double v, const PathSegment* previous,
                            const PathSegment& next) noexcept;

// The path velocity `v` lowered so that no axis off the path exceeds its
// limit (linear or rotary) along `segment`; returns |v|.
double LimitVelocityByAxes(double v, double linearLimit, double rotaryLimit,
                           const PathSegment& segment, std::span<const PathAxis> axes) noexcept;

// Whether a step from `previous` to `next` may be sent: inside the range,
// or from outside back toward it without passing the limit.
bool IsStepWithinLimits(double lower, double upper, double previous, double next) noexcept;

// A finite set value as the signed 32-bit drive value: at or beyond the
// range it is clamped to +-2147483647, else truncated toward zero.
std::int32_t DriveValueOf(double value) noexcept;

// The entry slot of interpolated axis `axis`: how many of the axes have a
// lower send record number; the entries list the axes in that order.
std::size_t EntrySlotOfAxis(std::span<const std::uint32_t> sendRecords, std::size_t axis) noexcept;

}  // namespace vantor::motion

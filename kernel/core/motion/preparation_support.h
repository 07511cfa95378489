// Pieces shared by the line and arc preparation (internal to the motion core).
#pragma once

#include <array>
#include <cstddef>

#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/segment_preparation.h"

namespace vantor::motion::detail {

// An axis' limits for one move: the node limits scaled by the override set
// in force, the velocity capped by the largest step per cycle.
struct AxisLimit {
  double velocity = 0.0;      // units/s, capped
  double acceleration = 0.0;  // units/s^2
  double jerk = 0.0;          // units/s^3
  double kv = 0.0;            // 1/s
};

using AxisLimitTable = std::array<AxisLimit, kMaxCoordinates>;

AxisLimitTable ScaleAxisLimits(const PlanningContext& context, RampOverrideSet set) noexcept;

// The limits can take part in a move: velocity, acceleration and jerk
// positive and finite.
bool AxisLimitUsable(const AxisLimit& limit) noexcept;

// Counts, cycle time and coordinate values are usable at all.
bool ContextUsable(const PlanningContext& context) noexcept;

// Start position of an axis: the end of the newest queued line or arc, else
// the coordinate's set position.
double StartPosition(std::size_t axis, const PathSegment* newestMotion,
                     const PlanningContext& context) noexcept;

// Checks a target position against the drive value range of its node.
// With `clamp` an out-of-range target is pulled to the range limit (and
// true returned); without it false is returned.
bool FitTargetIntoRange(std::size_t axis, double& target, bool clamp,
                        const PlanningContext& context) noexcept;

// Sets the error and returns false.
bool Refuse(PathSegment& segment, SegmentError error) noexcept;

// Common tail of line and arc preparation: the motion flags, and in path
// mode the transition to the newest queued motion segment.
void FinishMotionSegment(PathSegment& segment, PathSegment* newestMotion, double endAngle,
                         const AxisLimitTable& limits, const PlanningContext& context) noexcept;

// In path mode a transition needs a usable gain on every path axis and
// usable path factors; checked before anything queued is touched.
bool TransitionInputsUsable(const AxisLimitTable& limits, const PlanningContext& context) noexcept;

}  // namespace vantor::motion::detail

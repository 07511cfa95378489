// The transition between consecutive lines and arcs: direction vectors, the
// corner velocity from the angle between them, the velocity jump each axis
// can take within one cycle, and the reach constants of the look-ahead.
#pragma once

#include <array>

#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/preparation_support.h"
#include "kernel/core/motion/segment_preparation.h"

namespace vantor::motion {

// Per-axis direction components per unit path velocity (0 off the path).
using DirectionVector = std::array<double, kMaxCoordinates>;

// Direction of the segment at its start, on the path axes.
DirectionVector EntryDirection(const PathSegment& segment, const PlanningContext& context) noexcept;

// Stores the negated direction at the end (arc end angle `endAngle`) in
// `exitDirection` of the path axes' parts.
void StoreExitDirection(PathSegment& segment, double endAngle,
                        const PlanningContext& context) noexcept;

// Fills `reach` from the segment's jerk, acceleration and length (done for
// every prepared line and arc).
void ComputeReachConstants(PathSegment& segment) noexcept;

// Plans the largest velocity at the transition from `previous` (the newest
// queued line or arc, none for the first) to the new segment: stores the
// new segment's exit direction and sets `previous->endVelocity`.
void PlanSegmentTransition(PathSegment& segment, PathSegment* previous, double endAngle,
                           const detail::AxisLimitTable& limits,
                           const PlanningContext& context) noexcept;

// The highest velocity at the segment's start from which it can still come
// down to `velocity` over its length (never negative).
double ReachableEndVelocity(const ReachConstants& reach, double velocity) noexcept;

}  // namespace vantor::motion

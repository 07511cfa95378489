// Preparation of path segments at command time: lines, arcs and helices,
// path-velocity changes and events. A prepared segment carries its geometry,
// per-axis parts and path limits; in path mode the transition to the newest
// queued line or arc is planned as well. A refused preparation leaves the
// reason in `error` and changes nothing else outside the segment.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "kernel/core/motion/command_values.h"
#include "kernel/core/motion/event_factory.h"
#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/path_segment.h"

namespace vantor::motion {

// What preparation reads of the kernel: coordinate i moves node i.
struct PlanningContext {
  const PathParameters& parameters;
  const PlaneRotation& rotation;
  bool pathMode = false;  // only in path mode are transitions planned
  std::span<const CoordinateInput> coordinates;
  std::span<const NodeLimits> nodes;
};

struct LinearMove {
  bool clampMode = false;  // teach mode of the direct move: out-of-range targets are clamped
  bool absolute = false;
  bool rapid = false;
  std::span<const CommandValue> values;  // one per coordinate
};

// Values: first and second plane axis selectors (0 X, 1 Y, other Z),
// direction (0 decreasing angle), [sweep angle,] two centre values, then one
// value per coordinate.
struct ArcMove {
  bool byEndPoint = true;
  bool absolute = false;
  std::span<const CommandValue> values;
};

// Each returns true when the segment was prepared; `queueTail` is the
// newest queued segment (none for an empty queue).
bool PrepareLinearSegment(const LinearMove& move, PathSegment* queueTail, PathSegment& segment,
                          const PlanningContext& context) noexcept;
bool PrepareArcSegment(const ArcMove& move, PathSegment* queueTail, PathSegment& segment,
                       const PlanningContext& context) noexcept;
bool PreparePathVelocitySegment(double velocityA, double velocityB, PathSegment& segment) noexcept;
bool PrepareEventSegment(std::string_view name, PathSegment& segment,
                         PathEventFactory& events) noexcept;

// Command codes of the records that become segments.
inline constexpr std::uint32_t kMoveRecordCode = 36;
inline constexpr std::uint32_t kArcByEndPointRecordCode = 37;
inline constexpr std::uint32_t kArcBySweepRecordCode = 38;
inline constexpr std::uint32_t kPathVelocityRecordCode = 39;
inline constexpr std::uint32_t kEventRecordCode = 57;

// Byte offsets inside a move record.
inline constexpr std::size_t kRecordFlagOffset = 8;    // absolute flag, first value or name
inline constexpr std::size_t kRecordValuesOffset = 16; // command values or second value

// Prepares a segment from a path-buffer record by its code (u32 at byte 0):
// 36 line (absolute flag from the record, no clamping, not rapid), 37 and
// 38 arcs, 39 path velocity, 57 event. A record too short for its code, or
// a code of no segment, is refused with kGeometryOrRange.
bool PrepareSegment(std::span<const std::uint8_t> record, PathSegment* queueTail,
                    PathSegment& segment, const PlanningContext& context,
                    PathEventFactory& events) noexcept;

}  // namespace vantor::motion

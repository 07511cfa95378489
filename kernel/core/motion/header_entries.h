// The two header entries that start a segment's set-points while the
// header mode is on: a marker entry, then the velocity every interpolated
// axis is to move at along the segment.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/motion/path_motion.h"

namespace vantor::motion {

inline constexpr std::int32_t kHeaderEntryCount = 2;
// Stands in every axis's slot of the first header entry.
inline constexpr std::int32_t kHeaderMarker = 1073741823;  // 0x3FFFFFFF

// The velocity value of one axis along `part`: (1 on an arc, else the
// part's direction factor) x the programmed velocity x the largest
// override, over the axis's velocity unit when that is not negligible,
// then |x velocity factor| + |velocity offset|, in increments when the axis
// scales, truncated.
std::int32_t HeaderVelocityValue(const EntryAxis& axis, const SegmentAxisPart& part,
                                 double programmedVelocity, double maxOverride) noexcept;

// Writes both header entries for the head segment at `entry` and
// `entry` + 1; the positions the drives were sent last stay as they are.
void WriteHeaderEntries(const PathMotion& motion, common::ExchangeBuffer& exchange,
                        std::int32_t entry) noexcept;

}  // namespace vantor::motion

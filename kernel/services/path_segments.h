// What the path commands share around a segment: the coordinate count of
// their records, the kernel's planning inputs as the preparation reads
// them, allocation and freeing of segments, and the look-ahead over the
// queue. Everything here runs on the server thread under the kernel data
// lock; the cycle never allocates or frees a segment.
#pragma once

#include <array>
#include <cstddef>

#include "common/status_code.h"
#include "kernel/core/kernel_data.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/path_events.h"

namespace vantor::kernel {

// The coordinates of every record and segment: the count the library wrote
// into the block after the CNC initialisation, bounded by the configured
// coordinates (a stale or foreign count never reaches past them).
std::size_t PathCoordinateCount(const Kernel& kernel);

// The first `coordinateCount` coordinates with their set positions, zero
// offsets and limits, for one preparation.
class PathPlanningView {
 public:
  PathPlanningView(const KernelData& data, std::size_t coordinateCount);
  PathPlanningView(const PathPlanningView&) = delete;
  PathPlanningView& operator=(const PathPlanningView&) = delete;

  const motion::PlanningContext& Context() const { return context_; }

 private:
  std::array<motion::CoordinateInput, motion::kMaxCoordinates> coordinates_{};
  motion::PlanningContext context_;
};

// A zeroed segment that may move; null when there is no memory.
motion::PathSegment* NewPathSegment() noexcept;
// Frees a segment that was never queued (closing its event, if any).
void DiscardPathSegment(motion::PathSegment& segment) noexcept;
// Frees what the cycle retired since the last command.
void FreeFinishedSegments(KernelData& data) noexcept;

// Frees every segment the path still holds, queued, kept, waiting as an
// event or retired, when no cycle works on them any more: at the CNC exit
// and at the kernel's end.
void FreeAllPathSegments(KernelData& data) noexcept;

// The look-ahead over the queue after segments were appended. It lets the
// cycle run between segments by dropping and retaking the kernel data lock.
void PlanQueuedPath(KernelData& data) noexcept;

// A started path takes up newly queued segments.
void JoinStartedPath(KernelStateFlags& state) noexcept;

}  // namespace vantor::kernel

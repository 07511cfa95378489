#include "kernel/services/path_segments.h"

#include <algorithm>
#include <new>

#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/look_ahead.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/cycle_turns.h"

namespace vantor::kernel {

namespace {

class KernelLookAheadLock final : public motion::LookAheadLock {
 public:
  explicit KernelLookAheadLock(KernelData& data) : data_(data) {}
  void ReleaseAndRetake() override {
    UnlockKernelData(data_);
    turns_.BetweenHolds();
    static_cast<void>(LockKernelData(data_));
  }

 private:
  KernelData& data_;
  CycleTurns turns_;
};

}  // namespace

std::size_t PathCoordinateCount(const Kernel& kernel) {
  const std::uint32_t written =
      kernel.Block().Get(common::communication_block::kCurrentCoordinateCount);
  const auto configured = static_cast<std::uint32_t>(std::clamp<std::int32_t>(
      kernel.data.coordinateCount, 0, static_cast<std::int32_t>(motion::kMaxCoordinates)));
  return std::min(written, configured);
}

PathPlanningView::PathPlanningView(const KernelData& data, std::size_t coordinateCount)
    : context_{data.motion.path, data.planeRotation, data.state.pathMode != 0,
               std::span<const motion::CoordinateInput>(
                   coordinates_.data(), std::min(coordinateCount, motion::kMaxCoordinates)),
               std::span<const motion::NodeLimits>(data.planning.nodeLimits)} {
  for (std::size_t i = 0; i < context_.coordinates.size(); ++i) {
    const CoordinateSettings& settings = data.coordinates[i].settings;
    coordinates_[i] = motion::CoordinateInput{
        settings.linear != 0, settings.onPath != 0, data.coordinates[i].zeroOffset,
        data.motionRuntime.path.axes[i].setPosition, data.planning.cylinderRadii[i]};
  }
}

motion::PathSegment* NewPathSegment() noexcept {
  auto* segment = new (std::nothrow) motion::PathSegment{};
  if (segment != nullptr) {
    segment->allocated = true;
    segment->mayMove = true;
  }
  return segment;
}

void DiscardPathSegment(motion::PathSegment& segment) noexcept {
  motion::SegmentList single;
  motion::PushSegment(single, segment);
  KernelPathEvents events;
  motion::FreeSegments(single, events);
}

void FreeFinishedSegments(KernelData& data) noexcept {
  KernelPathEvents events;
  FreeRetiredSegments(data, events);
}

void FreeAllPathSegments(KernelData& data) noexcept {
  motion::PathMotion& path = data.motionRuntime.path;
  motion::PathFlags flags;
  flags.pathActive = data.state.pathActive;
  motion::ClearSegmentQueue(path, flags);
  data.state.pathActive = flags.pathActive;
  motion::DropPendingEvents(path);
  FreeFinishedSegments(data);
}

void PlanQueuedPath(KernelData& data) noexcept {
  KernelLookAheadLock lock(data);
  static_cast<void>(motion::PlanSegmentLookAhead(data.motionRuntime.path.queue, lock));
}

void JoinStartedPath(KernelStateFlags& state) noexcept {
  if (state.pathStarted == 0) return;
  state.motionActive = 1;
  state.pathActive = 1;
}

}  // namespace vantor::kernel

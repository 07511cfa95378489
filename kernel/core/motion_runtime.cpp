#include "kernel/core/motion_runtime.h"

#include <algorithm>
#include <cmath>

#include "kernel/core/kernel_data.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/interpolation_rules.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::kernel {

namespace {

// A configured value the countdowns can use: finite and not negative.
double UsableOrZero(double value) noexcept {
  return std::isfinite(value) && value > 0.0 ? value : 0.0;
}

// Coordinate k moves node k: the set position of node `nodeIndex`'s
// coordinate, or none.
motion::PathAxis* CoordinateOfNode(KernelData& data, std::uint32_t nodeIndex) noexcept {
  const auto coordinates = static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(data.coordinateCount, 0, motion::kMaxCoordinates));
  if (nodeIndex >= coordinates || data.nodeConfiguration.Node(nodeIndex) == nullptr) {
    return nullptr;
  }
  return &data.motionRuntime.path.axes[nodeIndex];
}

}  // namespace

void TakeNodePositionIntoSetPosition(KernelData& data, std::uint32_t nodeIndex) noexcept {
  if (motion::PathAxis* axis = CoordinateOfNode(data, nodeIndex)) {
    axis->setPosition = data.nodeConfiguration.Node(nodeIndex)->can->position;
  }
}

void TakeNodePositionsIntoSetPositions(KernelData& data) noexcept {
  for (std::uint32_t k = 0; k < motion::kMaxCoordinates; ++k) {
    TakeNodePositionIntoSetPosition(data, k);
  }
}

void MoveSetPositionWithHome(KernelData& data, std::uint32_t nodeIndex, double shift) noexcept {
  if (motion::PathAxis* axis = CoordinateOfNode(data, nodeIndex)) axis->setPosition -= shift;
}

void SetUpMotionRuntime(KernelData& data) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  motion::PathMotion& path = runtime.path;
  motion::PathFlags flags;
  motion::DropPendingEvents(path);
  motion::StopPathAtOnce(path, flags);
  path.ramp = motion::PathVelocityProfile{};
  path.segmentFinished = true;
  path.newTarget = false;
  path.requestedVelocity = 0.0;
  path.programmedVelocity = 0.0;
  path.linearTeachInVelocity = data.motion.linearTeachInVelocity;
  path.rotaryTeachInVelocity = data.motion.rotaryTeachInVelocity;
  path.linearRapidVelocity = data.motion.linearRapidVelocity;
  path.rotaryRapidVelocity = data.motion.rotaryRapidVelocity;
  path.linearProcessVelocity = data.motion.linearProcessVelocity;
  path.rotaryProcessVelocity = data.motion.rotaryProcessVelocity;
  path.override = 1.0;
  path.maxOverride = data.motion.maxOverride;
  path.endWait_ms = UsableOrZero(data.motion.moveEndMaxWaitTime);
  path.reachedWait_ms = path.endWait_ms;
  path.holdCounter = 0;
  path.headerMode = 0;
  path.queue.capacity = data.motion.segmentCapacity;

  const auto coordinates = static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(data.coordinateCount, 0, motion::kMaxCoordinates));
  path.axisCount = coordinates;
  for (std::uint32_t i = 0; i < coordinates; ++i) {
    const CoordinateSettings& settings = data.coordinates[i].settings;
    motion::PathAxis& axis = path.axes[i];
    axis.onPath = settings.onPath != 0;
    axis.linear = settings.linear != 0;
    axis.limitsEnabled = settings.limitsEnabled != 0;
    axis.lowerLimit = settings.negativeLimit;
    axis.upperLimit = settings.positiveLimit;
    runtime.axes[i].measure.window_s = UsableOrZero(settings.averagingTimeSeconds);
  }

  // Coordinate i moves node i; the entries list the drives in the order of
  // their send records.
  const NodeConfiguration& nodes = data.nodeConfiguration;
  std::array<std::uint32_t, motion::kMaxInterpolatedAxes> sendRecords{};
  std::uint32_t interpolated = 0;
  for (; interpolated < nodes.interpolatedNodeCount && interpolated < motion::kMaxInterpolatedAxes;
       ++interpolated) {
    const NodeObject* node = nodes.Node(interpolated);
    if (node == nullptr) break;
    sendRecords[interpolated] = node->can->sendRecord;
  }
  path.entryAxisCount = interpolated;
  for (std::uint32_t i = 0; i < interpolated; ++i) {
    const canopen::NodeObject& node = *nodes.Node(i)->can;
    motion::EntryAxis& axis = path.entryAxes[i];
    axis.coordinate = i;
    axis.scalingEnabled = node.scalingOn != 0;
    axis.scalingFactor = node.scalingDivisor;
    axis.slot = static_cast<std::uint32_t>(motion::EntrySlotOfAxis(
        std::span<const std::uint32_t>(sendRecords.data(), interpolated), i));
  }
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    if (const NodeObject* node = nodes.Node(i)) {
      runtime.nodes[i].measure.window_s = UsableOrZero(node->settings.averagingTimeSeconds);
    }
  }
  runtime.holdWord = 0;
  runtime.halting = 0;
  runtime.halted = 0;
}

void MeasureDistance(VelocityMeasure& measure, double change) noexcept {
  measure.distance += std::fabs(change);
  if (measure.clock_s >= measure.window_s) {
    measure.velocity =
        measure.clock_s < motion::kNegligibleMagnitude ? 0.0 : measure.distance / measure.clock_s;
    measure.distance = 0.0;
    measure.clock_s = 0.0;
  }
}

void FreeRetiredSegments(KernelData& data, motion::PathEventCloser& events) noexcept {
  motion::FreeSegments(data.motionRuntime.path.retired, events);
}

void SweepRetiredSegments(KernelData& data, motion::PathEventCloser& events) noexcept {
  if (!data.state.IsCncInitialised() || !LockKernelData(data)) return;
  motion::SegmentList taken;
  motion::SpliceSegments(taken, data.motionRuntime.path.retired);
  UnlockKernelData(data);
  motion::FreeSegments(taken, events);
}

}  // namespace vantor::kernel

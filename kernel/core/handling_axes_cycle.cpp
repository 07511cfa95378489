#include "kernel/core/handling_axes_cycle.h"

#include <algorithm>
#include <cmath>

#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

constexpr double kNoPositionReport = 2147483647.0;

std::uint32_t NodeCount(const KernelData& data) noexcept {
  return data.nodeConfiguration.BoundedNodeCount();
}

std::uint32_t InterpolatedCount(const KernelData& data) noexcept {
  return std::min(data.nodeConfiguration.interpolatedNodeCount, NodeCount(data));
}

bool IsSignalled(const os::Event& event) noexcept {
  return os::WaitForOne(event, 0).kind == os::WaitKind::Signalled;
}

}  // namespace

bool HandlingAxisWithoutPosition(const KernelData& data, std::uint32_t nodeIndex) noexcept {
  if (nodeIndex < InterpolatedCount(data) || nodeIndex >= NodeCount(data)) return false;
  const NodeObject* node = data.nodeConfiguration.Node(nodeIndex);
  return node != nullptr && node->can->handlingMode == 0 &&
         std::fabs(data.motionRuntime.nodes[nodeIndex].actual) == kNoPositionReport;
}

double MoveEndMaxWaitMs(const KernelData& data) noexcept {
  const double wait = data.motion.moveEndMaxWaitTime;
  return std::isfinite(wait) ? std::max(wait, 0.0) : 0.0;
}

void MeasureHandlingAxisVelocities(KernelData& data) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  for (std::uint32_t i = InterpolatedCount(data); i < NodeCount(data); ++i) {
    NodeObject* node = data.nodeConfiguration.Node(i);
    if (node == nullptr) continue;
    NodeAxisRuntime& axis = runtime.nodes[i];
    if (HandlingAxisWithoutPosition(data, i)) {
      const double commanded = node->motion.commandedVelocity;
      axis.measure.velocity = std::isfinite(commanded) ? std::fabs(commanded) : 0.0;
      axis.measure.distance = 0.0;
      axis.measure.clock_s = 0.0;
    } else {
      MeasureDistance(axis.measure, axis.change);
    }
    node->motion.measuredVelocity = axis.measure.velocity;
    node->motion.inMotion = axis.inMotion;
    node->motion.standing = axis.targetReached;
  }
}

void SignalHandlingAxesStopped(KernelData& data) noexcept {
  os::Event& stopped = data.nodeConfiguration.motionDoneEvent;
  HandlingAxesWait& wait = data.motionRuntime.handlingWait;
  if (!stopped.valid()) return;
  if (IsSignalled(stopped)) {
    wait.settle_ms = MoveEndMaxWaitMs(data);
    return;
  }
  wait.settle_ms -= data.motion.path.cycleTime * 1000.0;
  bool selectedMoving = false;
  for (std::uint32_t i = InterpolatedCount(data); i < NodeCount(data); ++i) {
    const bool selected = (wait.selected & (canopen::NodeMask{1} << i)) != 0;
    if (selected && data.motionRuntime.nodes[i].inMotion != 0) selectedMoving = true;
  }
  if (!selectedMoving || wait.settle_ms <= 0.0) static_cast<void>(stopped.Set());
}

}  // namespace vantor::kernel

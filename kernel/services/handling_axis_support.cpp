#include "kernel/services/handling_axis_support.h"

namespace vantor::kernel {

bool IsHandlingAxis(const KernelData& data, std::uint32_t index) {
  const NodeConfiguration& nodes = data.nodeConfiguration;
  return index >= nodes.interpolatedNodeCount && nodes.Node(index) != nullptr;
}

bool AreHandlingAxes(const KernelData& data, canopen::NodeMask mask) {
  if (mask == 0) return false;
  for (std::uint32_t k = 0; k < 32; ++k) {
    if ((mask >> k & 1u) != 0 && !IsHandlingAxis(data, k)) return false;
  }
  return true;
}

bool IsHandlingAxisIdle(const NodeObject& node) {
  if (node.motion.standing == 0) return false;
  return node.can->handlingMode > 0 || node.motion.commandedVelocity == 0.0;
}

void FreeCoordinateLimits(KernelData& data, std::uint32_t index) {
  if (index >= data.coordinates.size()) return;
  CoordinateRecord& coordinate = data.coordinates[index];
  coordinate.negativeLimitOkLatched = coordinate.positiveLimitOkLatched = 1;
  coordinate.negativeLimitOkCurrent = coordinate.positiveLimitOkCurrent = 1;
}

}  // namespace vantor::kernel

#include "kernel/core/canopen/node_can_objects.h"

#include <algorithm>

#include "kernel/core/canopen/cob_id.h"

namespace vantor::canopen {

namespace {

void DropGuardingObject(CanObjectList& list, std::uint32_t nodeId) noexcept {
  const std::uint16_t cobId = MakeHeartbeatCobId(nodeId);
  const CanObjectEntry* entry = FindCanObject(cobId, list);
  if (entry != nullptr && entry->IsGuarding()) {
    static_cast<void>(RemoveCanObject(KeepEntry::No, cobId, list));
  }
}

}  // namespace

void DropNodeCanObjects(CanObjectList& list, const NodeTable& nodes) noexcept {
  for (std::uint32_t number = 1; number <= nodes.Count(); ++number) {
    const NodeObject* node = nodes.ByNumber(number);
    if (node == nullptr) continue;
    if (node->guarded != 0) DropGuardingObject(list, node->nodeId);
    const std::uint32_t axisCount =
        std::min<std::uint32_t>(node->axisCount, static_cast<std::uint32_t>(kMaxNodeAxes));
    for (std::uint32_t axis = 0; axis < axisCount; ++axis) {
      if (node->axes[axis].guarded != 0) DropGuardingObject(list, node->axes[axis].nodeId);
    }
  }
}

}  // namespace vantor::canopen

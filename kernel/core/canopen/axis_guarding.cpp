#include "kernel/core/canopen/axis_guarding.h"

#include <algorithm>

#include "kernel/core/canopen/cob_id.h"

namespace vantor::canopen {

namespace {

std::uint32_t AxisCountOf(const NodeObject& node) noexcept {
  return std::min<std::uint32_t>(node.axisCount, static_cast<std::uint32_t>(kMaxNodeAxes));
}

template <typename List>
auto* GuardingOf(const NodeAxis& axis, List& list) noexcept {
  auto* entry = FindCanObject(MakeHeartbeatCobId(axis.nodeId), list);
  return entry != nullptr && entry->IsGuarding() ? entry : nullptr;
}

}  // namespace

common::StatusCode StartGuardingOnAxes(const NodeTable& nodes, CanObjectList& list) noexcept {
  for (std::uint32_t number = 1; number <= nodes.Count(); ++number) {
    const NodeObject* node = nodes.ByNumber(number);
    if (node == nullptr) continue;
    for (std::uint32_t a = 0; a < AxisCountOf(*node); ++a) {
      if (node->axes[a].guarded == 0) continue;
      CanObjectEntry* entry = GuardingOf(node->axes[a], list);
      if (entry == nullptr) continue;
      entry->active = 1;
      entry->failures = 0;
      entry->result = common::kKernelSuccess;
      entry->data[0] = kGuardingToggleBit;
    }
  }
  return common::kKernelSuccess;
}

common::StatusCode FirstAxisError(const NodeObject& node, const CanObjectList& list) noexcept {
  for (std::uint32_t a = 0; a < AxisCountOf(node); ++a) {
    if (node.axes[a].guarded == 0) continue;
    const CanObjectEntry* entry = GuardingOf(node.axes[a], list);
    if (entry != nullptr && !entry->IsInOrder()) return entry->result;
  }
  return common::kKernelSuccess;
}

}  // namespace vantor::canopen

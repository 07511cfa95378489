#include "kernel/core/canopen/held_positions.h"

#include <algorithm>

#include "kernel/core/canopen/canopen_constants.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

bool InBothRows(const NodeObject& node, StatusFlag flag) noexcept {
  return node.latched.Has(flag) && node.current.Has(flag);
}

constexpr NodeMask Bit(std::uint32_t k) noexcept { return NodeMask{1} << k; }

}  // namespace

StatusCode ReadHoldPositions(ServiceContext& context, HeldPositions& held) noexcept {
  held = HeldPositions{};
  NodeMask mask = 0;
  {
    HostLock lock(context.host);
    const bool modeHolds = context.host.StopOnInputOrHandwheelInitialised();
    const std::uint32_t count = std::min(context.nodes.Count(), kMaxHeldNodes);
    for (std::uint32_t k = 0; k < count; ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || !(modeHolds || node->regulatorActive != 0)) continue;
      if (InBothRows(*node, StatusFlag::G) && InBothRows(*node, StatusFlag::D)) mask |= Bit(k);
    }
  }
  if (mask == 0) return common::kKernelSuccess;
  SdoRecords records;
  records.fill(MakeSdoRecord(object::kPositionDemand, 0, 4));
  const StatusCode read = SdoUploadFromNodes(context, mask, records);
  if (read != common::kKernelSuccess) return read;
  held.mask = mask;
  for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
    if ((mask & Bit(k)) != 0) {
      held.positions[k] = static_cast<std::int32_t>(records[k].Get(sdo_request::kValue));
    }
  }
  return common::kKernelSuccess;
}

StatusCode RestoreHeldPositions(ServiceContext& context, const HeldPositions& held) noexcept {
  if (held.mask == 0) return common::kKernelSuccess;
  NodeMask mask = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && (held.mask & Bit(k)) != 0 && InBothRows(*node, StatusFlag::D)) {
        mask |= Bit(k);
      }
    }
  }
  if (mask == 0) return common::kKernelSuccess;
  const StatusCode moved = context.host.SetupAxesProfileMode(true, mask, held.positions);
  if (moved != common::kKernelSuccess) return moved;
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (mask & Bit(k)) != 0) {
      node->position = static_cast<double>(held.positions[k]);
    }
  }
  context.host.TakeNodePositionsIntoAxisRecords();
  return common::kKernelSuccess;
}

}  // namespace vantor::canopen

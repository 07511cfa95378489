#include "kernel/core/canopen/drive_services.h"

#include <array>
#include <cmath>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/drive_state_steps.h"
#include "kernel/core/canopen/node_steps.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

constexpr std::uint32_t kOptionSettleMs = 10;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

constexpr bool InMask(NodeMask mask, std::uint32_t k) noexcept {
  return (mask & (NodeMask{1} << k)) != 0;
}

// Every node's request result := success, so that the nodes a service
// leaves out count as good when the results are collected.
void PresetRequestResults(NodeTable& nodes) noexcept {
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    if (NodeObject* node = nodes.nodes[k]) node->request.requestResult = common::kKernelSuccess;
  }
}

std::int32_t TruncatedPosition(double position) noexcept {
  if (!std::isfinite(position)) return 0;
  const double truncated = std::trunc(position);
  if (truncated >= 2147483647.0) return 2147483647;
  if (truncated <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(truncated);
}

// Re-reads the position of the drives that were not enabled before.
StatusCode ReadPositionsOfNewlyEnabled(ServiceContext& context) noexcept {
  NodeMask reread = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && node->requestRecord.Get(enable_request::kAlreadyEnabled) == 0) {
        reread |= NodeMask{1} << k;
      }
    }
  }
  if (reread != 0) {
    const StatusCode run =
        RunOnNodes(context, reread, ReadPositionDemandStep, [](NodeObject& node, auto) {
          node.request.requestRecord->Set(position_request::kValue, 0);
        });
    if (run != common::kKernelSuccess) return run;
    const StatusCode collected = CollectNodeResults(context, false);
    if (Failed(collected)) return collected;
  }
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(reread, k)) continue;
    node->position = static_cast<double>(
        static_cast<std::int32_t>(node->request.requestRecord->Get(position_request::kValue)));
  }
  if (AllNodesHomedNow(context.nodes)) context.host.TakeNodePositionsIntoAxisRecords();
  return common::kKernelSuccess;
}

StatusCode SynchroniseAxesWithNodes(ServiceContext& context) noexcept {
  NodeMask mask = 0;
  std::array<std::int32_t, kMaxNodes> positions{};
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || node->axisCount == 0 || !node->latched.Has(StatusFlag::D) ||
          !node->current.Has(StatusFlag::D)) {
        continue;
      }
      mask |= NodeMask{1} << k;
      positions[k] = TruncatedPosition(node->position);
    }
  }
  return context.host.SetupAxesProfileMode(false, mask, positions);
}

// The node and axis results of a failed enable, kept over the disable that
// collects them again.
struct EnableCauses {
  std::array<StatusCode, kMaxNodes> nodes{};
  std::array<std::array<StatusCode, kMaxNodeAxes>, kMaxNodes> axes{};
};

std::uint32_t BoundedCount(std::uint32_t count, std::size_t limit) noexcept {
  return count < limit ? count : static_cast<std::uint32_t>(limit);
}

EnableCauses KeepEnableCauses(ServiceContext& context) noexcept {
  EnableCauses causes;
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < BoundedCount(context.nodes.Count(), kMaxNodes); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    causes.nodes[k] = node->request.lastResult;
    for (std::uint32_t a = 0; a < BoundedCount(node->axisCount, kMaxNodeAxes); ++a) {
      causes.axes[k][a] = node->axes[a].axisResult;
    }
  }
  return causes;
}

void PutBackEnableCauses(ServiceContext& context, const EnableCauses& causes) noexcept {
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < BoundedCount(context.nodes.Count(), kMaxNodes); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    if (Failed(causes.nodes[k])) node->request.lastResult = causes.nodes[k];
    for (std::uint32_t a = 0; a < BoundedCount(node->axisCount, kMaxNodeAxes); ++a) {
      if (Failed(causes.axes[k][a])) node->axes[a].axisResult = causes.axes[k][a];
    }
  }
}

// A failed enable leaves no drive enabled, and the nodes and axes that
// failed it keep their cause.
StatusCode DisableAndReturn(ServiceContext& context, StatusCode failure) noexcept {
  const EnableCauses causes = KeepEnableCauses(context);
  DisableAllDrives(context);
  PutBackEnableCauses(context, causes);
  return failure;
}

}  // namespace

bool AllNodesHomedNow(const NodeTable& nodes) noexcept {
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    const NodeObject* node = nodes.nodes[k];
    if (node != nullptr && !node->current.Has(StatusFlag::D)) return false;
  }
  return true;
}

StatusCode EnableAllDrives(ServiceContext& context, bool synchronise) noexcept {
  const StatusCode run =
      RunOnNodes(context, context.nodes.AllNodes(), DriveEnableStep, [](NodeObject&, auto) {});
  if (run != common::kKernelSuccess) return run;
  const StatusCode enabled = CollectNodeResults(context, false);
  if (Failed(enabled)) return DisableAndReturn(context, enabled);

  const StatusCode positions = ReadPositionsOfNewlyEnabled(context);
  if (positions == kernel::kCycleNotRunning) return positions;
  if (Failed(positions)) return DisableAndReturn(context, positions);

  const StatusCode axes = EnableDrivesOnAxes(context);
  if (axes == kernel::kCycleNotRunning) return axes;
  if (Failed(axes)) return DisableAndReturn(context, common::kKernelOperationFailed);

  if (context.nodes.largestAxisCount > 0 && synchronise) {
    const StatusCode synchronised = SynchroniseAxesWithNodes(context);
    if (synchronised == kernel::kCycleNotRunning) return synchronised;
    if (Failed(synchronised)) return DisableAndReturn(context, synchronised);
  }
  return common::kKernelSuccess;
}

StatusCode DisableAllDrives(ServiceContext& context) noexcept {
  const StatusCode run =
      RunOnNodes(context, context.nodes.AllNodes(), DriveDisableStep, [](NodeObject&, auto) {});
  if (run != common::kKernelSuccess) return run;
  const StatusCode nodes = CollectNodeResults(context, false);
  const StatusCode axes = DisableDrivesOnAxes(context);
  if (axes == kernel::kCycleNotRunning) return axes;
  return !Failed(nodes) && !Failed(axes) ? common::kKernelSuccess : common::kKernelOperationFailed;
}

StatusCode ClearDriveOption(ServiceContext& context, NodeMask mask) noexcept {
  if (mask == 0) return common::kKernelSuccess;
  {
    HostLock lock(context.host);
    PresetRequestResults(context.nodes);
  }
  const StatusCode run = RunOnNodes(context, mask, ClearDriveOptionStep, [](NodeObject&, auto) {});
  if (run != common::kKernelSuccess) return run;
  bool changed = false;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && InMask(mask, k) &&
          node->requestRecord.Get(option_request::kOptionChanged) != 0) {
        changed = true;
      }
    }
  }
  const StatusCode nodes = CollectNodeResults(context, false);
  bool axesChanged = false;
  const StatusCode axes = ClearDriveOptionOnAxes(context, mask, axesChanged);
  if (axes == kernel::kCycleNotRunning) return axes;
  const StatusCode result =
      Failed(nodes) || Failed(axes) ? common::kKernelOperationFailed : common::kKernelSuccess;
  // A drive whose option changed needs a moment before it takes the next
  // command.
  if (changed || axesChanged) context.host.Sleep(kOptionSettleMs);
  return result;
}

StatusCode SetDriveOption(ServiceContext& context, NodeMask mask) noexcept {
  if (mask == 0) return common::kKernelSuccess;
  NodeMask changed = 0;
  {
    HostLock lock(context.host);
    PresetRequestResults(context.nodes);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && InMask(mask, k) &&
          node->requestRecord.Get(option_request::kOptionChanged) != 0) {
        changed |= NodeMask{1} << k;
      }
    }
  }
  const StatusCode run = RunOnNodes(context, changed, SetDriveOptionStep, [](NodeObject&, auto) {});
  if (run != common::kKernelSuccess) return run;
  const StatusCode nodes = CollectNodeResults(context, false);
  const StatusCode axes = SetDriveOptionOnAxes(context, mask);
  if (axes == kernel::kCycleNotRunning) return axes;
  return Failed(nodes) || Failed(axes) ? common::kKernelOperationFailed : common::kKernelSuccess;
}

StatusCode ClearDriveOptionOnAxes(ServiceContext& context, NodeMask mask,
                                  bool& anyChanged) noexcept {
  anyChanged = false;
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  // The nodes' own flags say where the node-level option was cleared; the
  // axis passes borrow the record, so the flags are kept aside meanwhile.
  std::array<std::uint32_t, kMaxNodes> nodeFlags{};
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      if (NodeObject* node = context.nodes.nodes[k]) {
        nodeFlags[k] = node->requestRecord.Get(option_request::kOptionChanged);
        node->request.requestResult = common::kKernelSuccess;
      }
    }
  }
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t axis = 0; axis < context.nodes.largestAxisCount; ++axis) {
    const auto axisIndex = static_cast<std::int32_t>(axis);
    const StatusCode run = RunOnNodes(
        context, mask, ClearDriveOptionStep,
        [&](NodeObject& node, auto) { SwitchToAxis(node, axisIndex); }, 1,
        [&](const NodeObject& node) { return HasAxis(node, axisIndex); });
    if (run != common::kKernelSuccess) {
      result = run;
      break;
    }
    {
      HostLock lock(context.host);
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        NodeObject* node = context.nodes.nodes[k];
        if (node == nullptr || !InMask(mask, k) || !HasAxis(*node, axisIndex)) continue;
        const std::uint32_t changed = node->requestRecord.Get(option_request::kOptionChanged);
        node->axes[axis].requestRecord.Set(option_request::kOptionChanged, changed);
        if (changed != 0) anyChanged = true;
      }
    }
    if (Failed(CollectMaskedResults(context, false, mask, axisIndex))) {
      result = common::kKernelOperationFailed;
    }
  }
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (NodeObject* node = context.nodes.nodes[k]) {
      node->requestRecord.Set(option_request::kOptionChanged, nodeFlags[k]);
    }
  }
  return result;
}

StatusCode SetDriveOptionOnAxes(ServiceContext& context, NodeMask mask) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  {
    HostLock lock(context.host);
    PresetRequestResults(context.nodes);
  }
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t axis = 0; axis < context.nodes.largestAxisCount; ++axis) {
    const auto axisIndex = static_cast<std::int32_t>(axis);
    const StatusCode run = RunOnNodes(
        context, mask, SetDriveOptionStep,
        [&](NodeObject& node, auto) { SwitchToAxis(node, axisIndex); }, 1,
        [&](const NodeObject& node) {
          return HasAxis(node, axisIndex) &&
                 node.axes[axis].requestRecord.Get(option_request::kOptionChanged) != 0;
        });
    if (run != common::kKernelSuccess) return run;
    if (Failed(CollectMaskedResults(context, false, mask, axisIndex))) {
      result = common::kKernelOperationFailed;
    }
  }
  return result;
}

}  // namespace vantor::canopen

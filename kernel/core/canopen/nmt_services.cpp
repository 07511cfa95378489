#include "kernel/core/canopen/nmt_services.h"

#include <algorithm>
#include <cstdlib>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/node_steps.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

constexpr NodeMask kFirstNode = 1;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

bool IsReset(std::uint8_t command) noexcept {
  return command == nmt::kResetNode || command == nmt::kResetCommunication;
}

bool InBothRows(const NodeObject& node, StatusFlag flag) noexcept {
  return node.latched.Has(flag) && node.current.Has(flag);
}

bool NeedsNmt(const NodeObject& node) noexcept {
  const bool started = InBothRows(node, StatusFlag::A) && InBothRows(node, StatusFlag::N) &&
                       node.latched.startWord != 0 && node.current.startWord != 0;
  return (node.axisCount > 0 && !InBothRows(node, StatusFlag::D)) || !started ||
         node.regulatorActive != 0;
}

std::uint32_t BootWaitOf(const NodeObject& node) noexcept {
  return static_cast<std::uint32_t>(std::abs(static_cast<std::int64_t>(node.bootTimeMs)));
}

// One NMT frame through the first node's slot. The first node's request
// result tells how it went.
StatusCode SendOneNmtFrame(ServiceContext& context, std::uint32_t targetId,
                           std::uint8_t command) noexcept {
  return RunOnNodes(context, kFirstNode, NmtCommandStep, [&](NodeObject& first, auto) {
    RequestRecord& record = *first.request.requestRecord;
    record.Set(nmt_request::kUseOwnNode, 0);
    record.Set(nmt_request::kNodeId, targetId);
    record.Set(nmt_request::kCommand, command);
  });
}

StatusCode FirstNodeRequestResult(ServiceContext& context) noexcept {
  HostLock lock(context.host);
  return context.nodes.nodes[0]->request.requestResult;
}

}  // namespace

NodeMask NodesNeedingNmt(ServiceContext& context) noexcept {
  const bool everyNode = context.host.StopOnInputOrHandwheelInitialised();
  NodeMask chosen = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (everyNode || NeedsNmt(*node))) chosen |= NodeMask{1} << k;
  }
  return chosen;
}

StatusCode SendNmtCommand(ServiceContext& context, bool clearOption,
                          std::uint8_t command) noexcept {
  if (context.nodes.Count() == 0 || context.nodes.nodes[0] == nullptr) {
    return common::kKernelSuccess;
  }
  NodeMask chosen = 0;
  NodeMask homedOrAxisFree = 0;
  {
    HostLock lock(context.host);
    chosen = NodesNeedingNmt(context);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && (chosen & (NodeMask{1} << k)) != 0 && node->IsHomedOrAxisFree()) {
        homedOrAxisFree |= NodeMask{1} << k;
      }
    }
  }
  if (command == nmt::kResetNode) {
    const StatusCode written = WriteMakerObject2047(context, homedOrAxisFree);
    if (Failed(written)) return written;
    if (clearOption) {
      const StatusCode cleared = ClearDriveOption(context, chosen);
      if (cleared == kernel::kCycleNotRunning) return cleared;
    }
  }

  StatusCode nodesResult = common::kKernelSuccess;
  std::uint32_t longestBootMs = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (chosen & (NodeMask{1} << k)) == 0) continue;
    if (IsReset(command)) longestBootMs = std::max(longestBootMs, BootWaitOf(*node));
    const StatusCode sent = SendOneNmtFrame(context, node->nodeId, command);
    if (sent != common::kKernelSuccess) return sent;
    const StatusCode frameResult = FirstNodeRequestResult(context);
    {
      HostLock lock(context.host);
      node->request.lastResult = frameResult;
    }
    if (Failed(frameResult)) nodesResult = common::kKernelOperationFailed;
  }
  if (IsReset(command) && chosen != 0) context.host.Sleep(longestBootMs);

  const StatusCode result =
      CombineResults(nodesResult, SendNmtCommandToAxes(context, chosen, command));
  if (command == nmt::kStartRemoteNode && result == common::kKernelSuccess) {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      node->SetFlagInBothRows(StatusFlag::A, true);
      node->SetFlagInBothRows(StatusFlag::N, true);
      node->latched.startWord = 1;
      node->current.startWord = 1;
      node->adActive = 0;
      node->workingAreaSet = 0;
      node->regulatorActive = 0;
    }
    context.host.ClearStopOnInputAndHandwheel();
  }
  return result;
}

StatusCode SendNmtCommandToAxes(ServiceContext& context, NodeMask mask,
                                std::uint8_t command) noexcept {
  if (context.nodes.Count() == 0 || context.nodes.nodes[0] == nullptr) {
    return common::kKernelSuccess;
  }
  NodeObject& first = *context.nodes.nodes[0];
  StatusCode firstLastResult = common::kKernelSuccess;
  {
    HostLock lock(context.host);
    firstLastResult = first.request.lastResult;
  }
  StatusCode result = common::kKernelSuccess;
  std::uint32_t longestBootMs = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (mask & (NodeMask{1} << k)) != 0) {
      longestBootMs = std::max(longestBootMs, BootWaitOf(*node));
    }
  }
  for (std::uint32_t axis = 0; axis < context.nodes.largestAxisCount; ++axis) {
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || (mask & (NodeMask{1} << k)) == 0 || axis >= node->axisCount) continue;
      const StatusCode sent = SendOneNmtFrame(context, node->axes[axis].nodeId, command);
      if (sent != common::kKernelSuccess) return sent;
      HostLock lock(context.host);
      const StatusCode frameResult = first.request.requestResult;
      node->axes[axis].axisResult = frameResult;
      if (Failed(frameResult)) result = common::kKernelOperationFailed;
    }
  }
  {
    HostLock lock(context.host);
    first.request.lastResult = firstLastResult;
  }
  if (IsReset(command) && mask != 0) context.host.Sleep(longestBootMs);
  return result;
}

StatusCode WriteMakerObject2047(ServiceContext& context, NodeMask mask) noexcept {
  NodeMask flagged = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && node->has2047 != 0) flagged |= NodeMask{1} << k;
    }
  }
  if (flagged == 0) return common::kKernelSuccess;
  SdoRecords records{};
  for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
    const std::uint32_t value = (mask & (NodeMask{1} << k)) != 0 ? 1 : 0;
    records[k] = MakeSdoRecord(object::kMakerRunEnable, 0, 1, value);
  }
  AddressingKeeper keeper(context);
  for (std::int32_t axis = -1; axis < static_cast<std::int32_t>(context.nodes.largestAxisCount);
       ++axis) {
    const NodeMask pass = SwitchNodesToAxis(context, flagged, axis);
    if (pass == 0) continue;
    const StatusCode download = SdoDownloadToNodes(context, false, pass, records);
    if (download == kernel::kCycleNotRunning) return download;
    if (Failed(CollectMaskedResults(context, false, pass, axis))) {
      return common::kKernelOperationFailed;
    }
  }
  return common::kKernelSuccess;
}

}  // namespace vantor::canopen

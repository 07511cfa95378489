#include "kernel/core/canopen/axis_services.h"

#include "kernel/core/canopen/drive_state_steps.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// Points one node at the axis (or leaves it on itself for -1).
void SwitchNode(ServiceContext& context, NodeObject& node, std::int32_t axis) noexcept {
  HostLock lock(context.host);
  SwitchToAxis(node, axis);
}

// The result of one read or write goes to the axis it addressed.
void StoreAxisResult(ServiceContext& context, NodeObject& node, std::int32_t axis,
                     StatusCode result) noexcept {
  if (axis < 0) return;
  HostLock lock(context.host);
  node.axes[static_cast<std::size_t>(axis)].axisResult = result;
}

struct Presence {
  StatusCode result = common::kKernelSuccess;  // of the read, a missing object being no failure
  bool exists = true;
  StatusCode requestResult = common::kKernelSuccess;
};

// Reads the object on the drive the node points at now.
Presence ReadPresence(ServiceContext& context, std::uint32_t nodeIndex, NodeObject& node,
                      std::uint16_t index, std::uint8_t subindex, std::uint8_t size) noexcept {
  std::uint32_t value = 0;
  Presence presence;
  presence.result = SdoUploadFromNode(context, nodeIndex, index, subindex, size, value);
  HostLock lock(context.host);
  presence.requestResult = node.request.requestResult;
  if (presence.result == common::kKernelOperationFailed &&
      node.request.requestRecord->Get(sdo_request::kObjectMissing) == 1) {
    presence.result = common::kKernelSuccess;
    presence.exists = false;
  }
  return presence;
}

}  // namespace

NodeMask SwitchNodesToAxis(ServiceContext& context, NodeMask mask, std::int32_t axis) noexcept {
  HostLock lock(context.host);
  NodeMask switched = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (mask & (NodeMask{1} << k)) == 0) continue;
    if (SwitchToAxis(*node, axis)) switched |= NodeMask{1} << k;
  }
  return switched;
}

StatusCode EnableDrivesOnAxes(ServiceContext& context) noexcept {
  return RunStepOnAxes(context, context.nodes.AllNodes(), DriveEnableStep, false,
                       [](NodeObject&, std::uint32_t, std::int32_t) {});
}

StatusCode DisableDrivesOnAxes(ServiceContext& context) noexcept {
  return RunStepOnAxes(context, context.nodes.AllNodes(), DriveDisableStep, false,
                       [](NodeObject&, std::uint32_t, std::int32_t) {});
}

StatusCode SdoDownloadToAxes(ServiceContext& context, bool includeNode, bool mark, NodeMask mask,
                             const SdoRecords& records) noexcept {
  AddressingKeeper keeper(context);
  const std::int32_t firstAxis = includeNode ? -1 : 0;
  for (std::int32_t axis = firstAxis;
       axis < static_cast<std::int32_t>(context.nodes.largestAxisCount); ++axis) {
    const NodeMask pass = SwitchNodesToAxis(context, mask, axis);
    if (pass == 0) continue;
    const StatusCode download = SdoDownloadToNodes(context, false, pass, records);
    if (download == kernel::kCycleNotRunning) return download;
    if (Failed(CollectMaskedResults(context, mark, pass, axis))) {
      return common::kKernelOperationFailed;
    }
  }
  return common::kKernelSuccess;
}

StatusCode SdoUploadFromNodeAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                 std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                 bool& supported) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  if (node == nullptr) return common::kKernelOperationFailed;
  AddressingKeeper keeper(context);
  supported = true;
  for (std::int32_t axis = -1; axis < static_cast<std::int32_t>(node->axisCount); ++axis) {
    SwitchNode(context, *node, axis);
    const Presence presence = ReadPresence(context, nodeIndex, *node, index, subindex, size);
    if (presence.result == kernel::kCycleNotRunning) return presence.result;
    StoreAxisResult(context, *node, axis,
                    presence.exists ? presence.requestResult : common::kKernelSuccess);
    if (Failed(presence.result)) return common::kKernelOperationFailed;
    if (!presence.exists) {
      supported = false;
      return common::kKernelSuccess;
    }
  }
  return common::kKernelSuccess;
}

StatusCode CheckObjectOnNodeAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                 std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                 bool& exists, bool& allAgree) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  if (node == nullptr) return common::kKernelOperationFailed;
  AddressingKeeper keeper(context);
  bool nodeHasIt = true;
  bool lastHasIt = true;
  bool agree = true;
  for (std::int32_t axis = -1; axis < static_cast<std::int32_t>(node->axisCount); ++axis) {
    SwitchNode(context, *node, axis);
    const Presence presence = ReadPresence(context, nodeIndex, *node, index, subindex, size);
    if (presence.result == kernel::kCycleNotRunning) return presence.result;
    if (Failed(presence.result)) {
      StoreAxisResult(context, *node, axis, presence.requestResult);
      return common::kKernelOperationFailed;
    }
    lastHasIt = presence.exists;
    if (axis < 0) {
      nodeHasIt = presence.exists;
      continue;
    }
    const bool differs = presence.exists != nodeHasIt;
    StoreAxisResult(context, *node, axis,
                    differs ? common::kKernelNodeParameterInvalid : common::kKernelSuccess);
    if (differs) agree = false;
  }
  exists = lastHasIt;
  allAgree = agree;
  return common::kKernelSuccess;
}

StatusCode SdoDownloadToNodeAxesEach(ServiceContext& context, bool includeNode, bool sameRecord,
                                     std::uint32_t nodeIndex,
                                     std::span<const SdoRecord> records) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  if (node == nullptr) return common::kKernelOperationFailed;
  if (node->axisCount == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  std::size_t used = 0;
  for (std::int32_t axis = includeNode ? -1 : 0; axis < static_cast<std::int32_t>(node->axisCount);
       ++axis) {
    const std::size_t which = sameRecord ? 0 : used++;
    if (which >= records.size()) return common::kKernelOperationFailed;
    const SdoRecord& record = records[which];
    SwitchNode(context, *node, axis);
    const StatusCode download = SdoDownloadToNode(
        context, nodeIndex, record.Get(sdo_request::kIndex), record.Get(sdo_request::kSubindex),
        record.Get(sdo_request::kSize), record.Get(sdo_request::kValue));
    if (download == kernel::kCycleNotRunning) return download;
    StatusCode requestResult = common::kKernelSuccess;
    {
      HostLock lock(context.host);
      requestResult = node->request.requestResult;
    }
    StoreAxisResult(context, *node, axis, requestResult);
    if (Failed(download)) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode SdoDownloadToNodeAxes(ServiceContext& context, bool includeNode, std::uint32_t nodeIndex,
                                 std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                 std::uint32_t value) noexcept {
  const SdoRecord record = MakeSdoRecord(index, subindex, size, value);
  return SdoDownloadToNodeAxesEach(context, includeNode, true, nodeIndex,
                                   std::span<const SdoRecord>(&record, 1));
}

}  // namespace vantor::canopen

#include "kernel/core/canopen/node_services.h"

#include <algorithm>

#include "kernel/core/canopen/node_steps.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

constexpr bool InMask(NodeMask mask, std::uint32_t k) noexcept {
  return (mask & (NodeMask{1} << k)) != 0;
}

NodeMask SingleNode(const NodeTable& nodes, std::uint32_t nodeIndex) noexcept {
  return nodeIndex < nodes.Count() && nodes.nodes[nodeIndex] != nullptr ? NodeMask{1} << nodeIndex
                                                                        : NodeMask{0};
}

void CopyRecord(const SdoRecord& from, RequestRecord& to) noexcept { to.CopyIn(0, from.Bytes()); }

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

}  // namespace

SdoRecord MakeSdoRecord(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                        std::uint32_t value) noexcept {
  SdoRecord record;
  record.Set(sdo_request::kValue, value);
  record.Set(sdo_request::kSize, size);
  record.Set(sdo_request::kSubindex, subindex);
  record.Set(sdo_request::kIndex, index);
  return record;
}

namespace detail {

StatusCode AwaitArmed(ServiceContext& context, const ArmedNodes& armed) noexcept {
  std::array<CompletionSignal*, kMaxNodes> signals{};
  std::size_t signalCount = 0;
  for (std::uint32_t i = 0; i < armed.count; ++i) {
    if (armed.nodes[i]->request.completionEvent != nullptr) {
      signals[signalCount++] = armed.nodes[i]->request.completionEvent;
    }
  }
  if (signalCount > 0) context.host.WaitForAll(std::span(signals.data(), signalCount));

  HostLock lock(context.host);
  if (context.host.IsCycleRunning()) return common::kKernelSuccess;
  // The cycle is gone: nothing will step these slots again, so none may
  // stay armed for the next handler to trip over.
  for (std::uint32_t i = 0; i < armed.count; ++i) {
    NodeRequest& request = armed.nodes[i]->request;
    if (request.stepFunction != nullptr) {
      request.stepFunction = nullptr;
      request.step = 0;
    }
  }
  return kernel::kCycleNotRunning;
}

}  // namespace detail

namespace {

// Runs `step` on the one node `nodeIndex` with `request` as its record and
// keeps the node's result as its last. `done` then reads the node's record
// under the host lock, where the transfer went through.
template <typename Done>
StatusCode SdoTransferOnNode(ServiceContext& context, std::uint32_t nodeIndex,
                             NodeStepFunction step, const SdoRecord& request,
                             Done&& done) noexcept {
  const NodeMask mask = SingleNode(context.nodes, nodeIndex);
  if (mask == 0) return common::kKernelOperationFailed;
  const StatusCode run = RunOnNodes(context, mask, step, [&](NodeObject& node, auto) {
    CopyRecord(request, *node.request.requestRecord);
  });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  NodeObject& node = *context.nodes.nodes[nodeIndex];
  node.request.lastResult = node.request.requestResult;
  if (Failed(node.request.requestResult)) return common::kKernelOperationFailed;
  done(*node.request.requestRecord);
  return common::kKernelSuccess;
}

}  // namespace

StatusCode SdoUploadFromNode(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t index,
                             std::uint8_t subindex, std::uint8_t size,
                             std::uint32_t& value) noexcept {
  return SdoTransferOnNode(
      context, nodeIndex, SdoUploadStep, MakeSdoRecord(index, subindex, size),
      [&](const RequestRecord& answer) { value = answer.Get(sdo_request::kValue); });
}

StatusCode SdoDownloadToNode(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t index,
                             std::uint8_t subindex, std::uint8_t size,
                             std::uint32_t value) noexcept {
  return SdoTransferOnNode(context, nodeIndex, SdoDownloadStep,
                           MakeSdoRecord(index, subindex, size, value),
                           [](const RequestRecord&) {});
}

StatusCode SendRawFrame(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t cobId,
                        std::uint8_t length, std::span<const std::uint8_t> data) noexcept {
  const NodeMask mask = SingleNode(context.nodes, nodeIndex);
  if (mask == 0 || length > common::kCanDataSize || data.size() < length) {
    return common::kKernelOperationFailed;
  }
  const StatusCode run = RunOnNodes(context, mask, RawFrameStep, [&](NodeObject& node, auto) {
    RequestRecord& record = *node.request.requestRecord;
    record.Set(raw_frame_request::kCobId, cobId);
    record.Set(raw_frame_request::kLength, length);
    auto bytes = record.MutableBytes(raw_frame_request::kData);
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
    std::copy_n(data.begin(), length, bytes.begin());
  });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  NodeObject& node = *context.nodes.nodes[nodeIndex];
  node.request.lastResult = node.request.requestResult;
  return Failed(node.request.requestResult) ? common::kKernelOperationFailed
                                            : common::kKernelSuccess;
}

StatusCode SdoUploadFromNodes(ServiceContext& context, NodeMask mask,
                              SdoRecords& records) noexcept {
  const StatusCode run = RunOnNodes(context, mask, SdoUploadStep, [&](NodeObject& node, auto k) {
    SdoRecord request = records[k];
    request.Set(sdo_request::kValue, 0);
    CopyRecord(request, *node.request.requestRecord);
  });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(mask, k)) continue;
    node->request.lastResult = node->request.requestResult;
    const RequestRecord& answer = *node->request.requestRecord;
    if (!Failed(node->request.requestResult)) {
      records[k].Set(sdo_request::kValue, answer.Get(sdo_request::kValue));
      continue;
    }
    result = common::kKernelOperationFailed;
    if (answer.Get(sdo_request::kObjectMissing) == 1) records[k].Set(sdo_request::kValue, 1);
  }
  return result;
}

StatusCode SdoDownloadToNodes(ServiceContext& context, bool copyLastResult, NodeMask mask,
                              const SdoRecords& records) noexcept {
  const StatusCode run = RunOnNodes(context, mask, SdoDownloadStep, [&](NodeObject& node, auto k) {
    CopyRecord(records[k], *node.request.requestRecord);
  });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(mask, k)) continue;
    if (copyLastResult) node->request.lastResult = node->request.requestResult;
    if (Failed(node->request.requestResult)) result = common::kKernelOperationFailed;
  }
  return result;
}

void SaveNodeAddressing(ServiceContext& context, NodeAddressing& saved) noexcept {
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (const NodeObject* node = context.nodes.nodes[k]) {
      saved[k] = SdoAddress{node->sdoRequestCobId, node->sdoResponseCobId};
    }
  }
}

void RestoreNodeAddressing(ServiceContext& context, const NodeAddressing& saved) noexcept {
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (NodeObject* node = context.nodes.nodes[k]) {
      node->sdoRequestCobId = saved[k].requestCobId;
      node->sdoResponseCobId = saved[k].responseCobId;
    }
  }
}

bool HasAxis(const NodeObject& node, std::int32_t axis) noexcept {
  return axis == -1 || (axis >= 0 && static_cast<std::uint32_t>(axis) < node.axisCount);
}

bool SwitchToAxis(NodeObject& node, std::int32_t axis) noexcept {
  if (!HasAxis(node, axis)) return false;
  if (axis >= 0) {
    const NodeAxis& entry = node.axes[static_cast<std::size_t>(axis)];
    node.sdoRequestCobId = entry.sdoRequestCobId;
    node.sdoResponseCobId = entry.sdoResponseCobId;
  }
  return true;
}

StatusCode CollectNodeResults(ServiceContext& context, bool clearEnables) noexcept {
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    node->request.lastResult = node->request.requestResult;
    if (!Failed(node->request.requestResult)) continue;
    result = common::kKernelOperationFailed;
    if (clearEnables) node->SetFlagInBothRows(StatusFlag::N, false);
  }
  return result;
}

void ClearAxisResults(ServiceContext& context, bool takeLock) noexcept {
  if (context.nodes.largestAxisCount == 0) return;
  if (takeLock) context.host.LockKernelData();
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    for (std::uint32_t a = 0; a < node->axisCount; ++a) {
      node->axes[a].axisResult = common::kKernelSuccess;
    }
  }
  if (takeLock) context.host.UnlockKernelData();
}

StatusCode CollectMaskedResults(ServiceContext& context, bool mark, NodeMask mask,
                                std::int32_t axis) noexcept {
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(mask, k) || !HasAxis(*node, axis)) continue;
    const StatusCode requestResult = node->request.requestResult;
    if (axis < 0) {
      node->request.lastResult = requestResult;
    } else {
      node->axes[static_cast<std::size_t>(axis)].axisResult = requestResult;
    }
    if (!Failed(requestResult)) continue;
    result = common::kKernelOperationFailed;
    if (mark) node->SetFlagInBothRows(StatusFlag::N, false);
  }
  return result;
}

StatusCode CollectAxisResults(ServiceContext& context, bool mark, std::int32_t axis) noexcept {
  if (axis < 0) return common::kKernelSuccess;
  return CollectMaskedResults(context, mark, context.nodes.AllNodes(), axis);
}

StatusCode CheckAxisResults(ServiceContext& context, std::int32_t axis) noexcept {
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || axis < 0 || !HasAxis(*node, axis)) continue;
    if (Failed(node->request.requestResult)) return common::kKernelOperationFailed;
  }
  return common::kKernelSuccess;
}

StatusCode CheckAllAxisResults(ServiceContext& context) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t axis = 0; axis < context.nodes.largestAxisCount; ++axis) {
    if (Failed(CheckAxisResults(context, static_cast<std::int32_t>(axis)))) {
      result = common::kKernelOperationFailed;
    }
  }
  return result;
}

StatusCode CombineResults(StatusCode first, StatusCode second) noexcept {
  if (first == kernel::kCycleNotRunning || second == kernel::kCycleNotRunning) {
    return kernel::kCycleNotRunning;
  }
  if (!Failed(first) && !Failed(second)) return common::kKernelSuccess;
  return common::kKernelOperationFailed;
}

RequestRecord* GetRequestRecord(NodeTable& nodes, std::uint32_t nodeIndex,
                                std::int32_t axis) noexcept {
  if (nodeIndex >= nodes.Count() || nodes.nodes[nodeIndex] == nullptr) return nullptr;
  NodeObject& node = *nodes.nodes[nodeIndex];
  if (axis == -1) return node.request.requestRecord;
  if (!HasAxis(node, axis)) return nullptr;
  return &node.axes[static_cast<std::size_t>(axis)].requestRecord;
}

}  // namespace vantor::canopen

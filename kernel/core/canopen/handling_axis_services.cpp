#include "kernel/core/canopen/handling_axis_services.h"

#include <array>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/handling_axis_moves.h"
#include "kernel/core/canopen/pdo_layout.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// One software limit: the node's value, then the same on its axes.
StatusCode SyncSoftwareLimit(ServiceContext& context, std::uint32_t nodeIndex,
                             std::uint8_t subindex, double NodeObject::*limit) noexcept {
  std::uint32_t raw = 0;
  StatusCode step =
      SdoUploadFromNode(context, nodeIndex, object::kSoftwarePositionLimit, subindex, 4, raw);
  if (Failed(step)) return step;
  {
    HostLock lock(context.host);
    NodeObject& node = *context.nodes.nodes[nodeIndex];
    node.*limit = static_cast<double>(static_cast<std::int32_t>(raw)) / node.PositionScale();
  }
  return SdoDownloadToNodeAxes(context, false, nodeIndex, object::kSoftwarePositionLimit, subindex,
                               4, raw);
}

// Every node and axis result of a node with axes is good.
bool AllResultsGood(const NodeObject& node) noexcept {
  if (Failed(node.request.lastResult)) return false;
  for (std::uint32_t a = 0; a < node.axisCount && a < kMaxNodeAxes; ++a) {
    if (Failed(node.axes[a].axisResult)) return false;
  }
  return true;
}

}  // namespace

StatusCode HoldHandlingAxisPosition(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  if (context.nodes.ByIndex(nodeIndex) == nullptr) return common::kKernelOperationFailed;
  std::uint32_t demand = 0;
  const StatusCode held = HoldAtPositionDemand(context, nodeIndex, demand);
  if (Failed(held)) return held;
  HostLock lock(context.host);
  NodeObject& node = *context.nodes.nodes[nodeIndex];
  node.position = static_cast<double>(static_cast<std::int32_t>(demand)) / node.PositionScale();
  context.host.TakeNodePositionIntoAxisRecord(nodeIndex);
  return held;
}

StatusCode SyncHandlingAxisLimits(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  if (context.nodes.ByIndex(nodeIndex) == nullptr) return common::kKernelOperationFailed;
  bool supported = true;
  StatusCode step =
      SdoUploadFromNodeAxes(context, nodeIndex, object::kSoftwarePositionLimit, 1, 4, supported);
  if (Failed(step)) return step;
  if (!supported) return common::kKernelDriveFirmwareWrong;
  step = SyncSoftwareLimit(context, nodeIndex, 1, &NodeObject::softwareLimit1);
  if (Failed(step)) return step;
  step = SyncSoftwareLimit(context, nodeIndex, 2, &NodeObject::softwareLimit2);
  if (Failed(step)) return step;
  std::uint32_t word = 0;
  step = SdoUploadFromNode(context, nodeIndex, object::kDriveLimitWord, 0, 1, word);
  if (Failed(step)) return step;
  {
    HostLock lock(context.host);
    context.nodes.nodes[nodeIndex]->handlingLimitWord = word;
  }
  return SdoDownloadToNodeAxes(context, false, nodeIndex, object::kDriveLimitWord, 0, 1, word);
}

std::uint16_t MotionStateControlword(HandlingMotionState state, bool positionMode) noexcept {
  switch (state) {
    case HandlingMotionState::Run:
      return positionMode ? ds402::kStartAbsoluteMove : ds402::kEnableOperation;
    case HandlingMotionState::Halt:
      return ds402::kHalt;
    case HandlingMotionState::End:
      break;
  }
  return positionMode ? ds402::kEndProfileMove : ds402::kHalt;
}

StatusCode WriteMotionStateControlword(ServiceContext& context, NodeMask mask,
                                       HandlingMotionState state) noexcept {
  const StatusCode mapped = MapControlwordToRpdo(context, mask);
  if (mapped == kernel::kCycleNotRunning) return mapped;

  struct Frame {
    std::uint16_t cobId = 0;
    std::uint16_t word = 0;
  };
  std::array<Frame, kMaxNodes> frames{};
  NodeMask framed = 0;
  NodeMask bySdo = 0;
  SdoRecords records{};
  bool anyDropped = false;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || (mask & (NodeMask{1} << k)) == 0) continue;
      const std::uint16_t word = MotionStateControlword(state, node->handlingMode > 0);
      if (node->axisCount == 0) {
        bySdo |= NodeMask{1} << k;
        records[k] = MakeSdoRecord(object::kControlword, 0, 2, word);
      } else if (AllResultsGood(*node)) {
        framed |= NodeMask{1} << k;
        frames[k] = {MakeRpdoCobId(node->controlRpdo, node->nodeId), word};
      } else {
        anyDropped = true;
      }
    }
  }
  StatusCode result = anyDropped ? common::kKernelOperationFailed : common::kKernelSuccess;
  if (bySdo != 0) {
    const StatusCode written = SdoDownloadToNodes(context, true, bySdo, records);
    if (written == kernel::kCycleNotRunning) return written;
    if (Failed(written)) result = common::kKernelOperationFailed;
  }
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if ((framed & (NodeMask{1} << k)) == 0) continue;
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(frames[k].word),
                                            static_cast<std::uint8_t>(frames[k].word >> 8)};
    const StatusCode sent = SendRawFrame(context, k, frames[k].cobId, 2, bytes);
    if (sent == kernel::kCycleNotRunning) return sent;
    if (Failed(sent)) result = common::kKernelOperationFailed;
  }
  return Failed(result) ? result : mapped;
}

}  // namespace vantor::canopen

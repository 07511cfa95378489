#include "kernel/core/canopen/modes_of_operation.h"

#include <array>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

// Each step checks the write or read framed by the one before.
namespace step {
constexpr std::int32_t kWriteMode = 1;
constexpr std::int32_t kAfterMode = 2;
constexpr std::int32_t kAfterPositionRead = 3;
constexpr std::int32_t kAfterTarget = 4;
constexpr std::int32_t kAfterTargetVelocity = 5;
constexpr std::int32_t kAfterControlword = 6;
}  // namespace step

constexpr std::uint8_t kByteSize = 1;
constexpr std::uint8_t kWordSize = 2;
constexpr std::uint8_t kLongSize = 4;

void Download(CycleContext& cycle, NodeObject& node, std::uint16_t index, std::uint8_t size,
              std::uint32_t value, std::int32_t nextStep) noexcept {
  FrameOrFinish(node, FrameSlotDownload(cycle, node, index, 0, size, value), nextStep);
}

void EnableOperation(CycleContext& cycle, NodeObject& node) noexcept {
  Download(cycle, node, object::kControlword, kWordSize, ds402::kEnableOperation,
           step::kAfterControlword);
}

// True once the download's answer came and was good; a failed one has
// finished the request with its result.
bool Written(CycleContext& cycle, NodeObject& node, std::uint16_t index) noexcept {
  if (AwaitSlotDownload(cycle, node, index, 0) == CheckState::Pending) return false;
  if (node.request.requestResult != common::kKernelSuccess) {
    FinishNodeRequest(node);
    return false;
  }
  return true;
}

// What follows the mode: its own set-up, then enable operation.
void AfterMode(CycleContext& cycle, NodeObject& node, std::uint8_t mode) noexcept {
  switch (mode) {
    case ds402::kInterpolatedPositionMode:
      EnableOperation(cycle, node);
      return;
    case ds402::kProfilePositionMode:
      FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kPositionDemand, 0),
                    step::kAfterPositionRead);
      return;
    default:
      Download(cycle, node, object::kTargetVelocity, kLongSize, 0, step::kAfterTargetVelocity);
      return;
  }
}

// Prepares every node's record with its working mode.
void PrepareMode(NodeObject& node) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  record = RequestRecord{};
  record.Set(mode_request::kMode, WorkingModeOf(node));
}

StatusCode SetModesOnNodes(ServiceContext& context, NodeMask mask) noexcept {
  const StatusCode run = RunOnNodes(context, mask, ModeOfOperationStep,
                                    [](NodeObject& node, std::uint32_t) { PrepareMode(node); });
  if (run != common::kKernelSuccess) return run;
  return CollectMaskedResults(context, true, mask, -1);
}

StatusCode SetModesOnAxes(ServiceContext& context, NodeMask mask) noexcept {
  // An axis works in its node's mode.
  return RunStepOnAxes(context, mask, ModeOfOperationStep, true,
                       [](NodeObject& node, std::uint32_t, std::int32_t) { PrepareMode(node); });
}

StatusCode SetModes(ServiceContext& context, NodeMask mask) noexcept {
  const StatusCode nodes = SetModesOnNodes(context, mask);
  if (nodes == kernel::kCycleNotRunning) return nodes;
  return CombineResults(nodes, SetModesOnAxes(context, mask));
}

NodeMask SingleNode(const ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  return nodeIndex < context.nodes.Count() && context.nodes.nodes[nodeIndex] != nullptr
             ? NodeMask{1} << nodeIndex
             : NodeMask{0};
}

}  // namespace

std::uint8_t WorkingModeOf(const NodeObject& node) noexcept {
  if (node.handlingAxis == 0) return ds402::kInterpolatedPositionMode;
  return node.handlingMode > 0 ? ds402::kProfilePositionMode : ds402::kProfileVelocityMode;
}

void ModeOfOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  RequestRecord& record = *node->request.requestRecord;
  const std::uint8_t mode = record.Get(mode_request::kMode);
  switch (node->request.step) {
    case step::kWriteMode:
      Download(cycle, *node, object::kModesOfOperation, kByteSize, mode, step::kAfterMode);
      return;
    case step::kAfterMode:
      if (Written(cycle, *node, object::kModesOfOperation)) AfterMode(cycle, *node, mode);
      return;
    case step::kAfterPositionRead: {
      std::array<std::uint8_t, kLongSize> value{};
      if (AwaitSlotUpload(cycle, *node, object::kPositionDemand, 0, kLongSize, value) ==
          CheckState::Pending) {
        return;
      }
      if (node->request.requestResult != common::kKernelSuccess) {
        FinishNodeRequest(*node);
        return;
      }
      record.Set(mode_request::kPositionDemand, ValueOf(value));
      Download(cycle, *node, object::kTargetPosition, kLongSize,
               record.Get(mode_request::kPositionDemand), step::kAfterTarget);
      return;
    }
    case step::kAfterTarget:
      if (Written(cycle, *node, object::kTargetPosition)) EnableOperation(cycle, *node);
      return;
    case step::kAfterTargetVelocity:
      if (Written(cycle, *node, object::kTargetVelocity)) EnableOperation(cycle, *node);
      return;
    case step::kAfterControlword:
      if (Written(cycle, *node, object::kControlword)) FinishNodeRequest(*node);
      return;
    default:
      FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
      return;
  }
}

StatusCode SetAllModesOfOperation(ServiceContext& context) noexcept {
  return SetModes(context, context.nodes.AllNodes());
}

StatusCode SetAllModesOfOperationOnAxes(ServiceContext& context) noexcept {
  return SetModesOnAxes(context, context.nodes.AllNodes());
}

StatusCode SetNodeModeOfOperation(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  const NodeMask mask = SingleNode(context, nodeIndex);
  if (mask == 0) return common::kKernelOperationFailed;
  return SetModes(context, mask);
}

StatusCode SetNodeModeOfOperationOnAxes(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  const NodeMask mask = SingleNode(context, nodeIndex);
  if (mask == 0) return common::kKernelOperationFailed;
  return SetModesOnAxes(context, mask);
}

StatusCode SetStartModes(ServiceContext& context) noexcept {
  NodeMask wereHandling = 0;
  {
    HostLock lock(context.host);
    const std::uint32_t interpolated = context.host.InterpolatedNodeCount();
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      if (node->handlingAxis != 0) wereHandling |= NodeMask{1} << k;
      node->handlingAxis = k >= interpolated ? 1 : 0;
      node->handlingMode = 1;
    }
  }
  const StatusCode modes = SetAllModesOfOperation(context);
  if (modes == kernel::kCycleNotRunning || wereHandling == 0) return modes;

  SdoRecords records{};
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    records[k] = MakeSdoRecord(object::kPositionDemand, 0, kLongSize);
  }
  const StatusCode read = SdoUploadFromNodes(context, wereHandling, records);
  if (read == kernel::kCycleNotRunning) return read;
  HostLock lock(context.host);
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (wereHandling & (NodeMask{1} << k)) == 0 ||
        node->request.lastResult != common::kKernelSuccess) {
      continue;
    }
    node->position = static_cast<std::int32_t>(records[k].Get(sdo_request::kValue));
    if (node->current.Has(kernel::StatusFlag::D)) context.host.TakeNodePositionIntoAxisRecord(k);
  }
  return CombineResults(modes, read);
}

}  // namespace vantor::canopen

// Services that reach the further axes of the nodes: each axis is a drive of
// its own, served through its node's slot with the slot's SDO identifiers
// switched to the axis's pair. Every service here puts the nodes' own
// identifiers back on every way out, a stopped cycle included.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Points every node of `mask` that has axis `axis` at that axis, under the
// kernel data lock, and returns the nodes it switched (all of `mask` for
// the node level, -1).
NodeMask SwitchNodesToAxis(ServiceContext& context, NodeMask mask, std::int32_t axis) noexcept;

// Runs `step` on axis i of every masked node that has it, one axis index
// after the other; a failing index does not stop the next one. With
// `markFailures` a failing node loses its run enable. kKernelSuccess,
// kKernelOperationFailed or kCycleNotRunning.
template <typename Prepare>
common::StatusCode RunStepOnAxes(ServiceContext& context, NodeMask mask, NodeStepFunction step,
                                 bool markFailures, Prepare&& prepare,
                                 std::int32_t startStep = 1) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  common::StatusCode result = common::kKernelSuccess;
  for (std::uint32_t axis = 0; axis < context.nodes.largestAxisCount; ++axis) {
    const auto axisIndex = static_cast<std::int32_t>(axis);
    const common::StatusCode run = RunOnNodes(
        context, mask, step,
        [&](NodeObject& node, std::uint32_t k) {
          SwitchToAxis(node, axisIndex);
          prepare(node, k, axisIndex);
        },
        startStep, [&](const NodeObject& node) { return HasAxis(node, axisIndex); });
    if (run != common::kKernelSuccess) return run;
    if (CollectAxisResults(context, markFailures, axisIndex) != common::kKernelSuccess) {
      result = common::kKernelOperationFailed;
    }
  }
  return result;
}

common::StatusCode EnableDrivesOnAxes(ServiceContext& context) noexcept;
common::StatusCode DisableDrivesOnAxes(ServiceContext& context) noexcept;

// For the node level (with `includeNode`) and each axis index: the masked
// nodes that have it download their record; the first failing pass ends
// the loop.
common::StatusCode SdoDownloadToAxes(ServiceContext& context, bool includeNode, bool mark,
                                     NodeMask mask, const SdoRecords& records) noexcept;

// Uploads an object from the node and then from each of its axes; a missing
// object answers success with `supported` 0 and ends the reads.
common::StatusCode SdoUploadFromNodeAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                         std::uint16_t index, std::uint8_t subindex,
                                         std::uint8_t size, bool& supported) noexcept;

// Reads the object from the node and every axis: `exists` tells whether the
// last drive read has it, `allAgree` whether every axis matches the node
// (an axis that does not gets kKernelNodeParameterInvalid). The outputs are
// written only on success.
common::StatusCode CheckObjectOnNodeAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                         std::uint16_t index, std::uint8_t subindex,
                                         std::uint8_t size, bool& exists, bool& allAgree) noexcept;

// Downloads one value to the node (with `includeNode`) and each axis. A node
// without axes succeeds at once and nothing is sent.
common::StatusCode SdoDownloadToNodeAxes(ServiceContext& context, bool includeNode,
                                         std::uint32_t nodeIndex, std::uint16_t index,
                                         std::uint8_t subindex, std::uint8_t size,
                                         std::uint32_t value) noexcept;

// The same with one record per request, the node level first; with
// `sameRecord` every request takes the first record.
common::StatusCode SdoDownloadToNodeAxesEach(ServiceContext& context, bool includeNode,
                                             bool sameRecord, std::uint32_t nodeIndex,
                                             std::span<const SdoRecord> records) noexcept;

}  // namespace vantor::canopen

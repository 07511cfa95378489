#include "kernel/core/canopen/masked_axis_sdo.h"

#include "kernel/core/canopen/axis_services.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

SdoRecords Requests(bool sameRecord, const SdoRecords& records) noexcept {
  if (!sameRecord) return records;
  SdoRecords requests;
  requests.fill(records[0]);
  return requests;
}

// Collects the selected nodes' results and narrows the caller's mask to the
// nodes that went through.
StatusCode Finish(ServiceContext& context, bool mark, std::int32_t axis, NodeMask selected,
                  StatusCode run, NodeMask& mask) noexcept {
  if (run == kernel::kCycleNotRunning) {
    mask = 0;
    return run;
  }
  const StatusCode collected = CollectMaskedResults(context, mark, selected, axis);
  mask = SucceededNodes(context, selected);
  return collected == common::kKernelSuccess && run == common::kKernelSuccess
             ? common::kKernelSuccess
             : common::kKernelOperationFailed;
}

}  // namespace

NodeMask SucceededNodes(ServiceContext& context, NodeMask mask) noexcept {
  HostLock lock(context.host);
  NodeMask succeeded = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (mask & (NodeMask{1} << k)) != 0 &&
        node->request.requestResult == common::kKernelSuccess) {
      succeeded |= NodeMask{1} << k;
    }
  }
  return succeeded;
}

StatusCode SdoDownloadToMaskedAxis(ServiceContext& context, bool mark, bool sameRecord,
                                   std::int32_t axis, NodeMask& mask,
                                   const SdoRecords& records) noexcept {
  if (mask == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  const NodeMask selected = SwitchNodesToAxis(context, mask, axis);
  const StatusCode run =
      SdoDownloadToNodes(context, false, selected, Requests(sameRecord, records));
  return Finish(context, mark, axis, selected, run, mask);
}

StatusCode SdoUploadFromMaskedAxis(ServiceContext& context, bool sameRecord, std::int32_t axis,
                                   NodeMask& mask, SdoRecords& records) noexcept {
  if (mask == 0) return common::kKernelSuccess;
  AddressingKeeper keeper(context);
  const NodeMask selected = SwitchNodesToAxis(context, mask, axis);
  SdoRecords answers = Requests(sameRecord, records);
  const StatusCode run = SdoUploadFromNodes(context, selected, answers);
  if (run != kernel::kCycleNotRunning) {
    for (std::uint32_t k = 0; k < kMaxNodes; ++k) {
      if ((selected & (NodeMask{1} << k)) != 0) records[k] = answers[k];
    }
  }
  return Finish(context, false, axis, selected, run, mask);
}

}  // namespace vantor::canopen

#include "kernel/core/canopen/node_steps.h"

#include <algorithm>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

constexpr std::int32_t kFrameStep = 1;
constexpr std::int32_t kCheckStep = 2;

// The first four bytes of the record: where an upload leaves its value.
std::span<std::uint8_t> ValueBytes(RequestRecord& record) noexcept {
  return record.MutableBytes().first(4);
}

void UploadInto(CycleContext& cycle, NodeObject& node, std::uint16_t index, std::uint8_t subindex,
                std::uint8_t size) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  if (node.request.step == kFrameStep) {
    if (!FrameSlotUpload(cycle, node, index, subindex)) {
      FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
      return;
    }
    node.request.step = kCheckStep;
    return;
  }
  if (AwaitSlotUpload(cycle, node, index, subindex, size, ValueBytes(record)) == CheckState::Done) {
    FinishNodeRequest(node);
  }
}

// Sends a frame once from the node's send record and waits for the driver's
// report.
void SendFrameOnce(CycleContext& cycle, NodeObject& node, const CanFrame& frame) noexcept {
  if (node.request.step == kFrameStep) {
    node.request.countdown = node.countdownReload;
    if (!WriteSendOnceRecord(cycle.exchange, frame, node.sendRecord)) {
      FinishNodeRequestWith(node, common::kKernelCanMessageInvalid);
      return;
    }
    node.request.step = kCheckStep;
    return;
  }
  if (CheckFrameSent(cycle.exchange, node.sendRecord, node.request.countdown,
                     node.request.requestResult) == CheckState::Done) {
    FinishNodeRequest(node);
  }
}

}  // namespace

void SdoUploadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const RequestRecord& record = *node->request.requestRecord;
  UploadInto(cycle, *node, record.Get(sdo_request::kIndex), record.Get(sdo_request::kSubindex),
             record.Get(sdo_request::kSize));
}

void SdoDownloadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const RequestRecord& record = *node->request.requestRecord;
  const std::uint16_t index = record.Get(sdo_request::kIndex);
  const std::uint8_t subindex = record.Get(sdo_request::kSubindex);
  if (node->request.step == kFrameStep) {
    if (!FrameSlotDownload(cycle, *node, index, subindex, record.Get(sdo_request::kSize),
                           record.Get(sdo_request::kValue))) {
      FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
      return;
    }
    node->request.step = kCheckStep;
    return;
  }
  if (AwaitSlotDownload(cycle, *node, index, subindex) == CheckState::Done) {
    FinishNodeRequest(*node);
  }
}

void ReadPositionDemandStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  UploadInto(cycle, *node, object::kPositionDemand, 0, 4);
}

void RawFrameStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const RequestRecord& record = *node->request.requestRecord;
  CanFrame frame;
  frame.cobId = record.Get(raw_frame_request::kCobId);
  frame.length =
      std::min<std::uint8_t>(record.Get(raw_frame_request::kLength), common::kCanDataSize);
  const auto data = record.GetBytes(raw_frame_request::kData);
  std::copy_n(data.begin(), frame.length, frame.data.begin());
  SendFrameOnce(cycle, *node, frame);
}

void NmtCommandStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const RequestRecord& record = *node->request.requestRecord;
  CanFrame frame;
  frame.cobId = cob_base::kNmt;
  frame.length = nmt::kFrameLength;
  frame.data[0] = static_cast<std::uint8_t>(record.Get(nmt_request::kCommand));
  frame.data[1] = record.Get(nmt_request::kUseOwnNode) != 0
                      ? node->nodeId
                      : static_cast<std::uint8_t>(record.Get(nmt_request::kNodeId));
  SendFrameOnce(cycle, *node, frame);
}

}  // namespace vantor::canopen

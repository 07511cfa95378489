#include "kernel/core/canopen/slot_sequence.h"

#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

bool IsFrameStep(std::int32_t step) noexcept { return step < 1 || step % 2 == 1; }

std::size_t ItemOffset(std::size_t item) noexcept {
  return download_sequence_request::kItemsOffset + item * download_sequence_request::kItemLength;
}

}  // namespace

std::size_t SequenceItemOf(std::int32_t step) noexcept {
  return step < 1 ? 0 : static_cast<std::size_t>((step - 1) / 2);
}

std::int32_t SequenceFrameStep(std::size_t item) noexcept {
  return static_cast<std::int32_t>(2 * item + 1);
}

CheckState StepSequenceUpload(CycleContext& cycle, NodeObject& node, std::size_t item,
                              std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                              std::span<std::uint8_t> data) noexcept {
  if (IsFrameStep(node.request.step)) {
    if (!FrameSlotUpload(cycle, node, index, subindex)) {
      node.request.requestResult = common::kKernelCanMessageInvalid;
      return CheckState::Done;
    }
    node.request.step = SequenceFrameStep(item) + 1;
    return CheckState::Pending;
  }
  return AwaitSlotUpload(cycle, node, index, subindex, size, data);
}

CheckState StepSequenceDownload(CycleContext& cycle, NodeObject& node, std::size_t item,
                                std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                std::uint32_t value) noexcept {
  if (IsFrameStep(node.request.step)) {
    if (!FrameSlotDownload(cycle, node, index, subindex, size, value)) {
      node.request.requestResult = common::kKernelCanMessageInvalid;
      return CheckState::Done;
    }
    node.request.step = SequenceFrameStep(item) + 1;
    return CheckState::Pending;
  }
  return AwaitSlotDownload(cycle, node, index, subindex);
}

bool PutDownloadSequence(RequestRecord& record, std::span<const SdoDownloadItem> items) noexcept {
  namespace ds = download_sequence_request;
  if (items.size() > ds::kMaxItems) return false;
  record.Set(ds::kCount, static_cast<std::uint8_t>(items.size()));
  std::uint8_t* bytes = record.MutableBytes().data();
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::uint8_t* at = bytes + ItemOffset(i);
    at[0] = static_cast<std::uint8_t>(items[i].index);
    at[1] = static_cast<std::uint8_t>(items[i].index >> 8);
    at[2] = items[i].subindex;
    at[3] = items[i].size;
    for (std::size_t b = 0; b < 4; ++b)
      at[4 + b] = static_cast<std::uint8_t>(items[i].value >> (8 * b));
  }
  return true;
}

SdoDownloadItem DownloadSequenceItem(const RequestRecord& record, std::size_t item) noexcept {
  const std::uint8_t* at = record.Bytes().data() + ItemOffset(item);
  SdoDownloadItem result;
  result.index = static_cast<std::uint16_t>(at[0] | (at[1] << 8));
  result.subindex = at[2];
  result.size = at[3];
  for (std::size_t b = 0; b < 4; ++b)
    result.value |= static_cast<std::uint32_t>(at[4 + b]) << (8 * b);
  return result;
}

void DownloadSequenceStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const RequestRecord& record = *node->request.requestRecord;
  const std::size_t count = record.Get(download_sequence_request::kCount);
  std::size_t item = SequenceItemOf(node->request.step);
  if (count == 0 || count > download_sequence_request::kMaxItems) {
    FinishNodeRequestWith(*node,
                          count == 0 ? common::kKernelSuccess : common::kKernelCanMessageInvalid);
    return;
  }
  for (;;) {
    const SdoDownloadItem d = DownloadSequenceItem(record, item);
    if (StepSequenceDownload(cycle, *node, item, d.index, d.subindex, d.size, d.value) ==
        CheckState::Pending) {
      return;
    }
    if (node->request.requestResult != common::kKernelSuccess || item + 1 >= count) {
      FinishNodeRequest(*node);
      return;
    }
    // The next request goes out in the cycle that took this answer.
    ++item;
    node->request.step = SequenceFrameStep(item);
  }
}

}  // namespace vantor::canopen

#include "kernel/core/canopen/slot_sdo.h"

#include <algorithm>
#include <array>

namespace vantor::canopen {

bool FrameSlotUpload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                     std::uint8_t subindex) noexcept {
  node.request.countdown = node.countdownReload;
  return BuildSdoUpload(cycle.exchange, &cycle.nodes, index, subindex, RouteOf(node));
}

bool FrameSlotDownload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                       std::uint8_t subindex, std::uint8_t size, std::uint32_t value) noexcept {
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  node.request.countdown = node.countdownReload;
  return BuildSdoDownload(cycle.exchange, &cycle.nodes, index, subindex, RouteOf(node), size,
                          bytes);
}

CheckState AwaitSlotDownload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                             std::uint8_t subindex) noexcept {
  const SdoExpectation expected{true, index, subindex, node.answerRecord, 0};
  return CheckSdoResponseWithRetry(cycle.exchange, cycle.nodes, expected, node.request.countdown,
                                   node.request.requestResult, {});
}

CheckState AwaitSlotUpload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                           std::uint8_t subindex, std::uint8_t size,
                           std::span<std::uint8_t> data) noexcept {
  const SdoExpectation expected{false, index, subindex, node.answerRecord, size};
  return CheckSdoResponseWithRetry(cycle.exchange, cycle.nodes, expected, node.request.countdown,
                                   node.request.requestResult, data);
}

std::uint32_t ValueOf(std::span<const std::uint8_t> data) noexcept {
  std::uint32_t value = 0;
  const std::size_t count = std::min<std::size_t>(data.size(), 4);
  for (std::size_t i = 0; i < count; ++i) value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  return value;
}

}  // namespace vantor::canopen

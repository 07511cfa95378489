#include "kernel/core/canopen/drive_stop_steps.h"

#include <array>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

constexpr std::int32_t kReadStatusStep = 1;
constexpr std::int32_t kAwaitStatusStep = 2;
constexpr std::int32_t kAwaitQuickStopStep = 10;
constexpr std::int32_t kWriteEnableStep = 1;
constexpr std::int32_t kAwaitEnableStep = 2;
// Axis k of a multi-axis node is written in step 3 + 2k and awaited in
// step 4 + 2k.
constexpr std::int32_t kFirstAxisStep = 3;

constexpr std::uint16_t kStateMask = 0x6F;
constexpr std::uint16_t kOperationEnabled = 0x27;
constexpr std::uint32_t kQuickStopCommand = 0x0002;
constexpr std::uint32_t kEnableOperationCommand = 0x000F;

// The node's own SDO identifiers, kept in its request record while an axis
// is addressed.
namespace own_addressing {
inline constexpr common::Field<std::uint16_t, 0> kRequestCobId{};
inline constexpr common::Field<std::uint16_t, 2> kResponseCobId{};
}  // namespace own_addressing

std::uint32_t AxisCountOf(const NodeObject& node) noexcept {
  return node.axisCount < kMaxNodeAxes ? node.axisCount : static_cast<std::uint32_t>(kMaxNodeAxes);
}

void KeepOwnAddressing(NodeObject& node) noexcept {
  node.requestRecord.Set(own_addressing::kRequestCobId, node.sdoRequestCobId);
  node.requestRecord.Set(own_addressing::kResponseCobId, node.sdoResponseCobId);
}

void RestoreOwnAddressing(NodeObject& node) noexcept {
  node.sdoRequestCobId = node.requestRecord.Get(own_addressing::kRequestCobId);
  node.sdoResponseCobId = node.requestRecord.Get(own_addressing::kResponseCobId);
}

// Writes enable operation to axis `axis` of the node.
void WriteEnableToAxis(CycleContext& cycle, NodeObject& node, std::uint32_t axis) noexcept {
  node.sdoRequestCobId = node.axes[axis].sdoRequestCobId;
  node.sdoResponseCobId = node.axes[axis].sdoResponseCobId;
  node.request.retryCount = 0;
  if (!FrameSlotDownload(cycle, node, object::kControlword, 0, 2, kEnableOperationCommand)) {
    RestoreOwnAddressing(node);
    FinishStopStep(node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = kFirstAxisStep + 2 * static_cast<std::int32_t>(axis) + 1;
}

}  // namespace

bool FinishStopStep(NodeObject& node, common::StatusCode result) noexcept {
  if (result != common::kKernelSuccess) {
    const kernel::StatusFlag flag =
        result == common::kKernelCanMessageInvalid ? kernel::StatusFlag::C : kernel::StatusFlag::B;
    node.latched.Set(flag, false);
    node.current.Set(flag, false);
  }
  FinishNodeRequestWith(node, result);
  return result == common::kKernelSuccess;
}

void QuickStopStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  switch (node->request.step) {
    case kReadStatusStep:
      if (!FrameSlotUpload(cycle, *node, object::kStatusword, 0)) {
        FinishStopStep(*node, common::kKernelCanMessageInvalid);
        return;
      }
      node->request.step = kAwaitStatusStep;
      return;
    case kAwaitStatusStep: {
      std::array<std::uint8_t, 4> data{};
      if (AwaitSlotUpload(cycle, *node, object::kStatusword, 0, 2, data) != CheckState::Done)
        return;
      if (node->request.requestResult != common::kKernelSuccess) {
        FinishStopStep(*node, node->request.requestResult);
        return;
      }
      // A drive that does not run has nothing to stop.
      if ((ValueOf(data) & kStateMask) != kOperationEnabled) {
        FinishStopStep(*node, common::kKernelSuccess);
        return;
      }
      if (!FrameSlotDownload(cycle, *node, object::kControlword, 0, 2, kQuickStopCommand)) {
        FinishStopStep(*node, common::kKernelCanMessageInvalid);
        return;
      }
      node->request.step = kAwaitQuickStopStep;
      return;
    }
    case kAwaitQuickStopStep:
      if (AwaitSlotDownload(cycle, *node, object::kControlword, 0) == CheckState::Done) {
        FinishStopStep(*node, node->request.requestResult);
      }
      return;
    default:
      FinishStopStep(*node, common::kKernelCanMessageInvalid);
      return;
  }
}

void EnableOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  switch (node->request.step) {
    case kWriteEnableStep:
      if (!FrameSlotDownload(cycle, *node, object::kControlword, 0, 2, kEnableOperationCommand)) {
        FinishStopStep(*node, common::kKernelCanMessageInvalid);
        return;
      }
      node->request.step = kAwaitEnableStep;
      return;
    case kAwaitEnableStep:
      if (AwaitSlotDownload(cycle, *node, object::kControlword, 0) == CheckState::Done) {
        FinishStopStep(*node, node->request.requestResult);
      }
      return;
    default:
      FinishStopStep(*node, common::kKernelCanMessageInvalid);
      return;
  }
}

void MultiAxisEnableOperationStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  const std::int32_t step = node->request.step;
  const std::int32_t lastStep = kFirstAxisStep + 2 * static_cast<std::int32_t>(AxisCountOf(*node));
  if (step == kWriteEnableStep || step == kAwaitEnableStep) {
    if (step == kWriteEnableStep) {
      EnableOperationStep(cycle, nodeNumber);
      return;
    }
    if (AwaitSlotDownload(cycle, *node, object::kControlword, 0) != CheckState::Done) return;
    if (node->request.requestResult != common::kKernelSuccess || AxisCountOf(*node) == 0) {
      FinishStopStep(*node, node->request.requestResult);
      return;
    }
    KeepOwnAddressing(*node);
    WriteEnableToAxis(cycle, *node, 0);
    return;
  }
  if (step < kFirstAxisStep || step >= lastStep || (step - kFirstAxisStep) % 2 == 0) {
    FinishStopStep(*node, common::kKernelCanMessageInvalid);
    return;
  }
  if (AwaitSlotDownload(cycle, *node, object::kControlword, 0) != CheckState::Done) return;
  RestoreOwnAddressing(*node);
  const auto axis = static_cast<std::uint32_t>((step - kFirstAxisStep) / 2);
  if (node->request.requestResult != common::kKernelSuccess || axis + 1 == AxisCountOf(*node)) {
    FinishStopStep(*node, node->request.requestResult);
    return;
  }
  KeepOwnAddressing(*node);
  WriteEnableToAxis(cycle, *node, axis + 1);
}

}  // namespace vantor::canopen

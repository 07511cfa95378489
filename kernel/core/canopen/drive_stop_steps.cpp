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

constexpr std::uint16_t kStateMask = 0x6F;
constexpr std::uint16_t kOperationEnabled = 0x27;
constexpr std::uint32_t kQuickStopCommand = 0x0002;
constexpr std::uint32_t kEnableOperationCommand = 0x000F;

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

}  // namespace vantor::canopen

#include "kernel/core/canopen/drive_state_steps.h"

#include <algorithm>
#include <array>
#include <span>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

using kernel::StatusFlag;

constexpr std::uint8_t kWordSize = 2;
constexpr std::uint8_t kByteSize = 1;

// Step numbers of the enable and disable sequences.
namespace step {
constexpr std::int32_t kReadState = 1;
constexpr std::int32_t kDecide = 2;
constexpr std::int32_t kAfterDisableVoltage = 3;
constexpr std::int32_t kCheckDisabled = 4;
constexpr std::int32_t kAfterShutdown = 5;
constexpr std::int32_t kAfterSwitchOn = 6;
constexpr std::int32_t kAfterEnableOperation = 7;
constexpr std::int32_t kCheckEnabled = 8;
constexpr std::int32_t kAfterLeaveFault = 9;
constexpr std::int32_t kFaultResetWaiting = 11;
}  // namespace step

// Step numbers of the drive option sequence.
namespace option_step {
constexpr std::int32_t kReadOption = 1;
constexpr std::int32_t kDecide = 2;
constexpr std::int32_t kCheckRunning = 3;
constexpr std::int32_t kAfterClear = 4;
constexpr std::int32_t kAfterOutputs = 5;
}  // namespace option_step

void WriteControlword(CycleContext& cycle, NodeObject& node, std::uint16_t controlword,
                      std::int32_t nextStep) noexcept {
  FrameOrFinish(node,
                FrameSlotDownload(cycle, node, object::kControlword, 0, kWordSize, controlword),
                nextStep);
}

void ReadStatusword(CycleContext& cycle, NodeObject& node, std::int32_t nextStep) noexcept {
  FrameOrFinish(node, FrameSlotUpload(cycle, node, object::kStatusword, 0), nextStep);
}

// Waits for the controlword's answer; true when it came and was good. A
// failed answer has finished the request.
bool ControlwordAccepted(CycleContext& cycle, NodeObject& node) noexcept {
  if (AwaitSlotDownload(cycle, node, object::kControlword, 0) == CheckState::Pending) return false;
  if (node.request.requestResult != common::kKernelSuccess) {
    FinishNodeRequest(node);
    return false;
  }
  return true;
}

// The statusword's state bits once the answer came; nothing while pending
// or when the read failed (the request is then finished).
bool StateRead(CycleContext& cycle, NodeObject& node, std::uint16_t& state) noexcept {
  std::array<std::uint8_t, kWordSize> bytes{};
  if (AwaitSlotUpload(cycle, node, object::kStatusword, 0, kWordSize, bytes) ==
      CheckState::Pending) {
    return false;
  }
  if (node.request.requestResult != common::kKernelSuccess) {
    FinishNodeRequest(node);
    return false;
  }
  state = static_cast<std::uint16_t>(ValueOf(bytes) & ds402::kStateMask);
  return true;
}

// The state a sequence ends in, read after its last controlword: success
// where it is `wanted`, a drive in error for one of `errorStates`, and an
// unknown answer otherwise.
void FinishOnReachedState(CycleContext& cycle, NodeObject& node, std::uint16_t wanted,
                          std::span<const std::uint16_t> errorStates) noexcept {
  std::uint16_t state = 0;
  if (!StateRead(cycle, node, state)) return;
  if (state == wanted) {
    FinishNodeRequestWith(node, common::kKernelSuccess);
  } else if (std::find(errorStates.begin(), errorStates.end(), state) != errorStates.end()) {
    FinishNodeRequestWith(node, common::kKernelNodeInErrorState);
  } else {
    FinishNodeRequestWith(node, common::kKernelNodeAnswerUnknown);
  }
}

// The steps both sequences share after a fault: once disable voltage is
// accepted, the fault reset is sent and the drive is given its time. The
// wait is counted in the driver's elapsed time in the record's
// `countdownField`; then the sequence takes the reset's answer as that of
// disable voltage. Any other step is a broken request.
template <typename CountdownField>
void LeaveFaultStep(CycleContext& cycle, NodeObject& node, CountdownField countdownField) noexcept {
  RequestRecord& record = *node.request.requestRecord;
  switch (node.request.step) {
    case step::kAfterLeaveFault:
      if (ControlwordAccepted(cycle, node)) {
        WriteControlword(cycle, node, ds402::kFaultReset, step::kFaultResetWaiting);
        record.Set(countdownField, kFaultResetWait);
      }
      return;
    case step::kFaultResetWaiting: {
      const std::int64_t left = static_cast<std::int64_t>(record.Get(countdownField)) -
                                static_cast<std::int64_t>(cycle.elapsedMicroseconds);
      const std::int32_t kept =
          left < -kFaultResetWait ? -kFaultResetWait : static_cast<std::int32_t>(left);
      record.Set(countdownField, kept);
      if (kept < 0) {
        node.request.countdown = node.countdownReload;
        node.request.step = step::kAfterDisableVoltage;
      }
      return;
    }
    default:
      FinishNodeRequestWith(node, common::kKernelOperationFailedSeriously);
      return;
  }
}

// The states after which enabling and disabling end with the drive in error.
constexpr std::array<std::uint16_t, 3> kEnableErrorStates{ds402::kFaultReactionActive,
                                                          ds402::kReadyToSwitchOn, ds402::kFault};
constexpr std::array<std::uint16_t, 2> kDisableErrorStates{ds402::kFaultReactionActive,
                                                           ds402::kFault};

}  // namespace

void DriveEnableStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  RequestRecord& record = *node.request.requestRecord;
  record.Set(enable_request::kAlreadyEnabled, 0);
  std::uint16_t state = 0;
  switch (node.request.step) {
    case step::kReadState:
      ReadStatusword(cycle, node, step::kDecide);
      return;
    case step::kDecide:
      if (!StateRead(cycle, node, state)) return;
      switch (state) {
        case ds402::kQuickStopActive:
          WriteControlword(cycle, node, ds402::kDisableVoltage, step::kAfterDisableVoltage);
          return;
        case ds402::kFaultReactionActive:
        case ds402::kFaultReactionNoVoltage:
          FinishNodeRequestWith(node, common::kKernelExternalNodeControlForbidden);
          return;
        case ds402::kReadyToSwitchOn:
          WriteControlword(cycle, node, ds402::kSwitchOn, step::kAfterSwitchOn);
          return;
        case ds402::kSwitchedOn:
          WriteControlword(cycle, node, ds402::kEnableOperation, step::kAfterEnableOperation);
          return;
        case ds402::kOperationEnabled:
          record.Set(enable_request::kAlreadyEnabled, 1);
          FinishNodeRequestWith(node, common::kKernelSuccess);
          return;
        case ds402::kFault:
          WriteControlword(cycle, node, ds402::kDisableVoltage, step::kAfterLeaveFault);
          return;
        case ds402::kSwitchOnDisabled:
          WriteControlword(cycle, node, ds402::kShutdown, step::kAfterShutdown);
          return;
        default:
          FinishNodeRequestWith(node, common::kKernelNodeAnswerUnknown);
          return;
      }
    case step::kAfterDisableVoltage:
      if (ControlwordAccepted(cycle, node)) {
        WriteControlword(cycle, node, ds402::kShutdown, step::kAfterShutdown);
      }
      return;
    case step::kAfterShutdown:
      if (ControlwordAccepted(cycle, node)) {
        WriteControlword(cycle, node, ds402::kSwitchOn, step::kAfterSwitchOn);
      }
      return;
    case step::kAfterSwitchOn:
      if (ControlwordAccepted(cycle, node)) {
        WriteControlword(cycle, node, ds402::kEnableOperation, step::kAfterEnableOperation);
      }
      return;
    case step::kAfterEnableOperation:
      if (ControlwordAccepted(cycle, node)) {
        ReadStatusword(cycle, node, step::kCheckEnabled);
      }
      return;
    case step::kCheckEnabled:
      FinishOnReachedState(cycle, node, ds402::kOperationEnabled, kEnableErrorStates);
      return;
    default:
      LeaveFaultStep(cycle, node, enable_request::kFaultResetCountdown);
      return;
  }
}

void DriveDisableStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  std::uint16_t state = 0;
  switch (node.request.step) {
    case step::kReadState:
      ReadStatusword(cycle, node, step::kDecide);
      return;
    case step::kDecide:
      if (!StateRead(cycle, node, state)) return;
      switch (state) {
        case ds402::kQuickStopActive:
        case ds402::kReadyToSwitchOn:
        case ds402::kSwitchedOn:
        case ds402::kOperationEnabled:
          WriteControlword(cycle, node, ds402::kDisableVoltage, step::kAfterDisableVoltage);
          return;
        case ds402::kFaultReactionActive:
        case ds402::kFaultReactionNoVoltage:
          FinishNodeRequestWith(node, common::kKernelExternalNodeControlForbidden);
          return;
        case ds402::kFault:
          WriteControlword(cycle, node, ds402::kDisableVoltage, step::kAfterLeaveFault);
          return;
        case ds402::kSwitchOnDisabled:
          FinishNodeRequestWith(node, common::kKernelSuccess);
          return;
        default:
          FinishNodeRequestWith(node, common::kKernelNodeAnswerUnknown);
          return;
      }
    case step::kAfterDisableVoltage:
      if (ControlwordAccepted(cycle, node)) {
        ReadStatusword(cycle, node, step::kCheckDisabled);
      }
      return;
    case step::kCheckDisabled:
      FinishOnReachedState(cycle, node, ds402::kSwitchOnDisabled, kDisableErrorStates);
      return;
    default:
      LeaveFaultStep(cycle, node, disable_request::kFaultResetCountdown);
      return;
  }
}

void ClearDriveOptionStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  RequestRecord& record = *node.request.requestRecord;
  auto finish = [&](bool changed) {
    record.Set(option_request::kOptionChanged, changed ? 1u : 0u);
    FinishNodeRequest(node);
  };
  std::array<std::uint8_t, kWordSize> bytes{};
  switch (node.request.step) {
    case option_step::kReadOption:
      FrameOrFinish(
          node, FrameSlotUpload(cycle, node, object::kDriveOptions, object::kDriveOptionSubindex),
          option_step::kDecide);
      return;
    case option_step::kDecide:
      if (AwaitSlotUpload(cycle, node, object::kDriveOptions, object::kDriveOptionSubindex,
                          kByteSize, std::span(bytes).first(kByteSize)) == CheckState::Pending) {
        return;
      }
      if (node.request.requestResult != common::kKernelSuccess || bytes[0] == 0) {
        finish(false);
        return;
      }
      ReadStatusword(cycle, node, option_step::kCheckRunning);
      return;
    case option_step::kCheckRunning:
      if (AwaitSlotUpload(cycle, node, object::kStatusword, 0, kWordSize, bytes) ==
          CheckState::Pending) {
        return;
      }
      if (node.request.requestResult == common::kKernelSuccess &&
          (bytes[0] & ~ds402::kOptionStateIgnoredBits) == ds402::kOperationEnabled) {
        FrameOrFinish(node,
                      FrameSlotDownload(cycle, node, object::kDriveOptions,
                                        object::kDriveOptionSubindex, kByteSize, 0),
                      option_step::kAfterClear);
        return;
      }
      finish(false);
      return;
    case option_step::kAfterClear:
      if (AwaitSlotDownload(cycle, node, object::kDriveOptions, object::kDriveOptionSubindex) ==
          CheckState::Pending) {
        return;
      }
      if (node.request.requestResult != common::kKernelSuccess) {
        node.SetFlagInBothRows(StatusFlag::N, false);
        finish(false);
        return;
      }
      FrameOrFinish(node, FrameSlotDownload(cycle, node, object::kDigitalOutputs, 0, kByteSize, 1),
                    option_step::kAfterOutputs);
      return;
    case option_step::kAfterOutputs:
      if (AwaitSlotDownload(cycle, node, object::kDigitalOutputs, 0) == CheckState::Pending) return;
      node.SetFlagInBothRows(StatusFlag::N, false);
      finish(true);
      return;
    default:
      FinishNodeRequestWith(node, common::kKernelOperationFailedSeriously);
      return;
  }
}

void SetDriveOptionStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* slot = SteppedNode(cycle, nodeNumber);
  if (slot == nullptr) return;
  NodeObject& node = *slot;
  if (node.request.step == 1) {
    FrameOrFinish(node,
                  FrameSlotDownload(cycle, node, object::kDriveOptions,
                                    object::kDriveOptionSubindex, kByteSize, 1),
                  2);
    return;
  }
  if (AwaitSlotDownload(cycle, node, object::kDriveOptions, object::kDriveOptionSubindex) ==
      CheckState::Done) {
    FinishNodeRequest(node);
  }
}

}  // namespace vantor::canopen

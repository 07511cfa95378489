#include "kernel/core/canopen/homing_steps.h"

#include <array>
#include <span>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

namespace step {
constexpr std::int32_t kArmStatus = 1;
constexpr std::int32_t kCheckStatus = 2;
constexpr std::int32_t kAfterMethodRead = 3;
constexpr std::int32_t kAfterMethodForced = 4;
constexpr std::int32_t kAfterMethodRestored = 5;
constexpr std::int32_t kAfterEnable = 6;
constexpr std::int32_t kAfterHomingMode = 7;
constexpr std::int32_t kAfterStart = 8;
constexpr std::int32_t kWatchRun = 9;
constexpr std::int32_t kAfterRunEnd = 10;
constexpr std::int32_t kAfterInterpolatedMode = 11;
constexpr std::int32_t kAfterProfileMode = 12;
constexpr std::int32_t kAfterInterpolatedEnable = 13;
constexpr std::int32_t kAfterProfileEnable = 14;
constexpr std::int32_t kAfterHalt = 15;
}  // namespace step

constexpr std::uint8_t kByte = 1;
constexpr std::uint8_t kWord = 2;
// The halt's answer may take longer: the drive brakes first.
constexpr std::int32_t kHaltCountdownFactor = 4;
// The first transmit PDO: position, statusword and a byte; the handwheel's
// time stamp adds one more.
constexpr std::uint8_t kTpdo1Length = 7;
constexpr std::uint8_t kTpdo1LengthWithHandwheel = 8;
constexpr std::size_t kStatuswordByte = 4;
constexpr std::uint8_t kTpdoOnRequest = 253;
constexpr std::uint8_t kTpdoEverySync = 1;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

bool BreakSet(const CycleContext& cycle) noexcept {
  return cycle.homing.breakSignal != nullptr && cycle.homing.breakSignal->IsSet();
}
bool TestMode(const CycleContext& cycle) noexcept { return cycle.homing.testMode != 0; }

std::uint8_t SavedMethod(const NodeObject& node) noexcept {
  return node.request.requestRecord->Get(homing_request::kSavedMethod);
}

// In test mode the drive may now hold the forced method instead of its own.
void Mark(const CycleContext& cycle, NodeObject& node) noexcept {
  if (TestMode(cycle) && SavedMethod(node) != ds402::kHomeOnCurrentPosition) {
    node.request.requestRecord->Set(homing_request::kMethodChanged, 1);
  }
}

void FailWith(CycleContext& cycle, NodeObject& node, StatusCode result) noexcept {
  node.request.requestResult = result;
  FinishHomingFailed(cycle, node);
}

void Download(CycleContext& cycle, NodeObject& node, std::uint16_t index, std::uint8_t size,
              std::uint32_t value, std::int32_t nextStep) noexcept {
  if (!FrameSlotDownload(cycle, node, index, 0, size, value)) {
    FailWith(cycle, node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = nextStep;
}

// Asks the drive for its first transmit PDO; its answer is checked next.
void ArmStatusReception(CycleContext& cycle, NodeObject& node, std::int32_t nextStep) noexcept {
  node.request.countdown = node.countdownReload;
  if (!ArmFrameReception(cycle.exchange, MakeTpdoCobId(1, node.nodeId), node.answerRecord)) {
    FailWith(cycle, node, common::kKernelCanMessageInvalid);
    return;
  }
  node.request.step = nextStep;
}

// The transmit PDO's answer: pending, or done with the statusword in
// `statusword` and the outcome in the request result.
CheckState StatusReceived(CycleContext& cycle, NodeObject& node,
                          std::uint16_t& statusword) noexcept {
  std::array<std::uint8_t, kTpdo1LengthWithHandwheel> data{};
  const std::uint8_t length =
      cycle.homing.handwheelLinked != 0 ? kTpdo1LengthWithHandwheel : kTpdo1Length;
  const CheckState state =
      CheckFrameReceived(cycle.exchange, node.answerRecord, length, node.request.countdown,
                         node.request.requestResult, data);
  statusword = static_cast<std::uint16_t>(data[kStatuswordByte] | (data[kStatuswordByte + 1] << 8));
  return state;
}

// The drive is halted before the sequence fails with its present result;
// the halt's own outcome does not count.
void Halt(CycleContext& cycle, NodeObject& node) noexcept {
  if (!FrameSlotDownload(cycle, node, object::kControlword, 0, kWord, ds402::kHalt)) {
    FinishHomingFailed(cycle, node);
    return;
  }
  node.request.countdown = kHaltCountdownFactor * node.countdownReload;
  node.request.step = step::kAfterHalt;
}

void WriteWorkingMode(CycleContext& cycle, NodeObject& node, std::uint32_t nodeNumber) noexcept {
  if (nodeNumber <= cycle.homing.interpolatedNodeCount) {
    Download(cycle, node, object::kModesOfOperation, kByte, ds402::kInterpolatedPositionMode,
             step::kAfterInterpolatedMode);
  } else {
    Download(cycle, node, object::kModesOfOperation, kByte, ds402::kProfilePositionMode,
             step::kAfterProfileMode);
  }
}

// The answer to the download of the present step's object: true when it
// came and was good. A failure has ended the sequence, after `onFailure`.
template <typename OnFailure>
bool Accepted(CycleContext& cycle, NodeObject& node, std::uint16_t index,
              OnFailure&& onFailure) noexcept {
  if (AwaitSlotDownload(cycle, node, index, 0) == CheckState::Pending) return false;
  if (!Failed(node.request.requestResult)) return true;
  onFailure();
  FinishHomingFailed(cycle, node);
  return false;
}
bool Accepted(CycleContext& cycle, NodeObject& node, std::uint16_t index) noexcept {
  return Accepted(cycle, node, index, [] {});
}

// Ends the sequence on a break; true when it did.
bool BrokenOff(CycleContext& cycle, NodeObject& node) noexcept {
  if (!BreakSet(cycle)) return false;
  FailWith(cycle, node, common::kKernelHomingBroken);
  return true;
}

void CheckStartState(CycleContext& cycle, NodeObject& node) noexcept {
  std::uint16_t statusword = 0;
  if (StatusReceived(cycle, node, statusword) == CheckState::Pending) return;
  if (Failed(node.request.requestResult)) {
    FinishHomingFailed(cycle, node);
    return;
  }
  if (BrokenOff(cycle, node)) return;
  const StatusCode state = HomingStartStateResult(statusword);
  if (Failed(state)) {
    FailWith(cycle, node, state);
    return;
  }
  Download(cycle, node, object::kControlword, kWord, ds402::kEnableOperation, step::kAfterEnable);
}

void AfterMethodRead(CycleContext& cycle, NodeObject& node) noexcept {
  std::array<std::uint8_t, 1> method{};
  if (AwaitSlotUpload(cycle, node, object::kHomingMethod, 0, kByte, method) ==
      CheckState::Pending) {
    return;
  }
  if (Failed(node.request.requestResult)) {
    FinishHomingFailed(cycle, node);
    return;
  }
  if (BrokenOff(cycle, node)) return;
  node.request.requestRecord->Set(homing_request::kSavedMethod, method[0]);
  if (method[0] == ds402::kHomeOnCurrentPosition) {
    Download(cycle, node, object::kModesOfOperation, kByte, ds402::kHomingMode,
             step::kAfterHomingMode);
  } else {
    Download(cycle, node, object::kHomingMethod, kByte, ds402::kHomeOnCurrentPosition,
             step::kAfterMethodForced);
  }
}

void AfterStart(CycleContext& cycle, NodeObject& node) noexcept {
  if (AwaitSlotDownload(cycle, node, object::kControlword, 0) == CheckState::Pending) return;
  if (Failed(node.request.requestResult)) Mark(cycle, node);
  if (!Failed(node.request.requestResult) && BreakSet(cycle) && !TestMode(cycle)) {
    node.request.requestResult = common::kKernelHomingBroken;
  }
  if (!Failed(node.request.requestResult)) {
    ArmStatusReception(cycle, node, step::kWatchRun);
  } else if (TestMode(cycle)) {
    FinishHomingFailed(cycle, node);
  } else {
    Halt(cycle, node);
  }
}

void WatchRun(CycleContext& cycle, NodeObject& node) noexcept {
  std::uint16_t statusword = 0;
  if (StatusReceived(cycle, node, statusword) == CheckState::Pending) return;
  if (!TestMode(cycle)) {
    if (!Failed(node.request.requestResult) && BreakSet(cycle)) {
      node.request.requestResult = common::kKernelHomingBroken;
    }
    if (Failed(node.request.requestResult)) {
      Halt(cycle, node);
      return;
    }
  } else if (Failed(node.request.requestResult)) {
    Mark(cycle, node);
    FinishHomingFailed(cycle, node);
    return;
  }
  if ((statusword & ds402::kHomingError) != 0 ||
      (statusword & ds402::kStateMask) != ds402::kOperationEnabled) {
    Mark(cycle, node);
    FailWith(cycle, node, common::kKernelHomingInternalError);
    return;
  }
  if ((statusword & ds402::kHomingAttained) != 0) {
    Download(cycle, node, object::kControlword, kWord, ds402::kEnableOperation, step::kAfterRunEnd);
    return;
  }
  ArmStatusReception(cycle, node, step::kWatchRun);
}

void AfterRunEnd(CycleContext& cycle, NodeObject& node, std::uint32_t nodeNumber) noexcept {
  if (!Accepted(cycle, node, object::kControlword, [&] { Mark(cycle, node); })) return;
  if (!TestMode(cycle) && BrokenOff(cycle, node)) return;
  if (TestMode(cycle) && SavedMethod(node) != ds402::kHomeOnCurrentPosition) {
    Download(cycle, node, object::kHomingMethod, kByte, SavedMethod(node),
             step::kAfterMethodRestored);
    return;
  }
  WriteWorkingMode(cycle, node, nodeNumber);
}

void AfterHalt(CycleContext& cycle, NodeObject& node) noexcept {
  StatusCode scratch = common::kKernelSuccess;
  const SdoExpectation expected{true, object::kControlword, 0, node.answerRecord, 0};
  if (CheckSdoResponseWithRetry(cycle.exchange, cycle.nodes, expected, node.request.countdown,
                                scratch, {}) == CheckState::Pending) {
    return;
  }
  FinishHomingFailed(cycle, node);
}

void TpdoTransmissionStep(CycleContext& cycle, std::uint32_t nodeNumber,
                          std::uint8_t transmissionType) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  if (node->request.step == 1) {
    FrameOrFinish(*node,
                  FrameSlotDownload(cycle, *node, object::kTpdo1Communication,
                                    object::kTransmissionTypeSubindex, kByte, transmissionType),
                  2);
  } else if (node->request.step == 2) {
    if (AwaitSlotDownload(cycle, *node, object::kTpdo1Communication,
                          object::kTransmissionTypeSubindex) == CheckState::Done) {
      FinishNodeRequest(*node);
    }
  }
}

}  // namespace

StatusCode HomingStartStateResult(std::uint16_t statusword) noexcept {
  switch (statusword & ds402::kStateMask) {
    case ds402::kOperationEnabled:
      return common::kKernelSuccess;
    case ds402::kQuickStopActive:
    case ds402::kReadyToSwitchOn:
    case ds402::kSwitchedOn:
    case ds402::kFault:
    case ds402::kSwitchOnDisabled:
      return common::kKernelNodeInErrorState;
    case ds402::kFaultReactionActive:
    case ds402::kFaultReactionNoVoltage:
      return common::kKernelExternalNodeControlForbidden;
    default:
      return common::kKernelNodeAnswerUnknown;
  }
}

void HomingStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* found = SteppedNode(cycle, nodeNumber);
  if (found == nullptr) return;
  NodeObject& node = *found;
  switch (node.request.step) {
    case step::kArmStatus:
      node.request.requestRecord->Set(homing_request::kMethodChanged, 0);
      ArmStatusReception(cycle, node, step::kCheckStatus);
      return;
    case step::kCheckStatus:
      CheckStartState(cycle, node);
      return;
    case step::kAfterEnable:
      if (!Accepted(cycle, node, object::kControlword) || BrokenOff(cycle, node)) return;
      if (TestMode(cycle)) {
        if (!FrameSlotUpload(cycle, node, object::kHomingMethod, 0)) {
          FailWith(cycle, node, common::kKernelCanMessageInvalid);
          return;
        }
        node.request.step = step::kAfterMethodRead;
      } else {
        Download(cycle, node, object::kModesOfOperation, kByte, ds402::kHomingMode,
                 step::kAfterHomingMode);
      }
      return;
    case step::kAfterMethodRead:
      AfterMethodRead(cycle, node);
      return;
    case step::kAfterMethodForced:
      if (!Accepted(cycle, node, object::kHomingMethod,
                    [&] { node.request.requestRecord->Set(homing_request::kMethodChanged, 1); })) {
        return;
      }
      Download(cycle, node, object::kModesOfOperation, kByte, ds402::kHomingMode,
               step::kAfterHomingMode);
      return;
    case step::kAfterHomingMode:
      if (!Accepted(cycle, node, object::kModesOfOperation, [&] { Mark(cycle, node); })) return;
      if (!TestMode(cycle) && BrokenOff(cycle, node)) return;
      Download(cycle, node, object::kControlword, kWord, ds402::kStartHoming, step::kAfterStart);
      return;
    case step::kAfterStart:
      AfterStart(cycle, node);
      return;
    case step::kWatchRun:
      WatchRun(cycle, node);
      return;
    case step::kAfterRunEnd:
      AfterRunEnd(cycle, node, nodeNumber);
      return;
    case step::kAfterMethodRestored:
      if (!Accepted(cycle, node, object::kHomingMethod,
                    [&] { node.request.requestRecord->Set(homing_request::kMethodChanged, 1); })) {
        return;
      }
      WriteWorkingMode(cycle, node, nodeNumber);
      return;
    case step::kAfterInterpolatedMode:
    case step::kAfterProfileMode: {
      const std::int32_t next = node.request.step == step::kAfterInterpolatedMode
                                    ? step::kAfterInterpolatedEnable
                                    : step::kAfterProfileEnable;
      if (!Accepted(cycle, node, object::kModesOfOperation) || BrokenOff(cycle, node)) return;
      Download(cycle, node, object::kControlword, kWord, ds402::kEnableOperation, next);
      return;
    }
    case step::kAfterInterpolatedEnable:
    case step::kAfterProfileEnable:
      if (!Accepted(cycle, node, object::kControlword) || BrokenOff(cycle, node)) return;
      FinishHomingDone(cycle, node);
      return;
    case step::kAfterHalt:
      AfterHalt(cycle, node);
      return;
    default:
      return;
  }
}

void DisableCyclicTpdoStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  TpdoTransmissionStep(cycle, nodeNumber, kTpdoOnRequest);
}

void EnableCyclicTpdoStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  TpdoTransmissionStep(cycle, nodeNumber, kTpdoEverySync);
}

void FinishHomingDone(CycleContext& cycle, NodeObject& node) noexcept {
  node.position = 0.0;
  node.homeShiftRemainder = 0;
  node.homedInTestMode = cycle.homing.testMode;
  node.SetFlagInBothRows(StatusFlag::D, true);
  node.current.Set(StatusFlag::E, true);
  node.current.Set(StatusFlag::F, true);
  FinishNodeRequest(node);
}

void FinishHomingFailed(CycleContext& cycle, NodeObject& node) noexcept {
  node.SetFlagInBothRows(StatusFlag::D, false);
  FinishNodeRequest(node);
  if (cycle.homing.breakSignal != nullptr) cycle.homing.breakSignal->Reset();
}

}  // namespace vantor::canopen

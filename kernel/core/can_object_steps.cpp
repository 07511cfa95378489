#include "kernel/core/can_object_steps.h"

#include <type_traits>

#include "kernel/core/canopen/can_object_admission.h"
#include "kernel/core/canopen/can_object_cycle.h"
#include "kernel/core/canopen/global_slot.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion_cycle.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

static_assert(std::is_same_v<FreeRecordTable, canopen::RecordFlagTable>);

const canopen::NodeTable& ConfiguredCanNodes(const KernelData& data) noexcept {
  return data.nodeConfiguration.table;
}

void CanObjectCycleSteps::ServeCanObjectList(common::ExchangeBuffer& exchange) noexcept {
  canopen::ServeCanObjectList(list_, exchange);
}

void CanObjectCycleSteps::ScheduleCanObjects(common::ExchangeBuffer& exchange) noexcept {
  canopen::ScheduleCanObjects(list_, exchange);
}

void CanObjectCycleSteps::RunGlobalStep(common::ExchangeBuffer& exchange) noexcept {
  if (!data_.state.IsCncInitialised()) return;
  canopen::CycleContext cycle{exchange, data_.nodeConfiguration.table,
                              exchange.Get(common::exchange_buffer::kCycleMicroseconds),
                              &data_.globalSlot.request};
  canopen::RunGlobalSlotStep(cycle);
}

bool HomingBreakEvent::IsSet() noexcept {
  return os::WaitForOne(nodes_.homingBreakEvent, 0).kind == os::WaitKind::Signalled;
}

void HomingBreakEvent::Reset() noexcept { static_cast<void>(nodes_.homingBreakEvent.Reset()); }

void CanObjectCycleSteps::RunNodeSteps(common::ExchangeBuffer& exchange) noexcept {
  canopen::CycleContext cycle{exchange, data_.nodeConfiguration.table,
                              exchange.Get(common::exchange_buffer::kCycleMicroseconds),
                              &data_.globalSlot.request};
  cycle.homing = {.breakSignal = &homingBreak_,
                  .testMode = data_.state.testMode,
                  .interpolatedNodeCount = data_.nodeConfiguration.interpolatedNodeCount,
                  .handwheelLinked = list_.kernelObjects.handwheelLinked};
  canopen::RunNodeSteps(cycle);
}

void CanObjectCycleSteps::CompletePendingRequests() noexcept {
  if (!data_.state.IsCncInitialised()) return;
  canopen::CompletePendingRequests(data_.nodeConfiguration.table, &data_.globalSlot.request);
}

void CanObjectCycleSteps::ResetVelocityOutputIndexes() noexcept {
  kernel::ResetVelocityOutputIndexes(data_.velocityOutput);
}

void CanObjectCycleSteps::ProcessMotion(common::ExchangeBuffer& exchange) noexcept {
  if (!data_.state.IsCncInitialised()) {
    canopen::CheckCanObjectStates(data_.state.peripheryPdoOk, list_);
    return;
  }
  TrackGlobalSlotReply(data_, exchange);
  canopen::CheckCanObjectStates(data_.state.peripheryPdoOk, list_);
  if (data_.state.busOk == 0) return;
  FollowCyclicAnswers(data_);
  ProcessPathCycle(data_, exchange);
}

void CanObjectCycleSteps::DropPendingEvents() noexcept {
  if (data_.state.IsCncInitialised()) DropPathEvents(data_);
}

common::StatusCode CanObjectCycleSteps::CheckApplicationCanRequest(
    ApplicationCanRequest& request) noexcept {
  request.kernelNodeRequest = 0;
  if (!data_.state.IsCncInitialised()) return common::kKernelSuccess;
  if (!LockKernelDataAndObjectList(data_)) {
    // The CNC exit closed the locks meanwhile: the rules no longer apply.
    return data_.state.IsCncInitialised() ? common::kKernelCanMessageInvalid
                                          : common::kKernelSuccess;
  }
  const canopen::CanRequestFrame frame{request.cobId, request.data, request.length,
                                       request.answerCobId};
  const auto admission = canopen::CheckApplicationCanRequest(frame, data_.state.IsCncInitialised(),
                                                             ConfiguredCanNodes(data_), list_);
  UnlockKernelDataAndObjectList(data_);
  if (!admission.admitted) return common::kKernelCanMessageInvalid;
  request.kernelNodeRequest = admission.kernelNodeRequest ? 1 : 0;
  return common::kKernelSuccess;
}

}  // namespace vantor::kernel

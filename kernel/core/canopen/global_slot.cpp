#include "kernel/core/canopen/global_slot.h"

#include <array>

#include "kernel/core/canopen/message_slots.h"

namespace vantor::canopen {

namespace mr = common::message_record;

void GlobalSlotStep(CycleContext& cycle, std::uint32_t) noexcept {
  GlobalRequest* global = cycle.global;
  if (global == nullptr) return;
  common::StatusCode result = common::kKernelSuccess;
  const std::int32_t mode = global->step;
  auto record = RecordOf(cycle.exchange, global->record);
  if (!record ||
      (mode != global_slot_mode::kRelease && mode != global_slot_mode::kSynchronisedStart)) {
    result = common::kKernelCanMessageInvalid;
  } else {
    record->Fill(0, common::kMessageRecordSize, 0);
    if (mode == global_slot_mode::kSynchronisedStart) {
      record->Set(mr::kCode,
                  static_cast<std::uint8_t>(common::MessageCode::SynchronisedBufferedStart));
    }
    record->Set(mr::kResult, std::uint8_t{0});
    record->Set(mr::kCobId, global->cobId);
    record->Set(mr::kSyncAnswerCobId, std::uint32_t{global->timeStampCobId});
    // The synchronised start arms both frames; their replies are tracked
    // each cycle. The release disarms them, so the cycle sees no
    // synchronisation until the next start.
    const std::uint32_t armed = mode == global_slot_mode::kSynchronisedStart ? 1 : 0;
    global->armed = {armed, armed};
  }
  global->requestResult = result;
  global->stepFunction = nullptr;
  global->step = 0;
  if (global->completionEvent != nullptr) global->completionEvent->Set();
}

void RunGlobalSlotStep(CycleContext& cycle) noexcept {
  if (cycle.global != nullptr && cycle.global->stepFunction != nullptr) {
    cycle.global->stepFunction(cycle, 0);
  }
}

common::StatusCode ArmGlobalSlot(ServiceContext& context, bool start) noexcept {
  NodeServiceHost& host = context.host;
  GlobalRequest& global = host.GlobalSlot();
  // Without its event nobody could wait for the slot.
  if (global.completionEvent == nullptr) return common::kKernelOperationFailed;
  {
    HostLock lock(host);
    if (!host.LockGlobalRequest()) return kernel::kCycleNotRunning;
    if (!host.IsCycleRunning()) {
      host.UnlockGlobalRequest();
      return kernel::kCycleNotRunning;
    }
    global.completionEvent->Reset();
    global.timeStampCobId = context.nodes.timeStamp.cobId;
    global.stepFunction = GlobalSlotStep;
    global.step = start ? global_slot_mode::kSynchronisedStart : global_slot_mode::kRelease;
    host.UnlockGlobalRequest();
  }
  const std::array<CompletionSignal*, 1> signals{global.completionEvent};
  host.WaitForAll(signals);
  HostLock lock(host);
  if (!host.LockGlobalRequest()) return kernel::kCycleNotRunning;
  common::StatusCode result = global.requestResult;
  if (!host.IsCycleRunning()) {
    // Nothing steps the slot any more; it must not stay armed.
    global.stepFunction = nullptr;
    global.step = 0;
    result = kernel::kCycleNotRunning;
  }
  host.UnlockGlobalRequest();
  return result;
}

}  // namespace vantor::canopen

// Exports of the controller's status: the complete status as the kernel
// reports it, and the controller's and one axis's status derived from it.
#include <cstddef>
#include <cstring>

#include "interface/complete_status_fetch.h"
#include "interface/drill_plugin.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/link_state.h"
#include "interface/status_evaluation.h"
#include "interface/ui_hook.h"

namespace vantor::interface {
namespace {

namespace cs = common::complete_status;

constexpr char kStatusMenuHint[] = "Please, use the corresponding menu to show the CAN-CNC-status!";

// The application's records are the wire records themselves.
static_assert(sizeof(LinkoraCompleteStatusRecord) == common::kCompleteStatusRecordSize);
static_assert(offsetof(LinkoraCompleteStatusRecord, VpoActive) ==
              cs::StateWordOffset(cs::StateWord::VpoActive));
static_assert(offsetof(LinkoraCompleteStatusRecord, LatchedSynObjError) ==
              cs::kLatchedSynObjOK.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, ErrorCncPDO) ==
              cs::kCurrentCanObjectOK.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, CanObjectErrors) ==
              cs::CanObjectErrorOffset(0));
static_assert(offsetof(LinkoraCompleteStatusRecord, CanObjectErrors[0].CobId) ==
              cs::CanObjectErrorOffset(0) + cs::can_object_error::kCobId.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, LatchedSoftwareLimits) ==
              cs::LatchedNegSweWarningOffset(0));
static_assert(offsetof(LinkoraCompleteStatusRecord, SoftwareLimits) ==
              cs::CurrentNegSweWarningOffset(0));
static_assert(offsetof(LinkoraCompleteStatusRecord, AxisMotion) == cs::kAxisMotionWords.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, AxisModes) == cs::kAxisModes.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, LatchedDriveState) ==
              cs::kLatchedDriveState.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, DriveState) == cs::kCurrentDriveState.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, DriveState[1].DriveErrorNo) ==
              cs::AxisOffset(cs::kCurrentDriveState, 1, cs::kDriveErrorNumber));
static_assert(offsetof(LinkoraCompleteStatusRecord, AxisNodes) == cs::kAxisTable.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, SlaveAxisState) ==
              cs::kCurrentSlaveState.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, LatchedSlaveAxisState) ==
              cs::kLatchedSlaveState.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, AxisResults) == cs::kOperationResults.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, ModuleName) == cs::kModuleNames.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, SlaveModuleName) ==
              cs::kSlaveModuleNames.offset);
static_assert(offsetof(LinkoraCompleteStatusRecord, HandwheelConfigured) ==
              cs::kHandwheelConfigured.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, HandwheelNodeNo) ==
              cs::kHandwheelNodeId.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, HandwheelModel) == cs::kHandwheelModel.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, DeviceName) == cs::kDeviceName.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, DriverVersion) == cs::kDriverVersion.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, KernelVersion) == cs::kKernelVersion.kOffset);
static_assert(offsetof(LinkoraCompleteStatusRecord, LibraryVersion) == cs::kLibraryVersion.kOffset);
static_assert(sizeof(LinkoraMotionControlStatus) == 116);
static_assert(offsetof(LinkoraMotionControlStatus, Flags2) == 20);
static_assert(offsetof(LinkoraMotionControlStatus, InMotion) == 24);
static_assert(offsetof(LinkoraMotionControlStatus, IsBusy) == 84);
static_assert(offsetof(LinkoraMotionControlStatus, PathStart) == 112);
static_assert(sizeof(LinkoraAxisStatus) == 92);
static_assert(offsetof(LinkoraAxisStatus, InMotion) == 8);
static_assert(offsetof(LinkoraAxisStatus, SCFail) == 64);
static_assert(offsetof(LinkoraAxisStatus, HardwareSpecError) == 88);

// The drilling plug-in's status record: its second word tells whether a
// drilling cycle runs.
struct DrillStatus {
  std::uint32_t word0 = 0;
  std::uint32_t cycleActive = 0;
  std::uint32_t word2 = 0;
};
static_assert(sizeof(DrillStatus) == 12);

bool DrillCycleActive() {
  DrillStatus drill;
  const auto result = CallDrillEntry(DrillEntry::GetStatus, &drill, sizeof drill);
  return (result & 0xC0000000u) == 0 && drill.cycleActive != 0;
}

common::StatusCode GetCompleteStatus(LinkoraCompleteStatusRecord* record, std::uint32_t size) {
  if (size != sizeof(LinkoraCompleteStatusRecord)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  FetchedStatus fetched;
  const auto result = FetchCompleteStatus(fetched);
  // On failure the caller gets the zeroed record, never a half answer.
  std::memcpy(record, fetched.record.Bytes().data(), sizeof *record);
  return result;
}

common::StatusCode GetStatus(LinkoraMotionControlStatus* record, std::uint32_t size) {
  namespace bit = controller_bit;
  if (record == nullptr && (size == 0 || size == sizeof *record)) {
    if (Link().popupMenuActive != 0) ShowLibraryMessage("Linkora", kStatusMenuHint);
    return common::kLibrarySuccess;
  }
  if (record == nullptr || size != sizeof *record) return common::kLibraryRecordSizeMismatch;
  *record = LinkoraMotionControlStatus{};
  FetchedStatus fetched;
  const auto result = FetchCompleteStatus(fetched);
  if (IsUninitialisedResult(result)) return common::kLibrarySuccess;
  if (result != common::kLibrarySuccess) {
    record->IsInitialized = 1;
    PutFlagBit(record->Flags2, bit::kIsInitialized, true);
    return result;
  }
  BuildControllerStatus(fetched.record.View(), fetched.counts, *record);
  MarkDrillCycle(DrillCycleActive(), *record);
  return common::kLibrarySuccess;
}

common::StatusCode GetAxisStatus(std::int32_t axis, LinkoraAxisStatus* record, std::uint32_t size) {
  namespace bit = axis_bit;
  if (size != sizeof(LinkoraAxisStatus)) return common::kLibraryRecordSizeMismatch;
  if (record == nullptr) return common::kLibraryCallParameterInvalid;
  *record = LinkoraAxisStatus{};
  FetchedStatus fetched;
  const auto result = FetchCompleteStatus(fetched);
  if (IsUninitialisedResult(result)) return common::kLibrarySuccess;
  if (fetched.countsKnown &&
      (axis < 0 || static_cast<std::uint32_t>(axis) >= fetched.counts.axes)) {
    return common::kKernelAxisNumberInvalid;
  }
  if (result != common::kLibrarySuccess) {
    // A failed fetch reads as it does for the controller: initialised,
    // with the failure returned.
    record->IsInitialized = 1;
    record->Ready = 1;
    PutFlagBit(record->Flags2, bit::kIsInitialized, true);
    PutFlagBit(record->Flags2, bit::kReady, true);
    return result;
  }
  BuildAxisStatus(fetched.record.View(), static_cast<std::uint32_t>(axis), *record);
  return common::kLibrarySuccess;
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_specfct_GetCompleteStatus(LinkoraCompleteStatusRecord* record,
                                                            uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_specfct_GetCompleteStatus",
                              [&] { return interface::GetCompleteStatus(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetStatus(LinkoraMotionControlStatus* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetStatus",
                              [&] { return interface::GetStatus(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_GetAxisStatus(int32_t axis, LinkoraAxisStatus* record,
                                                uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetAxisStatus",
                              [&] { return interface::GetAxisStatus(axis, record, size); });
}

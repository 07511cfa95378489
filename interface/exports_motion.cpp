// Exports that bring the drives to operation and switch the state of the
// motion and of the drives.
#include "interface/drill_plugin.h"
#include "interface/drive_homing.h"
#include "interface/drive_reset.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_Reset(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Reset", [] { return interface::ResetDrives(); });
}

LINKORA_EXPORT LinkoraStatus mctl_Reference(uint32_t axisMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Reference",
                              [&] { return interface::ReferenceAxes(axisMask); });
}

LINKORA_EXPORT LinkoraStatus mctl_ReferenceBreak(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ReferenceBreak",
                              [] { return interface::BreakReference(); });
}

LINKORA_EXPORT LinkoraStatus mctl_ChangeHomePosition(const int32_t* homeShift, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_ChangeHomePosition", [&] {
    if (size != 2 * sizeof(int32_t)) return common::kLibraryRecordSizeMismatch;
    if (homeShift == nullptr) return common::kLibraryCallParameterInvalid;
    return interface::ChangeHomePosition(homeShift[0], homeShift[1]);
  });
}

namespace vantor::interface {
namespace {

using common::CommandCode;

// The kernel knows continue (0), stop (1), break (2) and abort (3). A break
// or an abort also ends a drilling cycle first; the plug-in runs without
// the channel held.
common::StatusCode SetMotionState(std::uint32_t state) {
  constexpr std::uint32_t kBreak = 2;
  constexpr std::uint32_t kAbort = 3;
  const std::uint32_t wireState = state < kAbort ? state : kAbort;
  if (wireState >= kBreak) AbortDrillCycle();
  MotionRequest request;
  const auto opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  return request.Send(CommandCode::SetMotionState, OneWordPayload(wireState).Bytes());
}

// The kernel's word says "drives off".
common::StatusCode SetPowerState(std::uint32_t powerOn) {
  return SendMotionCommand(CommandCode::SetPowerState, PathBufferUse::Refuse,
                           [&](ChannelCounts) { return OneWordPayload(powerOn == 0 ? 1 : 0); });
}

common::StatusCode SetTeachMode(std::uint32_t on) {
  return SendMotionCommand(CommandCode::SetTeachMode, PathBufferUse::Refuse,
                           [&](ChannelCounts) { return OneWordPayload(on != 0 ? 1 : 0); });
}

}  // namespace
}  // namespace vantor::interface

LINKORA_EXPORT LinkoraStatus mctl_SetMotionState(uint32_t state) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetMotionState",
                              [&] { return interface::SetMotionState(state); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetPowerState(uint32_t powerOn) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetPowerState",
                              [&] { return interface::SetPowerState(powerOn); });
}

LINKORA_EXPORT LinkoraStatus mctl_SetTeachMode(uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetTeachMode",
                              [&] { return interface::SetTeachMode(on); });
}

// Exports that move the axes out of their hardware limit switches.
#include "interface/cnc_mode.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/link_state.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"
#include "interface/ui_hook.h"
#include "platform/os/timing.h"

namespace vantor::interface {
namespace {

using common::CommandCode;

// The drives need this long after the move-out mode was switched.
constexpr std::uint32_t kMoveOutModeSettleMs = 2000;
constexpr char kPowerUpHint[] = "Please, power up the servo-amplify!";

common::StatusCode SetMoveOutMode(std::uint32_t on) {
  MotionRequest request;
  const auto opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  if (DllPathBufferOn()) return common::kLibraryDllPathBufferActive;
  const auto result =
      request.Send(CommandCode::SetHwlsMoveOutMode, OneWordPayload(on != 0 ? 1 : 0).Bytes());
  if (result != common::kLibraryKernelNotFound) os::Sleep(kMoveOutModeSettleMs);
  return result;
}

common::StatusCode MoveOut(std::uint32_t axisMask) {
  return SendMotionCommand(CommandCode::HwlsMoveOut, PathBufferUse::Refuse,
                           [&](ChannelCounts) { return OneWordPayload(axisMask); });
}

// Mode on, move out, mode off, all in one hold of the channel. The mode
// is switched off again whatever the move out answered; its failure counts
// first, since it leaves the drives in the move-out mode.
common::StatusCode LeaveLimitSwitches(std::uint32_t axisMask) {
  MotionRequest request;
  const auto opened = request.Open();
  if (opened != common::kLibrarySuccess) return opened;
  if (DllPathBufferOn()) return common::kLibraryDllPathBufferActive;
  const auto modeOn = request.Send(CommandCode::SetHwlsMoveOutMode, OneWordPayload(1).Bytes());
  if (modeOn != common::kLibrarySuccess) return modeOn;
  if (Link().popupMenuActive != 0) ShowLibraryMessage("Linkora", kPowerUpHint);
  os::Sleep(kMoveOutModeSettleMs);
  const auto movedOut = request.Send(CommandCode::HwlsMoveOut, OneWordPayload(axisMask).Bytes());
  // A kernel that is gone switches nothing off.
  if (movedOut == common::kLibraryKernelNotFound) return movedOut;
  const auto modeOff = request.Send(CommandCode::SetHwlsMoveOutMode, OneWordPayload(0).Bytes());
  if (modeOff != common::kLibrarySuccess) return modeOff;
  return movedOut;
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_SetHwlsMoveOutMode(uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetHwlsMoveOutMode",
                              [&] { return interface::SetMoveOutMode(on); });
}

LINKORA_EXPORT LinkoraStatus mctl_HwlsMoveOut(uint32_t axisMask) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HwlsMoveOut",
                              [&] { return interface::MoveOut(axisMask); });
}

LINKORA_EXPORT LinkoraStatus mctl_LeaveHWLS(uint32_t axisMask, uint32_t /*unused*/) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_LeaveHWLS",
                              [&] { return interface::LeaveLimitSwitches(axisMask); });
}

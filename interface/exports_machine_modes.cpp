// Exports that switch the machine's modes: the hardware-limit-switch
// bridge, the test mode and the kernel's timer periods.
#include "interface/channel_access.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/motion_payloads.h"
#include "interface/motion_request.h"

namespace vantor::interface {
namespace {

using common::CommandCode;

// The timer periods also apply before CNC mode: the channel is taken
// without that check, and the kernel's result comes back as it stands,
// its success being 0x09130000.
common::StatusCode SetTimeLimitation(std::uint32_t timerResolution,
                                     std::uint32_t pathTimerResolution) {
  ChannelGrant grant;
  const common::StatusCode acquired =
      AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  Payload payload;
  payload.U32(timerResolution).U32(pathTimerResolution);
  return RunStandardRequest(grant, static_cast<std::uint32_t>(CommandCode::SetCncTimeLimitation),
                            payload.Bytes());
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;
using common::CommandCode;
using interface::FlagWord;
using interface::PathBufferUse;

LINKORA_EXPORT LinkoraStatus mctl_HWLSBridge(uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_HWLSBridge", [&] {
    return interface::SendWordCommand(CommandCode::HwlsBridge, PathBufferUse::Refuse,
                                      FlagWord(on != 0));
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetTestMode(uint32_t on) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetTestMode", [&] {
    return interface::SendWordCommand(CommandCode::SetTestMode, PathBufferUse::Ignore,
                                      FlagWord(on != 0));
  });
}

LINKORA_EXPORT LinkoraStatus mctl_SetCncTimeLimitation(uint32_t timerResolution,
                                                       uint32_t pathTimerResolution) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_SetCncTimeLimitation", [&] {
    return interface::SetTimeLimitation(timerResolution, pathTimerResolution);
  });
}

#include "interface/drive_reset.h"

#include "interface/channel_access.h"
#include "interface/channel_objects.h"
#include "interface/cnc_mode.h"
#include "interface/drill_plugin.h"
#include "interface/link_state.h"

namespace vantor::interface {

namespace {

constexpr std::uint32_t kResetCommand = 15;

// The homing run that holds the channel sees the break event and gives the
// channel up.
void BreakHoming() {
  LinkState& link = Link();
  if (!AcquireMutex(link.homingBreakMutex)) return;
  static_cast<void>(link.homingBreakEvent.Set());
  static_cast<void>(link.homingBreakMutex.Release());
}

}  // namespace

common::StatusCode ResetDrives() {
  ChannelGrant grant;
  common::StatusCode acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess && acquired != common::kKernelHomingActive) {
    return acquired;
  }
  if (!InCncMode()) return common::kLibraryCncNotInitialized;
  if (acquired == common::kKernelHomingActive) {
    BreakHoming();
    acquired = AcquireChannel(AreaKind::Standard, HomingCheck::Wait, grant);
    if (acquired != common::kLibrarySuccess) return acquired;
  }
  AbortDrillCycle();
  const common::StatusCode result = RunStandardRequest(grant, kResetCommand, {});
  if (result != common::kKernelSuccess) return result;
  EmptyDllPathBuffer();
  return acquired;
}

}  // namespace vantor::interface

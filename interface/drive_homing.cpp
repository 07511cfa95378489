#include "interface/drive_homing.h"

#include <array>
#include <cstring>

#include "interface/channel_access.h"
#include "interface/channel_objects.h"
#include "interface/cnc_mode.h"
#include "interface/link_state.h"

namespace vantor::interface {

namespace {

constexpr std::uint32_t kReferenceCommand = 16;
constexpr std::uint32_t kChangeHomePositionCommand = 82;

// The kernel's success becomes the library's.
common::StatusCode Answered(common::StatusCode result) {
  return result == common::kKernelSuccess ? common::kLibrarySuccess : result;
}

// The channel's homing mark, set for the run and taken back on every way
// out.
class HomingMark {
 public:
  explicit HomingMark(os::Event& event) : event_(event) { static_cast<void>(event_.Set()); }
  HomingMark(const HomingMark&) = delete;
  HomingMark& operator=(const HomingMark&) = delete;
  ~HomingMark() { static_cast<void>(event_.Reset()); }

 private:
  os::Event& event_;
};

}  // namespace

common::StatusCode ReferenceAxes(std::uint32_t axisMask) {
  LinkState& link = Link();
  ChannelGrant grant;
  const common::StatusCode acquired =
      AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!InCncMode()) return common::kLibraryCncNotInitialized;
  if (DllPathBufferOn()) return common::kLibraryDllPathBufferActive;
  const HomingMark mark(link.homingActiveEvent);
  std::array<std::uint8_t, 4> payload{};
  std::memcpy(payload.data(), &axisMask, payload.size());
  // A break left from an earlier run must not end this one.
  static_cast<void>(link.homingBreakEvent.Reset());
  return Answered(RunStandardRequest(grant, kReferenceCommand, payload));
}

common::StatusCode BreakReference() {
  LinkState& link = Link();
  std::shared_lock state(link.guard);
  if (!link.aliveEvent.valid() || !link.channelBlock) return common::kLibraryNotInitialized;
  if (!AcquireMutex(link.homingBreakMutex)) return common::kLibraryNotInitialized;
  common::StatusCode result = common::kLibrarySuccess;
  if (InCncMode()) {
    static_cast<void>(link.homingBreakEvent.Set());
  } else {
    result = common::kLibraryCncNotInitialized;
  }
  static_cast<void>(link.homingBreakMutex.Release());
  return result;
}

common::StatusCode ChangeHomePosition(std::int32_t node, std::int32_t shift) {
  ChannelGrant grant;
  const common::StatusCode acquired =
      AcquireChannel(AreaKind::Standard, HomingCheck::Refuse, grant);
  if (acquired != common::kLibrarySuccess) return acquired;
  if (!InCncMode()) return common::kLibraryCncNotInitialized;
  std::array<std::uint8_t, 8> payload{};
  std::memcpy(payload.data(), &node, 4);
  std::memcpy(payload.data() + 4, &shift, 4);
  return Answered(RunStandardRequest(grant, kChangeHomePositionCommand, payload));
}

}  // namespace vantor::interface

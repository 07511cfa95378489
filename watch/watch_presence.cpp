#include "watch/watch_presence.h"

#include <span>

#include "common/kernel_object_names.h"
#include "platform/os/process.h"
#include "platform/os/wait.h"
#include "common/watch_window_handle.h"

namespace vantor::watch {

PresenceStart WatchPresence::Publish(os::EndpointToken token) {
  auto mapping = os::Mapping::CreateOrOpen(
      common::KernelObjectName(common::kWatchWindowHandleMappingIndex),
      common::kWatchWindowHandleMappingSize);
  if (!mapping || mapping->data() == nullptr ||
      mapping->size() < common::kWatchWindowHandleMappingSize) {
    return PresenceStart::MappingFailed;
  }

  auto presence = os::Event::CreateOrOpen(common::KernelObjectName(common::kWatchEventIndex),
                                          os::EventReset::Manual, false);
  if (!presence) return PresenceStart::EventFailed;

  // A set event means a live watching program: its word stays as it is.
  // The handles opened here close on return.
  const os::WaitResult probe = os::WaitForOne(*presence, 0);
  if (probe.kind == os::WaitKind::Signalled) return PresenceStart::AnotherWatchRuns;
  if (probe.kind != os::WaitKind::Timeout) return PresenceStart::EventFailed;

  const std::span<std::uint8_t> words(reinterpret_cast<std::uint8_t*>(mapping->data()),
                                      mapping->size());
  if (!common::StoreWatchWindowHandle(words, token, os::CurrentProcessId())) {
    return PresenceStart::MappingFailed;
  }
  if (!presence->Set()) return PresenceStart::EventFailed;

  mapping_ = mapping.take();
  presence_ = presence.take();
  return PresenceStart::Published;
}

void WatchPresence::Withdraw() {
  if (!presence_.valid()) return;
  presence_.Reset();
  presence_.Close();
}

}  // namespace vantor::watch

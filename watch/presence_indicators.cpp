#include "watch/presence_indicators.h"

#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace vantor::watch {

bool IsPresenceEventSet(std::string_view name) {
  auto event = os::Event::Open(name);
  if (!event) return false;
  // Presence events are manual-reset, so a zero wait leaves them as they are.
  return os::WaitForOne(*event, 0).kind == os::WaitKind::Signalled;
}

PresenceReading ReadPresenceIndicators() {
  PresenceReading reading{};
  for (std::size_t i = 0; i < kPresenceIndicators.size(); ++i) {
    reading[i] = IsPresenceEventSet(common::KernelObjectName(kPresenceIndicators[i].nameIndex));
  }
  return reading;
}

}  // namespace vantor::watch

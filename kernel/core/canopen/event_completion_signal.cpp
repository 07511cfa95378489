#include "kernel/core/canopen/event_completion_signal.h"

#include <array>

#include "platform/os/wait.h"

namespace vantor::canopen {

std::unique_ptr<EventCompletionSignal> EventCompletionSignal::Create() {
  auto event = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (!event) return nullptr;
  return std::unique_ptr<EventCompletionSignal>(new EventCompletionSignal(event.take()));
}

void EventCompletionSignal::Set() noexcept { event_.Set(); }

void EventCompletionSignal::Reset() noexcept { event_.Reset(); }

bool WaitForCompletion(std::span<CompletionSignal* const> signals,
                       const std::function<bool()>& cycleRunning, std::uint32_t lookMilliseconds) {
  if (signals.empty()) return true;
  if (signals.size() > kMaxNodes) return false;
  std::array<const os::Waitable*, kMaxNodes> events{};
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const auto* signal = dynamic_cast<const EventCompletionSignal*>(signals[i]);
    if (signal == nullptr) return false;
    events[i] = &signal->event();
  }
  const std::span<const os::Waitable* const> set(events.data(), signals.size());
  for (;;) {
    const os::WaitResult result = os::WaitForAll(set, lookMilliseconds);
    if (result.acquired()) return true;
    if (result.kind == os::WaitKind::Failed) return false;
    if (!cycleRunning()) return true;
  }
}

}  // namespace vantor::canopen

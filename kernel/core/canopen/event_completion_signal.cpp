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

namespace {

// The wait with a companion: on the signals not yet set and the companion's
// objects together, so that the companion is served as soon as it is
// called for; set signals stay set (manual reset) and leave the set.
bool WaitServingCompanion(std::span<const os::Waitable* const> events,
                          const std::function<bool()>& cycleRunning, std::uint32_t lookMilliseconds,
                          WaitCompanion& companion) {
  std::array<const os::Waitable*, kMaxNodes + WaitCompanion::kMaxWakeObjects> set{};
  for (;;) {
    std::size_t open = 0;
    for (const os::Waitable* event : events) {
      if (!os::WaitForOne(*event, 0).acquired()) set[open++] = event;
    }
    if (open == 0) return true;
    const std::size_t count =
        open + companion.WakeObjects(std::span(set.data() + open, WaitCompanion::kMaxWakeObjects));
    const os::WaitResult result =
        os::WaitForAny(std::span<const os::Waitable* const>(set.data(), count), lookMilliseconds);
    if (result.kind == os::WaitKind::Failed) return false;
    if (result.acquired() && result.index >= open) {
      companion.Serve();
    } else if (!result.acquired() && !cycleRunning()) {
      return true;
    }
  }
}

}  // namespace

bool WaitForCompletion(std::span<CompletionSignal* const> signals,
                       const std::function<bool()>& cycleRunning, std::uint32_t lookMilliseconds,
                       WaitCompanion* companion) {
  if (signals.empty()) return true;
  if (signals.size() > kMaxNodes) return false;
  std::array<const os::Waitable*, kMaxNodes> events{};
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const auto* signal = dynamic_cast<const EventCompletionSignal*>(signals[i]);
    if (signal == nullptr) return false;
    events[i] = &signal->event();
  }
  const std::span<const os::Waitable* const> set(events.data(), signals.size());
  if (companion != nullptr) {
    return WaitServingCompanion(set, cycleRunning, lookMilliseconds, *companion);
  }
  for (;;) {
    const os::WaitResult result = os::WaitForAll(set, lookMilliseconds);
    if (result.acquired()) return true;
    if (result.kind == os::WaitKind::Failed) return false;
    if (!cycleRunning()) return true;
  }
}

}  // namespace vantor::canopen

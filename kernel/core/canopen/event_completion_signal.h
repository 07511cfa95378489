// The kernel's completion signal of a request slot, an unnamed manual-reset
// event, and the wait of a service thread on a set of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "kernel/core/canopen/node_object.h"
#include "platform/os/named_objects.h"

namespace vantor::canopen {

class EventCompletionSignal final : public CompletionSignal {
 public:
  // Not signalled at first; nothing when the event cannot be made.
  static std::unique_ptr<EventCompletionSignal> Create();

  void Set() noexcept override;
  void Reset() noexcept override;
  const os::Event& event() const noexcept { return event_; }

 private:
  explicit EventCompletionSignal(os::Event event) noexcept : event_(std::move(event)) {}
  os::Event event_;
};

// How often a waiting service looks whether the cycle still runs.
inline constexpr std::uint32_t kCycleLookMilliseconds = 100;

// Waits until every signal is set, or until `cycleRunning` says the cycle
// has ended, so that a waiter never outlives its cycle even when the
// cycle's way out missed a slot. False, without waiting, when a signal is
// not an event signal or the set is larger than one wait can hold.
bool WaitForCompletion(std::span<CompletionSignal* const> signals,
                       const std::function<bool()>& cycleRunning,
                       std::uint32_t lookMilliseconds = kCycleLookMilliseconds);

}  // namespace vantor::canopen

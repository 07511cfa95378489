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

// Work that the waiting thread keeps doing while its signals are not all
// set: the objects that call for it, and the work itself.
class WaitCompanion {
 public:
  static constexpr std::size_t kMaxWakeObjects = 2;
  // Writes at most kMaxWakeObjects objects into `into`; their count.
  virtual std::size_t WakeObjects(std::span<const os::Waitable*> into) const noexcept = 0;
  // Called on the waiting thread once one of them is signalled.
  virtual void Serve() noexcept = 0;

 protected:
  ~WaitCompanion() = default;
};

// Waits until every signal is set, or until `cycleRunning` says the cycle
// has ended, so that a waiter never outlives its cycle even when the
// cycle's way out missed a slot; a `companion` is served meanwhile. False,
// without waiting, when a signal is not an event signal or the set is
// larger than one wait can hold.
bool WaitForCompletion(std::span<CompletionSignal* const> signals,
                       const std::function<bool()>& cycleRunning,
                       std::uint32_t lookMilliseconds = kCycleLookMilliseconds,
                       WaitCompanion* companion = nullptr);

}  // namespace vantor::canopen

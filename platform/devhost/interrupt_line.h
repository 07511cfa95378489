// Interrupt lines, their handlers and the locks that keep driver code and
// interrupt handlers apart.
//
// A line stands for one interrupt vector. The hardware model raises it; every
// handler connected to the line then runs once, in the order connected, each
// under its own interrupt lock. All handlers are called whatever they return,
// as on a shared level line where each driver decides for itself whether the
// interrupt concerns it. Driver code that shares data with its handler runs
// that code under the same lock (`Synchronize`). Disconnecting waits for a
// handler that is running, so afterwards the handler is guaranteed not to run.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/os/device/io_status.h"

namespace vantor::devhost {

using os::IoStatus;

// Returns whether the interrupt was this handler's own; informational only.
using InterruptHandler = std::function<bool()>;

enum class InterruptMode : std::uint8_t { kLevelSensitive = 0, kLatched = 1 };

struct InterruptSettings {
  std::uint32_t vector = 0;
  std::uint8_t level = 0;
  InterruptMode mode = InterruptMode::kLevelSensitive;
  std::uint64_t affinity = 1;
  bool shared = true;
};

class InterruptLine;

// One connected handler (the connection a driver keeps).
class InterruptObject {
 public:
  ~InterruptObject();
  InterruptObject(const InterruptObject&) = delete;
  InterruptObject& operator=(const InterruptObject&) = delete;

  // Runs `routine` under this handler's interrupt lock, so it never overlaps
  // the handler. Not to be called from the handler itself.
  template <typename Routine>
  auto Synchronize(Routine&& routine) -> decltype(routine()) {
    std::lock_guard lock(interruptLock_);
    return routine();
  }

  // Removes the handler from its line; when this returns the handler is not
  // running and will not run again. Idempotent.
  void Disconnect();

  const InterruptSettings& Settings() const noexcept { return settings_; }

 private:
  friend class InterruptLine;
  InterruptObject(InterruptLine& line, InterruptSettings settings, InterruptHandler handler)
      : line_(line), settings_(settings), handler_(std::move(handler)) {}
  // Called by the line with no lock held; false once disconnected.
  void Service();

  InterruptLine& line_;
  const InterruptSettings settings_;
  const InterruptHandler handler_;
  std::mutex interruptLock_;
  bool connected_ = true;  // guarded by interruptLock_
};

class InterruptLine {
 public:
  // Handlers one line can carry; a shared PCI line carries two channels.
  static constexpr std::size_t kMaxHandlers = 8;

  explicit InterruptLine(std::uint32_t vector) : vector_(vector) {}
  InterruptLine(const InterruptLine&) = delete;
  InterruptLine& operator=(const InterruptLine&) = delete;

  // kStatusInsufficientResources when the line is full, kStatusInvalidParameter
  // for a vector other than this line's, or when either side refuses to share.
  IoStatus Connect(const InterruptSettings& settings, InterruptHandler handler,
                   std::shared_ptr<InterruptObject>& connection);

  // The hardware's interrupt: calls every connected handler once. Returns
  // how many handlers ran. Allocates nothing.
  std::size_t Raise();

  // For a model that reports its interrupt output from inside its own update,
  // where no handler may run yet: notes the edge, runs nothing.
  void MarkPending() noexcept { pending_.store(true); }
  // Runs the handlers once when an edge was noted since the last call, as
  // Raise does; returns whether they ran. A level line still asserted
  // afterwards is marked again by its owner.
  bool ServicePending() {
    if (!pending_.exchange(false)) return false;
    Raise();
    return true;
  }

  std::uint32_t Vector() const noexcept { return vector_; }
  std::size_t HandlerCount() const;

 private:
  friend class InterruptObject;
  void Remove(const InterruptObject& connection);

  const std::uint32_t vector_;
  mutable std::mutex listMutex_;
  std::array<std::shared_ptr<InterruptObject>, kMaxHandlers> handlers_{};
  std::size_t count_ = 0;
  std::atomic<bool> pending_{false};
};

// The lock that stands for raising the processor to the highest level: one
// per card, taken around every register access and around work that must not
// be split by any interrupt of the card. It may be taken again by its holder.
class CardLock {
 public:
  class [[nodiscard]] Raised {
   public:
    explicit Raised(CardLock& lock) : guard_(lock.mutex_) {}

   private:
    std::lock_guard<std::recursive_mutex> guard_;
  };

  Raised Raise() { return Raised(*this); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace vantor::devhost

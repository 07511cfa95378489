// Waiting for one, any or all of a set of objects.
//
// Events, mutexes, semaphores, threads and processes, named or unnamed, mix
// freely in one wait. A signalled event, a free (or own) mutex, a semaphore
// above zero, an ended thread or process satisfies a wait.
//
// WaitForAny: the lowest satisfied index wins and only that object is
// consumed (auto-reset event reset, mutex acquired, semaphore decremented).
// WaitForAll: all objects are consumed together or none; the caller never
// holds part of the set while it waits.
//
// Time-outs are in milliseconds: 0 tests and returns at once, kInfinite
// waits without limit. An empty set, more than kMaxWaitObjects objects, a
// closed handle, a mapping or (for WaitForAll) the same object twice fail at
// once with WaitKind::Failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/os/named_objects.h"

namespace vantor::os {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr std::size_t kMaxWaitObjects = 64;

enum class WaitKind {
  Signalled,  // index: the object that satisfied the wait (0 for WaitForAll)
  Abandoned,  // acquired a mutex whose owner ended; index: that mutex
  Timeout,
  Failed,
};

struct WaitResult {
  WaitKind kind = WaitKind::Failed;
  std::size_t index = 0;
  OsError error = OsError::Ok;  // reason when kind is Failed

  // Signalled or Abandoned: the object (or set) is now held or consumed.
  bool acquired() const { return kind == WaitKind::Signalled || kind == WaitKind::Abandoned; }
};

WaitResult WaitForOne(const Waitable& object, std::uint32_t timeoutMs);
WaitResult WaitForAny(std::span<const Waitable* const> objects, std::uint32_t timeoutMs);
WaitResult WaitForAll(std::span<const Waitable* const> objects, std::uint32_t timeoutMs);

inline WaitResult WaitForAny(std::initializer_list<const Waitable*> objects,
                             std::uint32_t timeoutMs) {
  return WaitForAny(std::span<const Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}
inline WaitResult WaitForAll(std::initializer_list<const Waitable*> objects,
                             std::uint32_t timeoutMs) {
  return WaitForAll(std::span<const Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

}  // namespace vantor::os

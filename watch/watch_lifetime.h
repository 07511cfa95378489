// When the watching program has nothing left to watch.
//
// The library stops the watching program when its last kernel ends, but an
// application killed on its way out, or a kernel that ended by itself once
// its applications were gone, leaves nobody to do it. So the program looks
// for itself, a few times a second: when no kernel runs in its namespace
// and no application holds the start-up lock's name (every application
// holds it from its start-up to its exit), it withdraws its presence and
// ends. It looks only while it holds that lock, which every start and exit
// of an application holds too: an application that sees the program running
// therefore keeps it running.
#pragma once

#include <cstdint>

#include "platform/os/named_objects.h"

namespace vantor::watch {

inline constexpr std::uint32_t kLifetimeCheckPeriodMs = 250;

class WatchLifetime {
 public:
  // Opens the start-up lock; false when it cannot be had (the program then
  // runs until it is asked to end, as before).
  bool Open();

  // With the lock held: true when no kernel and no application remain. In
  // that case `withdraw` runs before the lock is let go, so that a start
  // coming after it sees no watching program.
  template <typename Withdraw>
  bool EndIfNothingLeft(Withdraw&& withdraw) {
    if (!Lock()) return false;
    const bool nothingLeft = NothingLeft();
    if (nothingLeft) withdraw();
    startLock_.Release();
    return nothingLeft;
  }

 private:
  bool Lock();
  bool NothingLeft() const;

  os::Mutex startLock_;
};

}  // namespace vantor::watch

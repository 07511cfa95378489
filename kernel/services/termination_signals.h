// SIGTERM and SIGINT end the kernel the way its exit command does: they are
// turned into the exit command on the main thread's loop, so the teardown
// runs in its usual order.
#pragma once

#include <thread>

#include "platform/os/message_loop.h"

namespace vantor::kernel {

// Blocks the two signals in the calling thread and every thread started
// after it. Call first thing in main.
bool BlockTerminationSignals();

// Waits for the blocked signals on a thread of its own and posts the exit
// command to `loop` when one arrives.
class TerminationSignalWatcher {
 public:
  explicit TerminationSignalWatcher(const os::MessageLoop& loop);
  TerminationSignalWatcher(const TerminationSignalWatcher&) = delete;
  TerminationSignalWatcher& operator=(const TerminationSignalWatcher&) = delete;
  ~TerminationSignalWatcher();

  bool running() const { return watcher_.joinable(); }

 private:
  void Watch(const os::MessageLoop& loop) const;

  int signalFd_ = -1;
  int stopFd_ = -1;
  std::thread watcher_;
};

}  // namespace vantor::kernel

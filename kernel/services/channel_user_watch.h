// Ends the kernel once no application holds its channel any longer.
//
// Every application that uses the channel holds a handle to the channel's
// "Semaphore for Initialization" from its start-up to its exit; the system
// takes the handles of a process that dies. A kernel whose applications were
// all killed, or whose starter died before the start record arrived, would
// otherwise cycle the bus for good. A thread of its own looks, a few times a
// second and off the real-time cycle, for a live holder. The look runs while
// it holds the start-up lock that serialises every application's start and
// exit, so an application attaching at that moment is either counted or
// finds the kernel gone. With no holder left, the kernel sends itself
// command 2 through its own standard area, so it ends by the one exit path
// it has; the lock stays held until the thread is stopped after the
// teardown, so no start meets a kernel on its way out.
#pragma once

#include <cstdint>

#include "common/kernel_object_names.h"
#include "platform/os/named_objects.h"
#include "platform/os/thread.h"

namespace vantor::kernel {

// How often the kernel looks for live applications.
inline constexpr std::uint32_t kUserCheckPeriodMs = 250;
// Bound on waiting for the own server thread to answer command 2 (and for
// a request still in the area to be answered first).
inline constexpr std::uint32_t kSelfRequestTimeoutMs = 10000;

class ChannelUserWatch {
 public:
  explicit ChannelUserWatch(common::Channel channel);
  ChannelUserWatch(const ChannelUserWatch&) = delete;
  ChannelUserWatch& operator=(const ChannelUserWatch&) = delete;
  // Stops the thread; it lets the start-up lock go if it held it.
  ~ChannelUserWatch();

  // False when the thread or one of its objects could not be made.
  bool running() const { return thread_.valid(); }

 private:
  std::uint32_t Run();
  // True when no application held the channel and command 2 was answered.
  bool EndIfNoUserLeft();
  bool SendTerminateToSelf();

  common::Channel channel_;
  os::Mutex startLock_;
  os::Mutex standardMutex_;
  os::Event applicationReady_;
  os::Event kernelReady_;
  os::Mapping block_;
  os::Event stop_;
  os::Thread thread_;
};

}  // namespace vantor::kernel

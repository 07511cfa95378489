// The process-local state of the kernel link: one channel per process.
//
// `guard` protects the handles themselves: start-up and shut-down make and
// close them under the exclusive lock, requests use them under the shared
// lock. The named objects serialise the processes; the flags tell what this
// process has done.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>

#include "common/kernel_object_names.h"
#include "interface/channel_objects.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"

namespace vantor::interface {

struct LinkState {
  std::shared_mutex guard;

  // Name 0: the start-up and exit lock of all processes.
  os::Mutex startLock;
  // Unnamed: set when this process leaves the channel, which releases
  // every caller still waiting for it.
  os::Event aliveEvent;

  std::optional<ChannelBlock> channelBlock;
  os::Semaphore initSemaphore;
  os::Semaphore cncSemaphore;
  os::Event homingBreakEvent;
  os::Mutex homingBreakMutex;
  os::Event homingActiveEvent;
  os::Mapping pathBuffer;
  os::Process kernelProcess;
  // The watching program, when this process started it.
  os::Process startedWatch;

  std::atomic<bool> initialised{false};
  std::atomic<bool> cncMode{false};
  std::atomic<bool> exitUnderWay{false};
  // The kernel ended while this process used it: every request fails at
  // once from then on, and the exit only cleans up here.
  std::atomic<bool> linkBroken{false};

  common::Channel channel = common::Channel::NoCan;
  std::string deviceName;
  // Heads driver messages; stays when the channel is left.
  std::string messageDeviceName = "WDM";
  std::atomic<std::uint32_t> popupMenuActive{0};
  std::int32_t measureCncCheckTime = 0;
};

LinkState& Link();

// Closes every handle of the channel and clears the flags. The caller holds
// `guard` exclusively.
void ClearChannelState(LinkState& link);

}  // namespace vantor::interface

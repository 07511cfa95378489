#include "interface/link_shutdown.h"

#include <cstdlib>
#include <mutex>

#include "interface/kernel_link.h"
#include "interface/kernel_programs.h"
#include "platform/os/wait.h"

namespace vantor::interface {

namespace {

// Sends a command on the own block while shut-down holds the area's mutex.
// Nothing is sent over a broken link.
void SendWhileHeld(LinkState& link, std::uint32_t command) {
  if (link.linkBroken || !link.channelBlock) return;
  RequestArea& area = link.channelBlock->Standard();
  WriteStandardRequest(link.channelBlock->Block(), command, {});
  SignalRequest(area);
  if (WaitForAnswer(area, &link.kernelProcess, os::kInfinite) != AnswerWait::Answered) {
    link.linkBroken = true;
  }
}

// Takes this process's count; true when no other count remained (this was
// the last counted user).
bool TakeCountIsLast(os::Semaphore& semaphore) {
  os::WaitForOne(semaphore, 0);
  if (os::WaitForOne(semaphore, 0).kind != os::WaitKind::Signalled) return true;
  semaphore.Release();
  return false;
}

// A starter that was killed leaves the count of the user after it behind,
// since the first user is never counted: whoever still holds the channel's
// semaphore is a live user, and with none but this one it is the last.
// Start-up and exit hold the start-up lock, so nobody joins meanwhile.
bool NoOtherUserHolds(common::Channel channel) {
  const auto holders = os::CountOtherHolders(
      common::ChannelObjectName(channel, common::ChannelObject::InitializationSemaphore));
  return holders && *holders == 0;
}

}  // namespace

void ShutdownKernelLink(LinkState& link) {
  const bool haveMutexes = link.channelBlock.has_value() && link.homingBreakMutex.valid();
  if (haveMutexes) {
    os::WaitForAll({&link.channelBlock->Sdo().mutex, &link.channelBlock->Standard().mutex,
                    &link.homingBreakMutex},
                   os::kInfinite);
  }

  if (link.cncMode) {
    if (TakeCountIsLast(link.cncSemaphore)) SendWhileHeld(link, 13);
    link.cncMode = false;
  }
  link.pathBuffer.Close();

  // Users beyond the first are counted: no count left means this is the
  // last one, and it ends the kernel. A user that leaves a running kernel
  // behind sends it nothing at all.
  const bool lastUser = link.initialised && link.initSemaphore.valid() &&
                        (os::WaitForOne(link.initSemaphore, 0).kind != os::WaitKind::Signalled ||
                         NoOtherUserHolds(link.channel));
  RunningPrograms before;
  FindRunningPrograms(before, lastUser && !link.linkBroken);
  if (lastUser) {
    SendWhileHeld(link, 2);
    AwaitProcessEnd(link.kernelProcess, kProgramEndTimeoutMs);
    HandOverDriver(DriverHandOver::Claim);
  }

  RunningPrograms after;
  FindRunningPrograms(after, false);
  if (!after.kernelChannel && after.watchRuns) {
    if (auto presence = os::Event::Open(common::KernelObjectName(common::kWatchEventIndex))) {
      presence->Reset();
    }
    if (link.startedWatch.valid()) {
      StopWatch(link.startedWatch);
    } else {
      StopWatch(before.watchProcessId != 0 ? before.watchProcessId : after.watchProcessId);
    }
  }

  if (haveMutexes) {
    link.homingBreakMutex.Release();
    link.channelBlock->Standard().mutex.Release();
    link.channelBlock->Sdo().mutex.Release();
  }
  ClearChannelState(link);
}

common::StatusCode ExitKernelLink() {
  LinkState& link = Link();
  link.exitUnderWay = true;
  {
    std::shared_lock guard(link.guard);
    if (!link.aliveEvent.valid() || !link.aliveEvent.Set()) {
      link.exitUnderWay = false;
      return common::kLibrarySuccess;
    }
  }
  std::unique_lock guard(link.guard);
  if (link.startLock.valid() && AcquireMutex(link.startLock)) {
    ShutdownKernelLink(link);
    link.startLock.Release();
  } else {
    ShutdownKernelLink(link);
  }
  link.startLock.Close();
  link.exitUnderWay = false;
  return common::kLibrarySuccess;
}

void ShutDownAtProcessExit() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    std::atexit([] {
      try {
        ShutdownKernelLinkOnUnload();
      } catch (...) {
        // Nothing can be reported while the process ends.
      }
    });
  });
}

void ShutdownKernelLinkOnUnload() {
  LinkState& link = Link();
  // A thread still waiting for the kernel keeps the state busy: the process
  // then ends without waiting for it, and the system takes back its counts.
  std::unique_lock guard(link.guard, std::try_to_lock);
  if (!guard.owns_lock() || !link.channelBlock) return;
  if (link.startLock.valid() && AcquireMutex(link.startLock)) {
    ShutdownKernelLink(link);
    link.startLock.Release();
  } else {
    ShutdownKernelLink(link);
  }
  link.startLock.Close();
}

}  // namespace vantor::interface

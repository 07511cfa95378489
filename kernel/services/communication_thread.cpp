#include "kernel/services/communication_thread.h"

#include <array>
#include <span>

#include "kernel/core/motion_runtime.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/path_events.h"
#include "kernel/services/request_areas.h"
#include "kernel/services/sdo_area_server.h"
#include "platform/os/debug_output.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

bool IsSet(const os::Waitable& object) { return os::WaitForOne(object, 0).acquired(); }

// Retry pace while the main loop's queue is full.
constexpr std::uint32_t kExitPostRetryMs = 1;

// The cycle retires the segments it has run, and never frees them itself:
// the thread frees them on its own schedule, so a long path that no command
// interrupts does not pile them up.
class RetiredSegmentSweep {
 public:
  // How long the thread may wait for its areas before the next sweep.
  std::uint32_t WaitMs() const {
    const std::uint32_t since = os::TicksBetween(last_, os::GetTickCount());
    return since >= kRetiredSegmentSweepMs ? 0 : kRetiredSegmentSweepMs - since;
  }

  void SweepWhenDue(Kernel& kernel) {
    if (WaitMs() != 0) return;
    last_ = os::GetTickCount();
    KernelPathEvents events;
    SweepRetiredSegments(kernel.data, events);
  }

 private:
  std::uint32_t last_ = os::GetTickCount();
};

// The main thread's loop may be busy for a moment; the exit command must
// reach it all the same. A teardown that has begun meanwhile needs it no
// more. False when it could not be queued; the thread then ends without it.
bool PostExitCommand(const Kernel& kernel) {
  // Without a loop the kernel's owner runs the teardown itself.
  if (kernel.mainLoop == nullptr) return true;
  const std::uint32_t start = os::GetTickCount();
  for (;;) {
    const os::OsError posted = kernel.mainLoop->Post({os::kExitCommand, 0});
    if (posted == os::OsError::Ok) return true;
    if (posted != os::OsError::LimitExceeded) {
      os::OutputDebugText("Motrix: the exit command could not be queued; the server thread ends");
      return false;
    }
    if (os::WaitForOne(kernel.link.stopEvent, kExitPostRetryMs).kind != os::WaitKind::Timeout) {
      return true;
    }
    if (os::TicksBetween(start, os::GetTickCount()) >= kernel.link.serverExit.exitPostLimitMs) {
      os::OutputDebugText(
          "Motrix: the main loop took no exit command in time; the server thread ends");
      return false;
    }
  }
}

// After command 2 the thread serves nothing more; it ends once the teardown
// has begun, or after its bound, so that the teardown never waits for it.
void AwaitTeardown(const Kernel& kernel) {
  const os::WaitResult stopped =
      os::WaitForOne(kernel.link.stopEvent, kernel.link.serverExit.teardownWaitMs);
  if (stopped.kind == os::WaitKind::Timeout) {
    os::OutputDebugText("Motrix: no teardown after command 2 in time; the server thread ends");
  }
}

// The SDO area's server is the kernel's for as long as the thread serves.
class ServedSdoArea {
 public:
  explicit ServedSdoArea(Kernel& kernel) : kernel_(kernel), server_(kernel) {
    kernel_.sdoAreaServer = &server_;
  }
  ServedSdoArea(const ServedSdoArea&) = delete;
  ServedSdoArea& operator=(const ServedSdoArea&) = delete;
  ~ServedSdoArea() { kernel_.sdoAreaServer = nullptr; }
  SdoAreaServer& server() { return server_; }

 private:
  Kernel& kernel_;
  SdoAreaServer server_;
};

}  // namespace

std::uint32_t CommunicationThread(Kernel& kernel) {
  ServedSdoArea served(kernel);
  SdoAreaServer& sdo = served.server();
  RetiredSegmentSweep sweep;
  for (;;) {
    if (IsSet(kernel.link.stopEvent)) return 0;
    sweep.SweepWhenDue(kernel);

    // The stop event is in the set too, so a teardown not started by
    // command 2 never waits for an application that does not come.
    std::array<const os::Waitable*, 2 + canopen::WaitCompanion::kMaxWakeObjects> waitSet{};
    std::size_t count = 0;
    waitSet[count++] = &kernel.standard.applicationReady;
    count +=
        sdo.WakeObjects(std::span(waitSet.data() + count, canopen::WaitCompanion::kMaxWakeObjects));
    waitSet[count++] = &kernel.link.stopEvent;
    const auto woken =
        os::WaitForAny(std::span<const os::Waitable* const>(waitSet.data(), count), sweep.WaitMs());
    if (woken.kind == os::WaitKind::Timeout) continue;
    if (woken.kind == os::WaitKind::Failed) {
      // A kernel that can no longer wait for its applications ends, so that
      // they see it gone instead of waiting for an answer forever.
      static_cast<void>(PostExitCommand(kernel));
      return 1;
    }

    // Once the teardown has begun nothing more is served: a command run now
    // could open the driver link again after it was closed. What is left
    // unanswered is answered by the teardown, once the cycle has ended.
    if (IsSet(kernel.link.stopEvent)) return 0;

    if (IsSet(kernel.standard.applicationReady)) {
      if (DispatchCommand(kernel) == AfterCommand::EndKernel) {
        if (PostExitCommand(kernel)) AwaitTeardown(kernel);
        return 0;
      }
      if (IsSet(kernel.link.stopEvent)) return 0;
    }

    sdo.Serve();
  }
}

}  // namespace vantor::kernel

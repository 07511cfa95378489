#include "kernel/services/communication_thread.h"

#include <array>
#include <span>

#include "kernel/services/command_dispatcher.h"
#include "kernel/services/request_areas.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

bool IsSet(const os::Waitable& object) { return os::WaitForOne(object, 0).acquired(); }

// The main thread's loop may be busy for a moment; the exit command must
// reach it all the same.
void PostExitCommand(const Kernel& kernel) {
  if (kernel.mainLoop == nullptr) return;
  for (;;) {
    const os::OsError posted = kernel.mainLoop->Post({os::kExitCommand, 0});
    if (posted != os::OsError::LimitExceeded) return;
    os::Sleep(1);
  }
}

}  // namespace

std::uint32_t CommunicationThread(Kernel& kernel) {
  bool sdoPending = false;
  for (;;) {
    if (IsSet(kernel.link.stopEvent)) return 0;

    // The stop event is in the set too, so a teardown not started by
    // command 2 never waits for an application that does not come.
    const os::Waitable* cycle = kernel.driverLink->CycleThread();
    std::array<const os::Waitable*, 4> waitSet{};
    std::size_t count = 0;
    waitSet[count++] = &kernel.standard.applicationReady;
    waitSet[count++] = sdoPending ? static_cast<const os::Waitable*>(&kernel.sdo.completion)
                                  : &kernel.sdo.applicationReady;
    if (sdoPending && cycle != nullptr) waitSet[count++] = cycle;
    waitSet[count++] = &kernel.link.stopEvent;
    const auto woken =
        os::WaitForAny(std::span<const os::Waitable* const>(waitSet.data(), count), os::kInfinite);
    if (woken.kind == os::WaitKind::Failed) {
      // A kernel that can no longer wait for its applications ends, so that
      // they see it gone instead of waiting for an answer forever.
      PostExitCommand(kernel);
      return 1;
    }

    // Once the teardown has begun nothing more is served: a command run now
    // could open the driver link again after it was closed. What is left
    // unanswered is answered by the teardown, once the cycle has ended.
    if (IsSet(kernel.link.stopEvent)) return 0;

    if (IsSet(kernel.standard.applicationReady)) {
      if (DispatchCommand(kernel) == AfterCommand::EndKernel) {
        PostExitCommand(kernel);
        os::WaitForOne(kernel.link.stopEvent, os::kInfinite);
        return 0;
      }
      if (IsSet(kernel.link.stopEvent)) return 0;
    }

    if (!sdoPending) {
      if (IsSet(kernel.sdo.applicationReady)) sdoPending = StartSdoRequest(kernel);
    } else if (IsSet(kernel.sdo.completion)) {
      FinishSdoRequest(kernel);
      sdoPending = false;
    } else if (cycle == nullptr || os::WaitForOne(*cycle, 0).kind != os::WaitKind::Timeout) {
      FailSdoRequest(kernel);
      sdoPending = false;
    }
  }
}

}  // namespace vantor::kernel

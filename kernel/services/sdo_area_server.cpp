#include "kernel/services/sdo_area_server.h"

#include "kernel/services/request_areas.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

bool IsSet(const os::Waitable& object) { return os::WaitForOne(object, 0).acquired(); }

}  // namespace

std::size_t SdoAreaServer::WakeObjects(std::span<const os::Waitable*> into) const noexcept {
  if (into.empty()) return 0;
  if (!pending_) {
    into[0] = &kernel_.sdo.applicationReady;
    return 1;
  }
  into[0] = &kernel_.sdo.completion;
  const os::Waitable* cycle = kernel_.driverLink->CycleThread();
  if (cycle == nullptr || into.size() < 2) return 1;
  into[1] = cycle;
  return 2;
}

void SdoAreaServer::Serve() noexcept {
  if (!pending_) {
    if (IsSet(kernel_.sdo.applicationReady)) pending_ = StartSdoRequest(kernel_);
    return;
  }
  if (IsSet(kernel_.sdo.completion)) {
    FinishSdoRequest(kernel_);
    pending_ = false;
    return;
  }
  const os::Waitable* cycle = kernel_.driverLink->CycleThread();
  if (cycle == nullptr || os::WaitForOne(*cycle, 0).kind != os::WaitKind::Timeout) {
    FailSdoRequest(kernel_);
    pending_ = false;
  }
}

}  // namespace vantor::kernel

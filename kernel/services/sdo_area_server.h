// The server thread's side of the SDO area: a request is handed to the
// cycle and answered once the cycle reports it done, or at once when the
// cycle has ended. The thread serves it between commands, and a command
// that waits long for the drives (homing) serves it while it waits, so
// that an application's SDO exchange never waits for a command's end.
#pragma once

#include <cstddef>
#include <span>

#include "kernel/core/canopen/event_completion_signal.h"
#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

class SdoAreaServer final : public canopen::WaitCompanion {
 public:
  explicit SdoAreaServer(Kernel& kernel) noexcept : kernel_(kernel) {}

  // The application's request event while no request is on the bus; the
  // cycle's completion event and the cycle thread while one is.
  std::size_t WakeObjects(std::span<const os::Waitable*> into) const noexcept override;
  // Starts a signalled request, answers a finished one, or fails one whose
  // cycle has ended; nothing when none of these is due.
  void Serve() noexcept override;

 private:
  Kernel& kernel_;
  bool pending_ = false;
};

}  // namespace vantor::kernel

// What the command services need of the link to the CAN driver and the
// real-time cycle.
//
// Opening the hardware (command 4), the link's own driver requests (claim,
// release, ports, latency) and the hand-over of raw CAN requests go through
// this interface, so the services do not depend on how the driver link is
// built: the kernel's own is `DriverLink` (driver_link.h), tests put theirs
// in its place.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/kernel_link_records.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "kernel/core/application_can_request.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

class DriverLinkPort {
 public:
  virtual ~DriverLinkPort() = default;

  // Opens the device named in the start record, starts the driver's run and
  // the real-time cycle. Channel NoCan only opens the device. The kernel's
  // result code.
  virtual common::StatusCode OpenCanDevice(
      common::Channel channel, common::ConstByteView<common::kCanStartRecordSize> start) = 0;
  // True while a device handle is open.
  virtual bool IsOpen() const = 0;
  // The driver's version text ("" before the device was opened).
  virtual std::string_view DriverVersionText() const = 0;

  // One request on the synchronous device handle. The result is that of the
  // request itself: kKernelSuccess when the driver answered (its own status
  // word then lies in `output`), else the kernel code of the failure; on a
  // failure `output` is left as it was.
  virtual common::StatusCode DeviceRequest(std::uint32_t requestCode,
                                           std::span<const std::uint8_t> input,
                                           std::span<std::uint8_t> output) = 0;

  // The cycle thread's handle, or nullptr when no cycle was started.
  virtual const os::Waitable* CycleThread() const = 0;

  // The mutex the cycle thread holds for a whole cycle, or nullptr when no
  // cycle was started. Holding it keeps the cycle between two cycles.
  virtual os::Mutex* CycleMutex() { return nullptr; }

  // Checks a raw request that the server thread has written into `request`
  // (the CAN object list decides what an application may send, and a frame
  // to a configured node gets the node's answer time-out at most). On
  // kKernelSuccess the caller resets the completion event and the cycle
  // takes the request; any other code is the answer.
  virtual common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest& request) = 0;

  // Stops and waits for the cycle, ends the driver run and closes the
  // device. Harmless when nothing is open.
  virtual void CloseCanDevice() = 0;
};

}  // namespace vantor::kernel

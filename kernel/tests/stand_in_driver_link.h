// A driver link for in-process tests of the kernel's handlers: it opens
// nothing, and its cycle thread is an event that is not set while the
// test's own cycle runs.
#pragma once

#include <span>
#include <string_view>

#include "kernel/core/driver_link_port.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel::testing {

// A driver link whose cycle thread is an event: not set while the cycle
// runs.
class StandInDriverLink final : public DriverLinkPort {
 public:
  os::Event cycleThread = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();

  common::StatusCode OpenCanDevice(common::Channel,
                                   common::ConstByteView<common::kCanStartRecordSize>) override {
    return common::kKernelSuccess;
  }
  bool IsOpen() const override { return true; }
  std::string_view DriverVersionText() const override { return "01.02.03"; }
  common::StatusCode DeviceRequest(std::uint32_t, std::span<const std::uint8_t>,
                                   std::span<std::uint8_t>) override {
    return common::kKernelDriverMissing;
  }
  const os::Waitable* CycleThread() const override { return &cycleThread; }
  os::Mutex* CycleMutex() override { return &cycleMutex; }
  os::Mutex cycleMutex = os::Mutex::CreateUnnamed(false).take();
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest&) override {
    return common::kKernelWrongFunctionNumber;
  }
  void CloseCanDevice() override {}
};

}  // namespace vantor::kernel::testing

// What the kernel's start-up and CNC initialisation create before a command
// handler runs, for tests that call the handlers without the processes:
// the standard request area (an unnamed communication block and its two
// events) and the locks of the kernel data.
#pragma once

#include "common/communication_block.h"
#include "kernel/services/kernel_link.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel::testing {

inline void CreateStandardRequestArea(Kernel& kernel) {
  kernel.link.communicationMapping =
      os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
  kernel.standard.applicationReady = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
  kernel.standard.kernelReady = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
}

inline void CreateKernelDataLocks(KernelData& data) {
  for (os::Mutex* mutex : {&data.motionMutex, &data.nodeConfiguration.mutex,
                           &data.globalRequestMutex, &data.resetMutex, &data.canObjectListMutex}) {
    *mutex = os::Mutex::CreateUnnamed(false).take();
  }
}

}  // namespace vantor::kernel::testing

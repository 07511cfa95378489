// The kernel process's link records: what it was started as, the
// parameters of its channel, its presence events, the communication block
// and the handshake events of both request areas.
//
// One `Kernel` exists per process. The main thread builds and tears it down
// (application_link.h); in between the server thread owns the request areas
// and every command handler works on it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "common/communication_block.h"
#include "common/kernel_link_records.h"
#include "kernel/core/application_can_request.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/driver_link_port.h"
#include "kernel/core/kernel_data.h"
#include "kernel/services/command_line.h"
#include "platform/os/message_loop.h"
#include "platform/os/named_objects.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"

namespace vantor::canopen {
class WaitCompanion;
}

namespace vantor::kernel {

// The channel's parameters as code 3 reports them; code 4 saves a copy
// from which the reset restores the timer resolutions.
struct KernelSettings {
  // Bytes 0 (interface type) and 1 (channel) from the command line, the
  // rest from code 4.
  common::CanHardwareParameters hardware;
  std::uint32_t watchProcessId = 0;
  bool normalPeriodActive = false;
  std::uint32_t normalTimerResolution = 0;
  bool pathPeriodActive = false;
  std::uint32_t pathTimerResolution = 0;
  std::uint32_t exchangeTimeoutMilliseconds = 0;
  std::array<char, common::can_start_record::kMaxDeviceNameLength + 1> deviceName{};
};

// Bounds of the server thread's way out after command 2: a main loop that
// takes no command must not keep the thread, and with it the kernel's end,
// waiting for good.
struct ServerExitTimings {
  // How long a full queue of the main loop is retried for the exit command.
  std::uint32_t exitPostLimitMs = 5000;
  // How long the thread waits, once the exit command is queued, for the
  // teardown to set the stop event.
  std::uint32_t teardownWaitMs = 10000;
};

struct CommunicationLink {
  os::Mapping communicationMapping;
  os::Mapping pathBufferMapping;
  os::Thread serverThread;
  os::Event stopEvent;
  ServerExitTimings serverExit;
};

struct StandardChannel {
  os::Event applicationReady;
  os::Event kernelReady;
};

struct Kernel {
  KernelInstance instance{};
  KernelSettings settings;
  KernelSettings savedSettings;
  os::Event hardwarePresence;
  os::Event channelPresence;
  CommunicationLink link;
  StandardChannel standard;
  ApplicationCanRequest sdo;
  KernelData data;
  // Guarded by `data.canObjectListMutex`; served by the cycle in CNC mode.
  canopen::CanObjectList canObjects;
  DriverLinkPort* driverLink = nullptr;
  // The main thread's loop, to which the exit command goes.
  const os::MessageLoop* mainLoop = nullptr;
  // The server thread's side of the SDO area while the thread runs; a
  // command that waits long for the drives serves it meanwhile.
  canopen::WaitCompanion* sdoAreaServer = nullptr;
  // The millisecond tick that paces the status's drive reads; tests step
  // their own.
  std::function<std::uint32_t()> millisecondTick = os::GetTickCount;

  // The mapped block; only valid while the link is open.
  common::CommunicationBlockView Block() const {
    return common::CommunicationBlockView(
        reinterpret_cast<std::uint8_t*>(link.communicationMapping.data()));
  }
};

}  // namespace vantor::kernel

#include "kernel/services/application_link.h"

#include <pthread.h>

#include "common/kernel_object_names.h"
#include "kernel/services/communication_thread.h"
#include "kernel/services/path_segments.h"
#include "kernel/services/request_areas.h"
#include "platform/os/realtime_policy.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

using common::ChannelObject;

std::string_view ChannelName(const Kernel& kernel, ChannelObject object) {
  return common::ChannelObjectName(kernel.instance.channel, object);
}

// Keeps what was made in `target`; false where nothing was.
template <typename Object>
bool Keep(Object& target, os::OsResult<Object> made) {
  if (!made) return false;
  target = made.take();
  return true;
}

bool OpenEvent(os::Event& target, std::string_view name, bool initiallySignalled) {
  return Keep(target, os::Event::CreateOrOpen(name, os::EventReset::Manual, initiallySignalled));
}

bool CreateUnnamedEvent(os::Event& target, bool initiallySignalled) {
  return Keep(target, os::Event::CreateUnnamed(os::EventReset::Manual, initiallySignalled));
}

bool OpenCommunicationBlock(Kernel& kernel) {
  // The library creates the block; a kernel never makes one of its own.
  auto mapping = os::Mapping::Open(ChannelName(kernel, ChannelObject::CommunicationMapping));
  if (!mapping) return false;
  // Every offset the kernel uses lies inside the block's 4096 bytes.
  if (mapping->data() == nullptr || mapping->size() < common::kCommunicationBlockSize) {
    return false;
  }
  kernel.link.communicationMapping = mapping.take();
  return true;
}

bool StartServerThread(Kernel& kernel) {
  return Keep(kernel.link.serverThread, os::Thread::Start([&kernel] {
                // Below the cycle, above everything of normal priority: the
                // cycle leaves its locks to it between two exchanges.
                pthread_setname_np(pthread_self(), kServerThreadName);
                os::ApplyRealTimeRole(os::RealTimeRole::kServerThread);
                return CommunicationThread(kernel);
              }));
}

}  // namespace

void ClearLinkState(Kernel& kernel) {
  kernel.link.stopEvent.Close();
  kernel.link.communicationMapping.Close();
  kernel.link.pathBufferMapping.Close();
  kernel.standard.applicationReady.Close();
  kernel.standard.kernelReady.Close();
  kernel.sdo.applicationReady.Close();
  kernel.sdo.kernelReady.Close();
  kernel.sdo.completion.Close();
  kernel.hardwarePresence.Close();
  kernel.channelPresence.Close();
  kernel.settings = KernelSettings{};
  kernel.savedSettings = KernelSettings{};
  kernel.link.serverThread.Close();
  kernel.sdo.ClearRequest();
}

bool StartApplicationLink(Kernel& kernel, std::string_view commandLine) {
  ClearLinkState(kernel);

  const auto instance = ParseKernelCommandLine(commandLine);
  if (!instance) return false;
  kernel.instance = *instance;
  kernel.settings.hardware.Set(common::can_hardware_parameters::kCanInterface,
                               static_cast<std::uint8_t>(instance->interfaceType));
  kernel.settings.hardware.Set(common::can_hardware_parameters::kKernelModus,
                               static_cast<std::uint8_t>(instance->channel));

  // Presence events stay signalled while the kernel runs. One that another
  // process still holds (a library's probe, an ended kernel's reader) may
  // exist non-signalled; it is set anyway, or a running kernel would read
  // as absent and a second one would be started for the channel.
  if (!OpenEvent(kernel.hardwarePresence,
                 common::KernelObjectName(common::HardwareEventIndex(instance->interfaceType)),
                 true) ||
      !kernel.hardwarePresence.Set()) {
    return false;
  }
  if (!OpenEvent(kernel.channelPresence,
                 common::KernelObjectName(common::KernelModeEventIndex(instance->channel)), true) ||
      !kernel.channelPresence.Set()) {
    return false;
  }
  if (!OpenEvent(kernel.sdo.applicationReady,
                 ChannelName(kernel, ChannelObject::SdoApplicationReadyEvent), false) ||
      !OpenEvent(kernel.sdo.kernelReady, ChannelName(kernel, ChannelObject::SdoKernelReadyEvent),
                 false)) {
    return false;
  }
  if (!CreateUnnamedEvent(kernel.sdo.completion, true)) return false;
  if (!OpenEvent(kernel.standard.applicationReady,
                 ChannelName(kernel, ChannelObject::StandardApplicationReadyEvent), false) ||
      !OpenEvent(kernel.standard.kernelReady,
                 ChannelName(kernel, ChannelObject::StandardKernelReadyEvent), false)) {
    return false;
  }
  if (!OpenCommunicationBlock(kernel)) return false;
  if (!CreateUnnamedEvent(kernel.link.stopEvent, false)) return false;
  return StartServerThread(kernel);
}

void StopApplicationLink(Kernel& kernel) {
  // The server thread goes first: a command it is still running may open
  // the driver link, and only once it has ended does the link stay closed.
  if (kernel.link.serverThread.valid()) {
    kernel.link.stopEvent.Set();
    os::WaitForOne(kernel.link.serverThread, os::kInfinite);
  }
  if (kernel.driverLink != nullptr) kernel.driverLink->CloseCanDevice();
  // The cycle is over: what the path still holds goes with the kernel.
  FreeAllPathSegments(kernel.data);
  // No application waits for a kernel that is gone; the block is still
  // mapped here.
  AnswerUnservedRequests(kernel);
  ClearLinkState(kernel);
}

}  // namespace vantor::kernel

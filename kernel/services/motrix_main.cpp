// Motrix: the kernel process of one CAN channel.
//
// The main thread runs the message loop that stands in for the hidden main
// window: the exit command, posted by the server thread after command 2
// (from an application, or from the kernel itself once no application holds
// the channel) or by a termination signal, runs the teardown and ends the
// loop.
#include <span>
#include <string>

#include "kernel/core/can_object_steps.h"
#include "kernel/core/driver_link.h"
#include "kernel/services/application_link.h"
#include "kernel/services/channel_user_watch.h"
#include "kernel/services/command_line.h"
#include "kernel/services/kernel_link.h"
#include "kernel/services/termination_signals.h"
#include "platform/os/message_loop.h"
#include "platform/os/realtime_policy.h"

int main(int argc, char** argv) {
  using namespace vantor;
  if (!kernel::BlockTerminationSignals()) return 1;
  // The cycle's pages stay in memory where the machine permits it.
  os::LockProcessMemory();

  auto loop = os::MessageLoop::Create();
  if (!loop) return 1;

  kernel::Kernel motrix;
  // The layers of the cycle plug in here as they come: the CAN object list
  // so far; the cycle exchanges, carries raw requests and keeps its
  // heartbeat.
  kernel::CanObjectCycleSteps cycleSteps(motrix.data, motrix.canObjects);
  // Declared after the kernel records that its cycle uses, so that it is
  // gone (its cycle stopped) before they are.
  kernel::DriverLink driverLink(
      {motrix.data, motrix.sdo, motrix.link.communicationMapping, cycleSteps});
  motrix.driverLink = &driverLink;
  motrix.mainLoop = &loop.value();

  const std::string commandLine = kernel::RawCommandLine(
      std::span<const char* const>(argv + 1, argc > 1 ? static_cast<std::size_t>(argc - 1) : 0));
  if (!kernel::StartApplicationLink(motrix, commandLine)) {
    // Nothing is reported: the library sees that the kernel does not answer
    // the start-up ping.
    kernel::StopApplicationLink(motrix);
    return 1;
  }

  kernel::TerminationSignalWatcher signals(*loop);
  // Stopped after the loop, so the start-up lock it may hold is let go only
  // once the teardown is over.
  kernel::ChannelUserWatch users(motrix.instance.channel);
  loop->Run([&](const os::Command& command) {
    if (command.code != os::kExitCommand) return;
    kernel::StopApplicationLink(motrix);
    loop->Quit(0);
  });
  return 0;
}

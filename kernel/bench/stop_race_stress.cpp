// Ends a real Motrix process with SIGTERM around the moment its command 4
// (the opening of the hardware) arrives, over and over, and counts the tries
// in which the kernel crashed, hung or left something behind: a driver run
// still active, a device handle still open, an exchange still held or its
// presence event still there.
//
//   kernel_stop_race_stress [tries]      (default 300)
//
// The signal lands from a little before to a little after the command, so
// that some tries meet the server thread in the same wake-up as the stop.
// Exit code 0 when every try ended cleanly.
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/kernel_object_names.h"
#include "kernel/tests/kernel_test_client.h"
#include "kernel/tests/scripted_can_driver.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;
using namespace std::chrono_literals;
using kernel::test_client::LibrarySide;
using kernel::testing::ScriptedCanDriver;

constexpr std::uint32_t kKernelEndDeadlineMs = 30000;
constexpr auto kDriverSettleDeadline = 10s;
// The signal goes out between this much before and this much after the
// command, in steps over the tries.
constexpr int kSpreadMicroseconds = 400;
constexpr int kSpreadSteps = 17;

enum class Outcome { Clean, Crashed, Hung, LeftBehind, NotStarted };

template <typename Condition>
bool WithinDeadline(Condition&& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kDriverSettleDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

Outcome OneTry(ScriptedCanDriver& driver, int offsetMicroseconds) {
  const int opensBefore = driver.Opens();
  const int cleanupsBefore = driver.Cleanups();
  LibrarySide client(common::Channel::CanOne);
  if (!client.StartKernelAnsweringPing(common::InterfaceType::Pci).answered) {
    client.EndLeftoverKernel();
    return Outcome::NotStarted;
  }
  const auto pid = static_cast<pid_t>(client.kernel().id());
  client.Block().CopyIn(common::communication_block::kPayloadOffset,
                        kernel::testing::StartRecord({}).Bytes());

  const auto command = static_cast<std::uint32_t>(common::CommandCode::OpenHardware);
  if (offsetMicroseconds < 0) {
    ::kill(pid, SIGTERM);
    std::this_thread::sleep_for(std::chrono::microseconds(-offsetMicroseconds));
    client.SignalCommand(command);
  } else {
    client.SignalCommand(command);
    std::this_thread::sleep_for(std::chrono::microseconds(offsetMicroseconds));
    ::kill(pid, SIGTERM);
  }

  if (!client.AwaitKernelEnd(kKernelEndDeadlineMs)) {
    client.EndLeftoverKernel();
    return Outcome::Hung;
  }
  if (client.kernel().exitCode().value_or(1) != 0) return Outcome::Crashed;

  const int opened = driver.Opens() - opensBefore;
  const bool settled = WithinDeadline([&] {
    return !driver.RunActive() && !driver.ExchangeHeld() &&
           driver.Cleanups() - cleanupsBefore == opened;
  });
  const bool presenceGone = !kernel::test_client::PresenceEventExists(
      common::KernelModeEventIndex(common::Channel::CanOne));
  return settled && presenceGone ? Outcome::Clean : Outcome::LeftBehind;
}

}  // namespace

int main(int argc, char** argv) {
  const int tries = argc > 1 ? std::atoi(argv[1]) : 300;
  if (tries <= 0) {
    std::fprintf(stderr, "usage: %s [tries]\n", argv[0]);
    return 2;
  }
  kernel::test_client::UseOwnNamespace("stop-race");
  kernel::testing::ScriptedDriverHost host;
  if (!host.started()) {
    std::fprintf(stderr, "the scripted driver could not be served\n");
    return 2;
  }
  host.driver().StartPacing(2ms);

  int crashed = 0;
  int hung = 0;
  int leftBehind = 0;
  int notStarted = 0;
  for (int i = 0; i < tries; ++i) {
    const int step = i % kSpreadSteps;
    const int offset = -kSpreadMicroseconds + step * (2 * kSpreadMicroseconds) / (kSpreadSteps - 1);
    switch (OneTry(host.driver(), offset)) {
      case Outcome::Clean:
        break;
      case Outcome::Crashed:
        ++crashed;
        std::printf("try %d (signal %+d us from the command): kernel crashed\n", i, offset);
        break;
      case Outcome::Hung:
        ++hung;
        std::printf("try %d (signal %+d us from the command): kernel did not end\n", i, offset);
        break;
      case Outcome::LeftBehind:
        ++leftBehind;
        std::printf("try %d (signal %+d us from the command): left something behind\n", i, offset);
        break;
      case Outcome::NotStarted:
        ++notStarted;
        break;
    }
    std::fflush(stdout);
  }
  host.driver().StopPacing();
  std::printf("tries %d  crashed %d  hung %d  left behind %d  not started %d\n", tries, crashed,
              hung, leftBehind, notStarted);
  return crashed + hung + leftBehind + notStarted == 0 ? 0 : 1;
}

// devhost: the driver host program.
//
// Loads the machine description, builds the simulated hardware, places it in
// the driver runtime's hardware space, loads the drivers and serves their
// devices and the control endpoint in the namespace's runtime folder until
// SIGTERM or SIGINT. Ending closes every client's handle, which cancels the
// requests that drivers held for it, then unloads the drivers.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drivers/host/devhost_options.h"
#include "drivers/host/driver_loading.h"
#include "drivers/host/frame_log.h"
#include "drivers/host/instance_lock.h"
#include "drivers/host/machine_control.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/control_endpoint.h"
#include "platform/devhost/device_server.h"
#include "platform/devhost/driver_host.h"
#include "platform/os/realtime_policy.h"
#include "platform/os/runtime_dir.h"

namespace vantor::host {
namespace {

// Virtual time per round of the fast clock; each round then waits until
// the drivers' deferred calls are done, so no completion is outrun.
constexpr devhost::Ticks kFastStep = devhost::MicrosecondsToTicks(10);
constexpr auto kDeferredCallsGrace = std::chrono::seconds(10);

void Log(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fprintf(stderr, "devhost: %s\n", line.c_str());
  std::fflush(stderr);
}

// Advances the virtual clock as fast as the host keeps up.
class FastClockRunner {
 public:
  FastClockRunner(devhost::VirtualClock& clock, devhost::DriverHost& host)
      : thread_([this, &clock, &host] {
          while (!stopping_.load()) {
            clock.Advance(kFastStep);
            host.WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kDeferredCallsGrace);
          }
        }) {}
  ~FastClockRunner() {
    stopping_.store(true);
    thread_.join();
  }
  FastClockRunner(const FastClockRunner&) = delete;
  FastClockRunner& operator=(const FastClockRunner&) = delete;

 private:
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Stops the pump before the host it calls into goes.
struct DetachOnExit {
  SimulatedMachine& machine;
  ~DetachOnExit() { machine.Detach(); }
};

int WaitForEndSignal(const sigset_t& endSignals) {
  for (;;) {
    int received = 0;
    if (::sigwait(&endSignals, &received) == 0) return received;
  }
}

int Serve(const DevhostOptions& options, const sigset_t& endSignals) {
  InstanceLock instance;
  std::string error;
  if (!instance.Acquire(error)) {
    Log(error);
    return 1;
  }

  sim::MachineLoadResult loaded = LoadHostMachine(options.machinePath);
  if (!loaded) {
    Log("cannot load the machine: " + loaded.error);
    return 1;
  }
  std::ofstream candump;
  if (!options.candumpPath.empty()) {
    candump.open(options.candumpPath, std::ios::out | std::ios::trunc);
    if (!candump) {
      Log("cannot write the frame log " + options.candumpPath);
      return 1;
    }
  }
  FrameLog frames(candump.is_open() ? &candump : nullptr);

  std::unique_ptr<devhost::Clock> clock;
  devhost::VirtualClock* virtualClock = nullptr;
  if (options.clock == ClockChoice::kReal) {
    clock = std::make_unique<devhost::RealClock>();
  } else {
    auto stepped = std::make_unique<devhost::VirtualClock>();
    virtualClock = stepped.get();
    clock = std::move(stepped);
  }

  SimulatedMachine machine(*clock, std::move(loaded.machine));
  devhost::DriverHost host(*clock);
  DetachOnExit detach{machine};
  // The log and its stamps are in place before the machine runs: its first
  // frames (the nodes' boot-ups) are neither lost nor stamped in simulated
  // time.
  if (!options.zeroBasedLog) StampFramesWithWallClock(machine);
  AddMachineControlCommands(host, machine, frames);
  if (!machine.Attach(host, error)) {
    Log("cannot place the machine: " + error);
    return 1;
  }

  if (!options.parametersPath.empty() && !host.Parameters().Load(options.parametersPath, error)) {
    Log("cannot read the drivers' parameters " + options.parametersPath + ": " + error);
    return 1;
  }

  // The fast clock runs from before the drivers load until after they are
  // gone, so a driver that waits on the clock while loading or unloading
  // sees its time pass, as on the real clock.
  std::unique_ptr<FastClockRunner> runner;
  if (options.clock == ClockChoice::kFast) {
    runner = std::make_unique<FastClockRunner>(*virtualClock, host);
  }
  DriverSet drivers;
  drivers.Load(HostDrivers(), host, machine.Resources(), Log);
  devhost::ControlEndpoint control(host, virtualClock);
  devhost::DeviceServer server(host);
  // The control endpoint listens before the devices are served: a client
  // that finds the devices finds the control endpoint too.
  if (!control.StartInRuntimeDirectory(error) || !server.StartInRuntimeDirectory(error)) {
    Log("cannot serve: " + error);
    return 1;
  }

  std::string devices = host.DeviceNames();
  while (!devices.empty() && devices.back() == '\n') devices.pop_back();
  for (char& c : devices) {
    if (c == '\n') c = ' ';
  }
  if (const std::string realTime = os::RealTimeReport(); !realTime.empty()) Log(realTime);
  Log("serving namespace \"" + os::CurrentNamespace() + "\" at " + server.SocketPath() + " with " +
      std::to_string(drivers.LoadedNames().size()) + " driver(s)" +
      (devices.empty() ? std::string(", no devices") : ", devices " + devices));

  const int endSignal = WaitForEndSignal(endSignals);
  Log(std::string("ending on ") + (endSignal == SIGINT ? "SIGINT" : "SIGTERM"));
  server.Stop();
  control.Stop();
  drivers.UnloadAll();
  runner.reset();
  machine.Detach();
  Log("ended");
  return 0;
}

}  // namespace
}  // namespace vantor::host

int main(int argc, char** argv) {
  using namespace vantor::host;
  std::string error;
  const auto options = ParseDevhostOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    Log(error);
    std::fputs(kDevhostUsage, stderr);
    return 2;
  }
  if (options->help) {
    std::fputs(kDevhostUsage, stdout);
    return 0;
  }
  // Every thread made from here on inherits the block; the main thread
  // takes the end signals synchronously.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // The clock, the interrupt handlers, the deferred calls and the client
  // connections pace the kernels' cycles: their pages stay in memory.
  vantor::os::LockProcessMemory();
  const int code = Serve(*options, endSignals);
  // Sockets and lock file are gone by now; the last one out takes the
  // namespace's folder too.
  vantor::os::RemoveRuntimeDirectoryIfUnused();
  return code;
}

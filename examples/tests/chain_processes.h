// Helpers for tests that run the whole chain: the driver host on a simulated
// machine, the kernel and the watching program the interface library starts,
// and the applications that use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os/process.h"

namespace vantor::examples_test {

std::string ReadText(const std::filesystem::path& path);

// Ids of the processes with one of these names (comm) that run in the
// namespace `space` (their environment carries VANTOR_NAMESPACE=space).
std::vector<int> ProgramsOfNamespace(const std::string& space,
                                     const std::vector<std::string>& names);

// Ids of the kernel and watching programs of the namespace.
std::vector<int> ChannelProgramsOfNamespace(const std::string& space);

// Waits until no kernel or watching program of the namespace runs, at most
// `bound`; true when none is left.
bool AwaitNoChannelPrograms(const std::string& space, std::chrono::milliseconds bound);

// The driver host on a machine description (the default machine when empty).
class DevhostRunner {
 public:
  DevhostRunner() = default;
  DevhostRunner(const DevhostRunner&) = delete;
  DevhostRunner& operator=(const DevhostRunner&) = delete;
  ~DevhostRunner() { Stop(); }

  // Starts it (with the extra arguments after the machine) and waits until it serves tarnis1; adds a test failure when it
  // does not within a generous bound.
  void Start(const std::string& program, const std::string& machine = {},
             const std::vector<std::string>& extraArguments = {});
  // Asks it to end (SIGTERM) and checks that it ends cleanly.
  void Stop();
  // Kills it outright, as a crash would.
  void Kill();
  bool running() const { return process_.valid(); }
  os::Process& process() { return process_; }

 private:
  os::Process process_;
};

}  // namespace vantor::examples_test

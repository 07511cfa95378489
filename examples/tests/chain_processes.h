// Helpers for tests that run the whole chain: the driver host on a simulated
// machine, the kernel and the watching program the interface library starts,
// and the applications that use it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/process.h"

namespace vantor::examples_test {

std::string ReadText(const std::filesystem::path& path);

std::vector<std::string> Lines(const std::string& text);

// Writes `copy`: the initialisation file `sample` with the first line of
// each named key ("key = ...") replaced by "key = value ;". A key the
// sample lacks adds a test failure. Returns the copy's path.
std::string WriteIniWith(const std::filesystem::path& sample, const std::filesystem::path& copy,
                         const std::vector<std::pair<std::string, std::string>>& values);

// One frame of a candump log, as "<id>#<data>" ("<id>#R<length>" for a
// remote frame), with its identifier and its time stamp in seconds.
struct LoggedFrame {
  std::uint32_t id = 0;
  std::string text;
  double seconds = 0.0;
};

// The frames of a candump log; a last line still being written is left
// for the next read.
std::vector<LoggedFrame> ReadFrameLog(const std::filesystem::path& path);

// What a program printed and how it ended.
struct ProgramRun {
  std::uint32_t exitCode = 0;
  std::vector<std::string> out;
  std::string err;
};

// Runs `program` with its output caught in files of `folder`; one that
// outlives `deadlineMs` is ended and adds a test failure.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder, std::uint32_t deadlineMs);

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

  // Starts it (with the extra arguments after the machine) and waits until it serves tarnis1; adds
  // a test failure when it does not within a generous bound.
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

// A test of the chain in a namespace of its own ("<prefix>-<process id>"):
// the namespace is fixed at a process's first use of named objects, so the
// tests of one process share it, and each test leaves it empty.
class ChainTest : public ::testing::Test {
 protected:
  explicit ChainTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override;
  void TearDown() override;

  // The driver host on `machine` (the default machine when empty), logging
  // every frame to `candump` when given.
  void StartDevhost(const std::string& machine = {}, const std::string& candump = {});
  void StopDevhost() { devhost_.Stop(); }

  ProgramRun Run(const std::string& program, const std::vector<std::string>& arguments);

  // One line to the driver host's control endpoint, and its answer.
  std::string Control(const std::string& line);

  // The kernel and the watching program end with the channel's last user;
  // then the driver host is stopped and no named object is left.
  void ExpectNothingLeft();

  std::string namespace_;
  std::filesystem::path folder_;
  DevhostRunner devhost_;

 private:
  std::string prefix_;
};

}  // namespace vantor::examples_test

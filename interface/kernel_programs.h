// The kernel and watching programs as the library sees them: which kernel
// runs, starting and stopping the programs, and handing the driver from
// the kernel of one channel to that of another.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "interface/channel_objects.h"
#include "platform/os/process.h"

namespace vantor::interface {

// The kernel must answer the start-up ping within this time.
inline constexpr std::uint32_t kProgramStartTimeoutMs = 5000;
// The watching program announces itself once its toolkit is up, which on a
// loaded machine can take many seconds. Its start ends at once when the
// program ends; only a program that lives on without announcing itself
// waits for this bound, and is then taken for hung.
inline constexpr std::uint32_t kWatchStartTimeoutMs = 30000;
// How long a program may take to end on request before it is terminated.
inline constexpr std::uint32_t kProgramEndTimeoutMs = 10000;
// Link commands to the kernel of another channel (identity, driver claim
// and release) are answered at once by a live kernel; a kernel that does
// not answer within this time is taken for dead. A kernel whose process
// this library holds (that of its own channel) is watched instead: its end
// ends the wait at once.
inline constexpr std::uint32_t kForeignKernelAnswerTimeoutMs = 10000;

struct RunningPrograms {
  std::optional<common::Channel> kernelChannel;  // the first channel a kernel serves
  bool watchRuns = false;
  // Known when a kernel and the watch run (the kernel's word), or when only
  // the watch runs (its own published word).
  std::uint32_t watchProcessId = 0;
};

// Waits for the answer of the kernel of `channel` on `area` (signalled by
// the caller), at most kForeignKernelAnswerTimeoutMs: the kernel process
// this library holds for that channel is watched; any other kernel is
// watched by its presence event. The caller holds the link's guard.
AnswerWait AwaitKernelAnswer(const RequestArea& area, common::Channel channel);

// 0x09140000, or 0xC9140004 when a presence event cannot be opened. With
// `askWatchProcessId` the running kernel is asked for the watching
// program's process id (command 3) when both run; no id is known when that
// kernel ends first. Callers hold the link's guard (as for HandOverDriver).
common::StatusCode FindRunningPrograms(RunningPrograms& programs, bool askWatchProcessId = true);

enum class DriverHandOver { Claim, Release };
// Asks the running kernels in channel order until one claims (or releases)
// its driver: 0x09140000 when one did or none runs, 0xC9100003 (claim) or
// 0xC910000D (release) when none succeeded, 0xC9140004 when a name cannot
// be opened. A kernel that ends before it answers counts as not succeeded.
common::StatusCode HandOverDriver(DriverHandOver handOver);

// Sends the start-up ping, starts the kernel program and waits for the
// answer: 0x09140000 with `process` set, 0xC9140009 when the program cannot
// be started, 0xC9130002 when it does not answer in time or ends first (a
// started kernel that did not answer is terminated).
common::StatusCode StartKernel(ChannelBlock& block, const std::string& kernelPath,
                               common::InterfaceType interfaceType, common::Channel channel,
                               os::Process& process);

// Starts the watching program and waits for its presence: 0x09140000 with
// `process` set, 0xC914000A when it cannot be started, ends before it
// announces itself, or does not announce itself within `timeoutMs` (it is
// then terminated), 0xC9140004 when its presence event cannot be made.
common::StatusCode StartWatch(const std::string& watchPath, os::Process& process,
                              std::uint32_t timeoutMs = kWatchStartTimeoutMs);

// Asks the watching program to end through its published endpoint and
// waits for it; terminates it when it cannot be asked or does not end.
void StopWatch(os::Process& process);
void StopWatch(std::uint32_t processId);

// True when `process` is held and has ended.
bool ProcessEnded(const os::Process& process);

// Waits for a process to end, terminating it when it takes too long.
void AwaitProcessEnd(os::Process& process, std::uint32_t timeoutMs);

}  // namespace vantor::interface

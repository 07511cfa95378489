// The library's side of a kernel's channel, for tests and benchmarks that
// drive a real Motrix process: it creates the communication block and the
// ready events as the library does, writes requests, signals them and waits
// for the answers with a deadline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/kernel_link_records.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"

namespace vantor::kernel::test_client {

// Gives this test process a namespace of its own (before any named object
// is made), so kernels of parallel tests never meet.
void UseOwnNamespace(const std::string& prefix);

// The path of the Motrix program that the build made.
std::string MotrixPath();

struct KernelAnswer {
  bool answered = false;
  common::StatusCode result = 0;
};

class LibrarySide {
 public:
  // Creates the channel's block and its four ready events, and holds the
  // channel as an application does (a kernel ends when none holds it).
  explicit LibrarySide(common::Channel channel, bool createBlock = true);

  common::CommunicationBlockView Block() const;

  // Starts Motrix with `<interface keyword> -<channel keyword>`.
  bool StartKernel(common::InterfaceType type);
  bool StartKernelWithArguments(const std::vector<std::string>& arguments);
  // Starts the kernel as the library does: the ping (code 1) written and
  // signalled before the process exists, so that the kernel's first act is
  // to answer it. Not answered where the process did not start.
  KernelAnswer StartKernelAnsweringPing(common::InterfaceType type,
                                        std::uint32_t timeoutMs = kAnswerTimeoutMs);
  os::Process& kernel() { return kernel_; }

  // Writes the code, presets the result, signals the standard area.
  void SignalCommand(std::uint32_t code);
  void SignalSdoRequest();
  // Waits for the answer of the area while watching the kernel process.
  KernelAnswer AwaitCommandAnswer(std::uint32_t timeoutMs);
  KernelAnswer AwaitSdoAnswer(std::uint32_t timeoutMs);
  bool CommandAnswered() const;
  bool SdoAnswered() const;
  // Signal and wait in one.
  KernelAnswer Command(std::uint32_t code, std::uint32_t timeoutMs = kAnswerTimeoutMs);
  KernelAnswer Command(common::CommandCode code, std::uint32_t timeoutMs = kAnswerTimeoutMs);
  // Command 4 with `start` as its payload; it waits for the cycle's
  // start-up period before it answers.
  KernelAnswer OpenHardware(const common::CanStartRecord& start);
  // A raw request of the SDO area: `data` (at most the area's eight bytes)
  // to `cobId`, answered on `answerCobId` within `timeoutMicroseconds`.
  KernelAnswer SdoRequest(std::uint16_t cobId, const std::vector<std::uint8_t>& data,
                          std::uint16_t answerCobId, std::uint32_t timeoutMicroseconds);

  // True when the kernel process ended within the time-out.
  bool AwaitKernelEnd(std::uint32_t timeoutMs);
  // Ends a kernel that a failed test left running, so that it does not
  // outlive the test.
  void EndLeftoverKernel(std::uint32_t timeoutMs = kAnswerTimeoutMs);

  static constexpr std::uint32_t kAnswerTimeoutMs = 10000;
  static constexpr std::uint32_t kOpenTimeoutMs = 20000;

  // Drops the hold on the channel: the kernel then ends by itself.
  void LeaveChannel() { initSemaphore_.Close(); }

 private:
  common::Channel channel_;
  os::Semaphore initSemaphore_;
  os::Mapping block_;
  os::Event standardApplicationReady_;
  os::Event standardKernelReady_;
  os::Event sdoApplicationReady_;
  os::Event sdoKernelReady_;
  os::Process kernel_;
};

// Whether the presence event exists (some process holds it) and is set.
bool PresenceEventSet(std::size_t nameIndex);
bool PresenceEventExists(std::size_t nameIndex);

}  // namespace vantor::kernel::test_client

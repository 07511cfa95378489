#include "interface/kernel_programs.h"

#include <array>
#include <vector>

#include "common/kernel_link_records.h"
#include "common/watch_window_handle.h"
#include "interface/link_state.h"
#include "platform/os/message_loop.h"
#include "platform/os/wait.h"

namespace vantor::interface {

namespace cb = common::communication_block;

namespace {

constexpr std::array<common::Channel, common::kChannelCount> kChannelsInOrder = {
    common::Channel::NoCan, common::Channel::CanOne, common::Channel::CanTwo,
    common::Channel::CanThree, common::Channel::CanFour};

struct ForeignAnswer {
  AnswerWait wait = AnswerWait::Failed;
  common::StatusCode result = 0;
  bool answered() const { return wait == AnswerWait::Answered; }
};

// The kernel process that this process holds for `channel`: that of its own
// channel once started or attached. A request to it ends as soon as that
// kernel has ended. The caller holds the link's guard.
const os::Waitable* HeldKernelProcess(common::Channel channel) {
  const LinkState& link = Link();
  if (link.channel != channel || !link.kernelProcess.valid()) return nullptr;
  return &link.kernelProcess;
}

// One link command to the kernel of `channel` through that channel's own
// block. `answer` receives the payload of the answer.
std::optional<ForeignAnswer> RequestForeignKernel(common::Channel channel, std::uint32_t command,
                                                  std::span<std::uint8_t> answer) {
  auto block = ChannelBlock::CreateOrOpen(channel);
  if (!block) return std::nullopt;
  RequestArea& area = block->Standard();
  if (!AcquireMutex(area.mutex)) return std::nullopt;
  auto view = block->Block();
  WriteStandardRequest(view, command, {});
  SignalRequest(area);
  ForeignAnswer result;
  result.wait = AwaitKernelAnswer(area, channel);
  if (result.answered()) {
    result.result = view.Get(cb::kResult);
    view.CopyOut(cb::kPayloadOffset, answer);
  }
  area.mutex.Release();
  return result;
}

// The process id that the running watching program published beside its
// token; 0 when there is none.
std::uint32_t PublishedWatchProcessId() {
  auto mapping =
      os::Mapping::Open(common::KernelObjectName(common::kWatchWindowHandleMappingIndex));
  if (!mapping) return 0;
  const auto processId = common::LoadWatchProcessId(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(mapping->data()), mapping->size()));
  return processId.value_or(0);
}

void WaitBounded(const os::Waitable& object, std::uint32_t timeoutMs) {
  os::WaitForOne(object, timeoutMs);
}

}  // namespace

AnswerWait AwaitKernelAnswer(const RequestArea& area, common::Channel channel) {
  if (const os::Waitable* process = HeldKernelProcess(channel)) {
    return WaitForAnswer(area, process, kForeignKernelAnswerTimeoutMs);
  }
  return WaitForAnswerWhilePresent(area, common::KernelModeEventIndex(channel),
                                   kForeignKernelAnswerTimeoutMs);
}

common::StatusCode FindRunningPrograms(RunningPrograms& programs, bool askWatchProcessId) {
  programs = RunningPrograms{};
  for (const auto channel : kChannelsInOrder) {
    const auto set = IsPresenceEventSet(common::KernelModeEventIndex(channel));
    if (!set) return common::kLibraryOutOfResources;
    if (*set && !programs.kernelChannel) programs.kernelChannel = channel;
  }
  const auto watch = IsPresenceEventSet(common::kWatchEventIndex);
  if (!watch) return common::kLibraryOutOfResources;
  programs.watchRuns = *watch;
  // Without a kernel to ask, the watching program's own word tells.
  if (programs.watchRuns && !programs.kernelChannel) {
    programs.watchProcessId = PublishedWatchProcessId();
  }
  if (askWatchProcessId && programs.kernelChannel && programs.watchRuns) {
    common::KernelIdentity identity;
    const auto answer = RequestForeignKernel(*programs.kernelChannel, static_cast<std::uint32_t>(3),
                                             identity.MutableBytes());
    if (!answer) return common::kLibraryOutOfResources;
    if (answer->answered()) {
      programs.watchProcessId = identity.Get(common::kernel_identity::kWatchProcessId);
    }
  }
  return common::kLibrarySuccess;
}

common::StatusCode HandOverDriver(DriverHandOver handOver) {
  const std::uint32_t command = handOver == DriverHandOver::Claim ? 5 : 6;
  bool anyRan = false;
  for (const auto channel : kChannelsInOrder) {
    const auto set = IsPresenceEventSet(common::KernelModeEventIndex(channel));
    if (!set) return common::kLibraryOutOfResources;
    if (!*set) continue;
    anyRan = true;
    std::array<std::uint8_t, 4> unused{};
    const auto answer = RequestForeignKernel(channel, command, unused);
    if (!answer) return common::kLibraryOutOfResources;
    if (answer->answered() && answer->result == common::kKernelSuccess) {
      return common::kLibrarySuccess;
    }
  }
  if (!anyRan) return common::kLibrarySuccess;
  return handOver == DriverHandOver::Claim ? common::kDriverClaimedByOther
                                           : common::kDriverNotOwner;
}

common::StatusCode StartKernel(ChannelBlock& block, const std::string& kernelPath,
                               common::InterfaceType interfaceType, common::Channel channel,
                               os::Process& process) {
  RequestArea& area = block.Standard();
  if (!AcquireMutex(area.mutex)) return common::kLibraryOutOfResources;
  // The ping waits in the block before the kernel exists: its server
  // thread answers it as its first act.
  WriteStandardRequest(block.Block(), 1, {});
  SignalRequest(area);

  const std::vector<std::string> arguments = {std::string(common::InterfaceKeyword(interfaceType)),
                                              "-" + std::string(common::ChannelKeyword(channel))};
  auto started = os::Process::Start(kernelPath, arguments, os::ProcessStartOptions{true});
  if (!started) {
    area.applicationReady.Reset();
    area.mutex.Release();
    return common::kLibraryKernelNotFound;
  }
  const AnswerWait answer = WaitForAnswer(area, &*started, kProgramStartTimeoutMs);
  if (answer != AnswerWait::Answered) {
    area.applicationReady.Reset();
    started->Terminate(0);
    WaitBounded(*started, kProgramEndTimeoutMs);
    area.mutex.Release();
    return common::kKernelOutOfResources;
  }
  process = started.take();
  area.mutex.Release();
  return common::kLibrarySuccess;
}

common::StatusCode StartWatch(const std::string& watchPath, os::Process& process,
                              std::uint32_t timeoutMs) {
  if (watchPath.empty()) return common::kLibraryWatchNotFound;
  auto presence = os::Event::CreateOrOpen(common::KernelObjectName(common::kWatchEventIndex),
                                          os::EventReset::Manual, false);
  if (!presence) return common::kLibraryOutOfResources;
  auto started = os::Process::Start(
      watchPath, {std::string(common::KernelObjectName(common::kWatchCommandLineIndex))});
  if (!started) return common::kLibraryWatchNotFound;
  const auto result = os::WaitForAny({&*presence, &*started}, timeoutMs);
  presence->Close();
  if (result.kind == os::WaitKind::Signalled && result.index == 0) {
    process = started.take();
    return common::kLibrarySuccess;
  }
  started->Terminate(0);
  WaitBounded(*started, kProgramEndTimeoutMs);
  return common::kLibraryWatchNotFound;
}

bool ProcessEnded(const os::Process& process) {
  return process.valid() && os::WaitForOne(process, 0).kind == os::WaitKind::Signalled;
}

void AwaitProcessEnd(os::Process& process, std::uint32_t timeoutMs) {
  if (!process.valid()) return;
  if (os::WaitForOne(process, timeoutMs).kind != os::WaitKind::Signalled) {
    process.Terminate(0);
    WaitBounded(process, kProgramEndTimeoutMs);
  }
}

void StopWatch(os::Process& process) {
  if (!process.valid()) return;
  auto mapping =
      os::Mapping::Open(common::KernelObjectName(common::kWatchWindowHandleMappingIndex));
  std::optional<std::uint32_t> token;
  if (mapping) {
    token = common::LoadWatchWindowHandle(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(mapping->data()), mapping->size()));
    mapping->Close();
  }
  if (!token || os::PostCommand(*token, {os::kExitCommand, 0}) != os::OsError::Ok) {
    process.Terminate(0);
  }
  AwaitProcessEnd(process, kProgramEndTimeoutMs);
}

void StopWatch(std::uint32_t processId) {
  if (processId == 0) return;
  auto process = os::Process::Open(processId);
  if (!process) return;
  StopWatch(*process);
}

}  // namespace vantor::interface

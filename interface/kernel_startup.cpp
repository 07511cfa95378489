#include "interface/kernel_link.h"

#include <mutex>

#include "common/kernel_link_records.h"
#include "interface/kernel_programs.h"
#include "interface/link_shutdown.h"
#include "interface/link_state.h"
#include "interface/trace_output.h"
#include "platform/os/wait.h"

namespace vantor::interface {

namespace cb = common::communication_block;
namespace hw = common::can_hardware_parameters;

namespace {

// A start-up that passes the checks holds these until it has succeeded.
struct StartUp {
  LinkState& link;
  const CanInitSettings& settings;
  common::InterfaceType interfaceType = common::InterfaceType::Dongle;
  common::Channel channel = common::Channel::NoCan;
  bool kernelRuns = false;
};

common::StatusCode CheckHardwareAndMode(StartUp& startUp) {
  const auto& hardware = startUp.settings.hardware;
  const auto interfaceType = common::InterfaceTypeFromNumber(hardware.Get(hw::kCanInterface));
  if (!interfaceType) return common::kLibraryWrongCanInterface;
  for (std::uint32_t type = 0; type < common::kInterfaceTypeCount; ++type) {
    const auto set =
        IsPresenceEventSet(common::HardwareEventIndex(static_cast<common::InterfaceType>(type)));
    if (!set) return common::kLibraryOutOfResources;
    // Only one interface type runs on a machine.
    if (*set && type != static_cast<std::uint32_t>(*interfaceType)) {
      return common::kLibraryWrongCanInterface;
    }
  }
  const auto channel = common::ChannelFromNumber(hardware.Get(hw::kKernelModus));
  if (!channel) return common::kLibraryWrongKernelMode;
  const auto kernelRuns = IsPresenceEventSet(common::KernelModeEventIndex(*channel));
  if (!kernelRuns) return common::kLibraryOutOfResources;
  startUp.interfaceType = *interfaceType;
  startUp.channel = *channel;
  startUp.kernelRuns = *kernelRuns;

  if (startUp.settings.declareMode == 0 && startUp.kernelRuns &&
      startUp.settings.kernelShared == 0) {
    return common::kLibraryWrongKernelMode;
  }
  if (startUp.settings.declareMode != 0 && !startUp.kernelRuns) {
    return common::kLibraryKernelNotFound;
  }
  return common::kLibrarySuccess;
}

common::StatusCode CreateChannelObjects(StartUp& startUp) {
  LinkState& link = startUp.link;
  const auto channel = startUp.channel;
  auto initSemaphore = os::Semaphore::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::InitializationSemaphore), 0,
      common::kChannelSemaphoreMaximum);
  if (!initSemaphore) return common::kLibraryOutOfResources;
  link.initSemaphore = initSemaphore.take();

  auto cncSemaphore = os::Semaphore::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::CncInitializationSemaphore), 0,
      common::kChannelSemaphoreMaximum);
  auto breakEvent = os::Event::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::HomingBreakEvent),
      os::EventReset::Manual, false);
  auto breakMutex = os::Mutex::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::HomingBreakMutex), false);
  auto activeEvent = os::Event::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::HomingActiveEvent),
      os::EventReset::Manual, false);
  if (!cncSemaphore || !breakEvent || !breakMutex || !activeEvent) {
    return common::kLibraryOutOfResources;
  }
  link.cncSemaphore = cncSemaphore.take();
  link.homingBreakEvent = breakEvent.take();
  link.homingBreakMutex = breakMutex.take();
  link.homingActiveEvent = activeEvent.take();

  link.channelBlock = ChannelBlock::CreateOrOpen(channel);
  if (!link.channelBlock) return common::kLibraryOutOfResources;
  ShutDownAtProcessExit();
  return common::kLibrarySuccess;
}

// The channel serves at most this many applications: the first one is not
// counted in the semaphore, every further one is.
common::StatusCode CheckUserCount(LinkState& link) {
  std::int32_t previous = 0;
  if (link.initSemaphore.Release(1, &previous) != os::OsError::Ok) {
    return common::kLibraryKernelNotFound;
  }
  os::WaitForOne(link.initSemaphore, 0);
  if (previous >= common::kChannelSemaphoreMaximum - 1) return common::kLibraryKernelNotFound;
  return common::kLibrarySuccess;
}

bool IdentityMatches(const common::KernelIdentity& identity, const CanInitSettings& settings) {
  namespace id = common::kernel_identity;
  const auto& own = settings.hardware;
  return identity.Get(id::kBaudRateForCan) == own.Get(hw::kBaudRateForCan) &&
         identity.Get(id::kMeasureLatenzTime) == own.Get(hw::kMeasureLatenzTime) &&
         identity.Get(id::kLookAheadDesPosiMaxNo) == own.Get(hw::kLookAheadDesPosiMaxNo) &&
         identity.Get(id::kInterruptCycle) == own.Get(hw::kInterruptCycle) &&
         identity.Get(id::kTimeForGlobalSynPeriod) == own.Get(hw::kTimeForGlobalSynPeriod) &&
         identity.Get(id::kSynMaxWaitTime) == own.Get(hw::kSynMaxWaitTime) &&
         identity.Get(id::kWindowsTimerRes) == settings.windowsTimerRes &&
         identity.Get(id::kPathWindowsTimerRes) == settings.pathWindowsTimerRes &&
         identity.Get(id::kRealTimeThreadIntWaitTime) == settings.realTimeThreadIntWaitTime;
}

// Sends one command of the start-up on the own block, watching the kernel
// process when it is known.
std::optional<common::StatusCode> StartUpRequest(LinkState& link, std::uint32_t command,
                                                 std::span<const std::uint8_t> payload,
                                                 std::span<std::uint8_t> answer) {
  RequestArea& area = link.channelBlock->Standard();
  if (!AcquireMutex(area.mutex)) return std::nullopt;
  auto block = link.channelBlock->Block();
  WriteStandardRequest(block, command, payload);
  SignalRequest(area);
  const AnswerWait wait = WaitForAnswer(area, &link.kernelProcess, os::kInfinite);
  std::optional<common::StatusCode> result;
  if (wait == AnswerWait::Answered) {
    result = block.Get(cb::kResult);
    block.CopyOut(cb::kPayloadOffset, answer);
  }
  area.mutex.Release();
  return result;
}

common::StatusCode Attach(StartUp& startUp) {
  LinkState& link = startUp.link;
  common::KernelIdentity identity;
  // The kernel's process is known only from this answer: until then the
  // kernel is watched by its presence.
  RequestArea& area = link.channelBlock->Standard();
  if (!AcquireMutex(area.mutex)) return common::kLibraryOutOfResources;
  auto block = link.channelBlock->Block();
  WriteStandardRequest(block, 3, {});
  SignalRequest(area);
  const AnswerWait wait = AwaitKernelAnswer(area, startUp.channel);
  if (wait == AnswerWait::Answered) block.CopyOut(cb::kPayloadOffset, identity.MutableBytes());
  area.mutex.Release();
  if (wait != AnswerWait::Answered) return common::kLibraryKernelNotFound;

  if (startUp.settings.declareMode == 0 && startUp.channel != common::Channel::NoCan &&
      !IdentityMatches(identity, startUp.settings)) {
    return common::kLibraryCallParameterInvalid;
  }
  auto process = os::Process::Open(identity.Get(common::kernel_identity::kKernelProcessId));
  if (!process) return common::kLibraryOutOfResources;
  link.kernelProcess = process.take();
  return common::kLibrarySuccess;
}

common::CanStartRecord MakeCanStartRecord(const CanInitSettings& settings,
                                          std::uint32_t watchProcessId) {
  namespace sr = common::can_start_record;
  common::CanStartRecord record;
  const auto hardware = settings.hardware.Bytes();
  record.CopyIn(0, hardware);
  record.Set(sr::kWatchProcessId, watchProcessId);
  record.Set(sr::kWindowsTimerRes, settings.windowsTimerRes);
  record.Set(sr::kPathWindowsTimerRes, settings.pathWindowsTimerRes);
  record.Set(sr::kRealTimeThreadIntWaitTime, settings.realTimeThreadIntWaitTime);
  const std::string_view name = settings.deviceName;
  record.SetText(sr::kDeviceName, name.substr(0, sr::kMaxDeviceNameLength));
  return record;
}

common::StatusCode StartChannelKernel(StartUp& startUp) {
  LinkState& link = startUp.link;
  const auto released = HandOverDriver(DriverHandOver::Release);
  if (released == common::kLibraryOutOfResources) return released;
  RunningPrograms running;
  const auto found = FindRunningPrograms(running);
  if (found != common::kLibrarySuccess) return found;
  // A watching program left running by an application that died on its way
  // out is taken over; it stays while this application holds the start-up
  // lock's name. One that published no process id cannot be.
  if (!running.kernelChannel && running.watchRuns && running.watchProcessId == 0) {
    HandOverDriver(DriverHandOver::Claim);
    return common::kLibraryWatchNotFound;
  }

  const auto started = StartKernel(*link.channelBlock, startUp.settings.kernelPath,
                                   startUp.interfaceType, startUp.channel, link.kernelProcess);
  if (started != common::kLibrarySuccess) return started;
  link.initialised = true;

  std::uint32_t watchProcessId = running.watchProcessId;
  if (!running.watchRuns) {
    const auto watch = StartWatch(startUp.settings.watchPath, link.startedWatch);
    if (watch != common::kLibrarySuccess) return watch;
    watchProcessId = link.startedWatch.id();
  }

  const common::CanStartRecord startRecord = MakeCanStartRecord(startUp.settings, watchProcessId);
  const auto opened = StartUpRequest(link, 4, startRecord.Bytes(), {});
  if (!opened) {
    link.linkBroken = true;
    return common::kLibraryKernelNotFound;
  }
  if (*opened != common::kKernelSuccess) return *opened;
  const auto claimed = HandOverDriver(DriverHandOver::Claim);
  // The claim reaches the kernel just started first; when that kernel ended
  // meanwhile, another channel's kernel may have claimed, but this channel
  // has none.
  if (ProcessEnded(link.kernelProcess)) {
    link.linkBroken = true;
    return common::kLibraryKernelNotFound;
  }
  if (claimed != common::kLibrarySuccess) return claimed;
  return common::kLibrarySuccess;
}

common::StatusCode RunStartUp(StartUp& startUp) {
  auto status = CheckHardwareAndMode(startUp);
  if (status != common::kLibrarySuccess) return status;
  status = CreateChannelObjects(startUp);
  if (status != common::kLibrarySuccess) return status;
  status = CheckUserCount(startUp.link);
  if (status != common::kLibrarySuccess) return status;
  startUp.link.channel = startUp.channel;
  startUp.link.deviceName = startUp.settings.deviceName;

  if (startUp.kernelRuns) {
    status = Attach(startUp);
    if (status != common::kLibrarySuccess) return status;
    if (startUp.link.initSemaphore.Release() != os::OsError::Ok) {
      return common::kLibraryKernelNotFound;
    }
    startUp.link.initialised = true;
  } else {
    status = StartChannelKernel(startUp);
    if (status != common::kLibrarySuccess) return status;
  }

  auto alive = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (!alive) return common::kLibraryOutOfResources;
  startUp.link.aliveEvent = alive.take();
  startUp.link.popupMenuActive = startUp.settings.popupMenuActive;
  startUp.link.messageDeviceName = startUp.settings.deviceName;
  LibraryTrace().Reset(startUp.settings.deviceName);
  return common::kLibrarySuccess;
}

}  // namespace

common::StatusCode InitKernelLink(const CanInitSettings& settings) {
  LinkState& link = Link();
  std::unique_lock guard(link.guard);
  if (link.aliveEvent.valid() || link.exitUnderWay) return common::kLibraryAlreadyInitialized;

  if (!link.startLock.valid()) {
    auto lock =
        os::Mutex::CreateOrOpen(common::KernelObjectName(common::kInitializationEventIndex), false);
    if (!lock) return common::kLibraryOutOfResources;
    link.startLock = lock.take();
  }
  // An application that died holding the lock leaves it abandoned, which
  // counts as taken.
  if (!AcquireMutex(link.startLock)) return common::kLibraryOutOfResources;

  StartUp startUp{link, settings};
  const auto status = RunStartUp(startUp);
  if (status != common::kLibrarySuccess) {
    if (link.startedWatch.valid()) StopWatch(link.startedWatch);
    ShutdownKernelLink(link);
  }
  link.startLock.Release();
  if (status != common::kLibrarySuccess) link.startLock.Close();
  return status;
}

}  // namespace vantor::interface

#include "interface/channel_access.h"

namespace vantor::interface {

namespace cb = common::communication_block;

namespace {

bool IsSet(const os::Event& event) {
  return os::WaitForOne(event, 0).kind == os::WaitKind::Signalled;
}

}  // namespace

void ChannelGrant::Release() {
  if (area_ != nullptr) {
    area_->mutex.Release();
    area_ = nullptr;
  }
  if (stateLock_.owns_lock()) stateLock_.unlock();
}

common::CommunicationBlockView ChannelGrant::block() const { return Link().channelBlock->Block(); }

common::StatusCode AcquireChannel(AreaKind kind, HomingCheck homing, ChannelGrant& grant) {
  LinkState& link = Link();
  grant.Release();
  grant.stateLock_ = std::shared_lock(link.guard);
  if (!link.aliveEvent.valid() || !link.channelBlock) {
    grant.Release();
    return common::kLibraryNotInitialized;
  }
  if (link.linkBroken) {
    grant.Release();
    return common::kLibraryKernelNotFound;
  }
  RequestArea& area =
      kind == AreaKind::Standard ? link.channelBlock->Standard() : link.channelBlock->Sdo();
  const os::WaitResult result =
      homing == HomingCheck::Refuse
          ? os::WaitForAny({&link.aliveEvent, &link.homingActiveEvent, &area.mutex}, os::kInfinite)
          : os::WaitForAny({&link.aliveEvent, &area.mutex}, os::kInfinite);
  const std::size_t mutexIndex = homing == HomingCheck::Refuse ? 2 : 1;
  bool held = result.acquired() && result.index == mutexIndex;
  if (!held && result.acquired() && homing == HomingCheck::Refuse && result.index == 1) {
    // The homing mark may be a dead caller's: the area then lies free with
    // no request in it.
    held = os::WaitForOne(area.mutex, 0).acquired();
    if (held && !IsSet(area.applicationReady)) {
      static_cast<void>(link.homingActiveEvent.Reset());
    } else {
      if (held) area.mutex.Release();
      grant.Release();
      return common::kKernelHomingActive;
    }
  }
  if (!held) {
    grant.Release();
    return common::kLibraryNotInitialized;
  }
  grant.area_ = &area;
  if (kind == AreaKind::Standard && IsSet(area.applicationReady)) {
    // A holder that died left its request with the kernel, which still
    // serves it (a homing run, most likely).
    if (homing == HomingCheck::Refuse) {
      grant.Release();
      return common::kKernelHomingActive;
    }
    if (WaitForAnswer(area, &link.kernelProcess, os::kInfinite) != AnswerWait::Answered) {
      grant.Release();
      link.linkBroken = true;
      return common::kLibraryKernelNotFound;
    }
  }
  return common::kLibrarySuccess;
}

common::StatusCode RunStandardRequest(ChannelGrant& grant, std::uint32_t command,
                                      std::span<const std::uint8_t> payload) {
  LinkState& link = Link();
  auto block = grant.block();
  if (!WriteStandardRequest(block, command, payload)) return common::kLibraryCallParameterInvalid;
  SignalRequest(grant.area());
  switch (WaitForAnswer(grant.area(), &link.kernelProcess, os::kInfinite)) {
    case AnswerWait::Answered:
      return block.Get(cb::kResult);
    case AnswerWait::KernelEnded:
    case AnswerWait::TimedOut:
    case AnswerWait::Failed:
      break;
  }
  link.linkBroken = true;
  return common::kLibraryKernelNotFound;
}

common::StatusCode RunSdoRequest(ChannelGrant& grant) {
  LinkState& link = Link();
  SignalRequest(grant.area());
  if (WaitForAnswer(grant.area(), &link.kernelProcess, os::kInfinite) == AnswerWait::Answered) {
    return common::kLibrarySuccess;
  }
  link.linkBroken = true;
  return common::kLibraryKernelNotFound;
}

}  // namespace vantor::interface

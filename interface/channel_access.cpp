#include "interface/channel_access.h"

namespace vantor::interface {

namespace cb = common::communication_block;

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
  if (result.acquired() && result.index == mutexIndex) {
    grant.area_ = &area;
    return common::kLibrarySuccess;
  }
  grant.Release();
  if (result.acquired() && homing == HomingCheck::Refuse && result.index == 1) {
    return common::kKernelHomingActive;
  }
  return common::kLibraryNotInitialized;
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

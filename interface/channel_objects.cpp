#include "interface/channel_objects.h"

#include <algorithm>

namespace vantor::interface {

namespace cb = common::communication_block;

namespace {

std::optional<RequestArea> OpenArea(common::Channel channel, common::ChannelObject mutex,
                                    common::ChannelObject applicationReady,
                                    common::ChannelObject kernelReady) {
  RequestArea area;
  auto m = os::Mutex::CreateOrOpen(common::ChannelObjectName(channel, mutex), false);
  auto a = os::Event::CreateOrOpen(common::ChannelObjectName(channel, applicationReady),
                                   os::EventReset::Manual, false);
  auto k = os::Event::CreateOrOpen(common::ChannelObjectName(channel, kernelReady),
                                   os::EventReset::Manual, false);
  if (!m || !a || !k) return std::nullopt;
  area.mutex = m.take();
  area.applicationReady = a.take();
  area.kernelReady = k.take();
  return area;
}

}  // namespace

std::optional<ChannelBlock> ChannelBlock::CreateOrOpen(common::Channel channel) {
  ChannelBlock result;
  auto mapping = os::Mapping::CreateOrOpen(
      common::ChannelObjectName(channel, common::ChannelObject::CommunicationMapping),
      common::kCommunicationBlockSize);
  // A mapping of another size under our name is not our block.
  if (!mapping || mapping->size() < common::kCommunicationBlockSize) return std::nullopt;
  result.mapping_ = mapping.take();
  auto sdo = OpenArea(channel, common::ChannelObject::SdoMutex,
                      common::ChannelObject::SdoApplicationReadyEvent,
                      common::ChannelObject::SdoKernelReadyEvent);
  auto standard = OpenArea(channel, common::ChannelObject::StandardMutex,
                           common::ChannelObject::StandardApplicationReadyEvent,
                           common::ChannelObject::StandardKernelReadyEvent);
  if (!sdo || !standard) return std::nullopt;
  result.sdo_ = std::move(*sdo);
  result.standard_ = std::move(*standard);
  return result;
}

common::CommunicationBlockView ChannelBlock::Block() const {
  return common::CommunicationBlockView(reinterpret_cast<std::uint8_t*>(mapping_.data()));
}

void SignalRequest(RequestArea& area) {
  area.kernelReady.Reset();
  area.applicationReady.Set();
}

AnswerWait WaitForAnswer(const RequestArea& area, const os::Waitable* kernelProcess,
                         std::uint32_t timeoutMs) {
  const os::WaitResult result = kernelProcess != nullptr && kernelProcess->valid()
                                    ? os::WaitForAny({&area.kernelReady, kernelProcess}, timeoutMs)
                                    : os::WaitForOne(area.kernelReady, timeoutMs);
  switch (result.kind) {
    case os::WaitKind::Signalled:
    case os::WaitKind::Abandoned:
      return result.index == 0 ? AnswerWait::Answered : AnswerWait::KernelEnded;
    case os::WaitKind::Timeout:
      return AnswerWait::TimedOut;
    case os::WaitKind::Failed:
      break;
  }
  return AnswerWait::Failed;
}

AnswerWait WaitForAnswerWhilePresent(const RequestArea& area, std::size_t presenceIndex,
                                     std::uint32_t timeoutMs) {
  constexpr std::uint32_t kPresenceCheckMs = 50;
  const std::string_view name = common::KernelObjectName(presenceIndex);
  for (std::uint32_t waited = 0;;) {
    const std::uint32_t slice = std::min(kPresenceCheckMs, timeoutMs - waited);
    const AnswerWait answer = WaitForAnswer(area, nullptr, slice);
    if (answer != AnswerWait::TimedOut) return answer;
    waited += slice;
    if (waited >= timeoutMs) return AnswerWait::TimedOut;
    // Opened only, never created: a kernel that died took the event with it.
    auto presence = os::Event::Open(name);
    if (!presence || os::WaitForOne(*presence, 0).kind != os::WaitKind::Signalled) {
      return AnswerWait::KernelEnded;
    }
  }
}

bool WriteStandardRequest(common::CommunicationBlockView block, std::uint32_t command,
                          std::span<const std::uint8_t> payload) {
  if (payload.size() > cb::kPayloadCapacity) return false;
  block.Set(cb::kCommandCode, command);
  block.Set(cb::kResult, common::kKernelSuccess);
  return block.CopyIn(cb::kPayloadOffset, payload);
}

bool AcquireMutex(const os::Mutex& mutex) {
  return os::WaitForOne(mutex, os::kInfinite).acquired();
}

std::optional<bool> IsPresenceEventSet(std::size_t nameIndex) {
  auto event =
      os::Event::CreateOrOpen(common::KernelObjectName(nameIndex), os::EventReset::Manual, false);
  if (!event) return std::nullopt;
  const bool set = os::WaitForOne(*event, 0).kind == os::WaitKind::Signalled;
  event->Close();
  return set;
}

}  // namespace vantor::interface

#include "kernel/tests/kernel_test_client.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/os/wait.h"

namespace vantor::kernel::test_client {

namespace cb = common::communication_block;
using common::ChannelObject;

void UseOwnNamespace(const std::string& prefix) {
  const std::string name = prefix + "-" + std::to_string(getpid());
  setenv("VANTOR_NAMESPACE", name.c_str(), 1);
}

std::string MotrixPath() { return VANTOR_MOTRIX_PATH; }

namespace {

os::Event ReadyEvent(common::Channel channel, ChannelObject object) {
  auto event = os::Event::CreateOrOpen(common::ChannelObjectName(channel, object),
                                       os::EventReset::Manual, false);
  return event ? event.take() : os::Event{};
}

KernelAnswer Await(const os::Event& kernelReady, const os::Process& kernel,
                   common::ConstCommunicationBlockView block, bool sdo, std::uint32_t timeoutMs) {
  // Waking on the kernel's end is no answer; a kernel that answered and
  // then ended still counts as answered.
  static_cast<void>(os::WaitForAny({&kernelReady, &kernel}, timeoutMs));
  if (os::WaitForOne(kernelReady, 0).kind != os::WaitKind::Signalled) return {};
  return {true, sdo ? block.Get(cb::kSdoResult) : block.Get(cb::kResult)};
}

}  // namespace

LibrarySide::LibrarySide(common::Channel channel, bool createBlock) : channel_(channel) {
  auto users = os::Semaphore::CreateOrOpen(
      common::ChannelObjectName(channel, ChannelObject::InitializationSemaphore), 0,
      common::kChannelSemaphoreMaximum);
  if (users) initSemaphore_ = users.take();
  if (createBlock) {
    auto mapping = os::Mapping::CreateOrOpen(
        common::ChannelObjectName(channel, ChannelObject::CommunicationMapping),
        common::kCommunicationBlockSize);
    if (mapping) block_ = mapping.take();
  }
  standardApplicationReady_ = ReadyEvent(channel, ChannelObject::StandardApplicationReadyEvent);
  standardKernelReady_ = ReadyEvent(channel, ChannelObject::StandardKernelReadyEvent);
  sdoApplicationReady_ = ReadyEvent(channel, ChannelObject::SdoApplicationReadyEvent);
  sdoKernelReady_ = ReadyEvent(channel, ChannelObject::SdoKernelReadyEvent);
}

common::CommunicationBlockView LibrarySide::Block() const {
  return common::CommunicationBlockView(reinterpret_cast<std::uint8_t*>(block_.data()));
}

bool LibrarySide::StartKernel(common::InterfaceType type) {
  return StartKernelWithArguments({std::string(common::InterfaceKeyword(type)),
                                   "-" + std::string(common::ChannelKeyword(channel_))});
}

bool LibrarySide::StartKernelWithArguments(const std::vector<std::string>& arguments) {
  auto process = os::Process::Start(MotrixPath(), arguments);
  if (!process) return false;
  kernel_ = process.take();
  return true;
}

KernelAnswer LibrarySide::StartKernelAnsweringPing(common::InterfaceType type,
                                                   std::uint32_t timeoutMs) {
  SignalCommand(static_cast<std::uint32_t>(common::CommandCode::Ping));
  if (!StartKernel(type)) return {};
  return AwaitCommandAnswer(timeoutMs);
}

void LibrarySide::SignalCommand(std::uint32_t code) {
  auto block = Block();
  block.Set(cb::kCommandCode, code);
  block.Set(cb::kResult, common::kKernelSuccess);
  standardKernelReady_.Reset();
  standardApplicationReady_.Set();
}

void LibrarySide::SignalSdoRequest() {
  sdoKernelReady_.Reset();
  sdoApplicationReady_.Set();
}

KernelAnswer LibrarySide::AwaitCommandAnswer(std::uint32_t timeoutMs) {
  return Await(standardKernelReady_, kernel_, Block(), false, timeoutMs);
}

KernelAnswer LibrarySide::AwaitSdoAnswer(std::uint32_t timeoutMs) {
  return Await(sdoKernelReady_, kernel_, Block(), true, timeoutMs);
}

bool LibrarySide::CommandAnswered() const {
  return os::WaitForOne(standardKernelReady_, 0).kind == os::WaitKind::Signalled;
}

bool LibrarySide::SdoAnswered() const {
  return os::WaitForOne(sdoKernelReady_, 0).kind == os::WaitKind::Signalled;
}

KernelAnswer LibrarySide::Command(std::uint32_t code, std::uint32_t timeoutMs) {
  SignalCommand(code);
  return AwaitCommandAnswer(timeoutMs);
}

KernelAnswer LibrarySide::Command(common::CommandCode code, std::uint32_t timeoutMs) {
  return Command(static_cast<std::uint32_t>(code), timeoutMs);
}

KernelAnswer LibrarySide::OpenHardware(const common::CanStartRecord& start) {
  Block().CopyIn(cb::kPayloadOffset, start.Bytes());
  return Command(common::CommandCode::OpenHardware, kOpenTimeoutMs);
}

KernelAnswer LibrarySide::SdoRequest(std::uint16_t cobId, const std::vector<std::uint8_t>& data,
                                     std::uint16_t answerCobId, std::uint32_t timeoutMicroseconds) {
  auto block = Block();
  block.Set(cb::kSdoRequestCobId, cobId);
  auto bytes = block.MutableBytes(cb::kSdoRequestData);
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  std::copy_n(data.begin(), std::min(data.size(), bytes.size()), bytes.begin());
  block.Set(cb::kSdoRequestLength, static_cast<std::uint8_t>(data.size()));
  block.Set(cb::kSdoAnswerCobId, answerCobId);
  block.Set(cb::kSdoTimeoutMicroseconds, timeoutMicroseconds);
  SignalSdoRequest();
  return AwaitSdoAnswer(kAnswerTimeoutMs);
}

bool LibrarySide::AwaitKernelEnd(std::uint32_t timeoutMs) {
  return os::WaitForOne(kernel_, timeoutMs).acquired();
}

void LibrarySide::EndLeftoverKernel(std::uint32_t timeoutMs) {
  if (!kernel_.valid() || AwaitKernelEnd(0)) return;
  static_cast<void>(kernel_.Terminate(1));
  AwaitKernelEnd(timeoutMs);
}

bool PresenceEventExists(std::size_t nameIndex) {
  return os::Event::Open(common::KernelObjectName(nameIndex)).ok();
}

bool PresenceEventSet(std::size_t nameIndex) {
  auto event = os::Event::Open(common::KernelObjectName(nameIndex));
  return event && os::WaitForOne(*event, 0).kind == os::WaitKind::Signalled;
}

}  // namespace vantor::kernel::test_client

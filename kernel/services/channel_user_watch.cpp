#include "kernel/services/channel_user_watch.h"

#include "common/command_codes.h"
#include "common/communication_block.h"
#include "common/status_code.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::ChannelObject;

template <typename Object>
bool Keep(Object& target, os::OsResult<Object> made) {
  if (!made) return false;
  target = made.take();
  return true;
}

bool IsSet(const os::Waitable& object) { return os::WaitForOne(object, 0).acquired(); }

// True when `answer` (second in the set) came before the stop or the bound.
bool AwaitAnswer(const os::Event& stop, const os::Event& answer) {
  const os::Waitable* set[] = {&stop, &answer};
  const os::WaitResult wait = os::WaitForAny(set, kSelfRequestTimeoutMs);
  return wait.kind == os::WaitKind::Signalled && wait.index == 1;
}

}  // namespace

ChannelUserWatch::ChannelUserWatch(common::Channel channel) : channel_(channel) {
  const auto name = [channel](ChannelObject object) {
    return common::ChannelObjectName(channel, object);
  };
  // The library made the block before it started this kernel; the lock and
  // the area's objects are opened as the library opens them.
  const bool opened =
      Keep(startLock_, os::Mutex::CreateOrOpen(
                           common::KernelObjectName(common::kInitializationEventIndex), false)) &&
      Keep(standardMutex_, os::Mutex::CreateOrOpen(name(ChannelObject::StandardMutex), false)) &&
      Keep(applicationReady_,
           os::Event::CreateOrOpen(name(ChannelObject::StandardApplicationReadyEvent),
                                   os::EventReset::Manual, false)) &&
      Keep(kernelReady_, os::Event::CreateOrOpen(name(ChannelObject::StandardKernelReadyEvent),
                                                 os::EventReset::Manual, false)) &&
      Keep(block_, os::Mapping::Open(name(ChannelObject::CommunicationMapping))) &&
      block_.size() >= common::kCommunicationBlockSize &&
      Keep(stop_, os::Event::CreateUnnamed(os::EventReset::Manual, false));
  if (!opened) return;
  Keep(thread_, os::Thread::Start([this] { return Run(); }, os::ThreadPriority::BelowNormal));
}

ChannelUserWatch::~ChannelUserWatch() {
  if (!thread_.valid()) return;
  stop_.Set();
  os::WaitForOne(thread_, os::kInfinite);
}

std::uint32_t ChannelUserWatch::Run() {
  for (;;) {
    if (os::WaitForOne(stop_, kUserCheckPeriodMs).kind != os::WaitKind::Timeout) return 0;
    if (EndIfNoUserLeft()) break;
  }
  // Held until the teardown is over and this thread is stopped: a start
  // waits for the lock and then finds no kernel on the channel.
  os::WaitForOne(stop_, os::kInfinite);
  startLock_.Release();
  return 0;
}

bool ChannelUserWatch::EndIfNoUserLeft() {
  // An application starting or leaving holds the lock: look next time.
  if (!os::WaitForOne(startLock_, 0).acquired()) return false;
  const auto users = os::CountOtherHolders(
      common::ChannelObjectName(channel_, ChannelObject::InitializationSemaphore));
  if (users && *users == 0 && SendTerminateToSelf()) return true;
  startLock_.Release();
  return false;
}

bool ChannelUserWatch::SendTerminateToSelf() {
  const os::Waitable* stopOrArea[] = {&stop_, &standardMutex_};
  const os::WaitResult wait = os::WaitForAny(stopOrArea, kSelfRequestTimeoutMs);
  if (!wait.acquired() || wait.index != 1) return false;
  if (IsSet(stop_)) {
    standardMutex_.Release();
    return false;
  }
  // The area's mutex may be abandoned by an application that died with its
  // request still in the area: that request is answered first.
  bool answered = !IsSet(applicationReady_) || AwaitAnswer(stop_, kernelReady_);
  if (answered) {
    common::CommunicationBlockView block(reinterpret_cast<std::uint8_t*>(block_.data()));
    block.Set(cb::kCommandCode, static_cast<std::uint32_t>(common::CommandCode::TerminateKernel));
    block.Set(cb::kResult, common::kKernelSuccess);
    kernelReady_.Reset();
    applicationReady_.Set();
    answered = AwaitAnswer(stop_, kernelReady_);
  }
  standardMutex_.Release();
  return answered;
}

}  // namespace vantor::kernel

#include "watch/watch_lifetime.h"

#include "common/kernel_object_names.h"
#include "platform/os/wait.h"
#include "watch/presence_indicators.h"

namespace vantor::watch {

namespace {

std::string_view StartLockName() {
  return common::KernelObjectName(common::kInitializationEventIndex);
}

}  // namespace

bool WatchLifetime::Open() {
  auto lock = os::Mutex::CreateOrOpen(StartLockName(), false);
  if (!lock) return false;
  startLock_ = lock.take();
  return true;
}

bool WatchLifetime::Lock() {
  return startLock_.valid() && os::WaitForOne(startLock_, 0).acquired();
}

bool WatchLifetime::NothingLeft() const {
  for (std::size_t channel = 0; channel < common::kChannelCount; ++channel) {
    const auto index = common::KernelModeEventIndex(static_cast<common::Channel>(channel));
    if (IsPresenceEventSet(common::KernelObjectName(index))) return false;
  }
  const auto applications = os::CountOtherHolders(StartLockName());
  return applications && *applications == 0;
}

}  // namespace vantor::watch

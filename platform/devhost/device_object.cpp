#include "platform/devhost/device_object.h"

#include <algorithm>
#include <utility>

namespace vantor::devhost {

// ---- FileObject -----------------------------------------------------------

bool FileObject::AddPending(std::shared_ptr<IoRequest> request) {
  std::lock_guard lock(pendingMutex_);
  if (cleanedUp_) return false;
  // A completion may have overtaken the marking; it then has nothing to remove.
  if (!request->IsCompleted()) pending_.push_back(std::move(request));
  return true;
}

void FileObject::RemovePending(const IoRequest& request) {
  std::lock_guard lock(pendingMutex_);
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [&](const auto& entry) { return entry.get() == &request; });
  if (it != pending_.end()) pending_.erase(it);
}

std::vector<std::shared_ptr<IoRequest>> FileObject::TakePending() {
  std::lock_guard lock(pendingMutex_);
  cleanedUp_ = true;
  return std::exchange(pending_, {});
}

std::size_t FileObject::PendingRequests(std::uint32_t code) {
  std::lock_guard lock(pendingMutex_);
  return static_cast<std::size_t>(std::count_if(
      pending_.begin(), pending_.end(),
      [code](const auto& entry) { return entry->Code() == code && !entry->IsCompleted(); }));
}

// ---- DeviceObject ---------------------------------------------------------

DeviceObject::DeviceObject(std::string name, DeviceDispatch& dispatch,
                           std::vector<RequestSpec> requests)
    : name_(std::move(name)),
      dispatch_(dispatch),
      requests_(std::move(requests)),
      deferredCalls_(name_.substr(name_.find_last_of('\\') + 1) + ".dpc") {}

const RequestSpec* DeviceObject::FindRequest(std::uint32_t code) const noexcept {
  for (const auto& spec : requests_) {
    if (spec.code == code) return &spec;
  }
  return nullptr;
}

}  // namespace vantor::devhost

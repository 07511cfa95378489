#include "platform/devhost/interrupt_line.h"

namespace vantor::devhost {

InterruptObject::~InterruptObject() = default;

void InterruptObject::Disconnect() {
  line_.Remove(*this);
  // A handler that is running holds the lock; taking it waits for the end.
  std::lock_guard lock(interruptLock_);
  connected_ = false;
}

void InterruptObject::Service() {
  std::lock_guard lock(interruptLock_);
  if (connected_) handler_();
}

IoStatus InterruptLine::Connect(const InterruptSettings& settings, InterruptHandler handler,
                                std::shared_ptr<InterruptObject>& connection) {
  if (settings.vector != vector_ || !handler) return os::kStatusInvalidParameter;
  std::lock_guard lock(listMutex_);
  if (count_ == kMaxHandlers) return os::kStatusInsufficientResources;
  for (std::size_t i = 0; i < count_; ++i) {
    if (!settings.shared || !handlers_[i]->settings_.shared) return os::kStatusInvalidParameter;
  }
  connection =
      std::shared_ptr<InterruptObject>(new InterruptObject(*this, settings, std::move(handler)));
  handlers_[count_++] = connection;
  return os::kStatusSuccess;
}

std::size_t InterruptLine::Raise() {
  // Take the handlers out under the list lock, then call them without it so
  // a handler may be disconnected (and waited for) from another thread.
  std::array<std::shared_ptr<InterruptObject>, kMaxHandlers> current;
  std::size_t count;
  {
    std::lock_guard lock(listMutex_);
    count = count_;
    for (std::size_t i = 0; i < count; ++i) current[i] = handlers_[i];
  }
  for (std::size_t i = 0; i < count; ++i) current[i]->Service();
  return count;
}

std::size_t InterruptLine::HandlerCount() const {
  std::lock_guard lock(listMutex_);
  return count_;
}

void InterruptLine::Remove(const InterruptObject& connection) {
  std::lock_guard lock(listMutex_);
  for (std::size_t i = 0; i < count_; ++i) {
    if (handlers_[i].get() != &connection) continue;
    for (std::size_t j = i + 1; j < count_; ++j) handlers_[j - 1] = std::move(handlers_[j]);
    handlers_[--count_].reset();
    return;
  }
}

}  // namespace vantor::devhost

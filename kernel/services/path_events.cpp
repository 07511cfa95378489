#include "kernel/services/path_events.h"

#include <memory>
#include <new>

#include "platform/os/named_objects.h"

namespace vantor::kernel {

namespace {

os::Event* EventOf(motion::PathEventHandle handle) noexcept {
  return reinterpret_cast<os::Event*>(handle.value);
}

}  // namespace

std::optional<motion::PathEventHandle> KernelPathEvents::CreatePathEvent(std::string_view name) {
  if (name.empty()) return std::nullopt;
  auto created = os::Event::CreateOrOpen(name, os::EventReset::Manual, false);
  if (!created) return std::nullopt;
  std::unique_ptr<os::Event> event(new (std::nothrow) os::Event(created.take()));
  if (event == nullptr || !event->Reset()) return std::nullopt;
  return motion::PathEventHandle{reinterpret_cast<std::uintptr_t>(event.release())};
}

void KernelPathEvents::ClosePathEvent(motion::PathEventHandle handle) noexcept {
  delete EventOf(handle);
}

void SetKernelPathEvent(motion::PathEventHandle handle) noexcept {
  if (os::Event* event = EventOf(handle)) static_cast<void>(event->Set());
}

}  // namespace vantor::kernel

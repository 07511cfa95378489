// The C library of vantor_events.h over the named events of this layer.
#include <cstring>
#include <string_view>

#include "common/path_buffer.h"
#include "platform/os/include/vantor_events.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

static_assert(VANTOR_EVENT_MAX_NAME_LENGTH ==
                  vantor::common::path_buffer_record::kMaxEventNameLength,
              "the control's longest event name");
static_assert(VANTOR_EVENT_LONGEST_WAIT + 1 == vantor::os::kInfinite,
              "every wait stays below the endless one");

struct VantorEvent {
  vantor::os::Event event;
};

#define VANTOR_EVENTS_EXPORT extern "C" __attribute__((visibility("default")))

VANTOR_EVENTS_EXPORT VantorEventResult vantor_event_open(const char* name, VantorEvent** event) {
  if (event == nullptr) return VANTOR_EVENT_INVALID_ARGUMENT;
  *event = nullptr;
  if (name == nullptr) return VANTOR_EVENT_INVALID_ARGUMENT;
  // Never read further than one byte past the longest name.
  const std::size_t length = ::strnlen(name, VANTOR_EVENT_MAX_NAME_LENGTH + 1);
  if (length == 0) return VANTOR_EVENT_INVALID_ARGUMENT;
  if (length > VANTOR_EVENT_MAX_NAME_LENGTH) return VANTOR_EVENT_NAME_TOO_LONG;
  try {
    auto opened = vantor::os::Event::CreateOrOpen(std::string_view(name, length),
                                                  vantor::os::EventReset::Manual, false);
    if (!opened) return VANTOR_EVENT_FAILED;
    *event = new VantorEvent{opened.take()};
    return VANTOR_EVENT_OK;
  } catch (...) {
    // Nothing may cross into a C caller; out of memory is a failed open.
    return VANTOR_EVENT_FAILED;
  }
}

VANTOR_EVENTS_EXPORT VantorEventResult vantor_event_wait(VantorEvent* event, uint32_t timeoutMs) {
  if (event == nullptr) return VANTOR_EVENT_INVALID_ARGUMENT;
  const uint32_t bound =
      timeoutMs > VANTOR_EVENT_LONGEST_WAIT ? VANTOR_EVENT_LONGEST_WAIT : timeoutMs;
  try {
    switch (vantor::os::WaitForOne(event->event, bound).kind) {
      case vantor::os::WaitKind::Signalled:
      case vantor::os::WaitKind::Abandoned:
        return VANTOR_EVENT_OK;
      case vantor::os::WaitKind::Timeout:
        return VANTOR_EVENT_TIMEOUT;
      case vantor::os::WaitKind::Failed:
        break;
    }
  } catch (...) {
    return VANTOR_EVENT_FAILED;
  }
  return VANTOR_EVENT_FAILED;
}

VANTOR_EVENTS_EXPORT VantorEventResult vantor_event_reset(VantorEvent* event) {
  if (event == nullptr) return VANTOR_EVENT_INVALID_ARGUMENT;
  try {
    return event->event.Reset() ? VANTOR_EVENT_OK : VANTOR_EVENT_FAILED;
  } catch (...) {
    return VANTOR_EVENT_FAILED;
  }
}

VANTOR_EVENTS_EXPORT void vantor_event_close(VantorEvent* event) { delete event; }

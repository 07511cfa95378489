/* The events header is plain C: an application in C includes it as it is. */
#include "platform/os/include/vantor_events.h"

int VantorEventsFromC(const char* name);

int VantorEventsFromC(const char* name) {
  VantorEvent* event = 0;
  VantorEventResult result = vantor_event_open(name, &event);
  if (result == VANTOR_EVENT_OK) {
    result = vantor_event_wait(event, 0);
    vantor_event_close(event);
  }
  return (int)result;
}

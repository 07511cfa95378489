/*
 * Named events for applications: waiting for the events that the control
 * sets along a path (mctl_cp_EventToSet), by the name the application gave.
 *
 * Names live in the namespace of the user and of VANTOR_NAMESPACE, like
 * every object of the control. vantor_event_open opens the event, or
 * creates it as the control would (manual reset, not set) when the control
 * has not made it yet, so an application may open it before the path
 * reaches it and will not miss the moment. A set event stays set until
 * vantor_event_reset. Every wait ends within its time-out.
 */
#ifndef VANTOR_EVENTS_H
#define VANTOR_EVENTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest name in bytes, without its terminator: the control refuses
 * longer names, so no event of the path can have one. */
#define VANTOR_EVENT_MAX_NAME_LENGTH 260

/* Longest time-out in milliseconds; larger values wait this long. */
#define VANTOR_EVENT_LONGEST_WAIT 0xFFFFFFFEu

typedef enum VantorEventResult {
  VANTOR_EVENT_OK = 0,               /* done; for a wait: the event is set */
  VANTOR_EVENT_TIMEOUT = 1,          /* the event was not set within the time-out */
  VANTOR_EVENT_INVALID_ARGUMENT = 2, /* a null pointer or an empty name */
  VANTOR_EVENT_NAME_TOO_LONG = 3,    /* more than VANTOR_EVENT_MAX_NAME_LENGTH bytes */
  VANTOR_EVENT_FAILED = 4            /* the name is held by another kind of object, or no
                                        resources were left */
} VantorEventResult;

typedef struct VantorEvent VantorEvent;

/* Opens (or creates) the event `name`; *event receives the handle, or null
 * on failure. */
VantorEventResult vantor_event_open(const char* name, VantorEvent** event);

/* Waits until the event is set, at most `timeoutMs` milliseconds (0 tests
 * and returns at once). */
VantorEventResult vantor_event_wait(VantorEvent* event, uint32_t timeoutMs);

/* Clears the event, so that a later wait waits for the next set. */
VantorEventResult vantor_event_reset(VantorEvent* event);

/* Closes the handle; the event goes when its last holder closed it. A null
 * handle is ignored. */
void vantor_event_close(VantorEvent* event);

#ifdef __cplusplus
}
#endif

#endif /* VANTOR_EVENTS_H */

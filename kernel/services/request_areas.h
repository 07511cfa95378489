// The kernel's side of the handshake of both request areas, and the serving
// of the SDO area.
//
// An application writes an area, resets the area's "Kernel Ready" event,
// sets its "Applikation Ready" event and waits for "Kernel Ready". The
// kernel answers by resetting "Applikation Ready" and then setting "Kernel
// Ready", so the application never sees its own request as answered.
#pragma once

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

void ReplyToApplication(Kernel& kernel);
void ReplySdoRequest(Kernel& kernel);

// True while the cycle thread runs (started and not ended).
bool IsCycleThreadRunning(const Kernel& kernel);

// Checks the SDO area's request and hands it to the cycle. True when the
// cycle now holds it; false when it was answered at once.
bool StartSdoRequest(Kernel& kernel);
// Answers a request that the cycle has completed.
void FinishSdoRequest(Kernel& kernel);
// Answers a request whose cycle ended before completing it.
void FailSdoRequest(Kernel& kernel);

// At the kernel's end, with the server and cycle threads gone: every
// request still waiting in either area is answered "cycle not running".
void AnswerUnservedRequests(Kernel& kernel);

}  // namespace vantor::kernel

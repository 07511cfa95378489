// Start-up, attach and shut-down of the channel link.
#pragma once

#include "common/status_code.h"
#include "interface/init_records.h"

namespace vantor::interface {

// Attaches to the channel's running kernel or starts it (and the watching
// program), then passes it the CAN start record.
common::StatusCode InitKernelLink(const CanInitSettings& settings);

// Leaves the channel: releases every waiting caller, then shuts the link
// down under the start-up lock. Harmless when not initialised.
common::StatusCode ExitKernelLink();

// The library is being unloaded: shuts the link down without releasing
// waiting callers first, so that the counts of the channel stay right.
void ShutdownKernelLinkOnUnload();

// Has the process's end shut the link down the same way while the channel's
// objects are still held. The named-object layer leaves the namespace from
// an exit handler registered when it was first used, and exit handlers run
// last-first, so the one registered here (once, after the channel's objects
// were made) runs before it; a library destructor would run after it, with
// every handle of the process already let go. Idempotent.
void ShutDownAtProcessExit();

}  // namespace vantor::interface

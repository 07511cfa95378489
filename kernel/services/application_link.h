// Opening and closing the kernel's link to its applications.
#pragma once

#include <string_view>

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// Closes every handle of the link, the block and every event first, the
// presence events last, and zeroes its records.
void ClearLinkState(Kernel& kernel);

// Reads the command line, announces the kernel through its presence events,
// opens the channel's communication block and ready events and starts the
// server thread, in this order. False at the first step that fails; the
// caller then ends the process through `StopApplicationLink`, which closes
// what was already made.
bool StartApplicationLink(Kernel& kernel, std::string_view commandLine);

// The teardown: the server thread first (stop event, wait), so that no
// command can open the driver link again; then the driver link and its
// cycle; then every request still waiting in either area is answered; then
// the block and every event, the presence events last.
void StopApplicationLink(Kernel& kernel);

}  // namespace vantor::kernel

// The channel's path-buffer mapping, which the library creates and fills
// with movement records; the CNC initialisation opens it and the CNC exit
// closes it.
#pragma once

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// Opens (never creates) and maps the mapping of the kernel's channel. False
// on the NoCan channel, which has none, and when the mapping is absent or
// too small to hold its header.
bool OpenPathBuffer(Kernel& kernel);
void ClosePathBuffer(Kernel& kernel);

}  // namespace vantor::kernel

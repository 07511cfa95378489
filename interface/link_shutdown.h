// Shutting the channel link down: the last CNC user ends CNC mode, the last
// user ends the kernel, and when no kernel is left the watching program
// ends too. Every handle of the channel is closed afterwards.
#pragma once

#include "interface/link_state.h"

namespace vantor::interface {

// The caller holds `link.guard` exclusively and the start-up lock.
void ShutdownKernelLink(LinkState& link);

}  // namespace vantor::interface

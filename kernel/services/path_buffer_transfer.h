// Codes 51 and 52: the shared path buffer, in which the library collects
// movement records, switched on and off, and taken over into the segment
// queue as far as the queue has room.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleEnableDllPathBuffer(Kernel& kernel);
AfterCommand HandleTransferDllPathBuffer(Kernel& kernel);

}  // namespace vantor::kernel

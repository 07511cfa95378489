// Command 13: the CNC exit. Takes the drives out of operation, gives back
// every CNC record and leaves the kernel not initialised. It runs without
// an initialisation too, over no nodes.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleCncExit(Kernel& kernel);

}  // namespace vantor::kernel

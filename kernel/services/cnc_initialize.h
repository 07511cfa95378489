// Command 12: the CNC initialisation. Turns the application's record into
// the kernel's CNC records, creates their mutexes and events, keeps the
// copy the reset starts from and marks the kernel initialised.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleCncInitialize(Kernel& kernel);

}  // namespace vantor::kernel

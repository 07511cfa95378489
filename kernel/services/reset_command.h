// Command 15: the reset. Brings every configured drive from whatever state
// it is in to operation enabled in its mode, with the kernel's process-data
// layout, guarding and working parameters; the first reset after an
// initialisation also identifies the modules and reads the drives'
// parameters.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleReset(Kernel& kernel);

}  // namespace vantor::kernel

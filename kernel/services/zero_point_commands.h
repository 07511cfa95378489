// Commands 33 to 35: the workpiece zero point taken from where the axes
// stand, set absolute or shifted, and read back.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetActPosWnp(Kernel& kernel);
AfterCommand HandleSetWnp(Kernel& kernel);
AfterCommand HandleGetWnp(Kernel& kernel);

}  // namespace vantor::kernel

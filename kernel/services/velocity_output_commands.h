// The velocity-proportional output's commands: start (101), stop (102),
// working parameters (103) and read (104).
//
// Each tests the CNC initialisation first, then takes the kernel data and
// object list locks together, runs its checks one at a time, works,
// releases the locks and replies.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleActivateVelPropOutput(Kernel& kernel);
AfterCommand HandleDeactivateVelPropOutput(Kernel& kernel);
AfterCommand HandleSetVelPropOutputParameters(Kernel& kernel);
AfterCommand HandleGetVelPropOutputParameters(Kernel& kernel);

}  // namespace vantor::kernel

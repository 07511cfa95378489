// Commands 18 and 19: the six programmed velocities and the current one;
// commands 25 and 26: the velocity override.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetVelocity(Kernel& kernel);
AfterCommand HandleGetVelocity(Kernel& kernel);
AfterCommand HandleSetOverride(Kernel& kernel);
AfterCommand HandleGetOverride(Kernel& kernel);

}  // namespace vantor::kernel

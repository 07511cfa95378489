// The user-PDO commands: registering a CAN object (47), removing it (48),
// reading what it received (49) and giving it data to send (50).
//
// Every handler takes the kernel data and object list locks together,
// works, releases them and then replies.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleAssignPdo(Kernel& kernel);
AfterCommand HandleRemovePdo(Kernel& kernel);
AfterCommand HandleReadPdo(Kernel& kernel);
AfterCommand HandleWritePdo(Kernel& kernel);

}  // namespace vantor::kernel

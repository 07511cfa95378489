// The software limit switches of the coordinates: read, set, switched on
// and off, and taken back to the configured ones.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleGetSwls(Kernel& kernel);
AfterCommand HandleSetSwls(Kernel& kernel);
AfterCommand HandleEnableSwls(Kernel& kernel);
AfterCommand HandleClearSwls(Kernel& kernel);

}  // namespace vantor::kernel

// Codes 40 to 45: the path coordinates, path mode on and off, the start and
// end of a path, the size of the segment queue and its state.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleGetPathCoor(Kernel& kernel);
AfterCommand HandleSetPathCoor(Kernel& kernel);
AfterCommand HandleEnablePath(Kernel& kernel);
AfterCommand HandleStartPath(Kernel& kernel);
AfterCommand HandleSetBufferSize(Kernel& kernel);
AfterCommand HandleGetBufferStatus(Kernel& kernel);

}  // namespace vantor::kernel

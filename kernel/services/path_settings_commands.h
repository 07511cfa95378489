// Codes 105 to 108: the rotated plane of the programmed coordinates and the
// path velocity factor, set and read back.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetPlaneRotPar(Kernel& kernel);
AfterCommand HandleGetPlaneRotPar(Kernel& kernel);
AfterCommand HandleSetPathVelFac(Kernel& kernel);
AfterCommand HandleGetPathVelFac(Kernel& kernel);

}  // namespace vantor::kernel

// The handling axes: the nodes behind the interpolated ones, each moved on
// its own by its drive in profile position or profile velocity mode.
// Switching the last interpolated axis to a handling axis and back, a
// handling axis's move mode, its move parameters, position moves and
// velocity turns, its motion state, and the external handling axes that
// the initialisation configured.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetHandlingMode(Kernel& kernel);
AfterCommand HandleSetHandlingMoveMode(Kernel& kernel);
AfterCommand HandleGetHandlingAxisMovePar(Kernel& kernel);
AfterCommand HandleHandlingAxisMove(Kernel& kernel);
AfterCommand HandleHandlingAxisTurn(Kernel& kernel);
AfterCommand HandleSetHandlingAxisMotionState(Kernel& kernel);
AfterCommand HandleGetExtHandlingAxisPar(Kernel& kernel);

}  // namespace vantor::kernel

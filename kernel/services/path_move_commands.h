// Codes 36 to 39 and 57: lines, arcs and helices, path-velocity changes and
// named events, queued for the interpolation. Without path mode a line or
// arc starts at once as a single move.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleMove(Kernel& kernel);
AfterCommand HandleCircle(Kernel& kernel);
AfterCommand HandleHelix(Kernel& kernel);
AfterCommand HandlePathVelocity(Kernel& kernel);
AfterCommand HandleEventToSet(Kernel& kernel);

}  // namespace vantor::kernel

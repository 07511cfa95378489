// Commands 17 and 20 to 23: the nodes' last operation results, and the
// actual, destination and set positions of the coordinates and the nodes,
// each relative to its zero point.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleGetAxisLastOperationError(Kernel& kernel);
AfterCommand HandleGetPosition(Kernel& kernel);
AfterCommand HandleGetDestinationPos(Kernel& kernel);
AfterCommand HandleGetDesiredPos(Kernel& kernel);
AfterCommand HandleGetAxisPosition(Kernel& kernel);

}  // namespace vantor::kernel

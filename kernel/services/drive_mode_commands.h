// Commands 28 to 32, which switch the drives themselves: power off and on,
// teach mode (the drives' buffer depth), the bridging of the hardware
// limit switches, the move-out mode and the move off the limit switches.
// Each holds every node's mutexes from its checks to its answer and
// re-arms the nodes' records after switching the drives.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetPowerState(Kernel& kernel);
AfterCommand HandleSetTeachMode(Kernel& kernel);
AfterCommand HandleHwlsBridge(Kernel& kernel);
AfterCommand HandleSetHwlsMoveOutMode(Kernel& kernel);
AfterCommand HandleHwlsMoveOut(Kernel& kernel);

}  // namespace vantor::kernel

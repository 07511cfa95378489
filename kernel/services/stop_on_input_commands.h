// Commands 87 to 93, the stop-on-input mode: the drives of the interpolated
// axes watch a digital input themselves and, when it fires, stop and latch
// their positions. The commands set the parameters and configure the
// drives (87), read them back (88), read the latched positions (89) and
// the watched input port (90, 91), arm and disarm the drives (92) and read
// a drive's input 4 (93).
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleSetStopOnInputModePar(Kernel& kernel);
AfterCommand HandleGetStopOnInputModePar(Kernel& kernel);
AfterCommand HandleGetStopOnInputLatchedPos(Kernel& kernel);
AfterCommand HandleReadStopOnInputBit(Kernel& kernel);
AfterCommand HandleReadStopOnInputPort(Kernel& kernel);
AfterCommand HandleRunStopOnInputMode(Kernel& kernel);
AfterCommand HandleReadMainAmplifyInputBit(Kernel& kernel);

}  // namespace vantor::kernel

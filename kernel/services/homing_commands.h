// Command 16: homing of the axes of a bit mask; the answer comes when every
// selected axis has its reference or the run was broken. Command 82: the
// home position of one homed axis shifted without homing again.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleReference(Kernel& kernel);
AfterCommand HandleChangeHomePosition(Kernel& kernel);

}  // namespace vantor::kernel

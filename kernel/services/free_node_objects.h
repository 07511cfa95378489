// Gives back everything the CNC initialisation created: the CAN objects,
// the nodes' handles and request slots, the kernel records' mutexes and
// events (the named homing events included) and the path-buffer mapping.
#pragma once

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// Harmless on what was never created, so every failure of the
// initialisation ends with it whatever it had got to. The caller holds no
// kernel lock (the mutexes go).
void FreeNodeObjects(Kernel& kernel) noexcept;

}  // namespace vantor::kernel

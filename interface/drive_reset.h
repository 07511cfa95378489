// The reset of the drives (command 15) as the library sends it.
#pragma once

#include "common/status_code.h"

namespace vantor::interface {

// Takes the channel; a homing run that holds it is broken first. Aborts a
// drilling cycle, sends the reset and on the kernel's success empties the
// DLL path buffer. The kernel's failure comes back unchanged.
common::StatusCode ResetDrives();

}  // namespace vantor::interface

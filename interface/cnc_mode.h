// Entering and leaving CNC mode on the channel.
#pragma once

#include "common/status_code.h"
#include "interface/init_records.h"

namespace vantor::interface {

// The first CNC user of the channel creates the path buffer and sends the
// CNC initialisation (command 12); later users join when their
// configuration fits. On a capacity taken from the first user, `image`
// receives it.
common::StatusCode InitCncMode(CncInitImage& image);

// The last CNC user ends CNC mode in the kernel (command 13).
common::StatusCode ExitCncMode();

bool InCncMode();

// The DLL path buffer collects path commands instead of sending them.
bool DllPathBufferOn();

// The DLL path buffer off and empty, as after a reset of the drives.
void EmptyDllPathBuffer();

}  // namespace vantor::interface

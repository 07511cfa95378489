// Noticing that a process behind a process handle has ended.
#pragma once

#include "platform/os/named_objects.h"

namespace vantor::os::internal {

// When the process behind `handle` has ended, marks its object signalled
// (reaping it first when it is our child). Cheap when it still runs: one
// poll of the handle's pidfd.
void RefreshProcessEnd(const Waitable& handle);

}  // namespace vantor::os::internal

// Command 27: continue, stop, break or abort the motion. Stop, break and
// abort of a running motion answer once the motion has reached the state.
#pragma once

#include <cstdint>

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

// How often the wait for the motion state looks again at the cycle and the
// motion under the kernel data lock, at the longest.
inline constexpr std::uint32_t kMotionStateLookMs = 100;

AfterCommand HandleSetMotionState(Kernel& kernel);

}  // namespace vantor::kernel

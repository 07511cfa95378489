// The reset's wait for running motion to end before it takes the drives
// over.
#pragma once

#include <cstdint>

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// How often the wait looks again at the path and the handling axes, at the
// longest.
inline constexpr std::uint32_t kMotionEndLookMs = 100;

// Returns at once when the motion record asks for no wait; after taking and
// giving back every node's mutexes when it asks only for the node requests
// in flight to drain. Else returns once, looked at under the kernel data
// lock, the path stands and no handling node moves, or the cycle is gone.
// It looks after every wake of the motion-end event and at least every
// `lookMs`; it never resets the event, which belongs to the cycle.
void AwaitMotionEnd(KernelData& data, std::uint32_t lookMs = kMotionEndLookMs);

}  // namespace vantor::kernel

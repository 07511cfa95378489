// What the cycle reads from the drives' cyclic answers beyond positions and
// status rows: the inputs that the stop-on-input mode watches, the flag
// bytes of hand operation, and the limit stops the handling drives report
// themselves. Each runs inside the drives' answer step, after the answers
// were taken, on the cycle thread with every kernel lock held.
#pragma once

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// While the watch is armed: each interpolated drive's input byte (data byte
// 7 of an 8-byte answer) is taken; while the mode is active and no drive
// stop runs, a drive whose masked inputs match the masked pattern is hit,
// and a hit sets `stopOnInputTriggered`.
void WatchStopOnInput(KernelData& data) noexcept;

// Not evaluated: the hand-mode flags and every hand flag are cleared. Else,
// once the first six drives (or all, if fewer) answered, each one's flag
// byte is read: bit 2 clears the hand step, bit 3 is the drive's hand flag,
// and a missing bit 4, 5 or 6 clears `handwheelLatched`, `handwheelF1` or
// `handwheelF2`.
void ReadHandwheelFlagBytes(KernelData& data) noexcept;

// The handling drives (every drive during hand operation) whose limit stop
// is evaluated: statusword bit 11 (internal limit active) clears the limit
// flags of the coordinate of the same index on the side the drive stands
// at, or nearest to; a clear bit makes both current flags good again.
void WatchDriveLimitStops(KernelData& data) noexcept;

// Every coordinate with limits enabled has all four limit flags good.
bool AllSoftwareLimitsOk(const KernelData& data) noexcept;

}  // namespace vantor::kernel

// The handling axes in the cycle's motion processing: their measured
// velocities and in-motion flags, and the event that tells a waiting
// request that the axes it selected stand. Runs on the cycle thread with
// every kernel lock held.
#pragma once

#include <cstdint>

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// A handling node in mode 0 that reports exactly +-2147483647: its drive
// gives no position, so its motion is judged by its command.
bool HandlingAxisWithoutPosition(const KernelData& data, std::uint32_t nodeIndex) noexcept;

// The end-of-motion wait of the settings in ms; 0 when not usable.
double MoveEndMaxWaitMs(const KernelData& data) noexcept;

// The non-interpolated nodes' velocities over their windows; a node
// without a position takes its commanded velocity. The handling record of
// each node follows, its target reached as the drive reports it.
void MeasureHandlingAxisVelocities(KernelData& data) noexcept;

// Sets the handling-axes event once no selected handling node is in
// motion, or once the settle countdown has run out; while the event is
// signalled the countdown is reloaded and nothing else happens.
void SignalHandlingAxesStopped(KernelData& data) noexcept;

}  // namespace vantor::kernel

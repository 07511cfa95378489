// The exchange of two interpolated axes: afterwards axis a is driven by the
// drive that drove axis b and the other way round, and each coordinate's
// settings, positions and limits stay with the drive that moves it.
#pragma once

#include <cstdint>

#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// Under the kernel data lock, with no motion and no path running. Moves
// what belongs to a drive and to its coordinate from axis `a` to axis `b`
// and back: the node (through the node table's pointers, so that the cycle,
// the requests and the status reach the same records by the new index), the
// node's measured answer, the coordinate record with its saved settings
// (so that a reset keeps the exchange), the cylinder radius, the drive
// limits with their overrides, the measured and the set positions, and the
// set-point entry's column and scaling. Indexes beyond the records or equal
// ones change nothing. Allocates nothing.
void ExchangeAxes(KernelData& data, std::uint32_t a, std::uint32_t b) noexcept;

}  // namespace vantor::kernel

#pragma once

#include <cstdint>

#include "sim/can_frame.h"
#include "sim/sim_time.h"

namespace vantor::sim {

// Bits after a frame's end of frame before the bus counts as idle.
constexpr std::uint32_t kIntermissionBits = 3;
// An error frame: six bits of error flag and eight of delimiter.
constexpr std::uint32_t kErrorFrameBits = 14;
// Bus-off recovery waits for 128 runs of 11 recessive bits.
constexpr std::uint32_t kBusOffRecoveryBits = 128 * 11;

// Number of bits a CAN 2.0A frame occupies on the wire from start of frame to
// the end of the end-of-frame field, with the stuff bits its actual content
// needs (the identifier, data and CRC decide them).
std::uint32_t FrameBitCount(const CanFrame& frame);

// The CRC-15 of the bits from start of frame to the end of the data field.
std::uint16_t FrameCrc(const CanFrame& frame);

}  // namespace vantor::sim

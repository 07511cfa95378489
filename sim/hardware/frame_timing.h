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

// Stations whose bit times differ by at most this share (1/100) still sample
// each other's bits in the right place; beyond it a receiver loses the bit
// boundaries within a frame. The CAN bit timing leaves about this much room
// for the oscillators of two stations together.
constexpr SimTime kBitTimeToleranceDivisor = 100;

// True when a station at `receiver` bit time reads a frame sent at
// `transmitter` bit time (both in nanoseconds).
constexpr bool BitTimesMatch(SimTime transmitter, SimTime receiver) {
  const SimTime larger = transmitter > receiver ? transmitter : receiver;
  const SimTime difference = larger - (transmitter > receiver ? receiver : transmitter);
  return difference * kBitTimeToleranceDivisor <= larger;
}

// Number of bits a CAN 2.0A frame occupies on the wire from start of frame to
// the end of the end-of-frame field, with the stuff bits its actual content
// needs (the identifier, data and CRC decide them).
std::uint32_t FrameBitCount(const CanFrame& frame);

// The CRC-15 of the bits from start of frame to the end of the data field.
std::uint16_t FrameCrc(const CanFrame& frame);

}  // namespace vantor::sim

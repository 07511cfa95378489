#pragma once

#include <cstdint>

namespace vantor::sim {

// Simulated time in nanoseconds since the simulation started. Every model
// advances on this clock; nothing in sim/ reads the wall clock.
using SimTime = std::uint64_t;

constexpr SimTime kNanosecondsPerMicrosecond = 1000;
constexpr SimTime kNanosecondsPerMillisecond = 1000 * kNanosecondsPerMicrosecond;

}  // namespace vantor::sim

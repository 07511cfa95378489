// Telling whether a process still runs, robust against reuse of its id.
#pragma once

#include <cstdint>
#include <optional>

namespace vantor::os::internal {

// Start time of a process in clock ticks after boot (from /proc), empty
// when no such process exists.
std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid);

// True while the process with this id and start time exists and has not
// ended (a zombie counts as ended).
bool IsProcessAlive(std::uint32_t pid, std::uint64_t startTime);

}  // namespace vantor::os::internal

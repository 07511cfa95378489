// The server thread: the kernel's only reader of the communication block.
#pragma once

#include <cstdint>

#include "kernel/services/kernel_link.h"

namespace vantor::kernel {

// Serves the standard area (commands run to their end here) and the SDO
// area (requests go to the cycle; the thread keeps serving commands while
// one is on the bus) until the stop event is set; from then on it serves
// nothing more and leaves what waits to the teardown. After command 2 it
// asks the main thread to end the process and waits for the stop event;
// both have bounds (`ServerExitTimings`), past which it notes why on the
// debug output and ends.
std::uint32_t CommunicationThread(Kernel& kernel);

// Between requests, at least this often, the thread frees the path
// segments the cycle has retired.
inline constexpr std::uint32_t kRetiredSegmentSweepMs = 50;

// The name the system shows for the server thread.
inline constexpr const char* kServerThreadName = "server";

}  // namespace vantor::kernel

// The requests of continuous-path operation: path mode, start and end,
// the kernel's segment queue, velocity changes and events along the path,
// and the DLL path buffer with its hand-over to the kernel.
//
// All of them need CNC mode (0xC914000B) and are refused while a homing
// run holds the channel (0xC9130016).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/status_code.h"

namespace vantor::interface {

enum class PathSwitch : std::uint32_t {
  PathMode = 42,       // 1 on, 0 off; refused while the DLL path buffer is on
  PathStart = 43,      // 1 start, 0 end; the end is refused while the buffer holds records
  QueueCapacity = 44,  // the kernel's segment queue, checked by the kernel
  DllPathBuffer = 51,  // 1 on, 0 off
};

// Sends the switch with its one 32-bit value.
common::StatusCode SendPathSwitch(PathSwitch which, std::uint32_t value);

// The path velocities: words 0 and 1 of the library's eight-word velocity
// record (linear and rotation processing velocity) with the other four
// settable words behind them, as the velocity setting sends them. Appended
// to the DLL path buffer while it is on.
common::StatusCode SetPathVelocity(std::span<const std::int32_t, 8> velocity);

// The named event that the kernel sets when the path reaches this point.
// Names are cut to their first 260 bytes. Appended while the buffer is on.
common::StatusCode SetPathEvent(const char* name);

// Hands the DLL path buffer to the kernel (refused while it is off, leaving
// `recordNumber` alone). On a kernel failure `recordNumber` receives the
// 1-based number of the record the kernel could not take, or 0 when its
// queue ran full; on success it is 0.
common::StatusCode TransferDllPathBuffer(std::uint32_t& recordNumber);

// Words of the kernel's path and queue state: flags (bit 0 path mode, bit 1
// path started), busy, queue capacity, segments queued, free room, active
// segment (0), path mode, busy again, 0.
using PathQueueStatus = std::array<std::uint32_t, 9>;
common::StatusCode GetPathQueueStatus(PathQueueStatus& status);

// Enabled flag, capacity, count and free records of the DLL path buffer,
// read from its header without a kernel request.
using DllPathBufferStatus = std::array<std::uint32_t, 4>;
common::StatusCode GetDllPathBufferStatus(DllPathBufferStatus& status);

}  // namespace vantor::interface

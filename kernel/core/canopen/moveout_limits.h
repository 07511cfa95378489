// How long the limit-switch move-out waits on a drive before it halts it.
// A drive moving off its switch gets a fixed time; a move the kernel can
// plan (stopping, or a distance at a known speed) gets twice its planned
// time plus a slack (`MoveTimeLimitMs`).
#pragma once

#include <cstdint>

#include "kernel/core/canopen/axis_profile_move.h"

namespace vantor::canopen {

// Moving off a limit switch, at the drive's own search speed or at the
// kernel's.
inline constexpr std::uint64_t kOffSwitchLimitMs = 60000;
inline constexpr std::uint32_t kOffSwitchLimitMicroseconds =
    static_cast<std::uint32_t>(kOffSwitchLimitMs * 1000);
static_assert(kOffSwitchLimitMs * 1000 <= UINT32_MAX);

// The pause between two looks at the moving drives.
inline constexpr std::uint32_t kMoveOutPollMs = 10;

}  // namespace vantor::canopen

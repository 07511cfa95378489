// Homing as the library sends it (command 16), its break from another
// thread or process, and the home shift of one homed axis (command 82).
#pragma once

#include <cstdint>

#include "common/status_code.h"

namespace vantor::interface {

// Holds the channel for the whole run and marks it as homing meanwhile, so
// that other callers are answered 0xC9130016 instead of waiting. Refused
// while the DLL path buffer is on.
common::StatusCode ReferenceAxes(std::uint32_t axisMask);

// Sets the kernel's homing-break event under the homing-break mutex; no
// kernel request.
common::StatusCode BreakReference();

// `node` (0-based) and `shift` in position units, as the kernel takes them.
common::StatusCode ChangeHomePosition(std::int32_t node, std::int32_t shift);

}  // namespace vantor::interface

// Path moves while the DLL path buffer is on: stored in the channel's shared
// path buffer instead of being sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/status_code.h"

namespace vantor::interface {

// Appends one movement record (code and payload as the kernel command takes it) to the
// channel's shared path buffer. kLibraryPathBufferFull (0xC914000D) when full.
common::StatusCode AppendPathBufferRecord(std::uint32_t code, std::span<const std::byte> payload);
bool IsPathBufferEnabled();

}  // namespace vantor::interface

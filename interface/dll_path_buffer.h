// The channel's DLL path buffer as this process sees it: the header of the
// shared mapping, with capacity and count taken only as far as the mapping
// holds records, whatever another process wrote there.
#pragma once

#include <cstdint>
#include <optional>

#include "common/path_buffer.h"
#include "platform/os/named_objects.h"

namespace vantor::interface {

// The header of `mapping`, or nothing when the mapping is absent or too
// short for it.
std::optional<common::PathBufferHeaderView> PathBufferHeader(const os::Mapping& mapping);

struct DllPathBufferState {
  bool enabled = false;
  std::uint32_t capacity = 0;  // records, at most what the mapping holds
  std::uint32_t count = 0;     // records stored, at most what the mapping holds

  std::uint32_t Free() const { return capacity > count ? capacity - count : 0; }
  bool Full() const { return count >= capacity; }
};

// The state of `mapping`'s header, bounded by the mapping's size; nothing
// without a header.
std::optional<DllPathBufferState> ReadDllPathBuffer(const os::Mapping& mapping);

}  // namespace vantor::interface

// Named events of event segments: the path sets them when it reaches the
// segment. The kernel supplies the factory; the motion core only keeps the
// handle it gets.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vantor::motion {

// Opaque handle of an event made by the factory; 0 is no event.
struct PathEventHandle {
  std::uintptr_t value = 0;
  friend bool operator==(PathEventHandle, PathEventHandle) = default;
};

class PathEventFactory {
 public:
  virtual ~PathEventFactory() = default;
  // Creates (or opens) the named manual-reset event, not signalled; nothing
  // when that fails.
  virtual std::optional<PathEventHandle> CreatePathEvent(std::string_view name) = 0;
};

}  // namespace vantor::motion

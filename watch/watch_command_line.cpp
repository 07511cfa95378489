#include "watch/watch_command_line.h"

#include <string_view>

#include "common/kernel_object_names.h"

namespace vantor::watch {

bool IsWatchCommandLine(std::span<const char* const> arguments) {
  if (arguments.size() != 2 || arguments[1] == nullptr) return false;
  return std::string_view(arguments[1]) ==
         common::KernelObjectName(common::kWatchCommandLineIndex);
}

}  // namespace vantor::watch

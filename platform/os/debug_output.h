// Debugger output in place of the system's debug-string channel.
//
// VANTOR_DEBUG_OUTPUT chooses where lines go: unset, empty or "off" drops
// them; "stderr" writes to standard error; anything else is a file path
// that lines are appended to. The choice is read on every call, so tests
// and tools can switch it at run time. Each call writes one whole line in a
// single write, so lines of several threads and processes never interleave.
#pragma once

#include <string_view>

namespace vantor::os {

void OutputDebugText(std::string_view text);

}  // namespace vantor::os

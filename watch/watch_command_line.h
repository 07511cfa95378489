// The watching program's command line.
//
// The library starts Vigilo with one argument, the keyword of the named-object
// table; any other command line (started by hand, extra or altered
// arguments) means the program was not started by the library and must end
// at once without touching the presence event or the window-handle mapping.
#pragma once

#include <span>

namespace vantor::watch {

// True when `arguments` (argv, program path first) is exactly the program
// path followed by the keyword, compared whole and case-sensitively.
bool IsWatchCommandLine(std::span<const char* const> arguments);

}  // namespace vantor::watch

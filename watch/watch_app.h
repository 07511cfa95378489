// Start-up and run of the watching program.
#pragma once

namespace vantor::watch {

// How the program ended. The library does not look at it; it tells a
// person or a test why a start came to nothing.
enum class WatchExitCode : int {
  Ended = 0,               // ran and ended on the exit command or by closing
  RefusedCommandLine = 2,  // not started by the library: nothing was touched
  AnotherWatchRuns = 3,    // a watching program runs already: it was left alone
  StartFailed = 4,         // endpoint, mapping or presence event failed
};

// Checks the command line, publishes the program's presence and runs until
// the exit command arrives. `argv` is the untouched command line.
WatchExitCode RunWatch(int argc, char** argv);

}  // namespace vantor::watch

// Runs a piece of work that might never end in a child process, so that a
// walk or loop without an end fails its test instead of hanging it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>

namespace vantor::motion::testing {

// Time a bounded walk gets before it counts as one that never ends; far
// beyond what any of them needs on a loaded machine.
inline constexpr std::chrono::milliseconds kEndlessAfter{20000};

// The exit code `work` returned (0..255) when it ended within `deadline`;
// nothing when it was still running then (it is killed) or died otherwise.
inline std::optional<int> EndsWithin(std::chrono::milliseconds deadline,
                                     const std::function<int()>& work) {
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) ::_exit(work() & 0xFF);

  // The child is watched by its handle, not polled.
  const int handle = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  bool ended = false;
  if (handle >= 0) {
    pollfd watch{handle, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&watch, 1, static_cast<int>(deadline.count()));
    } while (ready < 0 && errno == EINTR);
    ended = ready > 0;
    ::close(handle);
  }
  if (!ended) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended || !WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace vantor::motion::testing

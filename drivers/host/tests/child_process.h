// A program started by a test with its stderr read back through a pipe:
// waiting for a line of its diagnostics, for its end, or killing it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vantor::host::testing {

inline constexpr auto kProcessDeadline = std::chrono::seconds(20);

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (outputFd_ >= 0) ::close(outputFd_);
  }

  // Starts `program` with `arguments` and `environment` (both ending in a
  // null pointer), its stderr into the pipe this side reads.
  bool Spawn(const char* program, char* const* arguments, char* const* environment) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const int failed = ::posix_spawn(&pid_, program, &actions, nullptr, arguments, environment);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    outputFd_ = pipeFds[0];
    return failed == 0;
  }

  // Reads the program's diagnostics until `text` shows or the deadline passes.
  bool WaitForOutput(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + kProcessDeadline;
    while (output_.find(text) == std::string::npos) {
      if (!ReadMore(deadline)) return output_.find(text) != std::string::npos;
    }
    return true;
  }

  // The exit code, or nothing when the program still runs at the deadline
  // (or died by a signal).
  std::optional<int> WaitForExit() {
    const auto deadline = std::chrono::steady_clock::now() + kProcessDeadline;
    while (!exitStatus_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = status;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The rest of the diagnostics, up to the pipe's end.
    while (ReadMore(deadline)) {
    }
    if (!WIFEXITED(*exitStatus_)) return std::nullopt;
    return WEXITSTATUS(*exitStatus_);
  }

  // The signal that ended the program, once WaitForExit saw it end so.
  std::optional<int> TerminatingSignal() const {
    if (!exitStatus_ || !WIFSIGNALED(*exitStatus_)) return std::nullopt;
    return WTERMSIG(*exitStatus_);
  }

  // Kills the program and waits for its end: the signal that ended it, or
  // 0 when it ended otherwise.
  int KillAndReap() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exitStatus_ = status;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  void Signal(int signal) { ::kill(pid_, signal); }
  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }

 private:
  // False at the pipe's end or the deadline.
  bool ReadMore(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{outputFd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(outputFd_, buffer, sizeof(buffer));
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int outputFd_ = -1;
  std::string output_;
  std::optional<int> exitStatus_;
};

}  // namespace vantor::host::testing

// The devhost program started by a test in a namespace of its own, with its
// diagnostics read back, and a client of its control endpoint.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace vantor::host::testing {

inline constexpr auto kProcessDeadline = std::chrono::seconds(20);

class DevhostProcess {
 public:
  DevhostProcess() = default;
  DevhostProcess(const DevhostProcess&) = delete;
  DevhostProcess& operator=(const DevhostProcess&) = delete;
  ~DevhostProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (outputFd_ >= 0) ::close(outputFd_);
  }

  bool Start(const std::string& nameSpace, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> environment{"VANTOR_NAMESPACE=" + nameSpace};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "VANTOR_NAMESPACE=", 17) != 0) environment.emplace_back(*entry);
    }
    std::vector<std::string> argv{DEVHOST_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argPointers;
    for (auto& argument : argv) argPointers.push_back(argument.data());
    argPointers.push_back(nullptr);
    std::vector<char*> environmentPointers;
    for (auto& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const int failed = ::posix_spawn(&pid_, DEVHOST_PROGRAM, &actions, nullptr, argPointers.data(),
                                     environmentPointers.data());
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

  void Signal(int signal) { ::kill(pid_, signal); }
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

// One command line per message, one answer each.
class ControlClient {
 public:
  explicit ControlClient(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(),
                std::min(socketPath.size(), sizeof(address.sun_path) - 1));
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    const timeval timeout{static_cast<time_t>(kProcessDeadline.count()), 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  }
  ~ControlClient() { ::close(fd_); }
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  bool Connected() const { return connected_; }

  std::string Command(std::string_view line) {
    if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) < 0) return "send failed";
    std::string reply(65536, '\0');
    const ssize_t got = ::recv(fd_, reply.data(), reply.size(), 0);
    if (got < 0) return "no answer";
    reply.resize(static_cast<std::size_t>(got));
    return reply;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

}  // namespace vantor::host::testing

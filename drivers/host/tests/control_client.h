// A client of the driver host's control endpoint: one command line per
// message, one whole answer each, every answer awaited with a deadline.
// An answer that does not arrive whole reads as "no answer: <why>", and
// the connection is closed, so no later command reads the rest as its own.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "drivers/host/tests/child_process.h"
#include "platform/devhost/control_answer.h"

namespace vantor::host::testing {

class ControlClient {
 public:
  explicit ControlClient(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(),
                std::min(socketPath.size(), sizeof(address.sun_path) - 1));
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~ControlClient() { ::close(fd_); }
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  bool Connected() const { return connected_; }

  std::string Command(std::string_view line) {
    if (!connected_) return "no answer: not connected";
    if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) < 0) return "send failed";
    std::string reply;
    std::string error;
    if (!devhost::ReceiveControlAnswer(fd_, std::chrono::steady_clock::now() + kProcessDeadline,
                                       reply, error)) {
      connected_ = false;
      ::shutdown(fd_, SHUT_RDWR);
      return "no answer: " + error;
    }
    return reply;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

}  // namespace vantor::host::testing

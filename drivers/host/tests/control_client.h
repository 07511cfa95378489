// A client of the driver host's control endpoint: one command line per
// message, one answer each, every answer awaited with a deadline.
#pragma once

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "drivers/host/tests/child_process.h"

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

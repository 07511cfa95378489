#include "platform/devhost/seqpacket_listener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vantor::devhost {

namespace {

constexpr int kListenBacklog = 64;

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// True when some process still accepts connections on the socket file.
bool SomeoneListens(const sockaddr_un& address) {
  const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool answered =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(probe);
  return answered;
}

}  // namespace

SeqPacketListener::~SeqPacketListener() { Stop(); }

bool SeqPacketListener::Start(const std::string& path, AcceptHandler onAccept, std::string& error) {
  if (listenFd_ >= 0) {
    error = "already listening on " + path_;
    return false;
  }
  sockaddr_un address;
  if (!FillAddress(path, address)) {
    error = "socket path too long: " + path;
    return false;
  }
  if (SomeoneListens(address)) {
    error = "already served: " + path;
    return false;
  }
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd, kListenBacklog) != 0) {
    error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    error = std::string("no event descriptor: ") + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  listenFd_ = fd;
  path_ = path;
  onAccept_ = std::move(onAccept);
  thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void SeqPacketListener::Stop() {
  if (listenFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof(one));
  thread_.join();
  ::close(listenFd_);
  ::close(stopFd_);
  listenFd_ = stopFd_ = -1;
  ::unlink(path_.c_str());
}

void SeqPacketListener::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents & POLLIN) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) onAccept_(fd);  // a client that gave up before we took it is no error
  }
}

}  // namespace vantor::devhost

#include "platform/devhost/client_connection.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/os/realtime_policy.h"

namespace vantor::devhost {

namespace wire = os::device_wire;

namespace {

constexpr std::size_t kBacklogReserve = 16;
constexpr int kBacklogRetryMilliseconds = 1;

std::size_t ReplySize(const IoRequest& request) {
  return wire::kHeaderSize + request.Information();
}

}  // namespace

ClientConnection::ClientConnection(DriverHost& host, int socketFd)
    : host_(host), socketFd_(socketFd), receiveBuffer_(wire::kMaxMessageSize + 1) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  backlog_.reserve(kBacklogReserve);
}

ClientConnection::~ClientConnection() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
  ::close(socketFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ClientConnection::StartReading() {
  // The thread keeps the connection alive while it reads.
  thread_ = std::thread([self = shared_from_this()] {
    // The exchange request of the kernel's cycle comes this way.
    os::ApplyRealTimeRole(os::RealTimeRole::kRequestTransport);
    self->ReadLoop();
  });
  pthread_setname_np(thread_.native_handle(), kThreadName);
}

void ClientConnection::Shutdown() { ::shutdown(socketFd_, SHUT_RDWR); }

void ClientConnection::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void ClientConnection::Deliver(IoRequest& request) {
  if (request.From() != IoRequest::Origin::kUser) return;
  if (!backlogNonEmpty_.load()) {
    const ssize_t sent = ::send(socketFd_, request.Message().data(), ReplySize(request),
                                MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return;
    // A client that is gone needs no reply; anything else waits its turn.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) return;
  }
  {
    std::lock_guard lock(backlogMutex_);
    // After the connection ended nobody would send it, and keeping it would
    // keep the connection alive through its own backlog.
    if (readerEnded_) return;
    backlog_.push_back(request.shared_from_this());
    backlogNonEmpty_.store(true);
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof(one));
}

void ClientConnection::FlushBacklog() {
  std::lock_guard lock(backlogMutex_);
  std::size_t sentCount = 0;
  for (const auto& request : backlog_) {
    const ssize_t sent = ::send(socketFd_, request->Message().data(), ReplySize(*request),
                                MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) break;
    ++sentCount;
  }
  backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(sentCount));
  backlogNonEmpty_.store(!backlog_.empty());
}

void ClientConnection::ReadLoop() {
  bool open = true;
  while (open) {
    pollfd fds[2] = {{socketFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    // A connected SOCK_SEQPACKET pair reports "writable" even while the
    // client's receive queue is full, so the backlog is retried on a short
    // period instead of on POLLOUT, which would spin.
    const bool backlogged = backlogNonEmpty_.load();
    if (::poll(fds, 2, backlogged ? kBacklogRetryMilliseconds : -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &count, sizeof(count));
    }
    if (backlogNonEmpty_.load()) FlushBacklog();
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;

    const ssize_t received =
        ::recv(socketFd_, receiveBuffer_.data(), receiveBuffer_.size(), MSG_TRUNC);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;  // closed by the client, or the client died
    const auto size = static_cast<std::size_t>(received);
    if (size < wire::kHeaderSize || size > wire::kMaxMessageSize) break;  // not our protocol
    const std::span<const std::uint8_t> message(receiveBuffer_.data(), size);
    const wire::ConstHeader header(message.data());
    switch (static_cast<wire::MessageKind>(header.Get(wire::kKind))) {
      case wire::MessageKind::kOpen:
        open = file_ == nullptr && HandleOpen(message);
        break;
      case wire::MessageKind::kRequest:
        open = file_ != nullptr && HandleRequest(message);
        break;
      default:
        open = false;
    }
  }
  // Let the client see the end at once, also when we ended it.
  ::shutdown(socketFd_, SHUT_RDWR);
  host_.CloseFile(file_);
  {
    std::lock_guard lock(backlogMutex_);
    readerEnded_ = true;
    backlog_.clear();
    backlogNonEmpty_.store(false);
  }
  finished_.store(true);
}

bool ClientConnection::HandleOpen(std::span<const std::uint8_t> message) {
  const auto name = message.subspan(wire::kHeaderSize);
  if (name.empty() || name.size() > wire::kMaxDeviceNameLength) {
    SendOpenReply(os::kStatusObjectNameNotFound);
    return false;
  }
  const std::string_view linkName(reinterpret_cast<const char*>(name.data()), name.size());
  std::shared_ptr<FileObject> file;
  const IoStatus status = host_.OpenForUser(linkName, file);
  if (!os::IoSucceeded(status)) {
    SendOpenReply(status);
    return false;
  }
  file_ = std::move(file);
  return SendOpenReply(status);
}

bool ClientConnection::SendOpenReply(IoStatus status) {
  common::ByteRecord<wire::kHeaderSize> reply;
  reply.Set(wire::kKind, static_cast<std::uint16_t>(wire::MessageKind::kOpenReply));
  reply.Set(wire::kStatus, status);
  return ::send(socketFd_, reply.ReadData(), wire::kHeaderSize, MSG_NOSIGNAL) ==
         static_cast<ssize_t>(wire::kHeaderSize);
}

bool ClientConnection::HandleRequest(std::span<const std::uint8_t> message) {
  const wire::ConstHeader header(message.data());
  const std::uint32_t inputLength = header.Get(wire::kInputLength);
  const std::uint32_t outputLength = header.Get(wire::kOutputLength);
  const auto input = message.subspan(wire::kHeaderSize);
  // The header must describe exactly the data that came with it.
  if (input.size() != inputLength) return false;
  if (outputLength > wire::kMaxTransferLength) {
    IoRequest refused(IoRequest::Origin::kUser, header.Get(wire::kRequestId),
                      header.Get(wire::kCode), 0, 0, nullptr, nullptr);
    refused.Complete(os::kStatusInvalidParameter);
    return ::send(socketFd_, refused.Message().data(), wire::kHeaderSize, MSG_NOSIGNAL) >= 0;
  }
  host_.DispatchUserRequest(file_, header.Get(wire::kRequestId), header.Get(wire::kCode), input,
                            outputLength, shared_from_this());
  return true;
}

}  // namespace vantor::devhost

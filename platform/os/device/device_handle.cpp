#include "platform/os/device/device_handle.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/device/device_wire.h"
#include "platform/os/realtime_policy.h"
#include "platform/os/runtime_dir.h"

namespace vantor::os {

namespace wire = device_wire;

namespace {

// How long an open waits for the driver host's answer: the host answers at
// once unless it hangs, and a hung host must not hang its clients.
constexpr int kOpenReplyTimeoutMilliseconds = 10'000;
constexpr std::string_view kDevicePrefix = "\\\\.\\";

std::string_view StripDevicePrefix(std::string_view path) {
  if (path.size() >= kDevicePrefix.size() &&
      std::equal(kDevicePrefix.begin(), kDevicePrefix.end(), path.begin())) {
    path.remove_prefix(kDevicePrefix.size());
  }
  return path;
}

int ConnectToHost() {
  auto folder = RuntimeDirectory();
  if (!folder) return -1;
  const std::string path = *folder + "/" + std::string(wire::kSocketFileName);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendMessage(int fd, wire::MessageKind kind, std::uint32_t requestId, std::uint32_t code,
                 std::span<const std::uint8_t> data, std::uint32_t outputLength) {
  common::ByteRecord<wire::kHeaderSize> header;
  header.Set(wire::kKind, static_cast<std::uint16_t>(kind));
  header.Set(wire::kRequestId, requestId);
  header.Set(wire::kCode, code);
  header.Set(wire::kInputLength, static_cast<std::uint32_t>(data.size()));
  header.Set(wire::kOutputLength, outputLength);
  iovec parts[2] = {{const_cast<std::uint8_t*>(header.ReadData()), wire::kHeaderSize},
                    {const_cast<std::uint8_t*>(data.data()), data.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = data.empty() ? 1 : 2;
  for (;;) {
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent) == wire::kHeaderSize + data.size();
    if (errno != EINTR) return false;
  }
}

}  // namespace

using detail::OutstandingRequest;

struct DeviceHandleState {
  int fd = -1;
  std::thread reader;
  std::mutex mutex;
  std::condition_variable completion;
  OutstandingRequest* outstanding = nullptr;  // guarded by mutex
  std::uint32_t nextId = 1;                   // guarded by mutex
  bool closing = false;                       // guarded by mutex
  bool broken = false;                        // guarded by mutex
  int callersInside = 0;                      // guarded by mutex

  ~DeviceHandleState() {
    if (fd >= 0) ::close(fd);
  }

  // Registers a request; false when the handle can take no more.
  bool Add(OutstandingRequest& request) {
    std::lock_guard lock(mutex);
    if (closing || broken) return false;
    request.id = nextId++;
    if (nextId == 0) nextId = 1;
    request.next = outstanding;
    outstanding = &request;
    return true;
  }

  OutstandingRequest* TakeLocked(std::uint32_t id) {
    for (OutstandingRequest** link = &outstanding; *link != nullptr; link = &(*link)->next) {
      if ((*link)->id == id) {
        OutstandingRequest* found = *link;
        *link = found->next;
        return found;
      }
    }
    return nullptr;
  }

  // Ends a request already taken off the list; the output has been copied.
  void FinishLocked(OutstandingRequest& request, IoStatus status, std::uint32_t bytes) {
    if (request.overlapped != nullptr) {
      DeviceOverlapped& overlapped = *request.overlapped;
      Event* event = overlapped.event_;
      overlapped.status_ = status;
      overlapped.bytesReturned_ = bytes;
      overlapped.completed_.store(true, std::memory_order_release);
      event->Set();
      return;
    }
    request.status = status;
    request.bytesReturned = bytes;
    request.done = true;
  }

  void OnReply(std::span<const std::uint8_t> message) {
    const wire::ConstHeader header(message.data());
    const IoStatus status = header.Get(wire::kStatus);
    const std::uint32_t information = header.Get(wire::kInformation);
    const auto data = message.subspan(wire::kHeaderSize);
    std::lock_guard lock(mutex);
    OutstandingRequest* request = TakeLocked(header.Get(wire::kRequestId));
    if (request == nullptr) return;  // already given up (the handle closes)
    std::uint32_t bytes = 0;
    if (IoSucceeded(status)) {
      bytes = static_cast<std::uint32_t>(
          std::min({std::size_t{information}, data.size(), request->output.size()}));
      std::copy_n(data.begin(), bytes, request->output.begin());
    }
    FinishLocked(*request, status, bytes);
    completion.notify_all();
  }

  void ReadLoop() {
    std::vector<std::uint8_t> buffer(wire::kMaxMessageSize + 1);
    for (;;) {
      const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
      if (received < 0 && errno == EINTR) continue;
      if (received <= 0) break;
      const auto size = static_cast<std::size_t>(received);
      if (size < wire::kHeaderSize || size > wire::kMaxMessageSize) break;
      const std::span<const std::uint8_t> message(buffer.data(), size);
      const wire::ConstHeader header(message.data());
      if (header.Get(wire::kKind) != static_cast<std::uint16_t>(wire::MessageKind::kReply)) break;
      if (header.Get(wire::kInformation) != size - wire::kHeaderSize) break;
      OnReply(message);
    }
    // Whatever is still outstanding ends now without data: cancelled when
    // we closed, a broken connection when the host went away.
    std::lock_guard lock(mutex);
    broken = true;
    const IoStatus status = closing ? kStatusCancelled : kStatusPipeBroken;
    while (outstanding != nullptr) {
      OutstandingRequest* request = outstanding;
      outstanding = request->next;
      FinishLocked(*request, status, 0);
    }
    completion.notify_all();
  }
};

DeviceOverlapped::~DeviceOverlapped() {
  if (Completed()) return;
  const auto owner = owner_.lock();
  if (owner == nullptr) return;
  std::lock_guard lock(owner->mutex);
  owner->TakeLocked(request_.id);
}

DeviceHandle::DeviceHandle(std::shared_ptr<DeviceHandleState> state) : state_(std::move(state)) {}
DeviceHandle::DeviceHandle(DeviceHandle&&) noexcept = default;
DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
  if (this != &other) {
    Close();
    state_ = std::move(other.state_);
  }
  return *this;
}
DeviceHandle::~DeviceHandle() { Close(); }

DeviceHandle::OpenResult DeviceHandle::Open(std::string_view path) {
  OpenResult result;
  const std::string_view name = StripDevicePrefix(path);
  if (name.empty() || name.size() > wire::kMaxDeviceNameLength) {
    result.error = DeviceOpenError::kMissing;
    result.status = kStatusObjectNameNotFound;
    return result;
  }
  const int fd = ConnectToHost();
  if (fd < 0) {
    result.error = DeviceOpenError::kMissing;
    result.status = kStatusObjectNameNotFound;
    return result;
  }
  auto state = std::make_shared<DeviceHandleState>();
  state->fd = fd;
  const auto nameBytes = std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  common::ByteRecord<wire::kHeaderSize> reply;
  pollfd readable{fd, POLLIN, 0};
  bool answered =
      SendMessage(fd, wire::MessageKind::kOpen, 0, 0, nameBytes, 0) &&
      ::poll(&readable, 1, kOpenReplyTimeoutMilliseconds) == 1 &&
      ::recv(fd, reply.WriteData(), wire::kHeaderSize, 0) ==
          static_cast<ssize_t>(wire::kHeaderSize) &&
      reply.Get(wire::kKind) == static_cast<std::uint16_t>(wire::MessageKind::kOpenReply);
  if (!answered) {
    result.error = DeviceOpenError::kMissing;
    result.status = kStatusPipeBroken;
    return result;
  }
  const IoStatus status = reply.Get(wire::kStatus);
  if (!IoSucceeded(status)) {
    result.error =
        status == kStatusObjectNameNotFound ? DeviceOpenError::kMissing : DeviceOpenError::kRefused;
    result.status = status;
    return result;
  }
  DeviceHandleState* raw = state.get();
  state->reader = std::thread([raw] {
    // Answers of the kernel's cycle come back this way.
    ApplyRealTimeRole(RealTimeRole::kRequestTransport);
    raw->ReadLoop();
  });
  pthread_setname_np(state->reader.native_handle(), kDeviceReaderThreadName);
  result.handle = DeviceHandle(std::move(state));
  return result;
}

DeviceRequestResult DeviceHandle::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                                          std::span<std::uint8_t> output) {
  if (state_ == nullptr) return {kStatusInvalidParameter, 0};
  if (input.size() > wire::kMaxTransferLength || output.size() > wire::kMaxTransferLength) {
    return {kStatusInvalidParameter, 0};
  }
  DeviceHandleState& state = *state_;
  OutstandingRequest request;
  request.output = output;
  {
    std::lock_guard lock(state.mutex);
    ++state.callersInside;
  }
  IoStatus status = kStatusPipeBroken;
  std::uint32_t bytes = 0;
  if (state.Add(request)) {
    const bool sent = SendMessage(state.fd, wire::MessageKind::kRequest, request.id, code, input,
                                  static_cast<std::uint32_t>(output.size()));
    std::unique_lock lock(state.mutex);
    if (!sent && state.TakeLocked(request.id) != nullptr)
      state.FinishLocked(request, kStatusPipeBroken, 0);
    state.completion.wait(lock, [&] { return request.done; });
    status = request.status;
    bytes = request.bytesReturned;
  }
  std::lock_guard lock(state.mutex);
  --state.callersInside;
  state.completion.notify_all();
  return {status, bytes};
}

IoStatus DeviceHandle::ControlOverlapped(std::uint32_t code, std::span<const std::uint8_t> input,
                                         std::span<std::uint8_t> output,
                                         DeviceOverlapped& overlapped) {
  // A record still in use by an earlier request cannot carry a second one.
  if (!overlapped.Completed()) return kStatusInvalidParameter;
  overlapped.event_->Reset();
  overlapped.completed_.store(false, std::memory_order_release);
  const auto failAtOnce = [&](IoStatus status) {
    overlapped.status_ = status;
    overlapped.bytesReturned_ = 0;
    overlapped.completed_.store(true, std::memory_order_release);
    overlapped.event_->Set();
    return status;
  };
  if (state_ == nullptr) return failAtOnce(kStatusInvalidParameter);
  if (input.size() > wire::kMaxTransferLength || output.size() > wire::kMaxTransferLength) {
    return failAtOnce(kStatusInvalidParameter);
  }
  DeviceHandleState& state = *state_;
  // The record lives in the caller's DeviceOverlapped for the request's life.
  auto& request = overlapped.request_;
  request = OutstandingRequest{};
  request.output = output;
  request.overlapped = &overlapped;
  overlapped.owner_ = state_;
  if (!state.Add(request)) return failAtOnce(kStatusPipeBroken);
  if (!SendMessage(state.fd, wire::MessageKind::kRequest, request.id, code, input,
                   static_cast<std::uint32_t>(output.size()))) {
    std::lock_guard lock(state.mutex);
    // The reader may have ended it already when the connection broke.
    if (state.TakeLocked(request.id) != nullptr) state.FinishLocked(request, kStatusPipeBroken, 0);
  }
  return kStatusPending;
}

void DeviceHandle::Close() {
  if (state_ == nullptr) return;
  DeviceHandleState& state = *state_;
  {
    std::lock_guard lock(state.mutex);
    state.closing = true;
  }
  ::shutdown(state.fd, SHUT_RDWR);
  if (state.reader.joinable()) state.reader.join();
  {
    // Synchronous callers on other threads have been answered; let them leave.
    std::unique_lock lock(state.mutex);
    state.completion.wait(lock, [&] { return state.callersInside == 0; });
  }
  state_.reset();
}

}  // namespace vantor::os

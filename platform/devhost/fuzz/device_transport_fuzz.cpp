// Feeds arbitrary messages to the driver host's side of a device handle's
// connection: open messages with any name, requests with any id, code and
// lengths (agreeing with the data or not), any message kind, to a device
// that answers at once, holds requests, or completes what it held.
//
// Every reply is one header of the reply kind whose data is exactly its
// information, never more than its request's output length; each request
// id gets no more replies than requests carried it; the connection ends
// when the client ends it.
//
// Input: messages of [length, 2 bytes little-endian][bytes...].
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "common/fuzz_input.h"
#include "common/wire_record.h"
#include "platform/devhost/client_connection.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/device_object.h"
#include "platform/devhost/driver_host.h"
#include "platform/devhost/io_request.h"
#include "platform/os/device/device_wire.h"

namespace {

using vantor::common::FuzzRequire;

using namespace vantor;
namespace wire = os::device_wire;

constexpr std::uint32_t kAnswerCode = 0x222004;
constexpr std::uint32_t kHoldCode = 0x222008;
constexpr std::uint32_t kReleaseCode = 0x22200C;
constexpr std::uint32_t kLargeCode = 0x222010;
constexpr int kReplyWaitMilliseconds = 20000;

class TestDevice final : public devhost::DeviceDispatch {
 public:
  void DeviceControl(devhost::IoRequest& request) override {
    auto output = request.SystemBuffer();
    switch (request.Code()) {
      case kHoldCode: {
        std::lock_guard lock(mutex_);
        held_.push_back(request.MarkPending());
        return;
      }
      case kReleaseCode: {
        std::vector<devhost::PendingRequest> released;
        {
          std::lock_guard lock(mutex_);
          released.swap(held_);
        }
        for (auto& held : released) {
          const std::uint32_t length = held->OutputLength();
          (void)held->Complete(os::kStatusSuccess, length);
        }
        break;
      }
      default:
        break;
    }
    for (std::size_t i = 0; i < request.OutputLength() && i < output.size(); ++i) {
      output[i] = static_cast<std::uint8_t>(i);
    }
    request.Complete(os::kStatusSuccess, request.OutputLength());
  }
  void Cleanup(devhost::FileObject&) override {
    std::lock_guard lock(mutex_);
    held_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<devhost::PendingRequest> held_;
};

struct Host {
  devhost::VirtualClock clock;
  devhost::DriverHost driverHost{clock};
  TestDevice dispatch;
  std::shared_ptr<devhost::DeviceObject> device;
};

Host& SharedHost() {
  static Host* const host = [] {
    auto* made = new Host;
    devhost::DeviceSettings settings;
    settings.name = "\\Device\\probe";
    settings.dispatch = &made->dispatch;
    settings.requests = {{kAnswerCode, 0, 4},
                         {kHoldCode, 8, 8},
                         {kReleaseCode, 0, 0},
                         {kLargeCode, 16, wire::kMaxTransferLength}};
    FuzzRequire(os::IoSucceeded(made->driverHost.CreateDevice(settings, made->device)));
    FuzzRequire(os::IoSucceeded(
        made->driverHost.CreateSymbolicLink("\\DosDevices\\probe", "\\Device\\probe")));
    return made;
  }();
  return *host;
}

// Waits for the next reply or the end; false when neither comes in time.
// The fuzzer's own timer signal may interrupt the wait.
bool AwaitReadable(int fd) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMilliseconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd readable{fd, POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
    if (ready == 1) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Host& host = SharedHost();
  int sockets[2];
  FuzzRequire(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) == 0);
  const int client = sockets[0];
  auto connection = std::make_shared<devhost::ClientConnection>(host.driverHost, sockets[1]);
  connection->StartReading();

  // What the client asked: for each id, how many requests and the largest output.
  std::map<std::uint32_t, std::pair<int, std::uint32_t>> asked;
  std::size_t at = 0;
  while (size - at >= 2) {
    const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;
    std::vector<std::uint8_t> message(data + at, data + at + length);
    at += length;
    if (message.size() >= wire::kHeaderSize) {
      const wire::ConstHeader header(message.data());
      if (header.Get(wire::kKind) == static_cast<std::uint16_t>(wire::MessageKind::kRequest)) {
        auto& entry = asked[header.Get(wire::kRequestId)];
        ++entry.first;
        entry.second = std::max(entry.second, header.Get(wire::kOutputLength));
      }
    }
    if (::send(client, message.data(), message.size(), MSG_NOSIGNAL) < 0) break;
  }
  ::shutdown(client, SHUT_WR);

  std::map<std::uint32_t, int> replies;
  std::vector<std::uint8_t> buffer(wire::kMaxMessageSize + 1);
  bool openReplySeen = false;
  for (;;) {
    FuzzRequire(AwaitReadable(client));
    const ssize_t received = ::recv(client, buffer.data(), buffer.size(), 0);
    if (received <= 0) break;
    FuzzRequire(static_cast<std::size_t>(received) >= wire::kHeaderSize);
    const wire::ConstHeader header(buffer.data());
    const auto kind = static_cast<wire::MessageKind>(header.Get(wire::kKind));
    if (kind == wire::MessageKind::kOpenReply) {
      FuzzRequire(!openReplySeen);
      openReplySeen = true;
      FuzzRequire(static_cast<std::size_t>(received) == wire::kHeaderSize);
      continue;
    }
    FuzzRequire(kind == wire::MessageKind::kReply);
    const std::uint32_t id = header.Get(wire::kRequestId);
    const std::uint32_t information = header.Get(wire::kInformation);
    FuzzRequire(static_cast<std::size_t>(received) == wire::kHeaderSize + information);
    const auto request = asked.find(id);
    FuzzRequire(request != asked.end());
    FuzzRequire(information <= request->second.second);
    FuzzRequire(++replies[id] <= request->second.first);
  }
  connection->Join();
  FuzzRequire(connection->Finished());
  ::close(client);
  return 0;
}

// The connection between handles and the host: a host that goes away, a
// second host in the same namespace, clients that break the protocol and
// clients that stop reading.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "common/wire_record.h"
#include "platform/devhost/tests/host_fixture.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/device/device_wire.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace vantor::devhost::testing {
namespace {

namespace wire = os::device_wire;

using TransportTest = HostFixture;

TEST_F(TransportTest, HostGoingAwayEndsPendingRequestsAndRefusesNewOnes) {
  auto handle = OpenTestDevice();
  HeldRequest held;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, held));

  server_->Stop();
  ASSERT_EQ(os::WaitForOne(held.event, 10'000).kind, os::WaitKind::Signalled);
  EXPECT_EQ(held.overlapped.Status(), os::kStatusPipeBroken);
  EXPECT_EQ(held.output[0], HeldRequest::kUntouched);
  EXPECT_EQ(driver_->CleanupCount(), 1);
  EXPECT_EQ(driver_->HeldCount(), 0u);

  std::array<std::uint8_t, 8> echoIn{};
  EXPECT_EQ(handle.Control(kEcho, echoIn, held.output).status, os::kStatusPipeBroken);
  const std::array<std::uint8_t, 16> input{};
  EXPECT_EQ(handle.ControlOverlapped(kHold, input, held.output, held.overlapped),
            os::kStatusPipeBroken);
  EXPECT_TRUE(held.overlapped.Completed());
}

TEST_F(TransportTest, SecondHostInTheSameNamespaceIsRefused) {
  DriverHost other(clock_);
  DeviceServer second(other);
  std::string error;
  EXPECT_FALSE(second.StartInRuntimeDirectory(error));
  EXPECT_NE(error.find("already served"), std::string::npos) << error;
  // The first host still serves.
  EXPECT_EQ(os::DeviceHandle::Open("\\\\.\\TestDev").error, os::DeviceOpenError::kNone);
}

TEST_F(TransportTest, OverlappedRecordStillInUseIsRefusedUntouched) {
  auto handle = OpenTestDevice();
  HeldRequest held;
  ASSERT_NO_FATAL_FAILURE(Hold(handle, held));
  std::array<std::uint8_t, 4> abort{};
  EXPECT_EQ(handle.ControlOverlapped(kAbort, {}, abort, held.overlapped),
            os::kStatusInvalidParameter);
  EXPECT_FALSE(held.overlapped.Completed());
  std::vector<std::uint8_t> huge(wire::kMaxTransferLength + 1);
  std::array<std::uint8_t, 16> output{};
  EXPECT_EQ(handle.Control(kEcho, huge, output).status, os::kStatusInvalidParameter);
}

// A raw connection to the host's socket, for messages no client would send.
class RawConnection {
 public:
  RawConnection() {
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = *os::RuntimeDirectory() + "/" + std::string(wire::kSocketFileName);
    std::memcpy(address.sun_path, path.data(), path.size());
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    // A host that stops reading or answering fails the test instead of
    // hanging it.
    const timeval bound{.tv_sec = 10, .tv_usec = 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof(bound));
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
  }
  ~RawConnection() { ::close(fd_); }

  bool Send(wire::MessageKind kind, std::uint32_t code, std::uint32_t inputLength,
            std::uint32_t outputLength, std::vector<std::uint8_t> data,
            std::uint32_t requestId = 9) {
    std::vector<std::uint8_t> message(wire::kHeaderSize);
    wire::Header header(message.data());
    header.Set(wire::kKind, static_cast<std::uint16_t>(kind));
    header.Set(wire::kRequestId, requestId);
    header.Set(wire::kCode, code);
    header.Set(wire::kInputLength, inputLength);
    header.Set(wire::kOutputLength, outputLength);
    message.insert(message.end(), data.begin(), data.end());
    return ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(message.size());
  }

  // The next message's header, or nothing when the host hung up.
  std::optional<common::ByteRecord<wire::kHeaderSize>> ReceiveHeader() {
    std::vector<std::uint8_t> buffer(wire::kMaxMessageSize);
    const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (received < static_cast<ssize_t>(wire::kHeaderSize)) return std::nullopt;
    common::ByteRecord<wire::kHeaderSize> header;
    std::copy_n(buffer.begin(), wire::kHeaderSize, header.WriteData());
    return header;
  }

  // The next message's header status, or nothing when the host hung up.
  std::optional<std::uint32_t> ReceiveStatus() {
    std::vector<std::uint8_t> buffer(wire::kMaxMessageSize);
    const ssize_t received = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (received < static_cast<ssize_t>(wire::kHeaderSize)) return std::nullopt;
    return wire::ConstHeader(buffer.data()).Get(wire::kStatus);
  }

  // Bytes of replies waiting in the connection, not yet read.
  int QueuedBytes() const {
    int bytes = 0;
    return ::ioctl(fd_, SIOCINQ, &bytes) == 0 ? bytes : -1;
  }

  bool connected() const { return connected_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST_F(TransportTest, ProtocolBreachesEndTheConnectionAndCleanUp) {
  struct Breach {
    const char* what;
    bool openFirst;
    wire::MessageKind kind;
    std::uint32_t inputLength;
    std::vector<std::uint8_t> data;
  };
  const std::vector<Breach> breaches = {
      {"request before open", false, wire::MessageKind::kRequest, 0, {}},
      {"second open", true, wire::MessageKind::kOpen, 0, Bytes("TestDev")},
      {"input length that lies", true, wire::MessageKind::kRequest, 8,
       std::vector<std::uint8_t>(4)},
      {"reply kind from a client", true, wire::MessageKind::kReply, 0, {}},
      {"unknown kind", true, static_cast<wire::MessageKind>(77), 0, {}},
  };
  int expectedCleanups = 0;
  for (const Breach& breach : breaches) {
    SCOPED_TRACE(breach.what);
    RawConnection connection;
    ASSERT_TRUE(connection.connected());
    if (breach.openFirst) {
      ASSERT_TRUE(connection.Send(wire::MessageKind::kOpen, 0, 7, 0, Bytes("TestDev")));
      ASSERT_EQ(connection.ReceiveStatus(), os::kStatusSuccess);
      ++expectedCleanups;
    }
    ASSERT_TRUE(connection.Send(breach.kind, kEcho, breach.inputLength, 16, breach.data));
    EXPECT_EQ(connection.ReceiveStatus(), std::nullopt);  // the host hung up
    EXPECT_TRUE(Eventually([&] { return driver_->CleanupCount() == expectedCleanups; }));
  }
}

// A client that does not read its replies for a while: the host keeps
// serving it without blocking, and no reply is lost.
TEST_F(TransportTest, RepliesThatTheClientDoesNotReadYetWaitAndArriveComplete) {
  constexpr std::uint32_t kRequests = 300;
  RawConnection connection;
  ASSERT_TRUE(connection.Send(wire::MessageKind::kOpen, 0, 7, 0, Bytes("TestDev")));
  ASSERT_EQ(connection.ReceiveStatus(), os::kStatusSuccess);
  for (std::uint32_t id = 1; id <= kRequests; ++id) {
    ASSERT_TRUE(connection.Send(wire::MessageKind::kRequest, kEcho, 8, 16,
                                std::vector<std::uint8_t>(8), id));
  }
  std::vector<bool> seen(kRequests + 1, false);
  for (std::uint32_t i = 0; i < kRequests; ++i) {
    const auto header = connection.ReceiveHeader();
    ASSERT_TRUE(header.has_value());
    ASSERT_EQ(header->Get(wire::kStatus), os::kStatusSuccess);
    ASSERT_EQ(header->Get(wire::kInformation), 16u);
    const std::uint32_t id = header->Get(wire::kRequestId);
    ASSERT_TRUE(id >= 1 && id <= kRequests && !seen[id]) << id;
    seen[id] = true;
  }
}

// A client that stops reading while replies keep coming: the deferred call
// that completes its request does not wait for it, so the next request it
// completes (another client's) is answered at once, and the slow client
// gets every reply of its own once it reads again.
TEST_F(TransportTest, AClientThatStopsReadingNeverHoldsUpTheDeferredCall) {
  constexpr std::uint32_t kHoldId = 1;
  constexpr std::uint32_t kEchoes = 600;
  constexpr std::uint32_t kReleaseId = kEchoes + 2;
  RawConnection slow;
  ASSERT_TRUE(slow.Send(wire::MessageKind::kOpen, 0, 7, 0, Bytes("TestDev")));
  ASSERT_EQ(slow.ReceiveStatus(), os::kStatusSuccess);
  ASSERT_TRUE(slow.Send(wire::MessageKind::kRequest, kHold, 16, 16, std::vector<std::uint8_t>(16),
                        kHoldId));
  ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 1; }));
  auto fast = OpenTestDevice();
  HeldRequest held;
  const std::array<std::uint8_t, 16> input{};
  ASSERT_EQ(fast.ControlOverlapped(kHold, input, held.output, held.overlapped), os::kStatusPending);
  ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 2; }));

  // Far more echo replies than the slow client's connection holds, then a
  // release that the host serves after all of them: the deferred call
  // completes the slow client's hold first, into a full connection.
  for (std::uint32_t id = kHoldId + 1; id < kReleaseId; ++id) {
    ASSERT_TRUE(
        slow.Send(wire::MessageKind::kRequest, kEcho, 8, 16, std::vector<std::uint8_t>(8), id))
        << "the host stopped serving the slow client at request " << id;
  }
  ASSERT_TRUE(slow.Send(wire::MessageKind::kRequest, kRelease, 4, 4, {0x5C, 0, 0, 0}, kReleaseId));
  ASSERT_EQ(os::WaitForOne(held.event, 10'000).kind, os::WaitKind::Signalled)
      << "the deferred call waits for the slow client";
  EXPECT_EQ(held.overlapped.Status(), os::kStatusSuccess);
  const int everyReply =
      static_cast<int>((kEchoes + 1) * (wire::kHeaderSize + 16) + (wire::kHeaderSize + 4));
  EXPECT_LT(slow.QueuedBytes(), everyReply) << "the slow client's connection never filled";

  std::vector<bool> seen(kReleaseId + 1, false);
  for (std::uint32_t i = 0; i < kEchoes + 2; ++i) {
    const auto header = slow.ReceiveHeader();
    ASSERT_TRUE(header.has_value()) << "reply " << i << " never came";
    const std::uint32_t id = header->Get(wire::kRequestId);
    ASSERT_TRUE(id >= kHoldId && id <= kReleaseId && !seen[id]) << id;
    EXPECT_EQ(header->Get(wire::kStatus), os::kStatusSuccess) << id;
    seen[id] = true;
  }
}

TEST_F(TransportTest, OpenWithoutNameOrWithOversizedOutputIsAnswered) {
  {
    RawConnection connection;
    ASSERT_TRUE(connection.Send(wire::MessageKind::kOpen, 0, 0, 0, {}));
    EXPECT_EQ(connection.ReceiveStatus(), os::kStatusObjectNameNotFound);
  }
  RawConnection connection;
  ASSERT_TRUE(connection.Send(wire::MessageKind::kOpen, 0, 7, 0, Bytes("testdev")));
  ASSERT_EQ(connection.ReceiveStatus(), os::kStatusSuccess);
  ASSERT_TRUE(connection.Send(wire::MessageKind::kRequest, kEcho, 8, wire::kMaxTransferLength + 1,
                              std::vector<std::uint8_t>(8)));
  EXPECT_EQ(connection.ReceiveStatus(), os::kStatusInvalidParameter);
}

}  // namespace
}  // namespace vantor::devhost::testing

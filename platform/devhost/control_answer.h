// How an answer of the control endpoint travels over its SOCK_SEQPACKET
// socket. One packet can carry only what the socket's send buffer holds
// (some hundred KiB), while a full frame or access log runs to megabytes;
// so every answer goes as a header packet with its length in bytes,
// followed by the text in parts of at most kControlAnswerPartBytes (none
// for an empty answer). Both ends live here, header-only, so that any
// test program can read answers without linking the driver runtime.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::devhost {

// The header packet: the answer's length, little-endian.
struct ControlAnswerHeader {
  std::uint8_t length[8];
};
static_assert(sizeof(ControlAnswerHeader) == 8);
static_assert(alignof(ControlAnswerHeader) == 1);

// Well below the smallest send buffer a system is set up with.
inline constexpr std::size_t kControlAnswerPartBytes = 32 * 1024;
// Far above the largest log the host keeps; a header beyond it is garbage.
inline constexpr std::uint64_t kMaxControlAnswerBytes = 64u << 20;

inline ControlAnswerHeader EncodeControlAnswerHeader(std::uint64_t length) {
  ControlAnswerHeader header{};
  for (std::size_t i = 0; i < sizeof(header.length); ++i) {
    header.length[i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  return header;
}

inline std::uint64_t DecodeControlAnswerHeader(const ControlAnswerHeader& header) {
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < sizeof(header.length); ++i) {
    length |= static_cast<std::uint64_t>(header.length[i]) << (8 * i);
  }
  return length;
}

namespace control_answer_detail {

inline bool SendPacket(int fd, const void* data, std::size_t size) {
  for (;;) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent) == size;
    if (errno != EINTR) return false;
  }
}

// Waits until `fd` has a packet or the connection ended; false once the
// deadline has passed.
inline bool AwaitPacket(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd descriptor{fd, POLLIN, 0};
    const int ready =
        ::poll(&descriptor, 1,
               static_cast<int>(std::min<std::int64_t>(left.count(), std::int64_t{1} << 30)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the receive then tells what is wrong
  }
}

// One packet into `buffer`; its true length (MSG_TRUNC), 0 at the end of
// the connection, -1 on an error.
inline ssize_t ReceivePacket(int fd, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, size, MSG_TRUNC);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace control_answer_detail

// Sends `answer` whole; false when the connection failed on the way.
inline bool SendControlAnswer(int fd, std::string_view answer) {
  const ControlAnswerHeader header = EncodeControlAnswerHeader(answer.size());
  if (!control_answer_detail::SendPacket(fd, &header, sizeof(header))) return false;
  while (!answer.empty()) {
    const std::size_t part = std::min(answer.size(), kControlAnswerPartBytes);
    if (!control_answer_detail::SendPacket(fd, answer.data(), part)) return false;
    answer.remove_prefix(part);
  }
  return true;
}

// Receives one whole answer by `deadline`. On false, `error` says why and
// the connection is out of step: the caller closes it.
inline bool ReceiveControlAnswer(int fd, std::chrono::steady_clock::time_point deadline,
                                 std::string& answer, std::string& error) {
  using namespace control_answer_detail;
  answer.clear();
  ControlAnswerHeader header{};
  if (!AwaitPacket(fd, deadline)) {
    error = "no answer in time";
    return false;
  }
  const ssize_t headerSize = ReceivePacket(fd, &header, sizeof(header));
  if (headerSize <= 0) {
    error = headerSize == 0 ? "connection closed" : "receive failed";
    return false;
  }
  if (static_cast<std::size_t>(headerSize) != sizeof(header)) {
    error = "answer header of " + std::to_string(headerSize) + " bytes";
    return false;
  }
  const std::uint64_t length = DecodeControlAnswerHeader(header);
  if (length > kMaxControlAnswerBytes) {
    error = "answer of " + std::to_string(length) + " bytes announced";
    return false;
  }
  answer.reserve(static_cast<std::size_t>(length));
  std::vector<char> part(kControlAnswerPartBytes);
  const auto fail = [&](const std::string& why) {
    error = why + " after " + std::to_string(answer.size()) + " of " + std::to_string(length) +
            " bytes";
    return false;
  };
  while (answer.size() < length) {
    if (!AwaitPacket(fd, deadline)) return fail("answer stalled");
    const ssize_t got = ReceivePacket(fd, part.data(), part.size());
    if (got <= 0) return fail(got == 0 ? "connection closed" : "receive failed");
    const auto size = static_cast<std::size_t>(got);
    if (size > part.size() || size > length - answer.size()) {
      return fail("answer part of " + std::to_string(size) + " bytes");
    }
    answer.append(part.data(), size);
  }
  return true;
}

}  // namespace vantor::devhost

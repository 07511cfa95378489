// Answers of the control endpoint of any length arrive whole, a reader
// refuses any answer that does not, and a reader that stops reading does
// not keep the endpoint from stopping.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/devhost/clock.h"
#include "platform/devhost/control_answer.h"
#include "platform/devhost/control_endpoint.h"
#include "platform/devhost/control_words.h"
#include "platform/devhost/driver_host.h"

namespace vantor::devhost::testing {
namespace {

constexpr auto kAnswerDeadline = std::chrono::seconds(20);

// Text of `size` bytes in which every position differs from its
// neighbours, so a lost, doubled or swapped part shows.
std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 7 + i / 93) % 90);
  return text;
}

class ControlAnswerTest : public ::testing::Test {
 protected:
  ControlAnswerTest() {
    host_.AddControlCommand("pattern", [](std::string_view arguments) {
      std::size_t size = 0;
      return ParseControlNumber(arguments, size) ? Pattern(size) : std::string("error");
    });
    char folder[] = "/tmp/control-answer-XXXXXX";
    EXPECT_NE(::mkdtemp(folder), nullptr);
    folder_ = folder;
    std::string error;
    EXPECT_TRUE(endpoint_->Start(SocketPath(), error)) << error;
  }

  ~ControlAnswerTest() override {
    endpoint_->Stop();
    ::rmdir(folder_.c_str());
  }

  std::string SocketPath() const { return folder_ + "/devhost.control"; }

  int Connect() const {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = SocketPath();
    std::memcpy(address.sun_path, path.data(), path.size());
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return fd;
  }

  static std::string Command(int fd, const std::string& line) {
    EXPECT_EQ(::send(fd, line.data(), line.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(line.size()));
    std::string answer;
    std::string error;
    EXPECT_TRUE(
        ReceiveControlAnswer(fd, std::chrono::steady_clock::now() + kAnswerDeadline, answer, error))
        << error;
    return answer;
  }

  VirtualClock clock_;
  DriverHost host_{clock_};
  std::string folder_;
  std::unique_ptr<ControlEndpoint> endpoint_ = std::make_unique<ControlEndpoint>(host_, &clock_);
};

TEST_F(ControlAnswerTest, AnswersOfAnyLengthArriveWhole) {
  constexpr std::size_t kPart = kControlAnswerPartBytes;
  const std::size_t sizes[] = {0, 1, kPart - 1, kPart, kPart + 1, 3 * kPart + 5, 3u << 20};
  const int fd = Connect();
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string answer = Command(fd, "pattern " + std::to_string(size));
    EXPECT_EQ(answer.size(), size);
    EXPECT_TRUE(answer == Pattern(size));
    // The session stays in step with its client.
    EXPECT_EQ(Command(fd, "now"), "0");
  }
  ::close(fd);
}

TEST_F(ControlAnswerTest, StopsWhileAClientLeavesALargeAnswerUnread) {
  const int fd = Connect();
  const std::string line = "pattern " + std::to_string(8u << 20);
  ASSERT_EQ(::send(fd, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
  // The session is sending; it soon fills the socket and blocks on it,
  // and stopping must end it whichever it is doing.
  pollfd answering{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&answering, 1, static_cast<int>(kAnswerDeadline / std::chrono::milliseconds(1))),
            1);
  auto stopped = std::async(std::launch::async, [this] { endpoint_->Stop(); });
  EXPECT_EQ(stopped.wait_for(kAnswerDeadline), std::future_status::ready);
  ::close(fd);  // lets a stop that hung end before the test does
  stopped.wait();
}

// A reader of answers from a peer that breaks the framing.
TEST(ControlAnswerReaderTest, RefusesAnswersThatDoNotArriveWhole) {
  const ControlAnswerHeader tenBytes = EncodeControlAnswerHeader(10);
  const ControlAnswerHeader tooLong = EncodeControlAnswerHeader(kMaxControlAnswerBytes + 1);
  const auto bytes = [](const ControlAnswerHeader& header) {
    return std::string(reinterpret_cast<const char*>(&header), sizeof(header));
  };
  struct Case {
    const char* name;
    std::vector<std::string> packets;
    bool closeAfter;
    const char* why;
  };
  const Case cases[] = {
      {"closed before the header", {}, true, "connection closed"},
      {"short header", {"1234"}, true, "answer header of 4 bytes"},
      {"long header", {bytes(tenBytes) + "x"}, true, "answer header of 9 bytes"},
      {"length past the bound", {bytes(tooLong)}, true, "bytes announced"},
      {"closed within the text",
       {bytes(tenBytes), "12345"},
       true,
       "connection closed after 5 of 10 bytes"},
      {"part past the length",
       {bytes(tenBytes), "12345", "678901"},
       true,
       "answer part of 6 bytes after 5 of 10"},
      {"part past the part size",
       {bytes(EncodeControlAnswerHeader(kControlAnswerPartBytes + 1)),
        std::string(kControlAnswerPartBytes + 1, 'x')},
       true,
       "answer part of"},
      {"no answer", {}, false, "no answer in time"},
      {"stalled within the text",
       {bytes(tenBytes), "12345"},
       false,
       "answer stalled after 5 of 10 bytes"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    for (const std::string& packet : test.packets) {
      ASSERT_EQ(::send(ends[1], packet.data(), packet.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(packet.size()));
    }
    if (test.closeAfter) ::close(ends[1]);
    std::string answer;
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    EXPECT_FALSE(ReceiveControlAnswer(ends[0], deadline, answer, error));
    EXPECT_NE(error.find(test.why), std::string::npos) << error;
    ::close(ends[0]);
    if (!test.closeAfter) ::close(ends[1]);
  }
}

}  // namespace
}  // namespace vantor::devhost::testing

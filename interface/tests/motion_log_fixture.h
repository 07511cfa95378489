// The scripted kernel's log of motion and machine-function requests, and
// the answers and results scripted for them: what the tests of the exports
// that send those commands look into.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "interface/tests/fake_channel.h"

namespace linkora_test {

// Payload bytes that the scripted kernel logs per request.
constexpr std::size_t kLoggedPayload = 256;

// Little-endian bytes written independently of the library.
class Wire {
 public:
  Wire& U8(std::uint8_t value) { return Put(value, 1); }
  Wire& U16(std::uint16_t value) { return Put(value, 2); }
  Wire& U32(std::uint32_t value) { return Put(value, 4); }
  Wire& I64(std::int64_t value) { return Put(static_cast<std::uint64_t>(value), 8); }
  Wire& Zeros(std::size_t count) {
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // The bytes padded with zeros to the logged length.
  std::array<std::uint8_t, kLoggedPayload> Logged() const {
    std::array<std::uint8_t, kLoggedPayload> logged{};
    std::copy(bytes_.begin(), bytes_.begin() + std::min(bytes_.size(), kLoggedPayload),
              logged.begin());
    return logged;
  }

 private:
  Wire& Put(std::uint64_t value, int length) {
    for (int i = 0; i < length; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  std::vector<std::uint8_t> bytes_;
};

// A call and the one request it must send.
struct ExpectedRequest {
  const char* name;
  std::function<LinkoraStatus()> call;
  std::uint32_t code;
  Wire payload;
};

struct LoggedRequest {
  std::uint32_t code = 0;
  std::array<std::uint8_t, kLoggedPayload> payload{};
};

class MotionLogTest : public FakeChannelTest {
 protected:
  std::vector<LoggedRequest> Logged() const {
    std::vector<LoggedRequest> requests;
    std::ifstream in(Path("motion"), std::ios::binary);
    LoggedRequest request;
    while (in.read(reinterpret_cast<char*>(&request.code), 4) &&
           in.read(reinterpret_cast<char*>(request.payload.data()), kLoggedPayload)) {
      requests.push_back(request);
    }
    return requests;
  }
  void ForgetLogged() { std::filesystem::remove(Path("motion")); }
  // The bytes that answer every motion command from P+0 until changed.
  void ScriptAnswer(const Wire& answer) {
    std::ofstream(Path("answer"), std::ios::binary)
        .write(reinterpret_cast<const char*>(answer.bytes().data()),
               static_cast<std::streamsize>(answer.bytes().size()));
  }
  void ForgetAnswer() { std::filesystem::remove(Path("answer")); }
  // Each call succeeds with exactly its one request, payload byte for byte.
  void ExpectRequests(const std::vector<ExpectedRequest>& cases) {
    for (const ExpectedRequest& c : cases) {
      ForgetLogged();
      ASSERT_EQ(c.call(), LINKORA_SUCCESS) << c.name;
      const std::vector<LoggedRequest> logged = Logged();
      ASSERT_EQ(logged.size(), 1u) << c.name;
      EXPECT_EQ(logged[0].code, c.code) << c.name;
      EXPECT_EQ(logged[0].payload, c.payload.Logged()) << c.name;
    }
  }
  // Lines "<code> <hex result>", each used once.
  void ScriptResults(const std::string& lines) { std::ofstream(Path("results")) << lines; }
};

}  // namespace linkora_test

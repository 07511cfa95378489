#include "kernel/core/canopen/sdo_client.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/segmented_upload.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using testing::LoggedFrame;
using testing::RawRecord;
using testing::Rec;

constexpr std::uint8_t kReleased = 0;
constexpr std::uint8_t kSendOnceAndRelease = 16;
constexpr std::uint8_t kSingleReceive = 18;

class SdoFraming : public ::testing::Test {
 protected:
  SdoFraming() { exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess); }
  common::ExchangeBuffer exchange{};
  SdoRoute route{0x605, 3, 0x585, 4};
};

TEST(CobIdRules, ServiceBasesCarryTheNodeId) {
  EXPECT_EQ(MakeTpdoCobId(1, 5), 0x185);
  EXPECT_EQ(MakeTpdoCobId(4, 5), 0x485);
  EXPECT_EQ(MakeRpdoCobId(1, 0x7F), 0x27F);
  EXPECT_EQ(MakeRpdoCobId(2, 3), 0x303);
  EXPECT_EQ(MakeSdoResponseCobId(0x12), 0x592);
  EXPECT_EQ(MakeSdoRequestCobId(0x12), 0x612);
  EXPECT_EQ(MakeEmergencyCobId(1), 0x81);
  EXPECT_EQ(MakeHeartbeatCobId(127), 0x77F);
  // A PDO number outside 1..4 leaves the node argument as it is.
  EXPECT_EQ(MakeTpdoCobId(0, 9), 9);
  EXPECT_EQ(MakeRpdoCobId(5, 9), 9);
}

TEST_F(SdoFraming, ExpeditedDownloadBySize) {
  struct Case {
    std::uint8_t size;
    std::uint8_t specifier;
    std::uint8_t length;
  };
  // Sizes outside 1..4 go out with the four-byte specifier and the bytes
  // there are, never more than four.
  const Case cases[] = {{0, 0x23, 4}, {1, 0x2F, 5}, {2, 0x2B, 6},
                        {3, 0x27, 7}, {4, 0x23, 8}, {5, 0x23, 8}};
  const std::array<std::uint8_t, 6> value = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ASSERT_TRUE(BuildSdoDownload(exchange, nullptr, 0x6040, 2, route, c.size, value));
    RawRecord send{exchange, 3};
    EXPECT_EQ(send.Code(), kSendOnceAndRelease);
    EXPECT_EQ(send.Result(), 0);
    EXPECT_EQ(send.CobId(), 0x605);
    EXPECT_EQ(send.Length(), c.length);
    EXPECT_EQ(send.Data(0), c.specifier);
    EXPECT_EQ(send.Data(1), 0x40);
    EXPECT_EQ(send.Data(2), 0x60);
    EXPECT_EQ(send.Data(3), 2);
    for (std::size_t i = 4; i < 8; ++i) {
      EXPECT_EQ(send.Data(i), i < c.length ? value[i - 4] : 0) << "byte " << i;
    }
    RawRecord answer{exchange, 4};
    EXPECT_EQ(answer.Code(), kSingleReceive);
    EXPECT_EQ(answer.Result(), 2);
    EXPECT_EQ(answer.CobId(), 0x585);
  }
}

TEST_F(SdoFraming, UploadSegmentAndAbortFrames) {
  ASSERT_TRUE(BuildSdoUpload(exchange, nullptr, 0x1018, 4, route));
  EXPECT_EQ((Rec(exchange, 3).Frame()), (LoggedFrame{0x605, 4, {0x40, 0x18, 0x10, 4, 0, 0, 0, 0}}));

  for (const bool toggle : {false, true}) {
    ASSERT_TRUE(BuildSdoSegmentRequest(exchange, toggle, route));
    const std::uint8_t specifier = toggle ? 0x70 : 0x60;
    EXPECT_EQ((Rec(exchange, 3).Frame()),
              (LoggedFrame{0x605, 1, {specifier, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(Rec(exchange, 3).Code(), kSendOnceAndRelease);
  }

  ASSERT_TRUE(SendSdoAbort(exchange, 0x1008, 0, 0x605, 3));
  RawRecord abort{exchange, 3};
  EXPECT_EQ(abort.Code(), 2);
  EXPECT_EQ(abort.Result(), 1);
  EXPECT_EQ(abort.Frame(), (LoggedFrame{0x605, 8, {0x80, 0x08, 0x10, 0, 0x05, 0x00, 0x04, 0x05}}));
}

TEST_F(SdoFraming, ReceiveObjectWaitsWithItsOwnResult) {
  route.answerRecord = 15;
  ASSERT_TRUE(BuildSdoUpload(exchange, nullptr, 0x6041, 0, route));
  EXPECT_EQ(Rec(exchange, 15).Code(), kSingleReceive);
  EXPECT_EQ(Rec(exchange, 15).Result(), 0);
}

TEST_F(SdoFraming, RecordNumbersOutsideTheExchangeWriteNothing) {
  const common::ExchangeBuffer before = exchange;
  for (const SdoRoute bad : {SdoRoute{0x605, 0, 0x585, 4}, SdoRoute{0x605, 3, 0x585, 16}}) {
    EXPECT_FALSE(BuildSdoUpload(exchange, nullptr, 0x6041, 0, bad));
    EXPECT_FALSE(BuildSdoDownload(exchange, nullptr, 0x6040, 0, bad, 2, {}));
  }
  EXPECT_FALSE(WriteSendOnceRecord(exchange, CanFrame{}, 16));
  EXPECT_TRUE(exchange == before);
}

TEST_F(SdoFraming, InitiateClearsTheRetryCountOfTheAnsweringNode) {
  testing::TestNodes nodes({5});
  nodes[0].request.retryCount = 2;
  ASSERT_TRUE(BuildSdoSegmentRequest(exchange, false, RouteOf(nodes[0])));
  EXPECT_EQ(nodes[0].request.retryCount, 2);
  ASSERT_TRUE(BuildSdoUpload(exchange, &nodes.table, 0x6041, 0, RouteOf(nodes[0])));
  EXPECT_EQ(nodes[0].request.retryCount, 0);
}

// ---- The response check ---------------------------------------------------------------

enum class Kind { Download, Upload };
enum class Echo { Same, Zero, Other };

struct ResponseCase {
  std::string name;
  Kind kind;
  std::uint32_t record;  // 4 or 15
  std::uint8_t state;    // the record's result byte
  Echo echo;
  std::uint8_t specifier;                    // answer byte 0
  std::uint8_t length;                       // answer data length code
  std::uint8_t expectedSize;                 // uploads
  std::optional<common::StatusCode> result;  // nothing: still pending
};

void PrintTo(const ResponseCase& value, std::ostream* out) { *out << value.name; }

class ResponseCheck : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseCheck, Outcome) {
  const ResponseCase& c = GetParam();
  common::ExchangeBuffer exchange{};
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  RawRecord answer{exchange, c.record};
  LoggedFrame frame{0x585, c.length, {c.specifier, 0x41, 0x60, 0, 0x34, 0x12, 0x00, 0x00}};
  if (c.echo == Echo::Zero) frame.data[1] = frame.data[2] = frame.data[3] = 0;
  if (c.echo == Echo::Other) frame.data[3] = 1;
  answer.Deliver(frame, c.state);

  std::array<std::uint8_t, 4> data = {0xAA, 0xAA, 0xAA, 0xAA};
  std::int32_t countdown = 5;
  common::StatusCode result = 0;
  const SdoExpectation expected{c.kind == Kind::Download, 0x6041, 0, c.record, c.expectedSize};
  const CheckState state = CheckSdoResponse(exchange, expected, countdown, result, data);
  EXPECT_EQ(countdown, 4);
  if (!c.result) {
    EXPECT_EQ(state, CheckState::Pending);
    return;
  }
  ASSERT_EQ(state, CheckState::Done);
  EXPECT_EQ(result, *c.result);
  if (*c.result == common::kKernelSuccess && c.kind == Kind::Upload) {
    EXPECT_EQ(data[0], 0x34);
    EXPECT_EQ(data[1], c.expectedSize >= 2 ? 0x12 : 0xAA);
  }
}

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr common::StatusCode kBad = common::kKernelCanMessageInvalid;

INSTANTIATE_TEST_SUITE_P(
    Matrix, ResponseCheck,
    ::testing::Values(
        ResponseCase{"DownloadAnswered", Kind::Download, 4, 0, Echo::Same, 0x60, 8, 0, kOk},
        ResponseCase{"DownloadShortAnswer", Kind::Download, 4, 0, Echo::Same, 0x60, 4, 0, kOk},
        ResponseCase{"DownloadWildcardEcho", Kind::Download, 4, 0, Echo::Zero, 0x60, 8, 0, kOk},
        ResponseCase{"DownloadOtherObject", Kind::Download, 4, 0, Echo::Other, 0x60, 8, 0, kBad},
        ResponseCase{"DownloadWrongSpecifier", Kind::Download, 4, 0, Echo::Same, 0x61, 8, 0, kBad},
        ResponseCase{"DownloadAborted", Kind::Download, 4, 0, Echo::Same, 0x80, 8, 0, kBad},
        ResponseCase{"DownloadRecord15Waiting", Kind::Download, 15, 0, Echo::Same, 0x60, 8, 0,
                     std::nullopt},
        ResponseCase{"DownloadRecord15Received", Kind::Download, 15, 1, Echo::Same, 0x60, 8, 0,
                     kOk},
        ResponseCase{"DownloadRecord15Lost", Kind::Download, 15, 3, Echo::Same, 0x60, 8, 0, kBad},
        ResponseCase{"Waiting", Kind::Upload, 4, 2, Echo::Same, 0x4B, 8, 2, std::nullopt},
        ResponseCase{"ControllerError", Kind::Upload, 4, 5, Echo::Same, 0x4B, 8, 2, kBad},
        ResponseCase{"UploadTwoBytesFull", Kind::Upload, 4, 0, Echo::Same, 0x4B, 8, 2, kOk},
        ResponseCase{"UploadTwoBytesShort", Kind::Upload, 4, 0, Echo::Same, 0x4B, 6, 2, kOk},
        ResponseCase{"UploadOneByteShort", Kind::Upload, 4, 0, Echo::Same, 0x4F, 5, 1, kOk},
        ResponseCase{"UploadOneByteFull", Kind::Upload, 4, 0, Echo::Same, 0x4F, 8, 1, kOk},
        ResponseCase{"UploadTooShortForData", Kind::Upload, 4, 0, Echo::Same, 0x4B, 5, 2, kBad},
        ResponseCase{"UploadSizeDiffers", Kind::Upload, 4, 0, Echo::Same, 0x4F, 8, 2, kBad},
        ResponseCase{"UploadWithoutSize", Kind::Upload, 4, 0, Echo::Same, 0x42, 8, 4, kBad},
        ResponseCase{"UploadSegmented", Kind::Upload, 4, 0, Echo::Same, 0x41, 8, 4, kBad},
        ResponseCase{"UploadToggleBitSet", Kind::Upload, 4, 0, Echo::Same, 0x5B, 8, 2, kBad},
        ResponseCase{"UploadDownloadAnswer", Kind::Upload, 4, 0, Echo::Same, 0x60, 8, 2, kBad},
        ResponseCase{"UploadOtherObject", Kind::Upload, 4, 0, Echo::Other, 0x4B, 8, 2, kBad},
        ResponseCase{"UploadWildcardEcho", Kind::Upload, 4, 0, Echo::Zero, 0x4B, 8, 2, kOk},
        ResponseCase{"UploadLengthBeyondEight", Kind::Upload, 4, 0, Echo::Same, 0x4B, 9, 2, kBad},
        ResponseCase{"UploadRecord15", Kind::Upload, 15, 1, Echo::Same, 0x43, 8, 4, kOk},
        ResponseCase{"UploadRecord15Waiting", Kind::Upload, 15, 0, Echo::Same, 0x43, 8, 4,
                     std::nullopt},
        ResponseCase{"UploadRecords1To14IgnoreResult1", Kind::Upload, 4, 1, Echo::Same, 0x43, 8, 4,
                     kBad}),
    [](const ::testing::TestParamInfo<ResponseCase>& info) { return info.param.name; });

TEST(ResponseCheckEnds, DriverFaultPassesOnAndReleases) {
  common::ExchangeBuffer exchange{};
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverBusOff);
  RawRecord answer{exchange, 4};
  answer.SetCode(kSingleReceive);
  answer.SetResult(2);
  std::int32_t countdown = 5;
  common::StatusCode result = 0;
  EXPECT_EQ(CheckSdoResponse(exchange, {true, 0x6040, 0, 4, 0}, countdown, result, {}),
            CheckState::Done);
  EXPECT_EQ(result, common::kDriverBusOff);
  EXPECT_EQ(answer.Code(), kReleased);
}

TEST(ResponseCheckEnds, SilenceTimesOutWhenTheCountdownRunsOut) {
  common::ExchangeBuffer exchange{};
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  RawRecord answer{exchange, 4};
  answer.SetCode(kSingleReceive);
  answer.SetResult(2);
  std::int32_t countdown = 3;
  common::StatusCode result = 0;
  const SdoExpectation expected{true, 0x6040, 0, 4, 0};
  EXPECT_EQ(CheckSdoResponse(exchange, expected, countdown, result, {}), CheckState::Pending);
  EXPECT_EQ(CheckSdoResponse(exchange, expected, countdown, result, {}), CheckState::Pending);
  EXPECT_EQ(CheckSdoResponse(exchange, expected, countdown, result, {}), CheckState::Done);
  EXPECT_EQ(result, common::kKernelCanMessageTimeout);
  EXPECT_EQ(answer.Code(), kReleased);
}

TEST(ResponseCheckEnds, MissingObjectAbortMarksTheBuffer) {
  for (const std::uint32_t code : {0x06020000u, 0x06090011u, 0x08000000u}) {
    SCOPED_TRACE(code);
    common::ExchangeBuffer exchange{};
    exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
    Rec(exchange, 4)
        .Deliver(LoggedFrame{0x585,
                             8,
                             {0x80, 0x41, 0x60, 0, static_cast<std::uint8_t>(code),
                              static_cast<std::uint8_t>(code >> 8),
                              static_cast<std::uint8_t>(code >> 16),
                              static_cast<std::uint8_t>(code >> 24)}},
                 0);
    std::array<std::uint8_t, 4> data{};
    std::int32_t countdown = 5;
    common::StatusCode result = 0;
    CheckSdoResponse(exchange, {false, 0x6041, 0, 4, 2}, countdown, result, data);
    EXPECT_EQ(result, common::kKernelCanMessageInvalid);
    EXPECT_EQ(data[0], code == 0x08000000u ? 0 : 1);
  }
}

// ---- Retry -----------------------------------------------------------------------------------

class SdoRetry : public ::testing::Test {
 protected:
  SdoRetry() : nodes({5}), host(nodes.table, bus) {}

  // Runs the upload step cycle by cycle until done.
  common::StatusCode UploadOnce() {
    NodeObject& node = nodes[0];
    node.requestRecord.Set(sdo_request::kIndex, 0x6041);
    node.requestRecord.Set(sdo_request::kSize, 2);
    ArmNodeRequest(node, [](CycleContext& cycle, std::uint32_t number) {
      NodeObject& n = *cycle.nodes.ByNumber(number);
      if (n.request.step == 1) {
        ASSERT_TRUE(BuildSdoUpload(cycle.exchange, &cycle.nodes, 0x6041, 0, RouteOf(n)));
        n.request.countdown = n.countdownReload;
        n.request.step = 2;
        return;
      }
      std::span<std::uint8_t> value = n.requestRecord.MutableBytes().first(4);
      if (CheckSdoResponseWithRetry(cycle.exchange, cycle.nodes,
                                    {false, 0x6041, 0, n.answerRecord, 2}, n.request.countdown,
                                    n.request.requestResult, value) == CheckState::Done) {
        FinishNodeRequest(n);
      }
    });
    std::array<CompletionSignal*, 1> signal = {nodes.signals[0].get()};
    host.WaitForAll(signal);
    return nodes[0].request.requestResult;
  }

  testing::TestNodes nodes;
  testing::FakeBus bus;
  testing::FakeHost host;
};

TEST_F(SdoRetry, ThreeSilentAnswersGiveThreeSendsThenTimeOut) {
  testing::SdoServer server(5);
  server.silent = true;
  bus.Attach(server);
  EXPECT_EQ(UploadOnce(), common::kKernelCanMessageTimeout);
  EXPECT_EQ(bus.frames.size(), 3u);
  for (const LoggedFrame& frame : bus.frames) {
    EXPECT_EQ(frame, (LoggedFrame{0x605, 4, {0x40, 0x41, 0x60, 0, 0, 0, 0, 0}}));
  }
  EXPECT_EQ(nodes[0].request.retryCount, 0);
  // Each send waits its full countdown of answer time-out over cycle time + 1.
  EXPECT_EQ(host.cycles, 3 * nodes[0].countdownReload + 1);
}

TEST_F(SdoRetry, MissingObjectIsNotAskedAgain) {
  testing::SdoServer server(5);
  bus.Attach(server);
  EXPECT_EQ(UploadOnce(), common::kKernelCanMessageInvalid);
  EXPECT_EQ(bus.frames.size(), 1u);
  EXPECT_EQ(nodes[0].requestRecord.Get(sdo_request::kObjectMissing), 1);
}

TEST_F(SdoRetry, RefusedAnswerIsAskedAgainAndMaySucceed) {
  testing::SdoServer server(5);
  server.Define(0x6041, 0, 2, 0x0237);
  server.ignoreRequests = 1;
  bus.Attach(server);
  EXPECT_EQ(UploadOnce(), common::kKernelSuccess);
  EXPECT_EQ(bus.frames.size(), 2u);
  EXPECT_EQ(nodes[0].requestRecord.Get(sdo_request::kValue), 0x0237u);
}

// ---- Frame checks ----------------------------------------------------------------------------

TEST(FrameSent, ReportWinsOverTheLastCycleOfTheCountdown) {
  struct Case {
    std::uint8_t driverResult;
    std::int32_t countdown;
    std::optional<common::StatusCode> result;
  };
  const Case cases[] = {
      {0, 1, kOk},                               // sent as the time runs out
      {1, 2, std::nullopt},                      // still pending, time left
      {1, 1, common::kKernelCanMessageTimeout},  // pending, time gone
      {5, 3, kBad},                              // controller error
  };
  for (const Case& c : cases) {
    common::ExchangeBuffer exchange{};
    exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
    RawRecord record{exchange, 3};
    record.SetCode(3);
    record.SetResult(c.driverResult);
    std::int32_t countdown = c.countdown;
    common::StatusCode result = 0;
    const CheckState state = CheckFrameSent(exchange, 3, countdown, result);
    if (!c.result) {
      EXPECT_EQ(state, CheckState::Pending);
      continue;
    }
    EXPECT_EQ(state, CheckState::Done);
    EXPECT_EQ(result, *c.result);
    EXPECT_EQ(record.Code(), kReleased);
  }
}

TEST(FrameReceived, LengthMustMatchAndDataComesOut) {
  common::ExchangeBuffer exchange{};
  exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  ASSERT_TRUE(ArmFrameReception(exchange, 0x705, 6));
  EXPECT_EQ(Rec(exchange, 6).Code(), 20);
  EXPECT_EQ(Rec(exchange, 6).Result(), 2);
  std::int32_t countdown = 4;
  common::StatusCode result = 0;
  std::array<std::uint8_t, 1> data{};
  EXPECT_EQ(CheckFrameReceived(exchange, 6, 1, countdown, result, data), CheckState::Pending);
  Rec(exchange, 6).Deliver(LoggedFrame{0x705, 1, {0x85}}, 0);
  EXPECT_EQ(CheckFrameReceived(exchange, 6, 1, countdown, result, data), CheckState::Done);
  EXPECT_EQ(result, kOk);
  EXPECT_EQ(data[0], 0x85);

  Rec(exchange, 6).Deliver(LoggedFrame{0x705, 2, {0x85, 1}}, 0);
  EXPECT_EQ(CheckFrameReceived(exchange, 6, 1, countdown, result, data), CheckState::Done);
  EXPECT_EQ(result, kBad);
  EXPECT_EQ(Rec(exchange, 6).Code(), kReleased);
}

TEST(SegmentCheck, SegmentFramesAreCheckedBeforeTheirBytesAreTaken) {
  struct Case {
    const char* name;
    std::uint8_t specifier;
    std::uint8_t length;
    bool toggle;
    std::uint32_t remaining;
    common::StatusCode result;
    std::uint8_t count;
  };
  const Case cases[] = {
      {"full segment", 0x00, 8, false, 20, kOk, 7},
      {"last, three bytes", 0x19, 8, true, 3, kOk, 3},
      {"last, short length", 0x07, 5, false, 3, kOk, 4},
      {"claims more than its length", 0x01, 5, false, 9, kBad, 0},
      {"toggle not alternated", 0x10, 8, false, 20, kBad, 0},
      {"not a segment", 0x20, 8, false, 20, kBad, 0},
      {"more than remains", 0x00, 8, false, 7, kBad, 0},
      {"no bytes", 0x0E, 8, false, 20, kBad, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    common::ExchangeBuffer exchange{};
    exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
    Rec(exchange, 4).Deliver(LoggedFrame{0x585, c.length, {c.specifier, 1, 2, 3, 4, 5, 6, 7}}, 0);
    std::array<std::uint8_t, 16> buffer{};
    std::int32_t countdown = 3;
    common::StatusCode result = 0;
    SegmentAnswer answer;
    EXPECT_EQ(CheckSdoSegmentResponse(exchange, c.toggle, c.remaining, 4, countdown, result, answer,
                                      buffer, 2),
              SegmentState::Done);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(answer.count, c.count);
    if (c.result == kOk) {
      EXPECT_EQ(buffer[2], 1);
      EXPECT_EQ(buffer[1 + c.count], c.count);
      EXPECT_EQ(buffer[2 + c.count], 0);
    }
  }
}

// ---- Segmented upload ------------------------------------------------------------------------

// A server that answers a segmented upload of `text` from a script; each
// segment frame may be spoiled by the test.
class SegmentedServer {
 public:
  explicit SegmentedServer(std::string text) : text_(std::move(text)) {}

  std::optional<LoggedFrame> Answer(const LoggedFrame& request) {
    const std::uint8_t command = request.data[0] & 0xE0;
    if (command == 0x40) {
      sent_ = 0;
      segment_ = 0;
      const auto size = announced.value_or(static_cast<std::uint32_t>(text_.size()));
      return LoggedFrame{
          0x585,
          8,
          {0x41, request.data[1], request.data[2], request.data[3], static_cast<std::uint8_t>(size),
           static_cast<std::uint8_t>(size >> 8), 0, 0}};
    }
    if (command != 0x60) return std::nullopt;
    const bool toggle = (request.data[0] & 0x10) != 0;
    const std::size_t count = std::min<std::size_t>(7, text_.size() - sent_);
    const bool last = sent_ + count == text_.size();
    LoggedFrame frame{0x585, 8, {}};
    frame.data[0] = static_cast<std::uint8_t>((toggle != flipToggleAt(segment_) ? 0x10 : 0) |
                                              ((7 - count) << 1) | (last ? 1 : 0));
    for (std::size_t i = 0; i < count; ++i)
      frame.data[1 + i] = static_cast<std::uint8_t>(text_[sent_ + i]);
    sent_ += count;
    ++segment_;
    return frame;
  }

  std::function<bool(int)> flipToggleAt = [](int) { return false; };
  std::optional<std::uint32_t> announced;

 private:
  std::string text_;
  std::size_t sent_ = 0;
  int segment_ = 0;
};

class SegmentedUploadTest : public ::testing::Test {
 protected:
  SegmentedUploadTest() : nodes({5}) {
    exchange.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  }

  // Runs the transfer; the server answers every request frame at once.
  common::StatusCode Run(SegmentedServer& server, std::span<std::uint8_t> buffer) {
    NodeObject& node = nodes[0];
    CycleContext cycle{exchange, nodes.table, 1000};
    SegmentedUpload upload;
    if (!upload.Start(cycle, node, 0x1008, 0, buffer)) return node.request.requestResult;
    for (int i = 0; i < 200; ++i) {
      RawRecord send{exchange, 1};
      if (send.Code() == 16 || (send.Code() == 2 && send.Result() == 1)) {
        frames.push_back(send.Frame());
        if (send.Code() == 2) {
          send.SetCode(3);
          send.SetResult(0);
        } else {
          send.SetCode(0);
          if (auto answer = server.Answer(send.Frame())) {
            Rec(exchange, 2).Deliver(*answer, 0);
          }
        }
      }
      if (upload.Step(cycle, node) == CheckState::Done) {
        received = upload.Received();
        return node.request.requestResult;
      }
    }
    ADD_FAILURE() << "the transfer did not end";
    return 0;
  }

  testing::TestNodes nodes;
  common::ExchangeBuffer exchange{};
  std::vector<LoggedFrame> frames;
  std::size_t received = 0;
};

TEST_F(SegmentedUploadTest, ReadsATextInSegmentsWithAlternatingToggle) {
  SegmentedServer server("Drive 4711 firmware 2.3");
  std::array<std::uint8_t, 49> buffer{};
  EXPECT_EQ(Run(server, buffer), kOk);
  EXPECT_EQ(received, 23u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 23), "Drive 4711 firmware 2.3");
  ASSERT_EQ(frames.size(), 5u);  // initiate and four segment requests
  EXPECT_EQ(frames[1].data[0], 0x60);
  EXPECT_EQ(frames[2].data[0], 0x70);
  EXPECT_EQ(frames[3].data[0], 0x60);
  EXPECT_EQ(frames[4].data[0], 0x70);
}

TEST_F(SegmentedUploadTest, ToggleErrorSendsTheAbort) {
  SegmentedServer server(std::string(30, 'x'));
  server.flipToggleAt = [](int segment) { return segment == 1; };
  std::array<std::uint8_t, 49> buffer{};
  EXPECT_EQ(Run(server, buffer), kBad);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames.back(), (LoggedFrame{0x605, 8, {0x80, 0x08, 0x10, 0, 0x00, 0x00, 0x03, 0x05}}));
  EXPECT_EQ(Rec(exchange, 2).Code(), kReleased);
}

TEST_F(SegmentedUploadTest, FortyNineBytesFillTheIdentificationBuffer) {
  SegmentedServer server(std::string(49, 'i'));
  std::array<std::uint8_t, 49> buffer{};
  EXPECT_EQ(Run(server, buffer), kOk);
  EXPECT_EQ(received, 49u);
  EXPECT_EQ(buffer[48], 'i');
}

TEST_F(SegmentedUploadTest, AnnouncedSizeBeyondTheBufferSendsTheAbort) {
  SegmentedServer server(std::string(56, 'y'));
  std::array<std::uint8_t, 49> buffer{};
  EXPECT_EQ(Run(server, buffer), kBad);
  ASSERT_EQ(frames.size(), 2u);  // the initiate, then at once the abort
  EXPECT_EQ(frames.back(), (LoggedFrame{0x605, 8, {0x80, 0x08, 0x10, 0, 0x05, 0x00, 0x04, 0x05}}));
}

TEST_F(SegmentedUploadTest, SegmentsBeyondTheBufferSendTheAbortAndStayOutside) {
  struct Case {
    std::uint32_t announced;
    std::size_t sent;
    std::size_t buffer;
  };
  // More segments than announced; a last segment longer than the room left.
  for (const Case c : {Case{49, 56, 49}, Case{45, 49, 45}}) {
    SCOPED_TRACE(c.announced);
    SegmentedServer server(std::string(c.sent, 'y'));
    server.announced = c.announced;
    std::array<std::uint8_t, 64> guarded{};
    frames.clear();
    EXPECT_EQ(Run(server, std::span<std::uint8_t>(guarded.data(), c.buffer)), kBad);
    for (std::size_t i = c.buffer; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0) << i;
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().data[0], 0x80);
    EXPECT_EQ(frames.back().data[1], 0x08);
    EXPECT_EQ(frames.back().data[2], 0x10);
  }
}

}  // namespace
}  // namespace vantor::canopen

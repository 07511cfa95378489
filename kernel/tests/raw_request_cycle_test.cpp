// The raw CAN requests of the SDO area as the running cycle carries them to
// the scripted bus and back.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/tests/driver_link_fixture.h"

namespace vantor::kernel::testing {
namespace {

using namespace std::chrono_literals;

struct RawCase {
  const char* name;
  std::uint16_t cobId;
  std::vector<std::uint8_t> data;
  std::uint16_t answerCobId;
  // The scripted node: answers frames on `nodeListensOn` (0: silent).
  std::uint16_t nodeListensOn;
  std::uint16_t nodeAnswersOn;
  std::vector<std::uint8_t> nodeAnswer;
  common::StatusCode driverStatus;
  common::StatusCode expected;
  std::vector<std::uint8_t> expectedAnswer;
  BusFrame expectedFrame;
};

void PrintTo(const RawCase& c, std::ostream* out) { *out << c.name; }

class RawRequestCycleTest : public DriverLinkFixture,
                            public ::testing::WithParamInterface<RawCase> {
 protected:
  // What the server thread does when it hands a request over.
  void HandOver(const RawCase& c, std::uint32_t timeoutMicroseconds) {
    request_.completion.Set();
    request_.ClearRequest();
    request_.cobId = c.cobId;
    request_.length = static_cast<std::uint8_t>(c.data.size());
    std::copy(c.data.begin(), c.data.end(), request_.data.begin());
    request_.answerCobId = (c.cobId != 0 && !c.data.empty()) ? c.answerCobId : 0;
    request_.timeoutMicroseconds = timeoutMicroseconds;
    request_.microsecondsLeft = static_cast<std::int32_t>(timeoutMicroseconds);
    request_.completion.Reset();
  }
};

constexpr std::uint32_t kCycleMicroseconds = 2560;

TEST_P(RawRequestCycleTest, EndsWithTheAnswerOrTheReason) {
  const RawCase& c = GetParam();
  if (c.nodeListensOn != 0) driver().AnswerFrame(c.nodeListensOn, c.nodeAnswersOn, c.nodeAnswer);
  driver().SetCycleMicroseconds(kCycleMicroseconds);
  ASSERT_EQ(Open(), common::kKernelSuccess);
  driver().SetExchangeStatus(c.driverStatus);

  HandOver(c, 4 * kCycleMicroseconds);
  ASSERT_TRUE(os::WaitForOne(request_.completion, 10000).acquired());

  EXPECT_EQ(request_.result, c.expected);
  EXPECT_EQ(request_.busy, 0u);
  EXPECT_EQ(request_.sendRecord, 0);
  EXPECT_EQ(request_.answerRecord, 0);
  if (c.expected == common::kKernelSuccess) {
    ASSERT_EQ(request_.answerLength, c.expectedAnswer.size());
    EXPECT_TRUE(
        std::equal(c.expectedAnswer.begin(), c.expectedAnswer.end(), request_.answerData.begin()));
  }
  if (c.expected == common::kKernelCanMessageTimeout) {
    // Counted down by the driver's cycle time until nothing was left.
    EXPECT_LE(request_.microsecondsLeft, 0);
    EXPECT_GT(request_.microsecondsLeft, -static_cast<std::int32_t>(kCycleMicroseconds));
  }
  if (c.driverStatus == common::kDriverSuccess) {
    const auto frames = driver().SentFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], c.expectedFrame);
  }
}

const std::vector<std::uint8_t> kUpload = {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0};
const std::vector<std::uint8_t> kUploadAnswer = {0x43, 0x00, 0x10, 0x00, 0x92, 0x01, 0x02, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Requests, RawRequestCycleTest,
    ::testing::Values(RawCase{"sdo_upload_answered_in_record_15", 0x601, kUpload, 0x581, 0x601,
                              0x581, kUploadAnswer, common::kDriverSuccess, common::kKernelSuccess,
                              kUploadAnswer,
                              BusFrame{14, 0x601, 8, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, false}},
                      RawCase{"nmt_reset_communication_of_all_nodes",
                              0,
                              {0x81, 0x00},
                              0x581,
                              0,
                              0,
                              {},
                              common::kDriverSuccess,
                              common::kKernelSuccess,
                              {},
                              BusFrame{14, 0, 2, {0x81, 0x00}, false}},
                      RawCase{"remote_request_answered",
                              0x701,
                              {},
                              0x581,
                              0x701,
                              0x701,
                              {0x05},
                              common::kDriverSuccess,
                              common::kKernelSuccess,
                              {0x05},
                              BusFrame{14, 0x701, 0, {}, true}},
                      RawCase{"silent_node",
                              0x602,
                              kUpload,
                              0x582,
                              0,
                              0,
                              {},
                              common::kDriverSuccess,
                              common::kKernelCanMessageTimeout,
                              {},
                              BusFrame{14, 0x602, 8, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, false}},
                      RawCase{"silent_remote_request",
                              0x702,
                              {},
                              0,
                              0,
                              0,
                              {},
                              common::kDriverSuccess,
                              common::kKernelCanMessageTimeout,
                              {},
                              BusFrame{14, 0x702, 0, {}, true}},
                      RawCase{"driver_error",
                              0x601,
                              kUpload,
                              0x581,
                              0x601,
                              0x581,
                              kUploadAnswer,
                              common::kDriverBusOff,
                              common::kDriverBusOff,
                              {},
                              BusFrame{}}),
    [](const ::testing::TestParamInfo<RawCase>& info) { return info.param.name; });

TEST_F(DriverLinkFixture, StalledExchangeLeavesAPendingRawRequestToTheServerThread) {
  StartSettings settings;
  // Long enough that a paced driver the loaded machine keeps waiting does
  // not end the cycle before the stall.
  settings.exchangeTimeoutMs = 1000;
  ASSERT_EQ(Open(settings), common::kKernelSuccess);
  request_.completion.Set();
  request_.ClearRequest();
  request_.cobId = 0x603;
  request_.length = 8;
  request_.answerCobId = 0x583;
  request_.timeoutMicroseconds = 60'000'000;
  request_.microsecondsLeft = 60'000'000;
  request_.completion.Reset();
  ASSERT_TRUE(Eventually([&] { return !driver().SentFrames().empty(); }));
  driver().Stall(true);

  // The cycle ends long before the request's own time-out; the server
  // thread sees the ended thread and answers the area at once.
  ASSERT_TRUE(CycleEnds());
  EXPECT_EQ(driver().Aborts(), 1);
  EXPECT_EQ(os::WaitForOne(request_.completion, 0).kind, os::WaitKind::Timeout);
}

}  // namespace
}  // namespace vantor::kernel::testing

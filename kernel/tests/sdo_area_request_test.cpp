#include "kernel/services/sdo_area_request.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace vantor::kernel {
namespace {

using common::Channel;
namespace cb = common::communication_block;

SdoAreaRequest Frame(std::uint16_t cobId, std::uint8_t length, std::uint8_t byte0 = 0,
                     std::uint8_t byte1 = 0) {
  SdoAreaRequest request;
  request.cobId = cobId;
  request.length = length;
  request.data[0] = byte0;
  request.data[1] = byte1;
  return request;
}

struct SdoCheckCase {
  const char* name;
  Channel channel;
  bool cycleRunning;
  SdoAreaRequest request;
  common::StatusCode expected;
};

class CheckSdoAreaRequestTest : public testing::TestWithParam<SdoCheckCase> {};

TEST_P(CheckSdoAreaRequestTest, RefusesInOrder) {
  const auto& c = GetParam();
  EXPECT_EQ(CheckSdoAreaRequest(c.channel, c.cycleRunning, c.request), c.expected) << c.name;
}

constexpr auto kOk = common::kKernelSuccess;
constexpr auto kInvalid = common::kKernelCanMessageInvalid;

INSTANTIATE_TEST_SUITE_P(
    NmtAndFrames, CheckSdoAreaRequestTest,
    testing::Values(
        // Channel and cycle come before any look at the frame.
        SdoCheckCase{"NoCan", Channel::NoCan, true, Frame(0, 2, 0x81, 0),
                     common::kKernelCanOperationInactive},
        SdoCheckCase{"NoCan with a bad frame", Channel::NoCan, false, Frame(0, 3, 0x03, 200),
                     common::kKernelCanOperationInactive},
        SdoCheckCase{"no cycle", Channel::CanOne, false, Frame(0, 2, 0x81, 0),
                     common::kDriverNoController},
        SdoCheckCase{"no cycle with a bad frame", Channel::CanOne, false, Frame(0, 2, 0x03, 1),
                     common::kDriverNoController},
        // NMT commands an application may send.
        SdoCheckCase{"start all", Channel::CanOne, true, Frame(0, 2, 0x01, 0), kOk},
        SdoCheckCase{"stop node 5", Channel::CanOne, true, Frame(0, 2, 0x02, 5), kOk},
        SdoCheckCase{"pre-operational", Channel::CanOne, true, Frame(0, 2, 0x80, 1), kOk},
        SdoCheckCase{"reset node", Channel::CanTwo, true, Frame(0, 2, 0x81, 127), kOk},
        SdoCheckCase{"reset communication all", Channel::CanFour, true, Frame(0, 2, 0x82, 0), kOk},
        // NMT commands refused.
        SdoCheckCase{"unknown command 0x03", Channel::CanOne, true, Frame(0, 2, 0x03, 1), kInvalid},
        SdoCheckCase{"command 0x00", Channel::CanOne, true, Frame(0, 2, 0x00, 1), kInvalid},
        SdoCheckCase{"node id 128", Channel::CanOne, true, Frame(0, 2, 0x01, 128), kInvalid},
        SdoCheckCase{"node id 255", Channel::CanOne, true, Frame(0, 2, 0x01, 255), kInvalid},
        SdoCheckCase{"length 1", Channel::CanOne, true, Frame(0, 1, 0x01, 0), kInvalid},
        SdoCheckCase{"length 0", Channel::CanOne, true, Frame(0, 0, 0x01, 0), kInvalid},
        SdoCheckCase{"length 3", Channel::CanOne, true, Frame(0, 3, 0x01, 0), kInvalid},
        // Frames that CAN can carry, and those it cannot.
        SdoCheckCase{"SDO upload", Channel::CanOne, true, Frame(0x601, 8, 0x40, 0x00), kOk},
        SdoCheckCase{"remote request", Channel::CanOne, true, Frame(0x701, 0), kOk},
        SdoCheckCase{"highest identifier", Channel::CanOne, true, Frame(0x7FF, 1), kOk},
        SdoCheckCase{"identifier above 11 bits", Channel::CanOne, true, Frame(0x800, 1), kInvalid},
        SdoCheckCase{"length 9", Channel::CanOne, true, Frame(0x601, 9), kInvalid},
        SdoCheckCase{"length 255", Channel::CanOne, true, Frame(0x601, 255), kInvalid}),
    [](const testing::TestParamInfo<SdoCheckCase>& info) {
      std::string name = info.param.name;
      for (auto& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(CheckSdoAreaRequestTest, RefusesAnAnswerIdentifierAbove11Bits) {
  auto request = Frame(0x601, 8, 0x40);
  request.answerCobId = 0x581;
  EXPECT_EQ(CheckSdoAreaRequest(Channel::CanOne, true, request), kOk);
  request.answerCobId = 0xFFFF;
  EXPECT_EQ(CheckSdoAreaRequest(Channel::CanOne, true, request), kInvalid);
}

TEST(ReadSdoAreaRequestTest, TakesEveryFieldFromItsOffset) {
  common::CommunicationBlockRecord block;
  block.Set(cb::kSdoRequestCobId, 0x605);
  const std::uint8_t data[8] = {0x40, 0x41, 0x60, 0x00, 1, 2, 3, 4};
  ASSERT_TRUE(block.CopyIn(cb::kSdoRequestData.kOffset, data));
  block.Set(cb::kSdoRequestLength, 8);
  block.Set(cb::kSdoAnswerCobId, 0x585);
  block.Set(cb::kSdoTimeoutMicroseconds, 250000);

  const auto request = ReadSdoAreaRequest(block.View());
  EXPECT_EQ(request.cobId, 0x605);
  EXPECT_EQ(request.data[0], 0x40);
  EXPECT_EQ(request.data[7], 4);
  EXPECT_EQ(request.length, 8);
  EXPECT_EQ(request.answerCobId, 0x585);
  EXPECT_EQ(request.timeoutMicroseconds, 250000u);
  EXPECT_FALSE(request.IsNmtCommand());
}

}  // namespace
}  // namespace vantor::kernel

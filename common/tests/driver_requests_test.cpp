#include "common/driver_requests.h"

#include <gtest/gtest.h>

#include <set>

namespace vantor::common {
namespace {

// The control codes as the driver interface documents them, next to the
// formula CTL_CODE(0x22, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
TEST(DriverRequestsTest, ControlCodesFollowTheFormula) {
  struct Case {
    std::uint32_t function;
    std::uint32_t code;
    std::uint32_t documented;
  };
  const Case cases[] = {
      {0x801, IOCTL_CAN_CLAIM, 0x222004},
      {0x802, IOCTL_CAN_RELEASE, 0x222008},
      {0x803, IOCTL_CAN_DYN_PORT_IN, 0x22200C},
      {0x804, IOCTL_CAN_DYN_PORT_OUT, 0x222010},
      {0x805, IOCTL_CAN_STA_PORT_REPORT, 0x222014},
      {0x806, IOCTL_CAN_STA_PORT_ACCESS, 0x222018},
      {0x807, IOCTL_CAN_STA_PORT_GET_CON, 0x22201C},
      {0x808, IOCTL_CAN_START_RUN, 0x222020},
      {0x809, IOCTL_CAN_STOP_RUN, 0x222024},
      {0x80A, IOCTL_CAN_CYCLIC_EXCHANGE, 0x222028},
      {0x80B, IOCTL_CAN_ABORT_EXCHANGE, 0x22202C},
      {0x80C, IOCTL_CAN_WATCHDOG_ENABLE, 0x222030},
      {0x80D, IOCTL_CAN_WATCHDOG_DISABLE, 0x222034},
      {0x80E, IOCTL_CAN_LED_PER_EXCHANGE, 0x222038},
      {0x80F, IOCTL_CAN_LED_PER_CYCLE, 0x22203C},
      {0x810, IOCTL_CAN_GET_RUN_TIME, 0x222040},
      {0x850, IOCTL_CAN_TESTPORT_CLEAR, 0x222140},
      {0x851, IOCTL_CAN_GET_LATENCY_TIME, 0x222144},
      {0x852, IOCTL_CAN_TESTPORT_TOGGLE, 0x222148},
      {0x853, IOCTL_CAN_GET_VERSION, 0x22214C},
      {0x854, IOCTL_CAN_CH2_GET_RESOURCES, 0x222150},
      {0x855, IOCTL_CAN_CH2_ATTACH, 0x222154},
      {0x856, IOCTL_CAN_CH2_ENABLE, 0x222158},
      {0x857, IOCTL_CAN_CH2_DISABLE, 0x22215C},
      {0x858, IOCTL_CAN_CH2_DETACH, 0x222160},
  };
  ASSERT_EQ(std::size(cases), kDriverRequests.size());
  for (const auto& c : cases) {
    // Device type 0x22 in bits 31-16, access 0 in 15-14, function in 13-2, method 0.
    const std::uint32_t formula = (0x22u << 16) | (0u << 14) | (c.function << 2) | 0u;
    EXPECT_EQ(formula, c.documented) << std::hex << c.function;
    EXPECT_EQ(c.code, c.documented) << std::hex << c.function;
    EXPECT_EQ(ControlCodeFunction(c.code), c.function);
    const DriverRequest* request = FindDriverRequest(c.code);
    ASSERT_NE(request, nullptr) << std::hex << c.function;
    EXPECT_EQ(request->function, c.function);
  }
}

TEST(DriverRequestsTest, LengthTableOfEveryRequest) {
  struct Case {
    std::uint32_t code;
    std::uint32_t in, out, status;
  };
  const Case cases[] = {
      {IOCTL_CAN_CLAIM, 0, 4, 0},
      {IOCTL_CAN_DYN_PORT_IN, 2, 8, 4},
      {IOCTL_CAN_DYN_PORT_OUT, 4, 4, 0},
      {IOCTL_CAN_STA_PORT_REPORT, 68, 68, 64},
      {IOCTL_CAN_STA_PORT_ACCESS, 36, 36, 32},
      {IOCTL_CAN_STA_PORT_GET_CON, 0, 68, 64},
      {IOCTL_CAN_START_RUN, 24, 4, 0},
      {IOCTL_CAN_CYCLIC_EXCHANGE, 12468, 12468, 12464},
      {IOCTL_CAN_GET_RUN_TIME, 0, 24, 16},
      {IOCTL_CAN_GET_LATENCY_TIME, 0, 40, 32},
      {IOCTL_CAN_GET_VERSION, 0, 10, kNoStatusWord},
      {IOCTL_CAN_CH2_GET_RESOURCES, 0, 48, kNoStatusWord},
      {IOCTL_CAN_CH2_ATTACH, 1, 4, 0},
      {IOCTL_CAN_CH2_DETACH, 0, 0, kNoStatusWord},
  };
  for (const auto& c : cases) {
    const DriverRequest* request = FindDriverRequest(c.code);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->inputLength, c.in) << request->name;
    EXPECT_EQ(request->outputLength, c.out) << request->name;
    EXPECT_EQ(request->statusOffset, c.status) << request->name;
  }
  const DriverRequest* exchange = FindDriverRequest(IOCTL_CAN_CYCLIC_EXCHANGE);
  EXPECT_TRUE(exchange->LengthsMatch(12468, 12468));
  EXPECT_FALSE(exchange->LengthsMatch(12468, 12467));
  EXPECT_FALSE(FindDriverRequest(IOCTL_CAN_GET_VERSION)->LengthsMatch(0, 4));
}

TEST(DriverRequestsTest, UnknownCodesAndTableIntegrity) {
  EXPECT_EQ(FindDriverRequest(CanControlCode(0x800)), nullptr);
  EXPECT_EQ(FindDriverRequest(CanControlCode(0x811)), nullptr);
  EXPECT_EQ(FindDriverRequest(CanControlCode(0x859)), nullptr);
  // Same function with another method or access is another control code.
  EXPECT_EQ(FindDriverRequest(CtlCode(0x22, 0x801, 3, 0)), nullptr);
  std::set<std::uint32_t> codes;
  std::set<std::string_view> names;
  for (const auto& request : kDriverRequests) {
    codes.insert(request.controlCode);
    names.insert(request.name);
    EXPECT_EQ(request.internalOnly, request.function >= 0x854) << request.name;
  }
  EXPECT_EQ(codes.size(), kDriverRequests.size());
  EXPECT_EQ(names.size(), kDriverRequests.size());
}

}  // namespace
}  // namespace vantor::common

// The request set of the CAN interface drivers: control codes, the exact
// input and output lengths of each request and where its status word lies.
//
// Every request is buffered: input and answer share one system buffer, so a
// status word overwrites whatever input lay at its position. A request whose
// lengths differ from this table is refused with kRequestInvalidBufferSize
// and no data; an unknown control code with kRequestInvalidParameter.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/driver_status.h"

namespace vantor::common {

inline constexpr std::uint32_t kFileDeviceUnknown = 0x22;
inline constexpr std::uint32_t kMethodBuffered = 0;
inline constexpr std::uint32_t kFileAnyAccess = 0;

constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) noexcept {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

constexpr std::uint32_t CanControlCode(std::uint32_t function) noexcept {
  return CtlCode(kFileDeviceUnknown, function, kMethodBuffered, kFileAnyAccess);
}

// The function number inside a control code.
constexpr std::uint32_t ControlCodeFunction(std::uint32_t controlCode) noexcept {
  return (controlCode >> 2) & 0xFFFu;
}

// ---- Control codes ---------------------------------------------------------------
inline constexpr std::uint32_t IOCTL_CAN_CLAIM = CanControlCode(0x801);
inline constexpr std::uint32_t IOCTL_CAN_RELEASE = CanControlCode(0x802);
inline constexpr std::uint32_t IOCTL_CAN_DYN_PORT_IN = CanControlCode(0x803);
inline constexpr std::uint32_t IOCTL_CAN_DYN_PORT_OUT = CanControlCode(0x804);
inline constexpr std::uint32_t IOCTL_CAN_STA_PORT_REPORT = CanControlCode(0x805);
inline constexpr std::uint32_t IOCTL_CAN_STA_PORT_ACCESS = CanControlCode(0x806);
inline constexpr std::uint32_t IOCTL_CAN_STA_PORT_GET_CON = CanControlCode(0x807);
inline constexpr std::uint32_t IOCTL_CAN_START_RUN = CanControlCode(0x808);
inline constexpr std::uint32_t IOCTL_CAN_STOP_RUN = CanControlCode(0x809);
inline constexpr std::uint32_t IOCTL_CAN_CYCLIC_EXCHANGE = CanControlCode(0x80A);
inline constexpr std::uint32_t IOCTL_CAN_ABORT_EXCHANGE = CanControlCode(0x80B);
inline constexpr std::uint32_t IOCTL_CAN_WATCHDOG_ENABLE = CanControlCode(0x80C);
inline constexpr std::uint32_t IOCTL_CAN_WATCHDOG_DISABLE = CanControlCode(0x80D);
inline constexpr std::uint32_t IOCTL_CAN_LED_PER_EXCHANGE = CanControlCode(0x80E);
inline constexpr std::uint32_t IOCTL_CAN_LED_PER_CYCLE = CanControlCode(0x80F);
inline constexpr std::uint32_t IOCTL_CAN_GET_RUN_TIME = CanControlCode(0x810);
inline constexpr std::uint32_t IOCTL_CAN_TESTPORT_CLEAR = CanControlCode(0x850);
inline constexpr std::uint32_t IOCTL_CAN_GET_LATENCY_TIME = CanControlCode(0x851);
inline constexpr std::uint32_t IOCTL_CAN_TESTPORT_TOGGLE = CanControlCode(0x852);
inline constexpr std::uint32_t IOCTL_CAN_GET_VERSION = CanControlCode(0x853);
inline constexpr std::uint32_t IOCTL_CAN_CH2_GET_RESOURCES = CanControlCode(0x854);
inline constexpr std::uint32_t IOCTL_CAN_CH2_ATTACH = CanControlCode(0x855);
inline constexpr std::uint32_t IOCTL_CAN_CH2_ENABLE = CanControlCode(0x856);
inline constexpr std::uint32_t IOCTL_CAN_CH2_DISABLE = CanControlCode(0x857);
inline constexpr std::uint32_t IOCTL_CAN_CH2_DETACH = CanControlCode(0x858);

// Which drivers serve a request; the others refuse it (the PCI drivers the
// port requests with kRequestNotImplemented, the channel-2 and parallel-port
// drivers the channel-2 requests with kRequestInvalidParameter).
enum class RequestServedBy : std::uint8_t { AllDrivers, ParallelPortDriver, ChannelOneDriver };

inline constexpr std::uint32_t kNoStatusWord = 0xFFFFFFFFu;

struct DriverRequest {
  std::uint32_t function;
  std::uint32_t controlCode;
  std::string_view name;
  std::uint32_t inputLength;
  std::uint32_t outputLength;
  std::uint32_t statusOffset;  // kNoStatusWord when the answer carries none
  RequestServedBy servedBy;
  // Meant only for the channel-2 driver inside the driver host; no client
  // program sends it.
  bool internalOnly;

  constexpr bool HasStatusWord() const noexcept { return statusOffset != kNoStatusWord; }
  constexpr bool LengthsMatch(std::uint32_t input, std::uint32_t output) const noexcept {
    return input == inputLength && output == outputLength;
  }
};

inline constexpr std::array<DriverRequest, 25> kDriverRequests = {{
    {0x801, IOCTL_CAN_CLAIM, "IOCTL_CAN_CLAIM", 0, 4, 0, RequestServedBy::AllDrivers, false},
    {0x802, IOCTL_CAN_RELEASE, "IOCTL_CAN_RELEASE", 0, 4, 0, RequestServedBy::AllDrivers, false},
    {0x803, IOCTL_CAN_DYN_PORT_IN, "IOCTL_CAN_DYN_PORT_IN", 2, 8, 4,
     RequestServedBy::ParallelPortDriver, false},
    {0x804, IOCTL_CAN_DYN_PORT_OUT, "IOCTL_CAN_DYN_PORT_OUT", 4, 4, 0,
     RequestServedBy::ParallelPortDriver, false},
    {0x805, IOCTL_CAN_STA_PORT_REPORT, "IOCTL_CAN_STA_PORT_REPORT", 68, 68, 64,
     RequestServedBy::ParallelPortDriver, false},
    {0x806, IOCTL_CAN_STA_PORT_ACCESS, "IOCTL_CAN_STA_PORT_ACCESS", 36, 36, 32,
     RequestServedBy::ParallelPortDriver, false},
    {0x807, IOCTL_CAN_STA_PORT_GET_CON, "IOCTL_CAN_STA_PORT_GET_CON", 0, 68, 64,
     RequestServedBy::ParallelPortDriver, false},
    {0x808, IOCTL_CAN_START_RUN, "IOCTL_CAN_START_RUN", 24, 4, 0, RequestServedBy::AllDrivers,
     false},
    {0x809, IOCTL_CAN_STOP_RUN, "IOCTL_CAN_STOP_RUN", 0, 4, 0, RequestServedBy::AllDrivers, false},
    {0x80A, IOCTL_CAN_CYCLIC_EXCHANGE, "IOCTL_CAN_CYCLIC_EXCHANGE", 12468, 12468, 12464,
     RequestServedBy::AllDrivers, false},
    {0x80B, IOCTL_CAN_ABORT_EXCHANGE, "IOCTL_CAN_ABORT_EXCHANGE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x80C, IOCTL_CAN_WATCHDOG_ENABLE, "IOCTL_CAN_WATCHDOG_ENABLE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x80D, IOCTL_CAN_WATCHDOG_DISABLE, "IOCTL_CAN_WATCHDOG_DISABLE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x80E, IOCTL_CAN_LED_PER_EXCHANGE, "IOCTL_CAN_LED_PER_EXCHANGE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x80F, IOCTL_CAN_LED_PER_CYCLE, "IOCTL_CAN_LED_PER_CYCLE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x810, IOCTL_CAN_GET_RUN_TIME, "IOCTL_CAN_GET_RUN_TIME", 0, 24, 16,
     RequestServedBy::AllDrivers, false},
    {0x850, IOCTL_CAN_TESTPORT_CLEAR, "IOCTL_CAN_TESTPORT_CLEAR", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x851, IOCTL_CAN_GET_LATENCY_TIME, "IOCTL_CAN_GET_LATENCY_TIME", 0, 40, 32,
     RequestServedBy::AllDrivers, false},
    {0x852, IOCTL_CAN_TESTPORT_TOGGLE, "IOCTL_CAN_TESTPORT_TOGGLE", 0, 4, 0,
     RequestServedBy::AllDrivers, false},
    {0x853, IOCTL_CAN_GET_VERSION, "IOCTL_CAN_GET_VERSION", 0, 10, kNoStatusWord,
     RequestServedBy::AllDrivers, false},
    {0x854, IOCTL_CAN_CH2_GET_RESOURCES, "IOCTL_CAN_CH2_GET_RESOURCES", 0, 48, kNoStatusWord,
     RequestServedBy::ChannelOneDriver, true},
    {0x855, IOCTL_CAN_CH2_ATTACH, "IOCTL_CAN_CH2_ATTACH", 1, 4, 0,
     RequestServedBy::ChannelOneDriver, true},
    {0x856, IOCTL_CAN_CH2_ENABLE, "IOCTL_CAN_CH2_ENABLE", 0, 0, kNoStatusWord,
     RequestServedBy::ChannelOneDriver, true},
    {0x857, IOCTL_CAN_CH2_DISABLE, "IOCTL_CAN_CH2_DISABLE", 0, 0, kNoStatusWord,
     RequestServedBy::ChannelOneDriver, true},
    {0x858, IOCTL_CAN_CH2_DETACH, "IOCTL_CAN_CH2_DETACH", 0, 0, kNoStatusWord,
     RequestServedBy::ChannelOneDriver, true},
}};

// The table row of a control code, or nothing for a code outside the set.
constexpr const DriverRequest* FindDriverRequest(std::uint32_t controlCode) noexcept {
  for (const auto& request : kDriverRequests) {
    if (request.controlCode == controlCode) return &request;
  }
  return nullptr;
}

namespace detail {
constexpr bool RequestTableIsConsistent() noexcept {
  for (const auto& request : kDriverRequests) {
    if (request.controlCode != CanControlCode(request.function)) return false;
    if (request.HasStatusWord() && request.statusOffset + 4 > request.outputLength) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::RequestTableIsConsistent());
static_assert(IOCTL_CAN_CLAIM == 0x222004);
static_assert(IOCTL_CAN_GET_RUN_TIME == 0x222040);
static_assert(IOCTL_CAN_TESTPORT_CLEAR == 0x222140);
static_assert(IOCTL_CAN_CH2_DETACH == 0x222160);

// ---- Devices ------------------------------------------------------------------------
// Device names as the drivers create them; user programs open "\\.\" + name.
inline constexpr std::string_view kChannelOneDeviceName = "tarnis1";
inline constexpr std::string_view kChannelTwoDeviceName = "tarnis2";
inline constexpr std::string_view kParallelPortDeviceName = "Ravund";
inline constexpr std::string_view kUserDevicePrefix = "\\\\.\\";

}  // namespace vantor::common

// A client of a driver device as the kernel is one: it opens the device,
// claims it, starts a run with the kernel's run record and hands the
// exchange record over once per cycle, never waiting without a deadline.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <thread>
#include <utility>

#include "common/byte_order.h"
#include "common/driver_records.h"
#include "common/driver_requests.h"
#include "common/exchange_buffer.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace vantor::host::testing {

// What the kernel puts in its run record for a cycle of `cycleMicroseconds`
// on the bus of `bitRateCode`: buffered mode, ticks of d = 4 (512 us). The
// default rate is the one the sample machine's buses run at, 500 kbit/s.
struct ClientRun {
  std::uint8_t interfaceKind = 2;
  std::uint8_t channel = 1;
  std::uint8_t bitRateCode = 5;
  std::uint32_t cycleMicroseconds = 2560;
  std::int16_t cycleDivider = -1;  // -1: the kernel's cycle/512 + 1
  std::int32_t pollBudget = 100;   // microseconds the tick may wait for its SYNC
};

inline constexpr std::uint8_t kKernelTickDivider = 4;
inline constexpr std::uint32_t kKernelTickMicroseconds = 512;

constexpr std::int16_t KernelCycleDivider(std::uint32_t cycleMicroseconds) {
  return static_cast<std::int16_t>(cycleMicroseconds / kKernelTickMicroseconds + 1);
}

inline common::RunRecord MakeClientRunRecord(const ClientRun& run) {
  namespace rr = common::run_record;
  common::RunRecord record;
  record.Set(rr::kInterfaceKind, run.interfaceKind);
  record.Set(rr::kChannel, run.channel);
  record.Set(rr::kLatencyMeasurement, std::uint8_t{0});
  record.Set(rr::kTickClockDivider, kKernelTickDivider);
  record.Set(rr::kBitRateCode, run.bitRateCode);
  record.Set(rr::kCycleDivider, run.cycleDivider > 0 ? run.cycleDivider
                                                      : KernelCycleDivider(run.cycleMicroseconds));
  record.Set(rr::kRunMode, rr::kRunModeBuffered);
  record.Set(rr::kSendTick, std::int16_t{0});
  record.Set(rr::kFillLimit, rr::kMaxFillLimit);
  record.Set(rr::kPollInterval, std::int32_t{1});
  record.Set(rr::kPollBudget, run.pollBudget);
  return record;
}

inline constexpr std::uint32_t kNoAnswer = 0xFFFFFFFFu;
inline constexpr std::uint32_t kExchangeDeadlineMs = 5000;

// The driver's status word of a request whose answer is only that word.
inline std::uint32_t DriverStatus(os::DeviceHandle& handle, std::uint32_t code,
                                  std::span<const std::uint8_t> input = {}) {
  std::array<std::uint8_t, 4> answer{};
  const auto result = handle.Control(code, input, answer);
  if (result.status != os::kStatusSuccess || result.bytesReturned != answer.size())
    return kNoAnswer;
  return common::LoadLittleEndian<std::uint32_t>(answer.data());
}

inline std::uint32_t StartClientRun(os::DeviceHandle& handle, const ClientRun& run) {
  const common::RunRecord record = MakeClientRunRecord(run);
  return DriverStatus(handle, common::IOCTL_CAN_START_RUN, record.Bytes());
}

// One overlapped exchange: the record goes out, the driver's answer comes
// back into it. False when the request failed or did not complete in time
// (then it is withdrawn).
class Exchanger {
 public:
  explicit Exchanger(os::DeviceHandle& handle)
      : handle_(handle), event_(std::move(*os::Event::CreateUnnamed(os::EventReset::Manual, false))) {}

  bool Exchange(common::ExchangeBuffer& buffer) {
    os::DeviceOverlapped overlapped(event_);
    const auto sent = handle_.ControlOverlapped(common::IOCTL_CAN_CYCLIC_EXCHANGE, buffer.Bytes(),
                                                answer_.MutableBytes(), overlapped);
    if (sent != os::kStatusPending && sent != os::kStatusSuccess) return false;
    if (!os::WaitForOne(event_, kExchangeDeadlineMs).acquired()) return false;
    if (!overlapped.Completed() || overlapped.Status() != os::kStatusSuccess ||
        overlapped.BytesReturned() != common::kExchangeBufferSize)
      return false;
    buffer = answer_;
    return true;
  }

 private:
  os::DeviceHandle& handle_;
  os::Event event_;
  common::ExchangeBuffer answer_;
};

// Opens `path`, retrying while the device is refused (a handle that just
// went may still be cleaned up), until the deadline.
inline os::DeviceHandle::OpenResult OpenWhenFree(std::string_view path,
                                                 std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    auto opened = os::DeviceHandle::Open(path);
    if (opened.error != os::DeviceOpenError::kRefused || std::chrono::steady_clock::now() > end)
      return opened;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace vantor::host::testing

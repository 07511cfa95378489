// A program's handle on a driver device served by the driver host.
//
// `DeviceHandle::Open("\\\\.\\tarnis1")` opens the device whose link is
// `tarnis1`, matched case-insensitively; a device that does not exist (or a
// driver host that does not run) is told apart from a device whose driver
// refused the handle. Requests are synchronous (`Control`) or overlapped
// (`ControlOverlapped`): an overlapped request returns at once, and when the
// driver completes it the output is copied into the caller's buffer and
// only then the caller's event is set. The output buffer is written only
// when the request succeeds; a failed or cancelled request leaves it as it
// was. Requests of one handle may complete in any order; a request the
// driver holds does not hold up the others. Closing the handle cancels
// whatever it left pending (the caller's events are set, no data is
// written) and runs the driver's clean-up for it, as the end of the process
// does. Each handle's answers are read by a thread of its own, which takes
// the request transport's real-time role (realtime_policy.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/os/device/io_status.h"
#include "platform/os/named_objects.h"

namespace vantor::os {

class DeviceHandle;
class DeviceOverlapped;

// The name the system shows for a handle's answer reader.
inline constexpr const char* kDeviceReaderThreadName = "device-reader";
struct DeviceHandleState;

namespace detail {
// One request a handle waits for: on the caller's stack (synchronous) or in
// the caller's DeviceOverlapped.
struct OutstandingRequest {
  std::uint32_t id = 0;
  std::span<std::uint8_t> output;
  DeviceOverlapped* overlapped = nullptr;
  bool done = false;
  IoStatus status = kStatusPending;
  std::uint32_t bytesReturned = 0;
  OutstandingRequest* next = nullptr;
};
}  // namespace detail

// The caller's record of one overlapped request. The output buffer and the
// event must stay in place until the request has completed (its event is
// set). A record destroyed before that withdraws its request from the
// handle: the late answer is then dropped instead of written.
class DeviceOverlapped {
 public:
  explicit DeviceOverlapped(Event& event) : event_(&event) {}
  ~DeviceOverlapped();
  DeviceOverlapped(const DeviceOverlapped&) = delete;
  DeviceOverlapped& operator=(const DeviceOverlapped&) = delete;

  bool Completed() const noexcept { return completed_.load(std::memory_order_acquire); }
  // Valid once Completed(): the request's status and the bytes written.
  IoStatus Status() const noexcept { return status_; }
  std::uint32_t BytesReturned() const noexcept { return bytesReturned_; }

 private:
  friend class DeviceHandle;
  friend struct DeviceHandleState;
  Event* event_;
  detail::OutstandingRequest request_;
  std::weak_ptr<DeviceHandleState> owner_;
  std::atomic<bool> completed_{true};
  IoStatus status_ = kStatusSuccess;
  std::uint32_t bytesReturned_ = 0;
};

enum class DeviceOpenError {
  kNone,
  kMissing,  // no such device, or no driver host serving this namespace
  kRefused,  // the driver refused the handle (claimed, being removed, ...)
};

struct DeviceRequestResult {
  IoStatus status;
  std::uint32_t bytesReturned;
};

class DeviceHandle {
 public:
  struct OpenResult;

  DeviceHandle() = default;
  DeviceHandle(DeviceHandle&&) noexcept;
  DeviceHandle& operator=(DeviceHandle&&) noexcept;
  ~DeviceHandle();

  // `\\.\name` or just `name`.
  static OpenResult Open(std::string_view path);

  bool valid() const noexcept { return state_ != nullptr; }

  // Sends the request and waits for its completion.
  DeviceRequestResult Control(std::uint32_t code, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output);

  // Sends the request and returns kStatusPending; the event of `overlapped`
  // is reset now and set when the request has completed. A request that
  // cannot be sent completes at once (the event is set) and its status is
  // returned. A DeviceOverlapped whose earlier request has not completed
  // is refused with kStatusInvalidParameter and left untouched.
  IoStatus ControlOverlapped(std::uint32_t code, std::span<const std::uint8_t> input,
                             std::span<std::uint8_t> output, DeviceOverlapped& overlapped);

  // Cancels what this handle left pending and closes it. Idempotent.
  // Requests already under way on other threads are answered (cancelled);
  // starting new ones while Close runs is the caller's error.
  void Close();

 private:
  explicit DeviceHandle(std::shared_ptr<DeviceHandleState> state);
  std::shared_ptr<DeviceHandleState> state_;
};

struct DeviceHandle::OpenResult {
  DeviceHandle handle;
  DeviceOpenError error = DeviceOpenError::kNone;
  IoStatus status = kStatusSuccess;  // the driver's refusal, or why it is missing
};

}  // namespace vantor::os

// A small driver that exercises the runtime: requests answered at once,
// requests held until a deferred call or an abort completes them, a
// claim that refuses further opens, a request only drivers may send, and
// an interrupt handler that releases held requests on each tick.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/devhost/deferred_call.h"
#include "platform/devhost/driver_host.h"

namespace vantor::devhost::testing {

constexpr std::uint32_t ControlCode(std::uint32_t function) { return 0x220000 + 4 * function; }

inline constexpr std::uint32_t kEcho = ControlCode(0x901);     // in u64 value; out value, handle id
inline constexpr std::uint32_t kHold = ControlCode(0x902);     // 16 in, 16 out; held until released
inline constexpr std::uint32_t kRelease = ControlCode(0x903);  // in u32 fill byte; out status
inline constexpr std::uint32_t kAbort = ControlCode(0x904);    // out status; held ones cancelled
inline constexpr std::uint32_t kClaim = ControlCode(0x905);    // out status; refuses new opens
inline constexpr std::uint32_t kAdd = ControlCode(0x906);      // drivers only: two u32 in, sum out

inline constexpr std::uint32_t kDriverOk = 0x09100000;
// Answered at once to a second hold on a handle that already has one held.
inline constexpr std::uint32_t kDriverHoldBusy = 0xC910000C;
// Offset of the status word in a hold's answer.
inline constexpr std::size_t kHoldStatusOffset = 12;

inline constexpr char kDeviceName[] = "\\Device\\TestDev";
inline constexpr char kLinkName[] = "\\DosDevices\\TestDev";

class TestDriver final : public DeviceDispatch {
 public:
  explicit TestDriver(DriverHost& host);
  ~TestDriver() override;

  static const std::vector<RequestSpec>& RequestTable();

  IoStatus Create(FileObject& file) override;
  void Cleanup(FileObject& file) override;
  void DeviceControl(IoRequest& request) override;

  // Connects the tick handler to `line`: each tick counts and releases
  // whatever is held, through the deferred call.
  IoStatus ConnectTick(InterruptLine& line);
  void DisconnectTick();

  DeviceObject& Device() { return *device_; }
  // Held requests not yet completed (by the driver or by the host).
  std::size_t HeldCount();
  std::vector<PendingRequest> HeldRequests();
  int CleanupCount() const { return cleanups_.load(); }
  std::uint32_t TickCount() const { return ticks_.load(); }
  std::vector<Ticks> TickTimes();

 private:
  void ReleaseHeld(std::uint8_t fill);

  DriverHost& host_;
  std::shared_ptr<DeviceObject> device_;
  std::unique_ptr<DeferredCall> releaseCall_;
  std::shared_ptr<InterruptObject> tick_;
  std::mutex mutex_;
  std::vector<PendingRequest> held_;
  std::vector<Ticks> tickTimes_;
  std::atomic<bool> claimed_{false};
  std::atomic<int> cleanups_{0};
  std::atomic<std::uint32_t> ticks_{0};
};

}  // namespace vantor::devhost::testing

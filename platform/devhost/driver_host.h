// The driver host: the environment that drivers run in.
//
// It keeps the devices and their user-visible links, turns client opens,
// requests and closes into calls of the drivers' dispatch routines (after
// the exact length check of each device's request table), sends requests
// between drivers, and holds the shared services: the clock, interrupt
// lines, card locks, the hardware map and the drivers' parameters.
//
// How a driver comes up, in outline:
//
//   class Channel final : public DeviceDispatch { ... };   // Create, Cleanup,
//                                                          // DeviceControl
//   host.CreateDevice({"\\Device\\tarnis1", &channel, kRequestTable}, device);
//   host.CreateSymbolicLink("\\DosDevices\\tarnis1", "\\Device\\tarnis1");
//   DeferredCall exchangeDpc(device->DeferredCalls(), ExchangeDpc);
//   auto window = host.Hardware().MapIoSpace(physical, length);
//   host.Interrupt(vector).Connect(settings, ControllerIsr, interrupt);
//
// A request handler either completes the request or keeps it with
// MarkPending and completes it later, typically from the deferred call that
// the interrupt handler queued. Requests between drivers go through
// SendRequest; codes marked kKernelOnly in a table are refused to programs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/devhost/clock.h"
#include "platform/devhost/device_object.h"
#include "platform/devhost/hardware_access.h"
#include "platform/devhost/hardware_time.h"
#include "platform/devhost/interrupt_line.h"
#include "platform/devhost/parameter_store.h"

namespace vantor::devhost {

struct DeviceSettings {
  std::string name;  // `\Device\tarnis1`
  DeviceDispatch* dispatch = nullptr;
  std::vector<RequestSpec> requests;
};

struct RequestResult {
  IoStatus status;
  std::uint32_t information;  // bytes copied to the output (0 unless success)
};

class DriverHost {
 public:
  explicit DriverHost(Clock& clock);
  ~DriverHost();
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  Clock& GetClock() noexcept { return clock_; }
  // The performance counter and its frequency (10 MHz). It follows the
  // hardware: a driver that times its bus against it must not see time
  // pass that the hardware has not had yet.
  Ticks QueryPerformanceCounter() const noexcept {
    const HardwareTime* hardware = hardwareTime_.load(std::memory_order_acquire);
    return hardware != nullptr ? hardware->HardwareNow() : clock_.Now();
  }
  // The hardware's own time for the counter; null gives it back to the
  // clock. The source outlives its use or is taken away first.
  void SetHardwareTime(const HardwareTime* hardware) noexcept {
    hardwareTime_.store(hardware, std::memory_order_release);
  }
  static constexpr Ticks PerformanceFrequency() noexcept { return kPerformanceFrequency; }

  // ---- devices and links ------------------------------------------------
  // kStatusObjectNameCollision when the name exists, kStatusInvalidParameter
  // for an empty name or a missing dispatch.
  IoStatus CreateDevice(DeviceSettings settings, std::shared_ptr<DeviceObject>& device);
  // The device disappears from lookups and links at once; handles still open
  // on it get kStatusDeletePending for new requests.
  void DeleteDevice(DeviceObject& device);
  // `\DosDevices\<name>` (or `\??\<name>`) for an existing device name.
  IoStatus CreateSymbolicLink(std::string_view link, std::string_view deviceName);
  void DeleteSymbolicLink(std::string_view link);
  // In-process lookup by device name, case-insensitive; null when absent.
  std::shared_ptr<DeviceObject> FindDevice(std::string_view deviceName) const;
  // Every device name, one per line.
  std::string DeviceNames() const;

  // ---- handles ------------------------------------------------------------
  // Opens by link name (`tarnis1` for `\\.\tarnis1`) for a client;
  // kStatusObjectNameNotFound when no such link exists.
  IoStatus OpenForUser(std::string_view linkName, std::shared_ptr<FileObject>& file);
  // Opens by device name for another driver; the device's Create runs.
  IoStatus OpenDevice(std::string_view deviceName, std::shared_ptr<FileObject>& file);
  // The handle's last user went: Cleanup, cancel what is still pending, Close.
  // Idempotent.
  void CloseFile(const std::shared_ptr<FileObject>& file);

  // ---- requests -------------------------------------------------------------
  // A client's request: checked against the table, then dispatched. The
  // reply goes to `sink` (possibly before this returns).
  void DispatchUserRequest(const std::shared_ptr<FileObject>& file, std::uint32_t requestId,
                           std::uint32_t code, std::span<const std::uint8_t> input,
                           std::uint32_t outputLength, std::shared_ptr<CompletionSink> sink);
  // A request from one driver to another device; waits at most `timeout` on
  // the host's clock (kStatusIoTimeout then; the late answer is dropped and
  // `output` is never touched after this returns). `file` may be null.
  RequestResult SendRequest(DeviceObject& device, const std::shared_ptr<FileObject>& file,
                            std::uint32_t code, std::span<const std::uint8_t> input,
                            std::span<std::uint8_t> output, Ticks timeout = kWaitForever);

  // ---- hardware and shared services --------------------------------------
  InterruptLine& Interrupt(std::uint32_t vector);
  CardLock& Card(std::string_view key);
  HardwareMap& Hardware() noexcept { return hardware_; }
  ParameterStore& Parameters() noexcept { return parameters_; }

  // ---- control endpoint commands ----------------------------------------
  using ControlCommand = std::function<std::string(std::string_view arguments)>;
  // Adds or replaces a command of the control endpoint.
  void AddControlCommand(std::string name, ControlCommand command);
  // Runs "name arguments"; "error: unknown command" for anything else.
  std::string RunControlCommand(std::string_view line);

  // Waits until no device has deferred calls queued or running.
  bool WaitDeferredCallsIdle(std::chrono::steady_clock::time_point deadline);

 private:
  IoStatus CreateFile(const std::shared_ptr<DeviceObject>& device,
                      std::shared_ptr<FileObject>& file);
  void Dispatch(DeviceObject& device, IoRequest& request, std::span<const std::uint8_t> input);

  Clock& clock_;
  std::atomic<const HardwareTime*> hardwareTime_{nullptr};
  mutable std::mutex namesMutex_;
  std::map<std::string, std::shared_ptr<DeviceObject>> devices_;  // by lower-case name
  std::map<std::string, std::string> links_;                      // lower-case link -> device key
  std::atomic<std::uint64_t> nextFileId_{1};

  std::mutex servicesMutex_;
  std::map<std::uint32_t, std::unique_ptr<InterruptLine>> interrupts_;
  std::map<std::string, std::unique_ptr<CardLock>> cardLocks_;
  HardwareMap hardware_;
  ParameterStore parameters_;

  std::mutex controlMutex_;
  std::map<std::string, ControlCommand> controlCommands_;
};

}  // namespace vantor::devhost

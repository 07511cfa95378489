// Devices, the handles opened on them, and what a driver implements.
//
// A driver makes a device with a name (`\Device\tarnis1`), its dispatch
// routines and its request table, and gives it a user-visible link
// (`\DosDevices\tarnis1`) through which programs open `\\.\tarnis1`. Each
// open makes a FileObject: its address is the handle's identity, by which a
// driver remembers who claimed the device or started a run. When the last
// user of a handle goes (closed, or its process died) the driver's Cleanup
// runs, then every request the handle still has pending is cancelled, then
// Close runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/devhost/deferred_call.h"
#include "platform/devhost/io_request.h"

namespace vantor::devhost {

class DeviceObject;

class FileObject {
 public:
  explicit FileObject(std::shared_ptr<DeviceObject> device, std::uint64_t id)
      : device_(std::move(device)), id_(id) {}
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;

  DeviceObject& Device() const noexcept { return *device_; }
  // Unique for the life of the host; never reused.
  std::uint64_t Id() const noexcept { return id_; }

  // How many requests with `code` this handle has pending now (a driver
  // that allows one exchange per handle asks this before taking another).
  std::size_t PendingRequests(std::uint32_t code);

  // Per-handle storage for the driver.
  void* driverContext = nullptr;

 private:
  friend class IoRequest;
  friend class DriverHost;
  bool AddPending(std::shared_ptr<IoRequest> request);
  void RemovePending(const IoRequest& request);
  // Takes every pending request out and refuses later ones: the handle is
  // being cleaned up.
  std::vector<std::shared_ptr<IoRequest>> TakePending();

  const std::shared_ptr<DeviceObject> device_;
  const std::uint64_t id_;
  std::mutex pendingMutex_;
  std::vector<std::shared_ptr<IoRequest>> pending_;
  bool cleanedUp_ = false;  // guarded by pendingMutex_
  std::atomic<bool> closed_{false};
};

// What a driver implements for its device. Handlers run on the connection
// thread of the handle (user requests) or on the sending driver's thread.
class DeviceDispatch {
 public:
  virtual ~DeviceDispatch() = default;
  // A status other than success refuses the handle.
  virtual IoStatus Create(FileObject& file) {
    (void)file;
    return os::kStatusSuccess;
  }
  virtual void Cleanup(FileObject& file) { (void)file; }
  virtual void Close(FileObject& file) { (void)file; }
  // Called after the length check: the code is in the table and the
  // lengths match exactly. Must complete the request or mark it pending.
  virtual void DeviceControl(IoRequest& request) = 0;
};

class DeviceObject {
 public:
  DeviceObject(std::string name, DeviceDispatch& dispatch, std::vector<RequestSpec> requests);
  DeviceObject(const DeviceObject&) = delete;
  DeviceObject& operator=(const DeviceObject&) = delete;

  const std::string& Name() const noexcept { return name_; }
  DeviceDispatch& Dispatch() const noexcept { return dispatch_; }
  // The device's one deferred-call worker.
  DeferredCallWorker& DeferredCalls() noexcept { return deferredCalls_; }

  // The row for `code`, or null when the device does not know it.
  const RequestSpec* FindRequest(std::uint32_t code) const noexcept;

  bool Deleted() const noexcept { return deleted_.load(); }

  // Per-device storage for the driver (its device extension).
  void* extension = nullptr;

 private:
  friend class DriverHost;
  const std::string name_;
  DeviceDispatch& dispatch_;
  const std::vector<RequestSpec> requests_;
  std::atomic<bool> deleted_{false};
  DeferredCallWorker deferredCalls_;
};

}  // namespace vantor::devhost

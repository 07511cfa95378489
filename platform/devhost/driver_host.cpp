#include "platform/devhost/driver_host.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/devhost/kernel_event.h"

namespace vantor::devhost {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The link's name as a client gives it: `\DosDevices\tarnis1` -> `tarnis1`.
std::optional<std::string> LinkKey(std::string_view link) {
  for (const std::string_view prefix :
       {std::string_view("\\dosdevices\\"), std::string_view("\\??\\")}) {
    if (link.size() > prefix.size() && Lower(link.substr(0, prefix.size())) == prefix) {
      return Lower(link.substr(prefix.size()));
    }
  }
  return std::nullopt;
}

// Wakes a driver that waits for its request to another device.
class WaitingSink final : public CompletionSink {
 public:
  explicit WaitingSink(Clock& clock) : done(clock, EventReset::kManual) {}
  void Deliver(IoRequest&) override { done.Set(); }
  KernelEvent done;
};

}  // namespace

DriverHost::DriverHost(Clock& clock) : clock_(clock) {
  hardware_.SetCounterSource([this] { return clock_.Now(); });
}

DriverHost::~DriverHost() = default;

// ---- devices and links ------------------------------------------------------

IoStatus DriverHost::CreateDevice(DeviceSettings settings, std::shared_ptr<DeviceObject>& device) {
  if (settings.name.empty() || settings.dispatch == nullptr) return os::kStatusInvalidParameter;
  const std::string key = Lower(settings.name);
  std::lock_guard lock(namesMutex_);
  if (devices_.contains(key)) return os::kStatusObjectNameCollision;
  device = std::make_shared<DeviceObject>(std::move(settings.name), *settings.dispatch,
                                          std::move(settings.requests));
  devices_.emplace(key, device);
  return os::kStatusSuccess;
}

void DriverHost::DeleteDevice(DeviceObject& device) {
  std::lock_guard lock(namesMutex_);
  device.deleted_.store(true);
  const std::string key = Lower(device.Name());
  std::erase_if(links_, [&](const auto& link) { return link.second == key; });
  devices_.erase(key);
}

IoStatus DriverHost::CreateSymbolicLink(std::string_view link, std::string_view deviceName) {
  const auto linkKey = LinkKey(link);
  if (!linkKey || linkKey->empty()) return os::kStatusInvalidParameter;
  std::lock_guard lock(namesMutex_);
  const std::string deviceKey = Lower(deviceName);
  if (!devices_.contains(deviceKey)) return os::kStatusObjectNameNotFound;
  if (links_.contains(*linkKey)) return os::kStatusObjectNameCollision;
  links_.emplace(*linkKey, deviceKey);
  return os::kStatusSuccess;
}

void DriverHost::DeleteSymbolicLink(std::string_view link) {
  const auto linkKey = LinkKey(link);
  if (!linkKey) return;
  std::lock_guard lock(namesMutex_);
  links_.erase(*linkKey);
}

std::shared_ptr<DeviceObject> DriverHost::FindDevice(std::string_view deviceName) const {
  std::lock_guard lock(namesMutex_);
  const auto it = devices_.find(Lower(deviceName));
  return it == devices_.end() ? nullptr : it->second;
}

std::string DriverHost::DeviceNames() const {
  std::lock_guard lock(namesMutex_);
  std::string names;
  for (const auto& [key, device] : devices_) names += device->Name() + "\n";
  return names;
}

// ---- handles ----------------------------------------------------------------

IoStatus DriverHost::OpenForUser(std::string_view linkName, std::shared_ptr<FileObject>& file) {
  std::shared_ptr<DeviceObject> device;
  {
    std::lock_guard lock(namesMutex_);
    const auto link = links_.find(Lower(linkName));
    if (link != links_.end()) {
      const auto it = devices_.find(link->second);
      if (it != devices_.end()) device = it->second;
    }
  }
  if (device == nullptr) return os::kStatusObjectNameNotFound;
  return CreateFile(device, file);
}

IoStatus DriverHost::OpenDevice(std::string_view deviceName, std::shared_ptr<FileObject>& file) {
  auto device = FindDevice(deviceName);
  if (device == nullptr) return os::kStatusObjectNameNotFound;
  return CreateFile(device, file);
}

IoStatus DriverHost::CreateFile(const std::shared_ptr<DeviceObject>& device,
                                std::shared_ptr<FileObject>& file) {
  if (device->Deleted()) return os::kStatusDeletePending;
  auto created = std::make_shared<FileObject>(device, nextFileId_.fetch_add(1));
  const IoStatus status = device->Dispatch().Create(*created);
  if (!os::IoSucceeded(status)) return status;
  file = std::move(created);
  return status;
}

void DriverHost::CloseFile(const std::shared_ptr<FileObject>& file) {
  if (file == nullptr || file->closed_.exchange(true)) return;
  // A device its driver deleted (the driver unloaded before the handle was
  // closed) has no dispatch left to call; only the cancelling remains.
  const bool driverGone = file->Device().Deleted();
  if (!driverGone) file->Device().Dispatch().Cleanup(*file);
  // Whatever the driver left pending for this handle ends now, cancelled.
  for (const auto& request : file->TakePending()) request->Complete(os::kStatusCancelled);
  if (!driverGone) file->Device().Dispatch().Close(*file);
}

// ---- requests -----------------------------------------------------------------

void DriverHost::Dispatch(DeviceObject& device, IoRequest& request,
                          std::span<const std::uint8_t> input) {
  const RequestSpec* spec = device.FindRequest(request.Code());
  if (device.Deleted()) {
    request.Complete(os::kStatusDeletePending);
    return;
  }
  if (spec == nullptr || (spec->callers == RequestCallers::kKernelOnly &&
                          request.From() == IoRequest::Origin::kUser)) {
    request.Complete(os::kStatusInvalidParameter);
    return;
  }
  if (request.InputLength() != spec->inputLength || request.OutputLength() != spec->outputLength) {
    request.Complete(os::kStatusInvalidBufferSize);
    return;
  }
  std::copy(input.begin(), input.end(), request.SystemBuffer().begin());
  device.Dispatch().DeviceControl(request);
  if (!request.IsPending() && !request.IsCompleted()) {
    // A handler that neither answered nor kept the request would leave the
    // caller waiting forever.
    request.Complete(os::kStatusInternalError);
  }
}

void DriverHost::DispatchUserRequest(const std::shared_ptr<FileObject>& file,
                                     std::uint32_t requestId, std::uint32_t code,
                                     std::span<const std::uint8_t> input,
                                     std::uint32_t outputLength,
                                     std::shared_ptr<CompletionSink> sink) {
  auto request = std::make_shared<IoRequest>(IoRequest::Origin::kUser, requestId, code,
                                             static_cast<std::uint32_t>(input.size()), outputLength,
                                             file, std::move(sink));
  Dispatch(file->Device(), *request, input);
}

RequestResult DriverHost::SendRequest(DeviceObject& device, const std::shared_ptr<FileObject>& file,
                                      std::uint32_t code, std::span<const std::uint8_t> input,
                                      std::span<std::uint8_t> output, Ticks timeout) {
  if (input.size() > os::device_wire::kMaxTransferLength ||
      output.size() > os::device_wire::kMaxTransferLength) {
    return {os::kStatusInvalidParameter, 0};
  }
  // The time-out runs from the moment the request is sent.
  const Ticks deadline = clock_.DeadlineAfter(timeout);
  auto sink = std::make_shared<WaitingSink>(clock_);
  auto request = std::make_shared<IoRequest>(IoRequest::Origin::kKernel, 0, code,
                                             static_cast<std::uint32_t>(input.size()),
                                             static_cast<std::uint32_t>(output.size()), file, sink);
  Dispatch(device, *request, input);
  if (!sink->done.WaitUntil(deadline)) return {os::kStatusIoTimeout, 0};
  const std::uint32_t information = request->Information();
  std::copy_n(request->SystemBuffer().begin(), information, output.begin());
  return {request->Status(), information};
}

// ---- services -----------------------------------------------------------------

InterruptLine& DriverHost::Interrupt(std::uint32_t vector) {
  std::lock_guard lock(servicesMutex_);
  auto& line = interrupts_[vector];
  if (line == nullptr) line = std::make_unique<InterruptLine>(vector);
  return *line;
}

CardLock& DriverHost::Card(std::string_view key) {
  std::lock_guard lock(servicesMutex_);
  auto& card = cardLocks_[Lower(key)];
  if (card == nullptr) card = std::make_unique<CardLock>();
  return *card;
}

void DriverHost::AddControlCommand(std::string name, ControlCommand command) {
  std::lock_guard lock(controlMutex_);
  controlCommands_[Lower(name)] = std::move(command);
}

std::string DriverHost::RunControlCommand(std::string_view line) {
  const auto space = line.find(' ');
  const std::string name = Lower(line.substr(0, space));
  const std::string_view arguments =
      space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
  ControlCommand command;
  {
    std::lock_guard lock(controlMutex_);
    const auto it = controlCommands_.find(name);
    if (it == controlCommands_.end()) return "error: unknown command";
    command = it->second;
  }
  return command(arguments);
}

bool DriverHost::WaitDeferredCallsIdle(std::chrono::steady_clock::time_point deadline) {
  std::vector<std::shared_ptr<DeviceObject>> devices;
  {
    std::lock_guard lock(namesMutex_);
    for (const auto& [key, device] : devices_) devices.push_back(device);
  }
  return std::all_of(devices.begin(), devices.end(), [&](const auto& device) {
    return device->DeferredCalls().WaitIdle(deadline);
  });
}

}  // namespace vantor::devhost

#include "drivers/ravund/ravund_driver.h"

#include <cstdio>
#include <string>

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/canlayer/can_front_end.h"
#include "drivers/canlayer/run_settings.h"
#include "drivers/ravund/parallel_port_requests.h"
#include "drivers/ravund/system_parallel_port.h"

namespace vantor::ravund {
namespace {

constexpr std::uint32_t kEppDataOffset = 4;
constexpr std::uint32_t kExtendedControlOffset = 0x402;
// Port-2 output bit 2 of the adapter's controller switches its clock onto
// the port's acknowledge line (low: the tick runs).
constexpr std::uint8_t kPort2TickLineOff = 0x04;

void AnswerStatus(devhost::IoRequest& request, common::DriverStatus status) {
  common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data(), status);
  request.Complete(os::kStatusSuccess, sizeof(std::uint32_t));
}

std::string PortLockKey(std::uint16_t base) {
  char key[32];
  std::snprintf(key, sizeof(key), "parallel-port@%x", static_cast<unsigned>(base));
  return key;
}

}  // namespace

RavundDriver::RavundDriver(devhost::DriverHost& host)
    : host_(host),
      parameters_(ReadRavundParameters(host.Parameters())),
      mode_(TransferModeFrom(parameters_.parallelPortMode)) {}

RavundDriver::~RavundDriver() {
  channel_.reset();
  {
    std::lock_guard run(runMutex_);
    FreePort();
  }
  adapter_.reset();
  portDevice_.reset();
  if (linked_) host_.DeleteSymbolicLink(kLinkName);
  if (device_ != nullptr) host_.DeleteDevice(*device_);
}

devhost::IoStatus RavundDriver::Load() {
  if (device_ != nullptr) return os::kStatusObjectNameCollision;
  const devhost::IoStatus created = host_.CreateDevice(
      {kDeviceName, this, canlayer::CanRequestTable(canlayer::CanDriverRole::kParallelPort)},
      device_);
  if (created != os::kStatusSuccess) return created;

  common::ChannelResources resources;
  PortRegisters registers;
  if (!AttachParallelPort(resources, registers)) portDevice_.reset();
  portLock_ = &host_.Card(PortLockKey(registers.data));
  adapter_ = std::make_unique<AdapterPort>(host_.Hardware(), host_.GetClock(), *portLock_, mode_);
  adapter_->SetRegisters(registers);

  const devhost::IoStatus linked = host_.CreateSymbolicLink(kLinkName, kDeviceName);
  if (linked != os::kStatusSuccess) {
    host_.DeleteDevice(*device_);
    device_.reset();
    return linked;
  }
  linked_ = true;

  canlayer::CanChannelSettings settings;
  settings.role = canlayer::CanDriverRole::kParallelPort;
  settings.interfaceKind = common::InterfaceKind::Dongle;
  settings.channel = 1;
  settings.version = common::kParallelPortDriverVersion;
  settings.testPort = parameters_.testPortAddress;
  // The adapter's tick: buffered cycles of exactly N ticks, and receive
  // reads that tell an overwritten frame apart.
  settings.exactTickBufferedCycle = true;
  settings.reportOverwrittenFrames = true;
  channel_ = std::make_unique<canlayer::CanChannel>(host_, *device_, *adapter_, *portLock_, *this,
                                                    settings);
  channel_->SetResources(resources);
  return os::kStatusSuccess;
}

devhost::RequestResult RavundDriver::SendToPort(std::uint32_t code,
                                                std::span<std::uint8_t> output) {
  if (portDevice_ == nullptr || portDevice_->Deleted()) return {os::kStatusNoSuchDevice, 0};
  return host_.SendRequest(*portDevice_, nullptr, code, {}, output, kPortDriverTimeout);
}

bool RavundDriver::AttachParallelPort(common::ChannelResources& resources,
                                      PortRegisters& registers) {
  const std::string name = ParallelPortDeviceName(parameters_.parallelPortNumber);
  portDevice_ = host_.FindDevice(name);
  if (portDevice_ == nullptr) return false;
  std::shared_ptr<devhost::FileObject> file;
  if (!os::IoSucceeded(host_.OpenDevice(name, file))) return false;
  host_.CloseFile(file);

  ParallelPortInfo info;
  MorePortInfo more;
  std::array<std::uint8_t, kPnpInfoSize> pnp{};
  const auto complete = [](const devhost::RequestResult& result, std::size_t size) {
    return result.status == os::kStatusSuccess && result.information == size;
  };
  const bool automatic = parameters_.autoConfiguration != 0;
  if (automatic && !complete(SendToPort(IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO,
                                        {info.WriteData(), kParallelPortInfoSize}),
                             kParallelPortInfoSize)) {
    return false;
  }
  if (!complete(SendToPort(IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO,
                           {more.WriteData(), kMorePortInfoSize}),
                kMorePortInfoSize)) {
    return false;
  }
  if (automatic && !complete(SendToPort(IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO, pnp), kPnpInfoSize)) {
    return false;
  }
  namespace cr = common::channel_resources;
  namespace mi = more_port_info;
  std::uint32_t base = 0;
  if (automatic) {
    base = info.Get(port_info::kMappedBase);
    portHasAllocation_ = info.Get(port_info::kTryAllocate) != 0 && info.Get(port_info::kFree) != 0;
    resources.Set(cr::kInterruptVector, more.Get(mi::kInterruptVector));
    resources.Set(cr::kInterruptLevel, more.Get(mi::kInterruptLevel));
    resources.Set(cr::kInterruptMode, more.Get(mi::kInterruptMode));
  } else {
    // Manual configuration: the port is used as configured, without asking
    // the port driver for it.
    base = parameters_.baseAddress;
    portHasAllocation_ = false;
    resources.Set(cr::kInterruptVector, parameters_.interruptVector);
    resources.Set(cr::kInterruptLevel, parameters_.interruptLevel);
    resources.Set(cr::kInterruptMode, parameters_.interruptMode);
  }
  resources.Set(cr::kProcessorAffinity, more.Get(mi::kInterruptAffinity));
  // Every register the mode uses must lie inside the 16-bit port space.
  const std::uint32_t lastRegister =
      UsesExtendedControl(mode_) ? kExtendedControlOffset : kEppDataOffset;
  if (base == 0 || base > 0xFFFF - lastRegister) return false;
  registers = PortRegistersAt(static_cast<std::uint16_t>(base), mode_);
  return true;
}

bool RavundDriver::TryAllocatePort() {
  if (!portHasAllocation_) return true;
  std::array<std::uint8_t, kAllocateAnswerSize> answer{};
  const devhost::RequestResult result = SendToPort(IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, answer);
  return result.status == os::kStatusSuccess && result.information == answer.size() &&
         answer[0] == 1;
}

// Run lock held.
void RavundDriver::FreePort() {
  if (!portAllocated_) return;
  portAllocated_ = false;
  if (portHasAllocation_) (void)SendToPort(IOCTL_INTERNAL_PARALLEL_PORT_FREE, {});
}

bool RavundDriver::PortAllocated() const {
  std::lock_guard run(runMutex_);
  return portAllocated_;
}

// ---- requests ------------------------------------------------------------------------

devhost::IoStatus RavundDriver::Create(devhost::FileObject& file) {
  return channel_ != nullptr ? channel_->Create(file) : os::kStatusNoSuchDevice;
}

void RavundDriver::Cleanup(devhost::FileObject& file) {
  if (channel_ == nullptr) return;
  std::lock_guard run(runMutex_);
  channel_->Cleanup(file);
  ReturnPortIfRunEnded();
}

void RavundDriver::DeviceControl(devhost::IoRequest& request) {
  if (channel_ == nullptr) {
    request.Complete(os::kStatusNoSuchDevice);
    return;
  }
  switch (request.Code()) {
    case common::IOCTL_CAN_START_RUN:
      StartRun(request);
      return;
    case common::IOCTL_CAN_STOP_RUN: {
      std::lock_guard run(runMutex_);
      channel_->DeviceControl(request);
      ReturnPortIfRunEnded();
      return;
    }
    default:
      break;
  }
  if (channel_->DeviceControl(request)) return;
  if (!PortRequest(request)) request.Complete(os::kStatusInvalidParameter);
}

void RavundDriver::StartRun(devhost::IoRequest& request) {
  std::lock_guard run(runMutex_);
  const auto record = common::ConstByteView<common::kRunRecordSize>::Over(request.SystemBuffer());
  const bool acceptable =
      record && canlayer::CheckRunRecord(*record, common::InterfaceKind::Dongle, 1).status ==
                    common::kDriverSuccess;
  // A refused record or a running run: the shared layer gives the answer.
  if (!acceptable || channel_->RunActive()) {
    channel_->DeviceControl(request);
    return;
  }
  if (portDevice_ == nullptr) return AnswerStatus(request, common::kDriverBaseDeviceMissing);
  adapter_->ClearAddressLatched();
  if (!adapter_->SetUpForRun()) return AnswerStatus(request, common::kDriverNoController);
  if (!TryAllocatePort()) return AnswerStatus(request, common::kDriverBaseDeviceInUse);
  portAllocated_ = true;
  channel_->DeviceControl(request);
  if (!channel_->RunActive()) FreePort();
}

// Run lock held.
void RavundDriver::ReturnPortIfRunEnded() {
  if (!portAllocated_ || channel_->RunActive()) return;
  // The port goes back quiet: no tick edges on a line nobody serves.
  channel_->Controller().SetPort2Bits(kPort2TickLineOff);
  adapter_->ClearAddressLatched();
  FreePort();
  adapter_->SetUpForIdle();
}

}  // namespace vantor::ravund

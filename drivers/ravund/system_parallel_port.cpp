#include "drivers/ravund/system_parallel_port.h"

#include "drivers/ravund/parallel_port_requests.h"

namespace vantor::ravund {
namespace {

constexpr std::uint32_t kRoutinePresent = 1;

std::vector<devhost::RequestSpec> PortRequestTable() {
  using devhost::RequestCallers;
  return {
      {IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, 0, kParallelPortInfoSize,
       RequestCallers::kKernelOnly},
      {IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO, 0, kMorePortInfoSize,
       RequestCallers::kKernelOnly},
      {IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO, 0, kPnpInfoSize, RequestCallers::kKernelOnly},
      {IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, 0, kAllocateAnswerSize, RequestCallers::kKernelOnly},
      {IOCTL_INTERNAL_PARALLEL_PORT_FREE, 0, 0, RequestCallers::kKernelOnly},
  };
}

}  // namespace

std::string ParallelPortDeviceName(unsigned number) {
  return "\\Device\\ParallelPort" + std::to_string(number);
}

SystemParallelPort::~SystemParallelPort() {
  if (device_ != nullptr) host_.DeleteDevice(*device_);
}

devhost::IoStatus SystemParallelPort::Create(const SystemParallelPortConfig& config) {
  config_ = config;
  return host_.CreateDevice({ParallelPortDeviceName(config.number), this, PortRequestTable()},
                            device_);
}

bool SystemParallelPort::Allocated() const {
  std::lock_guard lock(mutex_);
  return allocated_;
}

void SystemParallelPort::DeviceControl(devhost::IoRequest& request) {
  const auto buffer = request.SystemBuffer();
  switch (request.Code()) {
    case IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO: {
      namespace pi = port_info;
      auto record = *common::ByteView<kParallelPortInfoSize>::Over(buffer);
      record.Set(pi::kPhysicalBase, std::uint64_t{config_.base});
      record.Set(pi::kMappedBase, std::uint32_t{config_.base});
      record.Set(pi::kSpan, std::uint32_t{config_.span});
      record.Set(pi::kTryAllocate, kRoutinePresent);
      record.Set(pi::kFree, kRoutinePresent);
      record.Set(pi::kQueryWaiters, 0U);
      record.Set(pi::kContext, config_.number);
      request.Complete(os::kStatusSuccess, kParallelPortInfoSize);
      return;
    }
    case IOCTL_INTERNAL_GET_MORE_PARALLEL_PORT_INFO: {
      namespace mi = more_port_info;
      auto record = *common::ByteView<kMorePortInfoSize>::Over(buffer);
      record.Set(mi::kInterfaceType, config_.interfaceType);
      record.Set(mi::kBusNumber, config_.busNumber);
      record.Set(mi::kInterruptLevel, std::uint32_t{config_.interrupt.level});
      record.Set(mi::kInterruptVector, config_.interrupt.vector);
      record.Set(mi::kInterruptAffinity, static_cast<std::uint32_t>(config_.interrupt.affinity));
      record.Set(mi::kInterruptMode,
                 config_.interrupt.mode == devhost::InterruptMode::kLatched ? 1U : 0U);
      request.Complete(os::kStatusSuccess, kMorePortInfoSize);
      return;
    }
    case IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO:
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
      request.Complete(os::kStatusSuccess, kPnpInfoSize);
      return;
    case IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE: {
      std::lock_guard lock(mutex_);
      buffer[0] = allocated_ ? 0 : 1;
      allocated_ = true;
      request.Complete(os::kStatusSuccess, kAllocateAnswerSize);
      return;
    }
    case IOCTL_INTERNAL_PARALLEL_PORT_FREE: {
      std::lock_guard lock(mutex_);
      allocated_ = false;
      request.Complete(os::kStatusSuccess, 0);
      return;
    }
    default:
      request.Complete(os::kStatusInvalidParameter);
      return;
  }
}

}  // namespace vantor::ravund

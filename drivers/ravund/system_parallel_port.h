// The system's parallel-port driver as far as other drivers use it: one
// device `\Device\ParallelPort<n>` per port, answering the internal
// requests for the port's description and lending the port to one driver
// at a time. It stands in for the operating system's own driver, which the
// devhost does not have, and is loaded before ravund.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/devhost/driver_host.h"

namespace vantor::ravund {

struct SystemParallelPortConfig {
  unsigned number = 0;
  std::uint16_t base = 0;
  std::uint16_t span = 8;
  std::uint32_t interfaceType = 1;  // ISA
  std::uint32_t busNumber = 0;
  devhost::InterruptSettings interrupt;
};

std::string ParallelPortDeviceName(unsigned number);

class SystemParallelPort final : public devhost::DeviceDispatch {
 public:
  explicit SystemParallelPort(devhost::DriverHost& host) : host_(host) {}
  ~SystemParallelPort() override;
  SystemParallelPort(const SystemParallelPort&) = delete;
  SystemParallelPort& operator=(const SystemParallelPort&) = delete;

  devhost::IoStatus Create(const SystemParallelPortConfig& config);
  void DeviceControl(devhost::IoRequest& request) override;

  bool Allocated() const;

 private:
  devhost::DriverHost& host_;
  SystemParallelPortConfig config_;
  std::shared_ptr<devhost::DeviceObject> device_;
  mutable std::mutex mutex_;
  bool allocated_ = false;
};

}  // namespace vantor::ravund

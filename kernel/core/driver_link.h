// The kernel's link to its CAN driver: the two handles on the driver's
// device, the driver's run, the objects of the real-time cycle and the cycle
// thread itself.
//
// Opening (command 4), in order: the synchronous handle on `\\.\<device>`
// (channel NoCan stops here), a second handle for the cycle's overlapped
// exchange, the driver's run for the parallel-port and PCI interfaces, the
// cycle's events and mutex, the cycle thread, a check that the thread still
// runs after the start-up period, both acceptance masks set to "all bits
// must match", and the driver's version. Any failure closes whatever was
// opened, so that a later command 4 starts from a clean link. Closing stops
// the cycle, clears the parallel-port driver's static port table and closes
// the handles, which ends the driver's run.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "common/exchange_buffer.h"
#include "kernel/core/can_cycle.h"
#include "kernel/core/cycle_steps.h"
#include "kernel/core/driver_link_port.h"
#include "kernel/core/driver_link_records.h"
#include "kernel/core/filter_hand_off.h"
#include "kernel/core/kernel_data.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/thread.h"

namespace vantor::kernel {

// The kernel's records that the cycle shares with the command services.
struct CycleEnvironment {
  KernelData& data;
  ApplicationCanRequest& canRequest;
  // The communication block, mapped before the first command arrives; the
  // cycle toggles its heartbeat byte.
  const os::Mapping& communicationBlock;
  CycleSteps& steps;
};

struct DriverLinkTimings {
  // How long the cycle thread must have run before the opening counts.
  std::uint32_t startCheckMs = 3000;
  CycleTimings cycle;
};

class DriverLink final : public DriverLinkPort {
 public:
  explicit DriverLink(CycleEnvironment environment, DriverLinkTimings timings = {});
  ~DriverLink() override;
  DriverLink(const DriverLink&) = delete;
  DriverLink& operator=(const DriverLink&) = delete;

  common::StatusCode OpenCanDevice(common::Channel channel, CanStartRecordView start) override;
  bool IsOpen() const override;
  std::string_view DriverVersionText() const override;
  common::StatusCode DeviceRequest(std::uint32_t requestCode, std::span<const std::uint8_t> input,
                                   std::span<std::uint8_t> output) override;
  const os::Waitable* CycleThread() const override;
  os::Mutex* CycleMutex() override;
  common::StatusCode AdmitApplicationCanRequest(ApplicationCanRequest& request) override;
  void CloseCanDevice() override;

  // The cycle thread's exit code once it has ended (kCycleEndedBy...).
  std::optional<std::uint32_t> CycleExitCode() const;

 private:
  void CloseLink();
  common::StatusCode OpenCycle(CanStartRecordView start);
  bool StartCycleThread();
  void ReadDriverVersion();
  void ClearDriverLink();

  CycleEnvironment environment_;
  const DriverLinkTimings timings_;

  // Keeps an opening on the server thread and a teardown on the main thread
  // (a termination signal may come at any time) apart.
  std::mutex linkMutex_;
  // Keeps a command's request on the synchronous handle and the closing of
  // that handle apart.
  mutable std::mutex deviceMutex_;
  os::DeviceHandle device_;
  std::atomic<bool> open_{false};
  os::DeviceHandle overlappedDevice_;
  os::Event stopEvent_;
  os::Event exchangeEvent_;
  os::Event abortEvent_;
  os::Mutex cycleMutex_;
  FilterHandOff filter_;
  std::uint32_t exchangeTimeoutMs_ = 0;
  // The one exchange record of this kernel, used in place for input and
  // output.
  common::ExchangeBuffer exchange_;

  std::optional<CycleLink> cycleLink_;
  os::Thread cycleThread_;
  // What the server thread sees: the thread once it is known to run. After
  // closing, the ended thread stays here (signalled, so "not running") until
  // the next opening, which runs on the server thread itself: a wait of the
  // server thread never meets a handle closed under it.
  std::atomic<const os::Waitable*> publishedCycle_{nullptr};

  DriverVersionTextBuffer versionText_{};
};

}  // namespace vantor::kernel

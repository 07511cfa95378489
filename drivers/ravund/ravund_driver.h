// ravund: the driver of the CAN adapter on a PC parallel port. It creates
// its device at load, finds the system's parallel-port device and borrows
// the port from the system's driver for the length of a run; between runs
// the port belongs to the system. Besides the shared request set it serves
// the I/O-port requests of the desktop programs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "drivers/canlayer/can_channel.h"
#include "drivers/ravund/adapter_port.h"
#include "drivers/ravund/ravund_parameters.h"
#include "platform/devhost/driver_host.h"

namespace vantor::ravund {

inline constexpr char kDeviceName[] = "\\Device\\Ravund";
inline constexpr char kLinkName[] = "\\DosDevices\\Ravund";
// The system's parallel-port driver answers at once; a port device that
// stays silent longer than this is taken as missing.
inline constexpr devhost::Ticks kPortDriverTimeout = devhost::MillisecondsToTicks(5000);
inline constexpr std::size_t kStaticPortSlots = 16;

// One slot of the static port table.
struct StaticPortSlot {
  std::uint8_t kind = 0;  // 0 unused, 1 read, 2 write
  std::uint8_t lastValue = 0;
  std::uint16_t port = 0;
};

class RavundDriver final : public devhost::DeviceDispatch, public canlayer::CanFrontEnd {
 public:
  explicit RavundDriver(devhost::DriverHost& host);
  ~RavundDriver() override;
  RavundDriver(const RavundDriver&) = delete;
  RavundDriver& operator=(const RavundDriver&) = delete;

  // Creates the device and link and attaches to the parallel port; a port
  // that cannot be attached does not fail the load (runs then answer that
  // the port is missing). Fails when the device or its link cannot be made.
  devhost::IoStatus Load();

  // ---- DeviceDispatch ------------------------------------------------------------
  devhost::IoStatus Create(devhost::FileObject& file) override;
  void Cleanup(devhost::FileObject& file) override;
  void DeviceControl(devhost::IoRequest& request) override;

  // ---- CanFrontEnd: the tick is the port's acknowledge interrupt, enabled by
  // the port's set-up, latched by the port itself --------------------------------
  bool EnableTickSource() override { return true; }
  void AcknowledgeTick() override {}
  bool DisableTickSource() override { return true; }
  void ResumeInterruptOutput() override {}

  // ---- observation ------------------------------------------------------------------
  const RavundParameters& Parameters() const noexcept { return parameters_; }
  bool PortAttached() const noexcept { return portDevice_ != nullptr; }
  bool PortAllocated() const;
  const PortRegisters& Registers() const noexcept { return adapter_->Registers(); }
  canlayer::CanChannel& Channel() noexcept { return *channel_; }

 private:
  bool AttachParallelPort(common::ChannelResources& resources, PortRegisters& registers);
  devhost::RequestResult SendToPort(std::uint32_t code, std::span<std::uint8_t> output);
  bool TryAllocatePort();
  void FreePort();

  void StartRun(devhost::IoRequest& request);
  // After a request that may have ended the run: the port goes back.
  void ReturnPortIfRunEnded();

  // The port requests (port_requests.cpp).
  bool PortRequest(devhost::IoRequest& request);
  void DynPortIn(devhost::IoRequest& request);
  void DynPortOut(devhost::IoRequest& request);
  void StaticPortReport(devhost::IoRequest& request);
  void StaticPortAccess(devhost::IoRequest& request);
  void StaticPortGetConfiguration(devhost::IoRequest& request);

  devhost::DriverHost& host_;
  const RavundParameters parameters_;
  const TransferMode mode_;
  std::shared_ptr<devhost::DeviceObject> device_;
  bool linked_ = false;
  // The reference on the system's parallel-port device, held from the
  // attach to the unload.
  std::shared_ptr<devhost::DeviceObject> portDevice_;
  bool portHasAllocation_ = false;  // the port driver lends the port
  devhost::CardLock* portLock_ = nullptr;
  std::unique_ptr<AdapterPort> adapter_;
  std::unique_ptr<canlayer::CanChannel> channel_;

  // Run start and end, and who holds the port.
  mutable std::mutex runMutex_;
  bool portAllocated_ = false;

  std::mutex tableMutex_;
  std::array<StaticPortSlot, kStaticPortSlots> staticPorts_{};
};

}  // namespace vantor::ravund

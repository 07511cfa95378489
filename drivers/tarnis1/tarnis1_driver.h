// tarnis1: the Plug and Play driver of the dual-channel PCI CAN card,
// serving channel 1. It owns the card: it maps the bridge and controller
// windows, programs the bridge, and lends the card's resources, its clock
// and its interrupt to the channel-2 driver through channel 2's requests.
//
// Life of the driver: DriverEntry, AddDevice (device and link), StartDevice
// with the resources (windows mapped, bridge programmed, channel ready),
// StopDevice (windows unmapped) or RemoveDevice (also the device gone).
// Requests that arrive while the device is not started are refused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "drivers/canlayer/can_channel.h"
#include "drivers/canlayer/controller_bus.h"
#include "drivers/tarnis1/start_resources.h"
#include "platform/devhost/driver_host.h"

namespace vantor::tarnis1 {

inline constexpr char kDriverKey[] = "tarnis1";
inline constexpr char kDeviceName[] = "\\Device\\tarnis1";
inline constexpr char kLinkName[] = "\\DosDevices\\tarnis1";
inline constexpr std::uint16_t kCardVendorId = 0x10B5;
inline constexpr std::uint16_t kCardDeviceId = 0x9030;

// Values of the driver's service key (0 when missing).
struct Tarnis1Parameters {
  std::uint32_t commonBufferSize = 0;
  std::uint32_t maxSglTransferSize = 0;
};

// One base address register's window (entries 0 to 5) or the expansion
// ROM's (entry 6).
struct WindowEntry {
  std::optional<devhost::RegisterWindow> mapped;
  std::uint64_t physical = 0;
  std::uint32_t length = 0;
  bool io = false;
};
inline constexpr std::size_t kWindowEntries = 7;
inline constexpr std::size_t kBridgeEntry = 0;
inline constexpr std::size_t kControllerEntry = 2;
inline constexpr std::size_t kRomEntry = 6;

class Tarnis1Driver final : public devhost::DeviceDispatch, public canlayer::CanFrontEnd {
 public:
  // Reads the service key and sets the common buffer aside.
  explicit Tarnis1Driver(devhost::DriverHost& host);
  ~Tarnis1Driver() override;
  Tarnis1Driver(const Tarnis1Driver&) = delete;
  Tarnis1Driver& operator=(const Tarnis1Driver&) = delete;

  // Creates the device and its link; a link that cannot be made leaves the
  // device reachable for drivers only.
  devhost::IoStatus AddDevice();
  // kStatusInsufficientResources when the bridge or controller window
  // cannot be mapped or no interrupt was assigned; nothing stays mapped then.
  devhost::IoStatus StartDevice(const PciStartResources& resources);
  void StopDevice();
  void RemoveDevice();

  // ---- DeviceDispatch ----------------------------------------------------------
  devhost::IoStatus Create(devhost::FileObject& file) override;
  void Cleanup(devhost::FileObject& file) override;
  void DeviceControl(devhost::IoRequest& request) override;

  // ---- CanFrontEnd: the tick arrives through the bridge's local input 1 -------
  bool EnableTickSource() override;
  void AcknowledgeTick() override;
  bool DisableTickSource() override;
  void ResumeInterruptOutput() override;

  // ---- observation ---------------------------------------------------------------
  const Tarnis1Parameters& Parameters() const noexcept { return parameters_; }
  std::size_t CommonBufferSize() const noexcept { return commonBuffer_.size(); }
  const std::string& LinkName() const noexcept { return linkName_; }
  bool Started() const;
  std::optional<devhost::PciSlot> CardSlot() const;
  std::uint16_t VendorId() const noexcept { return vendorId_; }
  std::uint16_t DeviceId() const noexcept { return deviceId_; }
  common::ChannelResources Resources() const;
  canlayer::CanChannel* Channel() noexcept { return channel_.get(); }

 private:
  void AllocateCommonBuffer(std::uint32_t requested);
  bool MatchResource(const TranslatedRange& range, const std::array<std::uint8_t, 256>& header);
  std::optional<devhost::PciSlot> FindCardSlot(const PciStartResources& resources);
  void UnmapWindows();
  void ModifyInterruptControl(std::uint32_t set, std::uint32_t clear);

  devhost::DriverHost& host_;
  Tarnis1Parameters parameters_;
  std::vector<std::uint8_t> commonBuffer_;
  std::shared_ptr<devhost::DeviceObject> device_;
  std::string linkName_;

  // Exclusive for start, stop and removal; shared for every request, so a
  // request never meets a channel that is going.
  mutable std::shared_mutex stateMutex_;
  bool removed_ = false;
  std::array<WindowEntry, kWindowEntries> windows_{};
  std::optional<devhost::PciSlot> slot_;
  std::uint16_t vendorId_ = 0;
  std::uint16_t deviceId_ = 0;
  common::ChannelResources resources_{};
  devhost::CardLock* card_ = nullptr;
  std::unique_ptr<canlayer::WindowControllerBus> bus_;
  std::unique_ptr<canlayer::CanChannel> channel_;
};

}  // namespace vantor::tarnis1
